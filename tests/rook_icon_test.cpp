// The tray icon's picture: the rook image the program carries, the square mask made
// from it (and from any PNG), and the colour and opacity painted for each status
// and taskbar theme.

#include "tray/rook_icon.h"

#include <gtest/gtest.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image.h>
#include <stb/stb_image_write.h>

#include <cstdint>
#include <memory>
#include <set>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallow {
namespace {

using Bytes = std::vector<std::uint8_t>;

// A PNG decoded to 8-bit RGBA.
struct Decoded {
  int width = 0;
  int height = 0;
  Bytes rgba;
  std::uint8_t alpha(int x, int y) const { return rgba[4 * (y * width + x) + 3]; }
};

Decoded decode(std::span<const std::uint8_t> png) {
  Decoded out;
  int channels = 0;
  stbi_uc* pixels = stbi_load_from_memory(png.data(), static_cast<int>(png.size()), &out.width,
                                          &out.height, &channels, 4);
  EXPECT_NE(pixels, nullptr) << stbi_failure_reason();
  if (pixels) {
    out.rgba.assign(pixels, pixels + 4 * out.width * out.height);
    stbi_image_free(pixels);
  }
  return out;
}

// A PNG of `channels` channels from `pixels`, written by an encoder of its own.
Bytes encode_png(int width, int height, int channels, const Bytes& pixels) {
  Bytes out;
  stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        auto* bytes = static_cast<const std::uint8_t*>(data);
        static_cast<Bytes*>(context)->insert(static_cast<Bytes*>(context)->end(), bytes, bytes + size);
      },
      &out, width, height, channels, pixels.data(), width * channels);
  return out;
}

std::uint32_t big_endian(std::span<const std::uint8_t> bytes, std::size_t at) {
  return std::uint32_t{bytes[at]} << 24 | std::uint32_t{bytes[at + 1]} << 16 |
         std::uint32_t{bytes[at + 2]} << 8 | bytes[at + 3];
}

const RookMask& rook_mask() {
  static const RookMask mask = [] {
    auto built = build_rook_mask();
    EXPECT_TRUE(built.ok()) << built.error().message;
    return built.ok() ? built.value() : RookMask{};
  }();
  return mask;
}

// ---------------------------------------------------------------------------
// The embedded image
// ---------------------------------------------------------------------------

TEST(RookImage, IsThe31By36RgbaPngWithBlackColourChannels) {
  const auto png = embedded_rook_png();
  ASSERT_GE(png.size(), 33u);
  EXPECT_EQ(std::string(png.begin(), png.begin() + 8), "\x89PNG\r\n\x1a\n");
  // The header chunk comes first: width, height, depth, colour type, compression,
  // filter, interlace.
  EXPECT_EQ(big_endian(png, 8), 13u);
  EXPECT_EQ(std::string(png.begin() + 12, png.begin() + 16), "IHDR");
  EXPECT_EQ(big_endian(png, 16), 31u);
  EXPECT_EQ(big_endian(png, 20), 36u);
  EXPECT_EQ(png[24], 8);  // bits per channel
  EXPECT_EQ(png[25], 6);  // RGBA
  EXPECT_EQ(png[28], 0);  // not interlaced

  const Decoded image = decode(png);
  ASSERT_EQ(image.width, 31);
  ASSERT_EQ(image.height, 36);
  std::set<std::uint8_t> alphas;
  for (std::size_t i = 0; i < image.rgba.size(); i += 4) {
    ASSERT_EQ(image.rgba[i] | image.rgba[i + 1] | image.rgba[i + 2], 0) << "pixel " << i / 4;
    alphas.insert(image.rgba[i + 3]);
  }
  // Fully transparent, fully covered, and anti-aliased edges between.
  EXPECT_TRUE(alphas.count(0) && alphas.count(255));
  EXPECT_GE(alphas.size(), 4u);

  // The program carries exactly the committed file.
  const std::string committed = test::read_file(TALLOW_SOURCE_DIR "/res/rook.png");
  EXPECT_EQ(committed, std::string(png.begin(), png.end()));
}

// Runs of covered pixels (alpha at least half) along row y.
int covered_runs(const Decoded& image, int y) {
  int runs = 0;
  for (int x = 0; x < image.width; ++x) {
    if (image.alpha(x, y) >= 128 && (x == 0 || image.alpha(x - 1, y) < 128)) ++runs;
  }
  return runs;
}

int covered_width(const Decoded& image, int y) {
  int width = 0;
  for (int x = 0; x < image.width; ++x) width += image.alpha(x, y) >= 128 ? 1 : 0;
  return width;
}

