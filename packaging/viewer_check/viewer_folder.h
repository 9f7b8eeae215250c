// The installer's questions about folders: does this folder hold the 32-bit viewer, and where
// under the usual program folders is one. A viewer is known by what its executable exports,
// never by its name. Portable (std::filesystem), so it is tested natively too.
#pragma once

#include "pe_image.h"

#include <cstddef>
#include <filesystem>
#include <vector>

namespace viewer_check {

/// Reads the headers and export names of one executable file, only the parts needed (a large
/// program is not read whole). An unreadable file gives an invalid image.
PeImage read_pe_file(const std::filesystem::path& path);

/// What a folder holds, judged by the .exe files directly in it: viewer32 when one is a 32-bit
/// viewer, else viewer64 when one is a 64-bit viewer, else no_viewer; no_folder when the folder
/// cannot be listed.
Verdict judge_folder(const std::filesystem::path& folder);

struct SearchLimits {
    int depth = 3;                   // levels below each root (root\a\b\c at most)
    std::size_t folders = 20000;     // folders looked at in all, so a huge tree cannot stall it
};

/// The folders that hold a 32-bit viewer, below the given roots (each root itself included):
/// shallower folders first; within a level, by root in the order given, then by name. A folder
/// reached twice is listed once; unreadable folders and links are passed over.
std::vector<std::filesystem::path> find_viewer_folders(const std::vector<std::filesystem::path>& roots,
                                                       const SearchLimits& limits = {});

}  // namespace viewer_check
