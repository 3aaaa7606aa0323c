#include "tray/rook_icon.h"

#include <stb/stb_image.h>

#include <algorithm>
#include <bit>
#include <climits>
#include <memory>
#include <string>

namespace tallow {
namespace {

struct StbImageFree {
  void operator()(stbi_uc* pixels) const { stbi_image_free(pixels); }
};

std::string decoder_error() {
  // An unknown chunk's name leads its reason, so a chunk of NUL bytes leaves it empty.
  const char* reason = stbi_failure_reason();
  return reason && *reason ? reason : "unknown error";
}

// The decoder sizes its buffers with int, so nothing may grow past INT_MAX bytes.
constexpr std::uint64_t kMaxBytes = INT_MAX;

bool fits(std::uint64_t a, std::uint64_t b) { return a == 0 || b <= kMaxBytes / a; }

constexpr float kOpaque = 1.0f;
// 35 %, in single precision as every render computes it.
constexpr float kDimmed = 0.35f;
static_assert(std::bit_cast<std::uint32_t>(kDimmed) == 0x3EB33333);

// The grey the symbolic icon is written in, for hosts that draw it as written: it
// reads on light and dark panels alike.
constexpr std::uint8_t kNeutralGrey = 0x92;

// How the rook looks for a status on a light or dark taskbar: the themed icon's name, its
// colour and its opacity. The status's kind alone decides; a failure's reason plays no part.
struct RookLook {
  std::string_view icon_name;
  std::uint8_t red;
  std::uint8_t green;
  std::uint8_t blue;
  float opacity;
};

RookLook look_for(const AgentStatus& status, std::optional<bool> light_theme) {
  // Black on light, white on dark.
  const std::uint8_t theme = !light_theme ? kNeutralGrey : *light_theme ? 0 : 255;
  switch (status.kind()) {
    case AgentStatus::Kind::running:
    case AgentStatus::Kind::running_elsewhere:
      return {"tallowmere-tray-symbolic", theme, theme, theme, kOpaque};
    case AgentStatus::Kind::failed:
      return {"tallowmere-tray-failed", 245, 158, 11, kOpaque};  // amber
    case AgentStatus::Kind::stopped:
    case AgentStatus::Kind::starting:
    case AgentStatus::Kind::stopping:
    case AgentStatus::Kind::not_enrolled:
      break;
  }
  return {"tallowmere-tray-dimmed-symbolic", theme, theme, theme, kDimmed};
}

std::uint8_t scaled_alpha(std::uint8_t coverage, float opacity) {
  // Truncated toward zero, as the conversion does.
  return static_cast<std::uint8_t>(std::min(255, static_cast<int>(static_cast<float>(coverage) * opacity)));
}

}  // namespace

std::span<const std::uint8_t> embedded_rook_png();
std::span<const std::uint8_t> embedded_rook_16_png();
std::span<const std::uint8_t> embedded_rook_22_png();
std::span<const std::uint8_t> embedded_rook_24_png();
std::span<const std::uint8_t> embedded_rook_32_png();
std::span<const std::uint8_t> embedded_rook_48_png();

std::span<const std::uint8_t> embedded_rook_png(std::uint32_t size) {
  switch (size) {
    case 16: return embedded_rook_16_png();
    case 22: return embedded_rook_22_png();
    case 24: return embedded_rook_24_png();
    case 32: return embedded_rook_32_png();
    case 36: return embedded_rook_png();
    case 48: return embedded_rook_48_png();
    default: return {};
  }
}

Result<std::vector<RookMask>> build_rook_masks(std::span<const std::uint32_t> sizes) {
  std::vector<RookMask> masks;
  for (const std::uint32_t size : sizes) {
    const auto png = embedded_rook_png(size);
    if (png.empty()) return Error{"the program carries no rook image for " + std::to_string(size) + " pixels"};
    auto mask = rook_mask_from_png(png);
    if (!mask) return mask.error();
    masks.push_back(std::move(mask).value());
  }
  return masks;
}

Result<RookMask> rook_mask_from_png(std::span<const std::uint8_t> png) {
  if (png.size() > kMaxBytes) return Error{"the bundled icon is a PNG: too large"};
  const int length = static_cast<int>(png.size());
  int header_width = 0, header_height = 0, header_channels = 0;
  if (!stbi_info_from_memory(png.data(), length, &header_width, &header_height, &header_channels)) {
    return Error{"the bundled icon is a PNG: " + decoder_error()};
  }
  // Decoded to 8-bit RGBA, 4 bytes a pixel, whatever the file stores, so that any PNG
  // gives its alpha (opaque where it has none).
  const std::uint64_t width = static_cast<std::uint32_t>(header_width);
  const std::uint64_t height = static_cast<std::uint32_t>(header_height);
  const std::uint64_t side = std::max(width, height);
  if (!fits(4 * width, height) || !fits(side, side)) return Error{"the bundled icon has a size"};

  int decoded_width = 0, decoded_height = 0, file_channels = 0;
  const std::unique_ptr<stbi_uc, StbImageFree> pixels(stbi_load_from_memory(
      png.data(), length, &decoded_width, &decoded_height, &file_channels, STBI_rgb_alpha));
  if (!pixels) return Error{"the bundled icon decodes: " + decoder_error()};
  if (decoded_width != header_width || decoded_height != header_height) {
    return Error{"the bundled icon decodes: its size differs from its header"};
  }
  const std::span<const std::uint8_t> rgba(pixels.get(), 4 * width * height);

  RookMask mask{static_cast<std::uint32_t>(side), std::vector<std::uint8_t>(side * side, 0)};
  const std::uint64_t left = (side - width) / 2;
  const std::uint64_t top = (side - height) / 2;
  // left + width <= side and top + height <= side, so every index below is in range.
  for (std::uint64_t y = 0; y < height; ++y) {
    for (std::uint64_t x = 0; x < width; ++x) {
      mask.coverage[(y + top) * side + (x + left)] = rgba[4 * (y * width + x) + 3];
    }
  }
  return mask;
}

platform::IconImage render_rook_icon(const RookMask& mask, const AgentStatus& status,
                                     std::optional<bool> light_theme) {
  const RookLook look = look_for(status, light_theme);
  platform::IconImage icon{mask.side, mask.side, std::vector<std::uint8_t>(mask.coverage.size() * 4)};
  std::uint8_t* pixel = icon.rgba.data();
  for (const std::uint8_t coverage : mask.coverage) {
    pixel[0] = look.red;
    pixel[1] = look.green;
    pixel[2] = look.blue;
    pixel[3] = scaled_alpha(coverage, look.opacity);
    pixel += 4;
  }
  return icon;
}

std::string_view rook_icon_name(const AgentStatus& status) {
  return look_for(status, std::nullopt).icon_name;
}

platform::IconPicture render_rook_picture(std::span<const RookMask> masks, const AgentStatus& status,
                                          std::optional<bool> light_theme) {
  platform::IconPicture picture{std::string(rook_icon_name(status)), {}};
  picture.images.reserve(masks.size());
  for (const RookMask& mask : masks) picture.images.push_back(render_rook_icon(mask, status, light_theme));
  return picture;
}

}  // namespace tallow
