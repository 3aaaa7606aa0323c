#pragma once
// The tray icon's picture: a rook whose colour and opacity tell the agent's status.
// The shape comes from the PNG carried in the program, turned once into a square
// coverage mask; every refresh paints a fresh icon from that mask.

#include <cstdint>
#include <span>
#include <vector>

#include "common/result.h"
#include "daemon/agent_status.h"
#include "platform/icon_image.h"

namespace tallow {

// A square of coverage bytes (0 transparent, 255 opaque), row-major, top row first;
// `coverage` holds `side` × `side` of them.
struct RookMask {
  std::uint32_t side = 0;
  std::vector<std::uint8_t> coverage;
};

// The rook image the program carries: a 31 × 36 RGBA PNG, black, its shape in alpha.
std::span<const std::uint8_t> embedded_rook_png();

// The mask of the embedded rook image.
Result<RookMask> build_rook_mask();

// The mask of a PNG: a square as wide as the image's longer side, the image centred
// in it (offsets rounded down) and each pixel's alpha copied. Failures carry
// "the bundled icon is a PNG: …", "the bundled icon has a size" or
// "the bundled icon decodes: …".
Result<RookMask> rook_mask_from_png(std::span<const std::uint8_t> png);

// The icon for `status` on a light or a dark taskbar: every pixel in one colour, black
// or white by theme, amber for a failed agent, with the mask's coverage as alpha,
// dimmed to 35 % while the agent is not running.
platform::IconImage render_rook_icon(const RookMask& mask, const AgentStatus& status,
                                     bool light_theme);

}  // namespace tallow
