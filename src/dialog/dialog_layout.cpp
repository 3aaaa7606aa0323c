#include "dialog/dialog_layout.h"

namespace tallow {
namespace {

constexpr std::int32_t kBaseDpi = 96;

// The dialog at 96 DPI: margins of 16 all round, the buttons right-aligned with the
// field and 8 apart.
constexpr DialogLayout kBaseLayout{
    .client_width = 460,
    .client_height = 132,
    .prompt = {16, 16, 428, 20},
    .field = {16, 42, 428, 26},
    .accept = {256, 88, 90, 28},
    .cancel = {354, 88, 90, 28},
};

PixelRect scale_rect(const PixelRect& rect, std::int32_t dpi) {
  return {scale_for_dpi(rect.x, dpi), scale_for_dpi(rect.y, dpi), scale_for_dpi(rect.width, dpi),
          scale_for_dpi(rect.height, dpi)};
}

}  // namespace

std::int32_t scale_for_dpi(std::int32_t value, std::int32_t dpi) {
  // The product is formed in 64 bits so that no DPI can overflow it; wherever the
  // product fits in 32 bits this is exactly the 32-bit arithmetic.
  return static_cast<std::int32_t>(std::int64_t{value} * dpi / kBaseDpi);
}

DialogLayout dialog_layout(std::int32_t dpi) {
  return {
      .client_width = scale_for_dpi(kBaseLayout.client_width, dpi),
      .client_height = scale_for_dpi(kBaseLayout.client_height, dpi),
      .prompt = scale_rect(kBaseLayout.prompt, dpi),
      .field = scale_rect(kBaseLayout.field, dpi),
      .accept = scale_rect(kBaseLayout.accept, dpi),
      .cancel = scale_rect(kBaseLayout.cancel, dpi),
  };
}

PixelPoint centred_origin(std::int32_t screen_width, std::int32_t screen_height,
                          std::int32_t window_width, std::int32_t window_height) {
  return {(screen_width - window_width) / 2, (screen_height - window_height) / 2};
}

}  // namespace tallow
