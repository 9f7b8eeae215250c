// Whole files and the standard handles, through the system's calls (paths are UTF-16, so any
// name the user can type works, whatever the code page).
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "model.h"

namespace bvs {

/// The bytes of the file at `path`; false when it cannot be read (or is 1 GiB or more).
bool read_whole_file(const std::u16string& path, std::string& out);

/// Creates or replaces the file at `path` with `bytes`; false when that fails.
bool write_whole_file(const std::u16string& path, const std::vector<std::uint8_t>& bytes);

/// Reads and parses a model snapshot; null, with the reason in `error`, when it cannot.
std::shared_ptr<const Model> load_model_file(const std::u16string& path, std::string& error);

/// The text as it is, to the process's standard error or output (nothing when there is none).
void write_stderr(const std::string& text);
void write_stdout(const std::string& text);

}  // namespace bvs
