#include "pe_image.h"

#include <algorithm>
#include <cstring>

namespace viewer_check {

namespace {

struct Reader {
    const ByteSource& file;
    bool in(std::uint64_t offset, std::uint64_t count) const {
        return offset <= file.size() && count <= file.size() - offset;
    }
    // Callers check `in` first; a failed read then gives zeros.
    std::uint32_t u16(std::uint64_t at) const {
        unsigned char b[2] = {};
        file.read(at, 2, b);
        return b[0] | b[1] << 8;
    }
    std::uint32_t u32(std::uint64_t at) const {
        unsigned char b[4] = {};
        file.read(at, 4, b);
        return static_cast<std::uint32_t>(b[0]) | static_cast<std::uint32_t>(b[1]) << 8 |
               static_cast<std::uint32_t>(b[2]) << 16 | static_cast<std::uint32_t>(b[3]) << 24;
    }
    /// A zero-terminated name of at most 512 characters; false when the file ends first.
    bool name(std::uint64_t at, std::string& out) const {
        out.clear();
        unsigned char c = 0;
        while (out.size() < 512) {
            if (!file.read(at++, 1, &c)) return false;
            if (c == 0) return true;
            out += static_cast<char>(c);
        }
        return true;
    }
};

struct Section {
    std::uint32_t rva, size, raw, raw_size;
};

class MemorySource : public ByteSource {
public:
    explicit MemorySource(const std::vector<unsigned char>& bytes) : bytes_(bytes) {}
    std::uint64_t size() const override { return bytes_.size(); }
    bool read(std::uint64_t offset, std::size_t count, unsigned char* out) const override {
        if (offset > bytes_.size() || count > bytes_.size() - offset) return false;
        if (count != 0) std::memcpy(out, &bytes_[offset], count);
        return true;
    }

private:
    const std::vector<unsigned char>& bytes_;
};

}  // namespace

PeImage read_pe(const ByteSource& file) {
    PeImage image;
    Reader r{file};
    unsigned char mz[2] = {};
    if (!r.in(0, 0x40) || !file.read(0, 2, mz) || mz[0] != 'M' || mz[1] != 'Z') return image;
    std::uint64_t pe = r.u32(0x3c);
    unsigned char signature[4] = {};
    if (!r.in(pe, 24) || !file.read(pe, 4, signature) || std::memcmp(signature, "PE\0\0", 4) != 0)
        return image;
    std::uint64_t coff = pe + 4;
    image.machine = static_cast<std::uint16_t>(r.u16(coff));
    std::uint32_t section_count = r.u16(coff + 2);
    std::uint32_t optional_size = r.u16(coff + 16);
    std::uint64_t optional = coff + 20;
    if (!r.in(optional, optional_size) || optional_size < 2) return image;
    std::uint32_t magic = r.u16(optional);
    // The data directories follow the fixed part: 96 bytes in PE32, 112 in PE32+.
    std::uint64_t directories = magic == 0x10b ? 96 : magic == 0x20b ? 112 : 0;
    if (directories == 0 || optional_size < directories + 4) return image;
    std::uint32_t directory_count = r.u32(optional + directories - 4);
    image.valid = true;
    if (directory_count < 1 || optional_size < directories + 8) return image;
    std::uint32_t export_rva = r.u32(optional + directories);
    if (export_rva == 0) return image;

    std::vector<Section> sections;
    std::uint64_t table = optional + optional_size;
    for (std::uint32_t i = 0; i < section_count && r.in(table + 40 * i, 40); ++i) {
        std::uint64_t s = table + 40 * i;
        sections.push_back({r.u32(s + 12), std::max(r.u32(s + 8), r.u32(s + 16)), r.u32(s + 20), r.u32(s + 16)});
    }
    // A relative address to a file offset, or none when no section holds it in the file.
    auto offset_of = [&](std::uint32_t rva, std::uint64_t& out) {
        for (const Section& s : sections) {
            if (rva >= s.rva && rva - s.rva < s.size && rva - s.rva < s.raw_size) {
                out = static_cast<std::uint64_t>(s.raw) + (rva - s.rva);
                return true;
            }
        }
        return false;
    };
    std::uint64_t directory = 0;
    if (!offset_of(export_rva, directory) || !r.in(directory, 40)) return image;
    std::uint32_t name_count = r.u32(directory + 24);
    std::uint64_t names = 0;
    if (!offset_of(r.u32(directory + 32), names)) return image;
    for (std::uint32_t i = 0; i < name_count && r.in(names + 4 * std::uint64_t{i}, 4); ++i) {
        std::uint64_t at = 0;
        if (!offset_of(r.u32(names + 4 * std::uint64_t{i}), at)) break;
        std::string name;
        if (!r.name(at, name)) break;  // no terminator within the file
        image.exports.push_back(std::move(name));
    }
    return image;
}

PeImage read_pe(const std::vector<unsigned char>& file) {
    return read_pe(MemorySource(file));
}

const std::vector<std::string>& required_exports() {
    static const std::vector<std::string> names = {
        "get_all_objects", "get_selected", "get_property_sets", "get_properties", "select",
        "zoom_to", "create_button", "on_selection_change"};
    return names;
}

Verdict judge(const PeImage& image) {
    if (!image.valid) return Verdict::no_viewer;
    for (const std::string& name : required_exports())
        if (std::find(image.exports.begin(), image.exports.end(), name) == image.exports.end())
            return Verdict::no_viewer;
    if (image.machine == machine_i386) return Verdict::viewer32;
    if (image.machine == machine_amd64) return Verdict::viewer64;
    return Verdict::no_viewer;
}

}  // namespace viewer_check
