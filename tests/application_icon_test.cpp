// The application icon file the resource script takes: an icon group of eight 32-bit
// images from 16 to 256 pixels, each an amber rook with a dark outline.

#include <gtest/gtest.h>

#include <stb/stb_image.h>

#include <cstdint>
#include <string>
#include <vector>

#include "support/test_support.h"

namespace tallow {
namespace {

struct Pixel {
  int r, g, b, a;
  bool operator==(const Pixel&) const = default;
};

void PrintTo(const Pixel& p, std::ostream* out) {
  *out << "(" << p.r << ", " << p.g << ", " << p.b << ", " << p.a << ")";
}

class IconFile {
 public:
  explicit IconFile(std::string bytes) : bytes_(std::move(bytes)) {}
  std::size_t size() const { return bytes_.size(); }
  unsigned u8(std::size_t at) const { return static_cast<std::uint8_t>(bytes_.at(at)); }
  unsigned u16(std::size_t at) const { return u8(at) | u8(at + 1) << 8; }
  std::uint32_t u32(std::size_t at) const { return u16(at) | u16(at + 2) << 16; }
  std::string text(std::size_t at, std::size_t length) const { return bytes_.substr(at, length); }
  const std::uint8_t* data(std::size_t at) const {
    return reinterpret_cast<const std::uint8_t*>(bytes_.data() + at);
  }

 private:
  std::string bytes_;
};

TEST(ApplicationIcon, HoldsEightRookImagesFrom16To256Pixels) {
  const IconFile ico(test::read_file(TALLOW_SOURCE_DIR "/res/tallowmere.ico"));
  ASSERT_GE(ico.size(), 6u + 8 * 16);
  EXPECT_EQ(ico.u16(0), 0u);
  EXPECT_EQ(ico.u16(2), 1u);  // an icon, not a cursor
  ASSERT_EQ(ico.u16(4), 8u);

  const Pixel amber{245, 158, 11, 255}, outline{69, 26, 3, 255}, clear{0, 0, 0, 0};
  const std::vector<int> sizes = {16, 20, 24, 32, 40, 48, 64, 256};
  std::size_t end_of_previous = 6 + 8 * 16;
  for (std::size_t i = 0; i < sizes.size(); ++i) {
    const int n = sizes[i];
    SCOPED_TRACE(std::to_string(n) + " pixels");
    const std::size_t entry = 6 + 16 * i;
    EXPECT_EQ(ico.u8(entry), n == 256 ? 0u : static_cast<unsigned>(n));
    EXPECT_EQ(ico.u8(entry + 1), n == 256 ? 0u : static_cast<unsigned>(n));
    EXPECT_EQ(ico.u16(entry + 4), 1u);   // planes
    EXPECT_EQ(ico.u16(entry + 6), 32u);  // bits per pixel
    const std::size_t length = ico.u32(entry + 8), offset = ico.u32(entry + 12);
    ASSERT_EQ(offset, end_of_previous);
    ASSERT_LE(offset + length, ico.size());
    end_of_previous = offset + length;

    // Every image, whatever its storage, as RGBA rows top first.
    std::vector<Pixel> pixels(n * n);
    if (n == 256) {
      ASSERT_EQ(ico.text(offset, 8), "\x89PNG\r\n\x1a\n");
      int width = 0, height = 0, channels = 0;
      stbi_uc* decoded = stbi_load_from_memory(ico.data(offset), static_cast<int>(length), &width,
                                               &height, &channels, 4);
      ASSERT_NE(decoded, nullptr);
      ASSERT_EQ(width, 256);
      ASSERT_EQ(height, 256);
      for (int p = 0; p < n * n; ++p) {
        pixels[p] = {decoded[4 * p], decoded[4 * p + 1], decoded[4 * p + 2], decoded[4 * p + 3]};
      }
      stbi_image_free(decoded);
    } else {
      // BITMAPINFOHEADER with the height doubled for the mask, BGRA rows bottom-up,
      // then a 1-bit mask with rows padded to 4 bytes.
      const std::size_t mask_stride = (n + 31) / 32 * 4;
      ASSERT_EQ(length, 40 + 4u * n * n + mask_stride * n);
      EXPECT_EQ(ico.u32(offset), 40u);
      EXPECT_EQ(ico.u32(offset + 4), static_cast<std::uint32_t>(n));
      EXPECT_EQ(ico.u32(offset + 8), static_cast<std::uint32_t>(2 * n));
      EXPECT_EQ(ico.u16(offset + 14), 32u);
      EXPECT_EQ(ico.u32(offset + 16), 0u);  // BI_RGB
      for (int y = 0; y < n; ++y) {
        for (int x = 0; x < n; ++x) {
          const std::size_t at = offset + 40 + 4 * ((n - 1 - y) * n + x);
          pixels[y * n + x] = {static_cast<int>(ico.u8(at + 2)), static_cast<int>(ico.u8(at + 1)),
                               static_cast<int>(ico.u8(at)), static_cast<int>(ico.u8(at + 3))};
          // The mask marks exactly the fully transparent pixels.
          const std::size_t mask_at = offset + 40 + 4 * n * n + (n - 1 - y) * mask_stride + x / 8;
          ASSERT_EQ((ico.u8(mask_at) >> (7 - x % 8)) & 1, pixels[y * n + x].a == 0 ? 1u : 0u) << x << "," << y;
        }
      }
    }
    const auto at = [&](int x, int y) { return pixels[y * n + x]; };
    EXPECT_EQ(at(0, 0), clear);
    EXPECT_EQ(at(n - 1, 0), clear);
    // The bottom row is the outline under the base; just above it, the base's fill.
    EXPECT_EQ(at(n / 2, n - 1), outline);
    EXPECT_EQ(at(n / 2, n - 1 - std::max(1, n / 48) - 1), amber);
  }
  EXPECT_EQ(end_of_previous, ico.size());
}

}  // namespace
}  // namespace tallow
