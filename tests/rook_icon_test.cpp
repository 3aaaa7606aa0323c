// The tray icon's picture: the rook image the program carries, the square mask made
// from it (and from any PNG), and the colour and opacity of each status and theme.

#include "tray/rook_icon.h"

#include <gtest/gtest.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallow {
namespace {

using Bytes = std::vector<std::uint8_t>;

// The embedded image decoded to RGBA by the decoder directly.
const Bytes& rook_rgba() {
  static const Bytes rgba = [] {
    const auto png = embedded_rook_png(36);
    int width = 0, height = 0, channels = 0;
    stbi_uc* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &width, &height, &channels, 4);
    Bytes out = pixels && width == 31 && height == 36 ? Bytes(pixels, pixels + 31 * 36 * 4) : Bytes();
    stbi_image_free(pixels);
    return out;
  }();
  return rgba;
}

const RookMask& rook_mask() {
  static const RookMask mask = [] {
    auto built = rook_mask_from_png(embedded_rook_png(36));
    return built ? built.value() : RookMask{};
  }();
  return mask;
}

TEST(RookImage, IsThe31By36RgbaPngWithBlackColourChannels) {
  const auto png = embedded_rook_png(36);
  ASSERT_GE(png.size(), 33u);
  const std::string head(png.begin(), png.begin() + 33);
  EXPECT_EQ(head.substr(0, 16), std::string("\x89PNG\r\n\x1a\n\0\0\0\x0dIHDR", 16));
  // Width 31, height 36, 8 bits, RGBA, deflate, standard filters, not interlaced.
  EXPECT_EQ(head.substr(16, 13), std::string("\0\0\0\x1f\0\0\0\x24\x08\x06\0\0\0", 13));
  ASSERT_EQ(rook_rgba().size(), 31u * 36 * 4);
  std::set<std::uint8_t> alphas;
  for (std::size_t i = 0; i < rook_rgba().size(); i += 4) {
    ASSERT_EQ(rook_rgba()[i] | rook_rgba()[i + 1] | rook_rgba()[i + 2], 0) << "pixel " << i / 4;
    alphas.insert(rook_rgba()[i + 3]);
  }
  EXPECT_GE(alphas.size(), 3u) << "transparent, opaque and anti-aliased edges";
  // The program carries exactly the committed file.
  EXPECT_EQ(test::read_file(TALLOW_SOURCE_DIR "/res/rook.png"), std::string(png.begin(), png.end()));
}

TEST(RookMask, PlacesTheRookInColumnsTwoTo32OfA36Square) {
  const RookMask& mask = rook_mask();
  ASSERT_EQ(mask.side, 36u);
  ASSERT_EQ(mask.coverage.size(), 36u * 36u);
  std::vector<int> rows(36), columns(36);
  for (int y = 0; y < 36; ++y) {
    for (int x = 0; x < 36; ++x) rows[y] += mask.coverage[y * 36 + x], columns[x] += mask.coverage[y * 36 + x];
    for (int x = 0; x < 31; ++x) ASSERT_EQ(mask.coverage[y * 36 + x + 2], rook_rgba()[4 * (y * 31 + x) + 3]);
  }
  for (const int x : {0, 1, 33, 34, 35}) EXPECT_EQ(columns[x], 0) << "column " << x;
  for (int y = 0; y < 36; ++y) EXPECT_GT(rows[y], 0) << "row " << y;
}

// A PNG written by an encoder of its own.
Bytes encode_png(int width, int height, int channels, const Bytes& pixels) {
  Bytes out;
  stbi_write_png_to_func([](void* to, void* data, int size) {
        static_cast<Bytes*>(to)->insert(static_cast<Bytes*>(to)->end(), static_cast<std::uint8_t*>(data),
                                        static_cast<std::uint8_t*>(data) + size);
      }, &out, width, height, channels, pixels.data(), width * channels);
  return out;
}

TEST(RookMask, CentresAnyPngInASquareOfItsLongerSide) {
  struct Case { const char* name; int width, height, channels, side, left, top; };
  for (const Case& c : std::vector<Case>{
           {"taller than wide", 3, 5, 4, 5, 1, 0},
           {"taller by an odd count: offset rounded down", 4, 7, 4, 7, 1, 0},
           {"wider by an odd count", 6, 3, 4, 6, 0, 1},
           {"square", 4, 4, 4, 4, 0, 0},
           {"grey with alpha", 2, 3, 2, 3, 0, 0},
           {"RGB: opaque, having no alpha", 3, 2, 3, 3, 0, 0}}) {
    SCOPED_TRACE(c.name);
    // Every byte differs, so a misplaced pixel or a mixed-up channel shows.
    Bytes pixels(c.width * c.height * c.channels);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(37 * i + 11);
    const auto mask = rook_mask_from_png(encode_png(c.width, c.height, c.channels, pixels));
    ASSERT_TRUE(mask.ok()) << mask.error().message;
    ASSERT_EQ(mask->side, static_cast<std::uint32_t>(c.side));
    ASSERT_EQ(mask->coverage.size(), static_cast<std::size_t>(c.side * c.side));
    for (int y = 0; y < c.side; ++y) {
      for (int x = 0; x < c.side; ++x) {
        const int ix = x - c.left, iy = y - c.top;
        const bool in = ix >= 0 && iy >= 0 && ix < c.width && iy < c.height;
        const int alpha = !in ? 0 : c.channels == 3 ? 255 : pixels[(iy * c.width + ix + 1) * c.channels - 1];
        ASSERT_EQ(mask->coverage[y * c.side + x], alpha) << x << "," << y;
      }
    }
  }
}

