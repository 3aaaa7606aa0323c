#pragma once
// The bitmaps the notification areas take, computed from RGBA pixels: the two a
// Windows icon is made of, and the pixmap of a D-Bus StatusNotifierItem.

#include <cstdint>
#include <vector>

#include "platform/icon_image.h"

namespace tallow::platform {

// The colour bitmap: 4 bytes a pixel in the order blue, green, red, alpha, top row
// first, as a 32-bit top-down DIB holds it. Alpha stays straight: icons take it so.
// `pixels` must have passed check_icon_image.
std::vector<std::uint8_t> icon_colour_bits(const IconImage& pixels);

// The mask bitmap: 1 bit a pixel, most significant bit leftmost, set where the pixel is
// fully transparent; top row first, each row padded to a multiple of 16 bits, as a
// monochrome device-dependent bitmap wants. Only used where alpha is not.
std::vector<std::uint8_t> icon_mask_bits(const IconImage& pixels);

// Bytes in one row of the mask bitmap.
std::size_t icon_mask_stride(std::uint32_t width);

// A StatusNotifierItem's pixmap: 4 bytes a pixel holding ARGB32 in network byte order,
// that is alpha, red, green, blue; straight alpha, top row first, no padding. A fully
// transparent pixel is 0 in every channel.
// `pixels` must have passed check_icon_image.
std::vector<std::uint8_t> status_notifier_pixmap(const IconImage& pixels);

}  // namespace tallow::platform
