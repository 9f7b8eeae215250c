#include "viewer_folder.h"

#include <algorithm>
#include <cstring>
#include <fstream>
#include <map>
#include <set>
#include <system_error>

namespace viewer_check {

namespace fs = std::filesystem;

namespace {

/// A file read in blocks of 4 KB as the PE reader asks for them; each block is read once.
class FileSource : public ByteSource {
public:
    explicit FileSource(const fs::path& path) : in_(path, std::ios::binary) {
        std::error_code error;
        size_ = in_ ? fs::file_size(path, error) : 0;
        if (error) size_ = 0;
    }
    std::uint64_t size() const override { return size_; }
    bool read(std::uint64_t offset, std::size_t count, unsigned char* out) const override {
        if (offset > size_ || count > size_ - offset) return false;
        while (count != 0) {
            const std::vector<unsigned char>* block = load(offset / block_size);
            if (block == nullptr) return false;
            std::size_t at = static_cast<std::size_t>(offset % block_size);
            if (at >= block->size()) return false;
            std::size_t n = std::min(count, block->size() - at);
            std::memcpy(out, block->data() + at, n);
            out += n;
            offset += n;
            count -= n;
        }
        return true;
    }

private:
    static constexpr std::uint64_t block_size = 4096;
    const std::vector<unsigned char>* load(std::uint64_t index) const {
        auto found = blocks_.find(index);
        if (found != blocks_.end()) return &found->second;
        if (blocks_.size() >= 1024) return nullptr;  // 4 MB of headers and names: not a viewer
        std::vector<unsigned char> block(static_cast<std::size_t>(std::min(block_size, size_ - index * block_size)));
        in_.clear();
        in_.seekg(static_cast<std::streamoff>(index * block_size));
        in_.read(reinterpret_cast<char*>(block.data()), static_cast<std::streamsize>(block.size()));
        if (!in_ || in_.gcount() != static_cast<std::streamsize>(block.size())) return nullptr;
        return &blocks_.emplace(index, std::move(block)).first->second;
    }

    mutable std::ifstream in_;
    std::uint64_t size_ = 0;
    mutable std::map<std::uint64_t, std::vector<unsigned char>> blocks_;
};

bool is_exe(const fs::path& path) {
    std::wstring extension = path.extension().wstring();
    for (wchar_t& c : extension) c = (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c;
    return extension == L".exe";
}

/// The subfolders of `folder`, in name order; links are left out. Empty when it cannot be read.
std::vector<fs::path> subfolders(const fs::path& folder) {
    std::vector<fs::path> found;
    std::error_code error;
    fs::directory_iterator it(folder, fs::directory_options::skip_permission_denied, error);
    for (; !error && it != fs::directory_iterator(); it.increment(error)) {
        std::error_code e;
        if (it->is_symlink(e) || e) continue;
        if (it->is_directory(e) && !e) found.push_back(it->path());
    }
    std::sort(found.begin(), found.end());
    return found;
}

}  // namespace

PeImage read_pe_file(const fs::path& path) {
    FileSource source(path);
    return read_pe(source);
}

Verdict judge_folder(const fs::path& folder) {
    std::error_code error;
    fs::directory_iterator it(folder, error);
    if (error) return Verdict::no_folder;
    bool seen64 = false;
    for (; it != fs::directory_iterator(); it.increment(error)) {
        if (error) break;
        std::error_code e;
        if (!is_exe(it->path()) || !it->is_regular_file(e)) continue;
        Verdict verdict = judge(read_pe_file(it->path()));
        if (verdict == Verdict::viewer32) return Verdict::viewer32;
        if (verdict == Verdict::viewer64) seen64 = true;
    }
    return seen64 ? Verdict::viewer64 : Verdict::no_viewer;
}

std::vector<fs::path> find_viewer_folders(const std::vector<fs::path>& roots, const SearchLimits& limits) {
    std::vector<fs::path> found;
    std::set<fs::path> seen;
    std::size_t looked_at = 0;
    // Breadth first over all roots together: a viewer right under a root comes before one
    // nested deeper under another root.
    std::vector<fs::path> level;
    for (const fs::path& root : roots) {
        std::error_code error;
        if (!root.empty() && fs::is_directory(root, error)) level.push_back(root);
    }
    for (int depth = 0; depth <= limits.depth && !level.empty(); ++depth) {
        std::vector<fs::path> next;
        for (const fs::path& folder : level) {
            std::error_code error;
            fs::path key = fs::weakly_canonical(folder, error);
            if (error) key = folder;
            if (!seen.insert(key).second) continue;
            if (++looked_at > limits.folders) return found;
            if (judge_folder(folder) == Verdict::viewer32) found.push_back(folder);
            if (depth < limits.depth) {
                std::vector<fs::path> below = subfolders(folder);
                next.insert(next.end(), below.begin(), below.end());
            }
        }
        level = std::move(next);
    }
    return found;
}

}  // namespace viewer_check
