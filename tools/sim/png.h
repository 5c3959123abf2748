// png.h - a picture as a PNG file: 8-bit RGB, no interlace, the pixel rows kept in stored
// (uncompressed) deflate blocks, so that nothing beyond the standard library is needed.
#pragma once

#include <cstdint>
#include <string>

#include "platform/raster.h"

namespace sim {

// CRC-32 of PNG chunks (polynomial 0xEDB88320), continued from `crc` (0 to start).
std::uint32_t crc32(const std::uint8_t* data, std::size_t size, std::uint32_t crc = 0);
// Adler-32 of the zlib stream, continued from `adler` (1 to start).
std::uint32_t adler32(const std::uint8_t* data, std::size_t size, std::uint32_t adler = 1);

// The bytes of a PNG file holding the picture.
std::string encode_png(const platform::Picture& picture);

}  // namespace sim
