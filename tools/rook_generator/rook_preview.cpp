// Pictures for looking at the icons as people will see them, enlarged:
//   rook_preview RES_DIR OUT_DIR
// writes OUT_DIR/tray_icons.png (the tray icon of every status on a light and a dark
// taskbar: 8× the program's 36 × 36 pixels, then scaled down to 16, 20 and 24 as the
// notification area does, each shown 4×), OUT_DIR/tray_masks.png (the Linux tray's
// masks of each panel size, painted as the tray paints a running, a stopped and a failed
// agent, 4× and 1×, on light and dark) and OUT_DIR/application_icon.png (the
// application icon's 16, 24, 32 and 48 pixel images, 8× and 1×, on light and dark).

#include <stb/stb_image.h>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>
#include <vector>

#include "tray/rook_icon.h"

namespace {

struct Rgb {
  double r, g, b;
};

// Straight-alpha RGBA.
struct Picture {
  int width = 0;
  int height = 0;
  std::vector<double> rgba;  // 0..1
};

Picture from_bytes(int width, int height, const std::uint8_t* rgba) {
  Picture p{width, height, std::vector<double>(static_cast<std::size_t>(width) * height * 4)};
  for (std::size_t i = 0; i < p.rgba.size(); ++i) p.rgba[i] = rgba[i] / 255.0;
  return p;
}

// Area-average resampling in premultiplied colour, as a good scaler does.
Picture resample(const Picture& in, int width, int height) {
  Picture out{width, height, std::vector<double>(static_cast<std::size_t>(width) * height * 4)};
  const double sx = static_cast<double>(in.width) / width, sy = static_cast<double>(in.height) / height;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      double acc[4] = {0, 0, 0, 0}, total = 0;
      for (int iy = static_cast<int>(y * sy); iy < std::min(in.height, static_cast<int>(std::ceil((y + 1) * sy))); ++iy) {
        const double wy = std::min<double>(iy + 1, (y + 1) * sy) - std::max<double>(iy, y * sy);
        for (int ix = static_cast<int>(x * sx); ix < std::min(in.width, static_cast<int>(std::ceil((x + 1) * sx))); ++ix) {
          const double w = wy * (std::min<double>(ix + 1, (x + 1) * sx) - std::max<double>(ix, x * sx));
          const double* p = &in.rgba[4 * (static_cast<std::size_t>(iy) * in.width + ix)];
          for (int c = 0; c < 3; ++c) acc[c] += w * p[c] * p[3];
          acc[3] += w * p[3];
          total += w;
        }
      }
      double* o = &out.rgba[4 * (static_cast<std::size_t>(y) * width + x)];
      const double a = acc[3] / total;
      for (int c = 0; c < 3; ++c) o[c] = acc[3] > 0 ? acc[c] / acc[3] : 0;
      o[3] = a;
    }
  }
  return out;
}

class Canvas {
 public:
  Canvas(int width, int height) : width_(width), height_(height), rgb_(static_cast<std::size_t>(width) * height * 3, 0) {}

  void fill(int left, int top, int width, int height, Rgb colour) {
    for (int y = top; y < top + height; ++y) {
      for (int x = left; x < left + width; ++x) set(x, y, colour);
    }
  }

  // `picture` over the canvas at (left, top), each pixel drawn as a `zoom` × `zoom` block.
  void draw(const Picture& picture, int left, int top, int zoom) {
    for (int y = 0; y < picture.height * zoom; ++y) {
      for (int x = 0; x < picture.width * zoom; ++x) {
        const double* p = &picture.rgba[4 * (static_cast<std::size_t>(y / zoom) * picture.width + x / zoom)];
        const std::size_t at = 3 * (static_cast<std::size_t>(top + y) * width_ + left + x);
        const Rgb under{rgb_[at] / 255.0, rgb_[at + 1] / 255.0, rgb_[at + 2] / 255.0};
        set(left + x, top + y,
            {p[0] * p[3] + under.r * (1 - p[3]), p[1] * p[3] + under.g * (1 - p[3]),
             p[2] * p[3] + under.b * (1 - p[3])});
      }
    }
  }

  bool save(const std::filesystem::path& path) const {
    std::string bytes;
    stbi_write_png_to_func(
        [](void* context, void* data, int size) {
          static_cast<std::string*>(context)->append(static_cast<const char*>(data), size);
        },
        &bytes, width_, height_, 3, rgb_.data(), width_ * 3);
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    return static_cast<bool>(out);
  }