// Transparent regions that do not reach the border: the openings.
int enclosed_openings(const Decoded& image) {
  std::vector<int> region(image.width * image.height, -1);
  int regions = 0, enclosed = 0;
  for (int start = 0; start < image.width * image.height; ++start) {
    if (region[start] >= 0 || image.rgba[4 * start + 3] >= 128) continue;
    bool touches_border = false;
    std::vector<int> stack = {start};
    region[start] = regions;
    while (!stack.empty()) {
      const int at = stack.back();
      stack.pop_back();
      const int x = at % image.width, y = at / image.width;
      if (x == 0 || y == 0 || x == image.width - 1 || y == image.height - 1) touches_border = true;
      for (const auto& [dx, dy] : {std::pair{1, 0}, {-1, 0}, {0, 1}, {0, -1}}) {
        const int nx = x + dx, ny = y + dy;
        if (nx < 0 || ny < 0 || nx >= image.width || ny >= image.height) continue;
        const int next = ny * image.width + nx;
        if (region[next] < 0 && image.alpha(nx, ny) < 128) {
          region[next] = regions;
          stack.push_back(next);
        }
      }
    }
    ++regions;
    enclosed += touches_border ? 0 : 1;
  }
  return enclosed;
}

TEST(RookImage, ShowsARook) {
  const Decoded image = decode(embedded_rook_png());
  ASSERT_EQ(image.height, 36);
  EXPECT_EQ(covered_runs(image, 0), 3) << "three merlons over two gaps";
  for (const int y : {34, 35}) EXPECT_EQ(covered_width(image, y), 31) << "the base, row " << y;
  EXPECT_EQ(enclosed_openings(image), 2) << "one in the band, one in the stem";
  // Narrower in the middle than at the top and at the foot.
  const int middle = covered_width(image, 24);
  EXPECT_LT(middle, covered_width(image, 6));
  EXPECT_LT(middle, covered_width(image, 35));
}

// ---------------------------------------------------------------------------
// The mask
// ---------------------------------------------------------------------------

TEST(RookMask, PlacesTheRookInColumnsTwoTo32OfA36Square) {
  const RookMask& mask = rook_mask();
  ASSERT_EQ(mask.side, 36u);
  ASSERT_EQ(mask.coverage.size(), 36u * 36u);
  const auto at = [&](int x, int y) { return mask.coverage[y * 36 + x]; };
  for (const int x : {0, 1, 33, 34, 35}) {
    for (int y = 0; y < 36; ++y) ASSERT_EQ(at(x, y), 0) << "column " << x << ", row " << y;
  }
  for (int y = 0; y < 36; ++y) {
    int row = 0;
    for (int x = 0; x < 36; ++x) row += at(x, y);
    EXPECT_GT(row, 0) << "row " << y << " is empty";
  }
  const Decoded image = decode(embedded_rook_png());
  for (int y = 0; y < 36; ++y) {
    for (int x = 0; x < 31; ++x) ASSERT_EQ(at(x + 2, y), image.alpha(x, y)) << x << "," << y;
  }
}

TEST(RookMask, CentresAnyPngInASquareOfItsLongerSide) {
  struct Case {
    const char* name;
    int width, height, channels;
    int side, left, top;
  };
  const std::vector<Case> cases = {
      {"taller than wide", 3, 5, 4, 5, 1, 0},
      {"taller by an odd count: offset rounded down", 4, 7, 4, 7, 1, 0},
      {"wider than tall", 5, 2, 4, 5, 0, 1},
      {"wider by an odd count", 6, 3, 4, 6, 0, 1},
      {"square", 4, 4, 4, 4, 0, 0},
      {"one pixel", 1, 1, 4, 1, 0, 0},
      {"grey with alpha", 2, 3, 2, 3, 0, 0},
      {"RGB: opaque, having no alpha", 3, 2, 3, 3, 0, 0},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    // Every byte differs, so a misplaced or mixed-up channel shows.
    Bytes pixels(c.width * c.height * c.channels);
    for (std::size_t i = 0; i < pixels.size(); ++i) pixels[i] = static_cast<std::uint8_t>(37 * i + 11);
    const auto alpha = [&](int x, int y) -> std::uint8_t {
      if (c.channels == 3) return 255;
      return pixels[(y * c.width + x) * c.channels + c.channels - 1];
    };
    const auto mask = rook_mask_from_png(encode_png(c.width, c.height, c.channels, pixels));
    ASSERT_TRUE(mask.ok()) << mask.error().message;
    ASSERT_EQ(mask->side, static_cast<std::uint32_t>(c.side));
    ASSERT_EQ(mask->coverage.size(), static_cast<std::size_t>(c.side * c.side));
    for (int y = 0; y < c.side; ++y) {
      for (int x = 0; x < c.side; ++x) {
        const int ix = x - c.left, iy = y - c.top;
        const bool in_image = ix >= 0 && iy >= 0 && ix < c.width && iy < c.height;
        ASSERT_EQ(mask->coverage[y * c.side + x], in_image ? alpha(ix, iy) : 0) << x << "," << y;
      }
    }
  }
}

