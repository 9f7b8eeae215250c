// Screenshot files: 32-bit pixels (0x00RRGGBB, rows from the top) as BMP or PNG bytes.
#pragma once

#include <cstdint>
#include <vector>

namespace bvs {

struct Image {
    std::uint32_t width = 0;
    std::uint32_t height = 0;
    std::vector<std::uint32_t> pixels;  // width * height, 0x00RRGGBB, top row first
};

/// A 24-bit uncompressed BMP.
std::vector<std::uint8_t> encode_bmp(const Image& image);

/// An 8-bit RGB PNG (deflate with stored blocks: large but simple and exact).
std::vector<std::uint8_t> encode_png(const Image& image);

/// CRC-32 as PNG uses it (exposed for the tests).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);

}  // namespace bvs
