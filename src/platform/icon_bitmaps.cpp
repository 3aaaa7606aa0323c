#include "platform/icon_bitmaps.h"

#include <utility>

namespace tallow::platform {

std::vector<std::uint8_t> icon_colour_bits(const RgbaPixels& pixels) {
  std::vector<std::uint8_t> bits(pixels.bytes.begin(), pixels.bytes.end());
  for (std::size_t i = 0; i + 3 < bits.size(); i += 4) std::swap(bits[i], bits[i + 2]);
  return bits;
}

std::size_t icon_mask_stride(std::uint32_t width) { return (std::size_t{width} + 15) / 16 * 2; }

std::vector<std::uint8_t> icon_mask_bits(const RgbaPixels& pixels) {
  const std::size_t stride = icon_mask_stride(pixels.width);
  std::vector<std::uint8_t> bits(stride * pixels.height, 0);
  for (std::size_t y = 0; y < pixels.height; ++y) {
    for (std::size_t x = 0; x < pixels.width; ++x) {
      const std::uint8_t alpha = pixels.bytes[(y * pixels.width + x) * 4 + 3];
      if (alpha == 0) bits[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    }
  }
  return bits;
}

}  // namespace tallow::platform

namespace tallow::platform {

std::vector<std::uint8_t> status_notifier_pixmap(const RgbaPixels& pixels) {
  std::vector<std::uint8_t> argb(pixels.bytes.size());
  for (std::size_t i = 0; i + 3 < pixels.bytes.size(); i += 4) {
    // A clear pixel is clear in every channel: a host that blends without looking at
    // alpha (swaybar's does) would otherwise paint its colour.
    if (pixels.bytes[i + 3] == 0) continue;
    argb[i] = pixels.bytes[i + 3];
    argb[i + 1] = pixels.bytes[i];
    argb[i + 2] = pixels.bytes[i + 1];
    argb[i + 3] = pixels.bytes[i + 2];
  }
  return argb;
}

}  // namespace tallow::platform
