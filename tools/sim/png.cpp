// png.cpp - PNG encoding with stored deflate blocks.
#include "png.h"

#include <algorithm>
#include <array>

namespace sim {

namespace {

constexpr std::array<std::uint32_t, 256> make_crc_table() {
    std::array<std::uint32_t, 256> table{};
    for (std::uint32_t n = 0; n < 256; ++n) {
        std::uint32_t c = n;
        for (int k = 0; k < 8; ++k) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        table[n] = c;
    }
    return table;
}
constexpr std::array<std::uint32_t, 256> CRC_TABLE = make_crc_table();

// Largest payload of one stored deflate block.
constexpr std::size_t STORED_BLOCK = 65535;

void put_u32_be(std::string& out, std::uint32_t v) {
    out.push_back(static_cast<char>(v >> 24));
    out.push_back(static_cast<char>(v >> 16));
    out.push_back(static_cast<char>(v >> 8));
    out.push_back(static_cast<char>(v));
}

void put_chunk(std::string& out, const char type[4], const std::string& data) {
    put_u32_be(out, static_cast<std::uint32_t>(data.size()));
    const std::size_t type_at = out.size();
    out.append(type, 4);
    out.append(data);
    const auto* bytes = reinterpret_cast<const std::uint8_t*>(out.data() + type_at);
    put_u32_be(out, crc32(bytes, 4 + data.size()));
}

// Scanlines: each row starts with filter type 0 (none), then R, G, B of every pixel.
std::string raw_rows(const platform::Picture& picture) {
    std::string rows;
    rows.reserve(static_cast<std::size_t>(picture.height) * (1 + 3 * picture.width));
    for (int y = 0; y < picture.height; ++y) {
        rows.push_back('\0');
        for (int x = 0; x < picture.width; ++x) {
            const std::uint32_t p = picture.pixels[static_cast<std::size_t>(y) * picture.width + x];
            rows.push_back(static_cast<char>(p >> 16));
            rows.push_back(static_cast<char>(p >> 8));
            rows.push_back(static_cast<char>(p));
        }
    }
    return rows;
}

// A zlib stream of stored blocks around `raw`.
std::string zlib_stored(const std::string& raw) {
    std::string z;
    z.reserve(raw.size() + raw.size() / STORED_BLOCK * 5 + 16);
    z.push_back(static_cast<char>(0x78));  // deflate, 32 KiB window
    z.push_back(static_cast<char>(0x01));  // no dictionary; 0x7801 is a multiple of 31
    std::size_t at = 0;
    do {
        const std::size_t size = std::min(STORED_BLOCK, raw.size() - at);
        const bool last = at + size == raw.size();
        z.push_back(static_cast<char>(last ? 1 : 0));  // BFINAL, BTYPE 00
        z.push_back(static_cast<char>(size & 0xFF));
        z.push_back(static_cast<char>(size >> 8));
        z.push_back(static_cast<char>(~size & 0xFF));
        z.push_back(static_cast<char>((~size >> 8) & 0xFF));
        z.append(raw, at, size);
        at += size;
    } while (at < raw.size());
    put_u32_be(z, adler32(reinterpret_cast<const std::uint8_t*>(raw.data()), raw.size()));
    return z;
}

}  // namespace

std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc) {
    crc = ~crc;
    for (std::size_t i = 0; i < size; ++i) crc = CRC_TABLE[(crc ^ data[i]) & 0xFF] ^ (crc >> 8);
    return ~crc;
}

std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler) {
    constexpr std::uint32_t MOD = 65521;
    std::uint32_t a = adler & 0xFFFF;
    std::uint32_t b = adler >> 16;
    while (size > 0) {
        // 5552 bytes is the most that can be summed before b may overflow 32 bits.
        const std::size_t run = std::min<std::size_t>(size, 5552);
        for (std::size_t i = 0; i < run; ++i) {
            a += data[i];
            b += a;
        }
        a %= MOD;
        b %= MOD;
        data += run;
        size -= run;
    }
    return (b << 16) | a;
}

std::string encode_png(const platform::Picture& picture) {
    std::string png("\x89PNG\r\n\x1a\n", 8);
    std::string header;
    put_u32_be(header, static_cast<std::uint32_t>(picture.width));
    put_u32_be(header, static_cast<std::uint32_t>(picture.height));
    header.push_back(8);  // bits per sample
    header.push_back(2);  // colour type: RGB
    header.push_back(0);  // compression: deflate
    header.push_back(0);  // filter method 0
    header.push_back(0);  // no interlace
    put_chunk(png, "IHDR", header);
    put_chunk(png, "IDAT", zlib_stored(raw_rows(picture)));
    put_chunk(png, "IEND", {});
    return png;
}

}  // namespace sim
