#include "platform/win32/icon/icon_handle.h"

#include <climits>
#include <cstring>

#include "platform/icon_bitmaps.h"
#include "platform/notification_icon.h"
#include "platform/os_error.h"

namespace tallow::platform::win32 {

Result<ScopedIcon> create_icon_from_rgba(const IconImage& pixels) {
  if (auto checked = check_icon_image(pixels); !checked) return checked.error();
  if (pixels.width > INT_MAX || pixels.height > INT_MAX) return Error{"the icon is too large"};
  const auto width = static_cast<LONG>(pixels.width);
  const auto height = static_cast<LONG>(pixels.height);

  BITMAPINFO info{};
  info.bmiHeader.biSize = sizeof(info.bmiHeader);
  info.bmiHeader.biWidth = width;
  info.bmiHeader.biHeight = -height;  // negative: the top row comes first
  info.bmiHeader.biPlanes = 1;
  info.bmiHeader.biBitCount = 32;
  info.bmiHeader.biCompression = BI_RGB;
  void* colour_bits = nullptr;
  ScopedBitmap colour(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &colour_bits, nullptr, 0));
  if (!colour || colour_bits == nullptr) return last_os_error();
  const std::vector<std::uint8_t> bgra = icon_colour_bits(pixels);
  std::memcpy(colour_bits, bgra.data(), bgra.size());

  const std::vector<std::uint8_t> mask_bits = icon_mask_bits(pixels);
  ScopedBitmap mask(CreateBitmap(width, height, 1, 1, mask_bits.data()));
  if (!mask) return last_os_error();

  ICONINFO parts{};
  parts.fIcon = TRUE;
  parts.hbmMask = mask.get();
  parts.hbmColor = colour.get();
  // The icon gets its own copies of both bitmaps; ours go when this returns.
  ScopedIcon icon(CreateIconIndirect(&parts));
  if (!icon) return last_os_error();
  return icon;
}

}  // namespace tallow::platform::win32

namespace tallow::platform {

std::span<const std::uint32_t> notification_icon_sizes() {
  // The tray's icon was drawn for this size, which the shell scales to its own.
  static constexpr std::uint32_t kSizes[] = {36};
  return kSizes;
}

}  // namespace tallow::platform