TEST(RookMask, FailuresSayWhatWentWrong) {
  const Bytes whole(embedded_rook_png(36).begin(), embedded_rook_png(36).end());
  const Bytes header_only(whole.begin(), whole.begin() + 33);  // signature and IHDR
  Bytes huge = header_only;  // 2^24 × 1 pixels: a square of 2^48 bytes
  huge[16] = 1, huge[17] = huge[18] = huge[19] = huge[20] = huge[21] = huge[22] = 0, huge[23] = 1;
  Bytes scrambled = whole;  // image data that is no zlib stream
  std::fill(scrambled.begin() + 41, scrambled.end() - 20, 0xA5);
  struct Case { const char* name; Bytes png; std::string message; };
  for (const Case& c : std::vector<Case>{
           {"nothing", {}, "the bundled icon is a PNG: unknown image type"},
           {"a GIF", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, "the bundled icon is a PNG: unknown image type"},
           {"cut after its header", header_only, "the bundled icon decodes: unknown error"},
           {"scrambled image data", scrambled, "the bundled icon decodes: bad zlib header"},
           {"too large for a mask", huge, "the bundled icon has a size"}}) {
    SCOPED_TRACE(c.name);
    const auto mask = rook_mask_from_png(c.png);
    ASSERT_FALSE(mask.ok());
    EXPECT_EQ(mask.error().message, c.message);
  }
}

// 35 % of a coverage byte, truncated. Integer arithmetic gives the same 256 values as
// the single-precision product, without sharing its code.
int dimmed(int coverage) { return coverage * 35 / 100; }

TEST(RookIcon, ColourAndOpacityFollowTheStatusAndTheTheme) {
  struct Case { const char* name; AgentStatus status; bool dim, amber; };
  const std::vector<Case> cases = {
      {"running", AgentStatus::running(), false, false},
      {"running elsewhere", AgentStatus::running_elsewhere(), false, false},
      {"stopped", AgentStatus::stopped(), true, false},
      {"starting", AgentStatus::starting(), true, false},
      {"stopping", AgentStatus::stopping(), true, false},
      {"not enrolled", AgentStatus::not_enrolled(), true, false},
      {"failed", AgentStatus::failed("exited (exit code: 1), see the log"), false, true},
      {"failed for no reason", AgentStatus::failed(""), false, true}};
  for (const Case& c : cases) {
    for (const bool light : {true, false}) {
      SCOPED_TRACE(std::string(c.name) + (light ? ", light" : ", dark"));
      const platform::IconImage icon = render_rook_icon(rook_mask(), c.status, light);
      ASSERT_EQ(icon.width, 36u);
      ASSERT_EQ(icon.height, 36u);
      ASSERT_EQ(icon.rgba.size(), 36u * 36u * 4u);
      const int grey = light ? 0 : 255;
      const Bytes colour = c.amber ? Bytes{245, 158, 11} : Bytes(3, static_cast<std::uint8_t>(grey));
      for (std::size_t i = 0; i < rook_mask().coverage.size(); ++i) {
        ASSERT_EQ(Bytes(&icon.rgba[4 * i], &icon.rgba[4 * i + 3]), colour) << "pixel " << i;
        const int coverage = rook_mask().coverage[i];
        ASSERT_EQ(icon.rgba[4 * i + 3], c.dim ? dimmed(coverage) : coverage) << "pixel " << i;
      }
    }
  }
}

TEST(RookIcon, DimmingScalesEveryCoverageValue) {
  RookMask ramp{16, Bytes(256)};
  for (int a = 0; a < 256; ++a) ramp.coverage[a] = static_cast<std::uint8_t>(a);
  const auto dim = render_rook_icon(ramp, AgentStatus::stopped(), false);
  const auto full = render_rook_icon(ramp, AgentStatus::running(), false);
  for (int a = 0; a < 256; ++a) {
    EXPECT_EQ(dim.rgba[4 * a + 3], dimmed(a)) << a;
    EXPECT_EQ(full.rgba[4 * a + 3], a) << a;
  }
  // Full coverage, the edges of truncation, and transparent staying transparent.
  for (const auto& [coverage, alpha] : std::vector<std::pair<int, int>>{{255, 89}, {254, 88}, {20, 7}, {3, 1}, {2, 0}, {0, 0}}) {
    EXPECT_EQ(dim.rgba[4 * coverage + 3], alpha) << coverage;
  }
}

}  // namespace
}  // namespace tallow
