// What the installer needs to know of an executable file: which machine it is built for and the
// names it exports. Plain byte reading, no system calls, so it is tested natively too.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace viewer_check {

inline constexpr std::uint16_t machine_i386 = 0x14c;
inline constexpr std::uint16_t machine_amd64 = 0x8664;

struct PeImage {
    bool valid = false;           // "MZ", a PE signature and an optional header that fits
    std::uint16_t machine = 0;
    std::vector<std::string> exports;  // names in the export directory, in file order
};

/// Bytes at given offsets: a whole file held in memory, or a file read piece by piece.
class ByteSource {
public:
    virtual ~ByteSource() = default;
    virtual std::uint64_t size() const = 0;
    /// Copies `count` bytes at `offset` to `out`; false when they are not all there.
    virtual bool read(std::uint64_t offset, std::size_t count, unsigned char* out) const = 0;
};

/// Reads the headers, the section table and the export directory names of a PE file. Anything
/// out of bounds leaves the image invalid or its export list cut short.
PeImage read_pe(const ByteSource& file);
PeImage read_pe(const std::vector<unsigned char>& file);

/// The host functions the module binds first: a viewer exports all of them.
const std::vector<std::string>& required_exports();

enum class Verdict {
    viewer32 = 0,       // a 32-bit executable exporting the host functions
    no_viewer = 1,      // no executable exporting them
    viewer64 = 2,       // only a 64-bit one exports them
    no_folder = 3,      // the folder cannot be read
};

/// Judges one executable: 0 when it is a 32-bit viewer, 2 a 64-bit one, 1 anything else.
Verdict judge(const PeImage& image);

}  // namespace viewer_check
