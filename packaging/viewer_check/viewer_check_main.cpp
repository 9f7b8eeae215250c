// viewer_check.exe FOLDER: run by the installer on the folder the user chose. The exit code says
// what the folder holds: 0 a 32-bit viewer (an .exe exporting the host functions the module
// binds), 2 only a 64-bit one, 1 none, 3 the folder cannot be read. No window, no output.
#include "pe_image.h"

#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

namespace {

int check_folder(const std::filesystem::path& folder) {
    std::error_code error;
    std::filesystem::directory_iterator it(folder, error);
    if (error) return static_cast<int>(viewer_check::Verdict::no_folder);
    bool seen64 = false;
    for (; it != std::filesystem::directory_iterator(); it.increment(error)) {
        if (error) break;
        const std::filesystem::path& path = it->path();
        std::wstring extension = path.extension().wstring();
        for (wchar_t& c : extension) c = (c >= L'A' && c <= L'Z') ? c - L'A' + L'a' : c;
        if (extension != L".exe" || !it->is_regular_file(error)) continue;
        std::ifstream in(path, std::ios::binary);
        std::vector<unsigned char> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
        viewer_check::Verdict verdict = viewer_check::judge(viewer_check::read_pe(bytes));
        if (verdict == viewer_check::Verdict::viewer32) return 0;
        if (verdict == viewer_check::Verdict::viewer64) seen64 = true;
    }
    return static_cast<int>(seen64 ? viewer_check::Verdict::viewer64 : viewer_check::Verdict::no_viewer);
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc != 2) return 4;
        return check_folder(std::filesystem::path(argv[1]));
    } catch (...) {
        return 4;
    }
}
