// pictures.h - the nine panel pictures, complete BMP files embedded in the program.
#pragma once

#include <cstddef>
#include <cstdint>

struct EmbeddedPicture {
    const std::uint8_t* bytes;
    std::size_t size;
};

// Pictures 1 to 9 at indexes 0 to 8.
extern const EmbeddedPicture embedded_pictures[9];
