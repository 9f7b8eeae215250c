#include "file_io.h"

#include <algorithm>

#include "window_common.h"

namespace bvs {

bool read_whole_file(const std::u16string& path, std::string& out) {
    HANDLE f = CreateFileW(w(path), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    LARGE_INTEGER size{};
    bool ok = GetFileSizeEx(f, &size) && size.QuadPart < 0x40000000;
    if (ok) {
        out.resize(static_cast<std::size_t>(size.QuadPart));
        std::size_t done = 0;
        while (ok && done < out.size()) {
            DWORD got = 0;
            DWORD want = static_cast<DWORD>(std::min<std::size_t>(out.size() - done, 1 << 24));
            ok = ReadFile(f, out.data() + done, want, &got, nullptr) && got > 0;
            done += got;
        }
    }
    CloseHandle(f);
    return ok;
}

bool write_whole_file(const std::u16string& path, const std::vector<std::uint8_t>& bytes) {
    HANDLE f = CreateFileW(w(path), GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                           FILE_ATTRIBUTE_NORMAL, nullptr);
    if (f == INVALID_HANDLE_VALUE) return false;
    DWORD put = 0;
    bool ok = WriteFile(f, bytes.data(), static_cast<DWORD>(bytes.size()), &put, nullptr) &&
              put == bytes.size();
    CloseHandle(f);
    return ok;
}

std::shared_ptr<const Model> load_model_file(const std::u16string& path, std::string& error) {
    std::string text;
    if (!read_whole_file(path, text)) {
        error = "cannot read the model file \"" + utf8(path) + "\"";
        return nullptr;
    }
    ModelLoadResult r = Model::parse(text);
    if (!r.model) {
        error = "the model file \"" + utf8(path) + "\" is not a valid snapshot: " + r.error;
        return nullptr;
    }
    return std::shared_ptr<const Model>(std::move(r.model));
}

namespace {
void write_std_handle(DWORD which, const std::string& text) {
    HANDLE handle = GetStdHandle(which);
    if (handle == nullptr || handle == INVALID_HANDLE_VALUE) return;
    DWORD put = 0;
    WriteFile(handle, text.data(), static_cast<DWORD>(text.size()), &put, nullptr);
}
}  // namespace

void write_stderr(const std::string& text) { write_std_handle(STD_ERROR_HANDLE, text); }

void write_stdout(const std::string& text) { write_std_handle(STD_OUTPUT_HANDLE, text); }

}  // namespace bvs
