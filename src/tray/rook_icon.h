#pragma once
// The tray icon's picture: a rook whose colour and opacity tell the agent's status.
// The shape comes from PNGs carried in the program, one per size the notification area
// takes, each turned once into a square coverage mask; every refresh paints fresh images
// from those masks. Where the notification area draws named themed icons, the picture
// also names the installed icon that stands for the status.

#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

#include "common/result.h"
#include "agent/agent_status.h"
#include "platform/icon_image.h"

namespace tallow {

// A square of coverage bytes (0 transparent, 255 opaque), row-major, top row first;
// `coverage` holds `side` × `side` of them.
struct RookMask {
  std::uint32_t side = 0;
  std::vector<std::uint8_t> coverage;
};

// The embedded rook image the tray paints at `size` pixels, an RGBA PNG, black, its shape
// in alpha: the 31 × 36 one for 36 (Windows), a square one drawn at that size for 16, 22,
// 24, 32 and 48; empty for any other size.
std::span<const std::uint8_t> embedded_rook_png(std::uint32_t size);

// One mask for each of `sizes`, from the image embedded for it.
Result<std::vector<RookMask>> build_rook_masks(std::span<const std::uint32_t> sizes);

// The mask of a PNG: a square as wide as the image's longer side, the image centred
// in it (offsets rounded down) and each pixel's alpha copied. Failures carry
// "the bundled icon is a PNG: …", "the bundled icon has a size" or
// "the bundled icon decodes: …".
Result<RookMask> rook_mask_from_png(std::span<const std::uint8_t> png);

// The icon for `status` on a light or a dark taskbar: every pixel in one colour, black
// or white by theme (a middle grey that reads on both when the theme is not known),
// amber for a failed agent, with the mask's coverage as alpha, dimmed to 35 % while the
// agent is not running.
platform::IconImage render_rook_icon(const RookMask& mask, const AgentStatus& status,
                                     std::optional<bool> light_theme);

// The themed icon that stands for `status` (installed on Linux in the hicolor theme):
// the symbolic rook while an agent runs, the dimmed symbolic rook while none does, the
// amber rook for a failed agent. Symbolic icons take the panel's own text colour.
std::string_view rook_icon_name(const AgentStatus& status);

// The whole picture for `status`: its icon name, and each mask painted as above.
platform::IconPicture render_rook_picture(std::span<const RookMask> masks, const AgentStatus& status,
                                          std::optional<bool> light_theme);

}  // namespace tallow
