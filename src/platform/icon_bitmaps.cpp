#include "platform/icon_bitmaps.h"

#include <utility>

namespace tallow::platform {

Result<void> check_icon_image(const IconImage& pixels) {
  if (pixels.width == 0 || pixels.height == 0) {
    return Error{"an icon needs at least one pixel, not " + std::to_string(pixels.width) + "\u00D7" +
                 std::to_string(pixels.height)};
  }
  // 64-bit arithmetic: two 32-bit sides times 4 cannot overflow it.
  const std::uint64_t expected = std::uint64_t{pixels.width} * pixels.height * 4;
  if (pixels.rgba.size() != expected) {
    return Error{std::to_string(pixels.width) + "\u00D7" + std::to_string(pixels.height) +
                 " RGBA pixels take " + std::to_string(expected) + " bytes, not " +
                 std::to_string(pixels.rgba.size())};
  }
  return {};
}

Result<void> check_icon_picture(const IconPicture& picture) {
  if (picture.images.empty()) return Error{"an icon needs at least one image"};
  for (const IconImage& image : picture.images) {
    if (auto checked = check_icon_image(image); !checked) return checked;
  }
  return {};
}

std::vector<std::uint8_t> icon_colour_bits(const IconImage& pixels) {
  std::vector<std::uint8_t> bits(pixels.rgba.begin(), pixels.rgba.end());
  for (std::size_t i = 0; i + 3 < bits.size(); i += 4) std::swap(bits[i], bits[i + 2]);
  return bits;
}

std::size_t icon_mask_stride(std::uint32_t width) { return (std::size_t{width} + 15) / 16 * 2; }

std::vector<std::uint8_t> icon_mask_bits(const IconImage& pixels) {
  const std::size_t stride = icon_mask_stride(pixels.width);
  std::vector<std::uint8_t> bits(stride * pixels.height, 0);
  for (std::size_t y = 0; y < pixels.height; ++y) {
    for (std::size_t x = 0; x < pixels.width; ++x) {
      const std::uint8_t alpha = pixels.rgba[(y * pixels.width + x) * 4 + 3];
      if (alpha == 0) bits[y * stride + x / 8] |= static_cast<std::uint8_t>(0x80u >> (x % 8));
    }
  }
  return bits;
}

std::vector<std::uint8_t> status_notifier_pixmap(const IconImage& pixels) {
  std::vector<std::uint8_t> argb(pixels.rgba.size());
  for (std::size_t i = 0; i + 3 < pixels.rgba.size(); i += 4) {
    // A clear pixel is clear in every channel: a host that blends without looking at
    // alpha (swaybar's does) would otherwise paint its colour.
    if (pixels.rgba[i + 3] == 0) continue;
    argb[i] = pixels.rgba[i + 3];
    argb[i + 1] = pixels.rgba[i];
    argb[i + 2] = pixels.rgba[i + 1];
    argb[i + 3] = pixels.rgba[i + 2];
  }
  return argb;
}

}  // namespace tallow::platform
