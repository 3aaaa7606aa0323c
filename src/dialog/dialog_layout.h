#pragma once
// Where the input dialog's window and controls go, in pixels at a given DPI.

#include <cstdint>

namespace tallow {

struct PixelRect {
  std::int32_t x = 0;
  std::int32_t y = 0;
  std::int32_t width = 0;
  std::int32_t height = 0;
  bool operator==(const PixelRect&) const = default;
};

struct PixelPoint {
  std::int32_t x = 0;
  std::int32_t y = 0;
  bool operator==(const PixelPoint&) const = default;
};

// The client area and the four controls, in creation (and Tab) order.
struct DialogLayout {
  std::int32_t client_width = 0;
  std::int32_t client_height = 0;
  PixelRect prompt;
  PixelRect field;
  PixelRect accept;
  PixelRect cancel;
  bool operator==(const DialogLayout&) const = default;
};

// A size given in pixels at 96 DPI, at `dpi`: value × dpi ÷ 96, truncated toward zero.
std::int32_t scale_for_dpi(std::int32_t value, std::int32_t dpi);

// The dialog at `dpi`. Every number is scaled on its own, so half pixels are dropped
// per number and edges need not meet exactly as they do at 96 DPI.
DialogLayout dialog_layout(std::int32_t dpi);

// The top-left corner that centres a window of the given size on a screen of the given
// size; negative when the window is the larger.
PixelPoint centred_origin(std::int32_t screen_width, std::int32_t screen_height,
                          std::int32_t window_width, std::int32_t window_height);

}  // namespace tallow