 private:
  void set(int x, int y, Rgb c) {
    const std::size_t at = 3 * (static_cast<std::size_t>(y) * width_ + x);
    rgb_[at] = static_cast<std::uint8_t>(std::lround(c.r * 255));
    rgb_[at + 1] = static_cast<std::uint8_t>(std::lround(c.g * 255));
    rgb_[at + 2] = static_cast<std::uint8_t>(std::lround(c.b * 255));
  }

  int width_;
  int height_;
  std::vector<std::uint8_t> rgb_;
};

constexpr Rgb kLightTaskbar{0xF3 / 255.0, 0xF3 / 255.0, 0xF3 / 255.0};
constexpr Rgb kDarkTaskbar{0x20 / 255.0, 0x20 / 255.0, 0x20 / 255.0};

bool tray_icons(const std::filesystem::path& out) {
  const auto mask = tallow::rook_mask_from_png(tallow::embedded_rook_png(36));
  if (!mask) {
    std::fprintf(stderr, "%s\n", mask.error().message.c_str());
    return false;
  }
  const std::vector<tallow::AgentStatus> statuses = {
      tallow::AgentStatus::running(),  tallow::AgentStatus::running_elsewhere(),
      tallow::AgentStatus::stopped(),  tallow::AgentStatus::starting(),
      tallow::AgentStatus::stopping(), tallow::AgentStatus::not_enrolled(),
      tallow::AgentStatus::failed("x")};
  // A column per status: 8× the icon, then 16, 20 and 24 pixels at 4×.
  constexpr int kCell = 36 * 8 + 16;
  constexpr int kSmall = 4 * (16 + 20 + 24) + 3 * 8;
  const int row = kCell + 4 * 24 + 16;
  Canvas canvas(static_cast<int>(statuses.size()) * std::max(kCell, kSmall), 2 * row);
  for (int theme = 0; theme < 2; ++theme) {
    const bool light = theme == 0;
    canvas.fill(0, theme * row, static_cast<int>(statuses.size()) * std::max(kCell, kSmall), row,
                light ? kLightTaskbar : kDarkTaskbar);
    for (std::size_t i = 0; i < statuses.size(); ++i) {
      const auto icon = tallow::render_rook_icon(mask.value(), statuses[i], light);
      const Picture picture = from_bytes(static_cast<int>(icon.width), static_cast<int>(icon.height), icon.rgba.data());
      const int left = static_cast<int>(i) * std::max(kCell, kSmall) + 8;
      canvas.draw(picture, left, theme * row + 8, 8);
      int x = left;
      for (const int size : {16, 20, 24}) {
        canvas.draw(resample(picture, size, size), x, theme * row + kCell, 4);
        x += 4 * size + 8;
      }
    }
  }
  return canvas.save(out / "tray_icons.png");
}

std::string read_file(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), {});
}

bool tray_masks(const std::filesystem::path& res, const std::filesystem::path& out) {
  constexpr int kZoom = 4, kGap = 16, kLargest = 48;
  std::vector<tallow::RookMask> masks;
  int width = kGap;
  for (const int size : {16, 22, 24, 32, kLargest}) {
    const auto path = res / "tray" / ("rook-" + std::to_string(size) + ".png");
    const std::string png = read_file(path);
    auto mask = tallow::rook_mask_from_png({reinterpret_cast<const std::uint8_t*>(png.data()), png.size()});
    if (!mask || mask->side != static_cast<std::uint32_t>(size)) {
      std::fprintf(stderr, "%s is no %d pixel square mask\n", path.string().c_str(), size);
      return false;
    }
    masks.push_back(std::move(mask.value()));
    width += (kZoom + 1) * size + 2 * kGap;
  }
  const std::vector<tallow::AgentStatus> looks = {tallow::AgentStatus::running(), tallow::AgentStatus::stopped(),
                                                  tallow::AgentStatus::failed("x")};
  const int row = kZoom * kLargest + kGap, theme_height = static_cast<int>(looks.size()) * row + kGap;
  Canvas canvas(width, 2 * theme_height);
  for (int theme = 0; theme < 2; ++theme) {
    const bool light = theme == 0;
    canvas.fill(0, theme * theme_height, width, theme_height, light ? kLightTaskbar : kDarkTaskbar);
    for (std::size_t i = 0; i < looks.size(); ++i) {
      const int top = theme * theme_height + kGap + static_cast<int>(i) * row;
      int x = kGap;
      for (const int zoom : {kZoom, 1}) {
        for (const tallow::RookMask& mask : masks) {
          const auto icon = tallow::render_rook_icon(mask, looks[i], light);
          const int side = static_cast<int>(mask.side);
          canvas.draw(from_bytes(side, side, icon.rgba.data()), x, top + (kZoom * kLargest - zoom * side) / 2, zoom);
          x += zoom * side + kGap;
        }
      }
    }
  }
  return canvas.save(out / "tray_masks.png");
}

