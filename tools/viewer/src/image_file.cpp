#include "image_file.h"

#include <array>

namespace bvs {

namespace {

void put_le16(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
}

void put_le32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    put_le16(out, v & 0xFFFF);
    put_le16(out, v >> 16);
}

void put_be32(std::vector<std::uint8_t>& out, std::uint32_t v) {
    out.push_back(static_cast<std::uint8_t>(v >> 24));
    out.push_back(static_cast<std::uint8_t>(v >> 16));
    out.push_back(static_cast<std::uint8_t>(v >> 8));
    out.push_back(static_cast<std::uint8_t>(v));
}

const std::array<std::uint32_t, 256>& crc_table() {
    static const std::array<std::uint32_t, 256> table = [] {
        std::array<std::uint32_t, 256> t{};
        for (std::uint32_t n = 0; n < 256; ++n) {
            std::uint32_t c = n;
            for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
            t[n] = c;
        }
        return t;
    }();
    return table;
}

void put_chunk(std::vector<std::uint8_t>& out, const char type[4],
               const std::vector<std::uint8_t>& data) {
    put_be32(out, static_cast<std::uint32_t>(data.size()));
    std::size_t start = out.size();
    out.insert(out.end(), type, type + 4);
    out.insert(out.end(), data.begin(), data.end());
    put_be32(out, crc32(out.data() + start, out.size() - start));
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    const auto& t = crc_table();
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = t[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::vector<std::uint8_t> encode_bmp(const Image& img) {
    const std::uint32_t row = (img.width * 3 + 3) & ~3u;
    const std::uint32_t data_size = row * img.height;
    std::vector<std::uint8_t> out;
    out.reserve(54 + data_size);
    out.push_back('B');
    out.push_back('M');
    put_le32(out, 54 + data_size);
    put_le32(out, 0);
    put_le32(out, 54);
    put_le32(out, 40);  // BITMAPINFOHEADER
    put_le32(out, img.width);
    put_le32(out, img.height);  // positive: rows stored bottom-up
    put_le16(out, 1);
    put_le16(out, 24);
    put_le32(out, 0);
    put_le32(out, data_size);
    put_le32(out, 2835);  // 72 dpi
    put_le32(out, 2835);
    put_le32(out, 0);
    put_le32(out, 0);
    for (std::uint32_t y = img.height; y-- > 0;) {
        const std::uint32_t* src = img.pixels.data() + static_cast<std::size_t>(y) * img.width;
        for (std::uint32_t x = 0; x < img.width; ++x) {
            out.push_back(static_cast<std::uint8_t>(src[x]));
            out.push_back(static_cast<std::uint8_t>(src[x] >> 8));
            out.push_back(static_cast<std::uint8_t>(src[x] >> 16));
        }
        for (std::uint32_t pad = img.width * 3; pad < row; ++pad) out.push_back(0);
    }
    return out;
}

std::vector<std::uint8_t> encode_png(const Image& img) {
    std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};

    std::vector<std::uint8_t> ihdr;
    put_be32(ihdr, img.width);
    put_be32(ihdr, img.height);
    ihdr.insert(ihdr.end(), {8, 2, 0, 0, 0});  // 8 bits, RGB, deflate, no filter, no interlace
    put_chunk(out, "IHDR", ihdr);

    // Raw scanlines, each led by filter type 0.
    std::vector<std::uint8_t> raw;
    raw.reserve((static_cast<std::size_t>(img.width) * 3 + 1) * img.height);
    for (std::uint32_t y = 0; y < img.height; ++y) {
        raw.push_back(0);
        const std::uint32_t* src = img.pixels.data() + static_cast<std::size_t>(y) * img.width;
        for (std::uint32_t x = 0; x < img.width; ++x) {
            raw.push_back(static_cast<std::uint8_t>(src[x] >> 16));
            raw.push_back(static_cast<std::uint8_t>(src[x] >> 8));
            raw.push_back(static_cast<std::uint8_t>(src[x]));
        }
    }

    // zlib stream of stored deflate blocks.
    std::vector<std::uint8_t> z = {0x78, 0x01};
    std::size_t pos = 0;
    do {
        std::size_t n = raw.size() - pos;
        if (n > 65535) n = 65535;
        bool last = pos + n == raw.size();
        z.push_back(last ? 1 : 0);
        put_le16(z, static_cast<std::uint32_t>(n));
        put_le16(z, static_cast<std::uint32_t>(~n & 0xFFFF));
        z.insert(z.end(), raw.begin() + static_cast<std::ptrdiff_t>(pos),
                 raw.begin() + static_cast<std::ptrdiff_t>(pos + n));
        pos += n;
    } while (pos < raw.size());
    std::uint32_t a = 1, b = 0;
    for (std::uint8_t byte : raw) {
        a = (a + byte) % 65521;
        b = (b + a) % 65521;
    }
    put_be32(z, (b << 16) | a);
    put_chunk(out, "IDAT", z);
    put_chunk(out, "IEND", {});
    return out;
}

}  // namespace bvs
