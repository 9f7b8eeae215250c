// viewer_check.exe: run by the installer from its temporary folder. No window, no output but the
// exit code (and the list file of /find).
//
//   viewer_check.exe FOLDER
//     What the folder holds: 0 a 32-bit viewer (an .exe exporting the host functions the module
//     binds), 2 only a 64-bit one, 1 none, 3 the folder cannot be read.
//   viewer_check.exe /find LIST ROOT...
//     Looks for folders holding a 32-bit viewer up to three levels below each ROOT and writes
//     them to LIST, one per line (UTF-16LE, CR LF), the one to propose first. 0 one or more
//     found, 1 none.
// 4: a bad command line or an unexpected failure.
#include "viewer_folder.h"

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace {

constexpr int bad_use = 4;

bool write_list(const wchar_t* file, const std::vector<std::filesystem::path>& folders) {
    std::wstring text;
    for (const std::filesystem::path& folder : folders) text += folder.wstring() + L"\r\n";
    std::FILE* out = _wfopen(file, L"wb");
    if (out == nullptr) return false;
    std::string bytes;
    for (wchar_t c : text) {
        bytes += static_cast<char>(c & 0xff);
        bytes += static_cast<char>((c >> 8) & 0xff);
    }
    bool ok = std::fwrite(bytes.data(), 1, bytes.size(), out) == bytes.size();
    return std::fclose(out) == 0 && ok;
}

}  // namespace

int wmain(int argc, wchar_t** argv) {
    try {
        if (argc == 2) return static_cast<int>(viewer_check::judge_folder(std::filesystem::path(argv[1])));
        if (argc >= 3 && std::wstring(argv[1]) == L"/find") {
            std::vector<std::filesystem::path> roots(argv + 3, argv + argc);
            std::vector<std::filesystem::path> found = viewer_check::find_viewer_folders(roots);
            if (!write_list(argv[2], found)) return bad_use;
            return found.empty() ? 1 : 0;
        }
        return bad_use;
    } catch (...) {
        // Whatever went wrong, the installer must get an answer, not a crash dialog.
        return bad_use;
    }
}