TEST(RookMask, FailuresSayWhatWentWrong) {
  const auto rook = embedded_rook_png();
  const Bytes whole(rook.begin(), rook.end());
  // Signature and header chunk only: a header that reads, with no image data after it.
  const Bytes header_only(whole.begin(), whole.begin() + 33);
  // A header claiming 2^24 × 1 pixels, a square of 2^48 bytes.
  Bytes huge = header_only;
  huge[16] = 0x01, huge[17] = 0, huge[18] = 0, huge[19] = 0;
  huge[20] = 0, huge[21] = 0, huge[22] = 0, huge[23] = 1;
  // Image data that is not a zlib stream.
  Bytes scrambled = whole;
  for (std::size_t i = 41; i < scrambled.size() - 20; ++i) scrambled[i] = 0xA5;

  struct Case {
    const char* name;
    Bytes png;
    std::string prefix;
  };
  const std::vector<Case> cases = {
      {"nothing", {}, "the bundled icon is a PNG: "},
      {"not a PNG", {'G', 'I', 'F', '8', '9', 'a', 1, 0, 1, 0, 0, 0, 0}, "the bundled icon is a PNG: "},
      {"a PNG cut after its header", header_only, "the bundled icon decodes: "},
      {"scrambled image data", scrambled, "the bundled icon decodes: "},
      {"too large for a mask", huge, "the bundled icon has a size"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const auto mask = rook_mask_from_png(c.png);
    ASSERT_FALSE(mask.ok());
    const std::string& message = mask.error().message;
    EXPECT_EQ(message.substr(0, c.prefix.size()), c.prefix) << message;
    // The decoder's reason follows the colon.
    if (c.prefix.back() == ' ') {
      EXPECT_GT(message.size(), c.prefix.size()) << message;
    } else {
      EXPECT_EQ(message, c.prefix);
    }
  }
}

// ---------------------------------------------------------------------------
// Painting
// ---------------------------------------------------------------------------

struct Colour {
  std::uint8_t red, green, blue;
};

// 35 % of a coverage byte, truncated: integer arithmetic gives the same 256 values as
// the single-precision product, without sharing its code.
int dimmed(int coverage) { return coverage * 35 / 100; }

TEST(RookIcon, ColourAndOpacityFollowTheStatusAndTheTheme) {
  const Colour black{0, 0, 0}, white{255, 255, 255}, amber{245, 158, 11};
  struct Case {
    const char* name;
    AgentStatus status;
    bool light;
    Colour colour;
    bool dim;
  };
  const std::vector<Case> cases = {
      {"running, light", AgentStatus::running(), true, black, false},
      {"running, dark", AgentStatus::running(), false, white, false},
      {"running elsewhere, light", AgentStatus::running_elsewhere(), true, black, false},
      {"running elsewhere, dark", AgentStatus::running_elsewhere(), false, white, false},
      {"stopped, light", AgentStatus::stopped(), true, black, true},
      {"stopped, dark", AgentStatus::stopped(), false, white, true},
      {"starting, light", AgentStatus::starting(), true, black, true},
      {"starting, dark", AgentStatus::starting(), false, white, true},
      {"stopping, light", AgentStatus::stopping(), true, black, true},
      {"stopping, dark", AgentStatus::stopping(), false, white, true},
      {"not enrolled, light", AgentStatus::not_enrolled(), true, black, true},
      {"not enrolled, dark", AgentStatus::not_enrolled(), false, white, true},
      {"failed, light", AgentStatus::failed("exited (exit code: 1), see the log"), true, amber, false},
      {"failed, dark", AgentStatus::failed("exited (exit code: 1), see the log"), false, amber, false},
      {"failed with no reason", AgentStatus::failed(""), true, amber, false},
      {"failed for another reason", AgentStatus::failed("C:\\x\\tallowmered.exe is missing"), false,
       amber, false},
  };
  const RookMask& mask = rook_mask();
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const platform::IconImage icon = render_rook_icon(mask, c.status, c.light);
    ASSERT_EQ(icon.width, 36u);
    ASSERT_EQ(icon.height, 36u);
    ASSERT_EQ(icon.rgba.size(), 36u * 36u * 4u);
    for (std::size_t i = 0; i < mask.coverage.size(); ++i) {
      const std::uint8_t* pixel = &icon.rgba[4 * i];
      ASSERT_EQ(pixel[0], c.colour.red) << "pixel " << i;
      ASSERT_EQ(pixel[1], c.colour.green) << "pixel " << i;
      ASSERT_EQ(pixel[2], c.colour.blue) << "pixel " << i;
      const int coverage = mask.coverage[i];
      ASSERT_EQ(pixel[3], c.dim ? dimmed(coverage) : coverage) << "pixel " << i;
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
  // The values worth naming: full coverage, its neighbour, the rounding edge, nothing.
  struct Case {
    int coverage, alpha;
  };
  for (const Case c : std::vector<Case>{{255, 89}, {254, 88}, {128, 44}, {20, 7}, {3, 1}, {2, 0}, {0, 0}}) {
    EXPECT_EQ(dim.rgba[4 * c.coverage + 3], c.alpha) << c.coverage;
  }
}

}  // namespace
}  // namespace tallow