// The images of an icon file: DIBs (32-bit, bottom-up) or PNGs.
std::vector<Picture> icon_images(const std::string& ico) {
  const auto u16 = [&](std::size_t at) { return static_cast<unsigned>(static_cast<std::uint8_t>(ico[at]) | static_cast<std::uint8_t>(ico[at + 1]) << 8); };
  const auto u32 = [&](std::size_t at) { return u16(at) | u16(at + 2) << 16; };
  std::vector<Picture> out;
  for (unsigned i = 0; ico.size() >= 6 && i < u16(4); ++i) {
    const std::size_t entry = 6 + 16 * i;
    const std::size_t size = u32(entry + 8), offset = u32(entry + 12);
    const auto* data = reinterpret_cast<const std::uint8_t*>(ico.data() + offset);
    if (size >= 8 && data[0] == 0x89) {
      int w = 0, h = 0, channels = 0;
      stbi_uc* pixels = stbi_load_from_memory(data, static_cast<int>(size), &w, &h, &channels, 4);
      if (pixels) out.push_back(from_bytes(w, h, pixels));
      stbi_image_free(pixels);
      continue;
    }
    const int n = static_cast<int>(u32(offset + 4));
    std::vector<std::uint8_t> rgba(static_cast<std::size_t>(n) * n * 4);
    for (int y = 0; y < n; ++y) {
      for (int x = 0; x < n; ++x) {
        const std::uint8_t* p = data + 40 + 4 * (static_cast<std::size_t>(n - 1 - y) * n + x);
        std::uint8_t* q = &rgba[4 * (static_cast<std::size_t>(y) * n + x)];
        q[0] = p[2], q[1] = p[1], q[2] = p[0], q[3] = p[3];
      }
    }
    out.push_back(from_bytes(n, n, rgba.data()));
  }
  return out;
}

bool application_icon(const std::filesystem::path& ico_path, const std::filesystem::path& out) {
  std::vector<Picture> shown;
  for (Picture& image : icon_images(read_file(ico_path))) {
    if (image.width == 16 || image.width == 24 || image.width == 32 || image.width == 48) shown.push_back(std::move(image));
  }
  if (shown.size() != 4) {
    std::fprintf(stderr, "%s lacks one of the 16, 24, 32 and 48 pixel images\n", ico_path.string().c_str());
    return false;
  }
  int width = 8;
  for (const Picture& p : shown) width += 8 * p.width + 16;
  const int small = 48 + 16, row = 8 * 48 + 16 + small;
  Canvas canvas(width, 2 * row);
  for (int theme = 0; theme < 2; ++theme) {
    canvas.fill(0, theme * row, width, row, theme == 0 ? kLightTaskbar : kDarkTaskbar);
    int x = 8, small_x = 8;
    for (const Picture& p : shown) {
      canvas.draw(p, x, theme * row + 8 + 8 * (48 - p.width) / 2, 8);
      canvas.draw(p, small_x, theme * row + 8 * 48 + 16, 1);
      x += 8 * p.width + 16;
      small_x += p.width + 8;
    }
  }
  return canvas.save(out / "application_icon.png");
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 3) {
    std::fprintf(stderr, "usage: rook_preview RES_DIR OUT_DIR\n");
    return 2;
  }
  const std::filesystem::path res(argv[1]), out(argv[2]);
  std::filesystem::create_directories(out);
  const bool ok = tray_icons(out) && tray_masks(res, out) && application_icon(res / "tallowmere.ico", out);
  return ok ? 0 : 1;
}
