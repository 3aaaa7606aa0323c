// Draws the rook artwork from one vector description and writes every picture the
// project ships: the Windows tray's 31×36 coverage image, the Linux tray's coverage
// masks at each panel size, the multi-size application icon, and the freedesktop
// hicolor icons (the application's PNGs and SVG, the tray's symbolic and failed SVGs).
//
//   rook_generator RES_DIR           writes the files under RES_DIR
//   rook_generator --check RES_DIR   compares them with what is there; exit 1 on a difference
//
// Either way it first looks at the tray's small masks (mask_faults) and stops on a fault.
//
// The output is a pure function of this file, so the check keeps the committed
// artwork honest.

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <string_view>
#include <vector>

#define STB_IMAGE_WRITE_IMPLEMENTATION
#define STBI_WRITE_NO_STDIO
#include <stb/stb_image_write.h>

namespace {

// ---------------------------------------------------------------------------
// The rook
// ---------------------------------------------------------------------------

struct Point {
  double x;
  double y;
};
using Contour = std::vector<Point>;

// The rook on a grid of 31 × 36 cells (one cell per pixel of the tray image), y
// downwards. Filled by the even-odd rule: the first contour is the outline, the
// others are the openings.
constexpr double kGridWidth = 31;
constexpr double kGridHeight = 36;

std::vector<Contour> rook() {
  const Contour outline = {
      // Three merlons over two gaps.
      {2, 0}, {9, 0}, {9, 5}, {12, 5}, {12, 0}, {19, 0}, {19, 5}, {22, 5}, {22, 0}, {29, 0},
      // The parapet, then the body narrowing under it to the band.
      {29, 9}, {25, 13},
      // The band, then the narrower stem.
      {25, 19}, {23, 19}, {23, 28},
      // A plinth, and the base across the full width.
      {26, 28}, {26, 31}, {31, 31}, {31, 36}, {0, 36}, {0, 31}, {5, 31}, {5, 28},
      // Back up the left side.
      {8, 28}, {8, 19}, {6, 19}, {6, 13}, {2, 9}};
  const auto rectangle = [](double left, double top, double right, double bottom) {
    return Contour{{left, top}, {right, top}, {right, bottom}, {left, bottom}};
  };
  return {outline,
          rectangle(12, 15, 19, 17),   // the band's opening
          rectangle(14, 21, 17, 26)};  // the stem's arrow slit
}

// ---------------------------------------------------------------------------
// Geometry
// ---------------------------------------------------------------------------

// Grid → pixels: a uniform scale and an offset, optionally rounding every vertex to
// whole pixels so that small icons get crisp edges instead of grey seams.
struct Placement {
  double scale;
  double left;
  double top;
  bool snap;
};

std::vector<Contour> place(const std::vector<Contour>& shape, const Placement& at) {
  std::vector<Contour> placed;
  for (const Contour& contour : shape) {
    Contour out;
    for (const Point& p : contour) {
      Point q{at.left + p.x * at.scale, at.top + p.y * at.scale};
      if (at.snap) q = {std::round(q.x), std::round(q.y)};
      out.push_back(q);
    }
    placed.push_back(std::move(out));
  }
  return placed;
}

// Even-odd rule over every contour.
bool inside(const std::vector<Contour>& shape, double x, double y) {
  bool in = false;
  for (const Contour& contour : shape) {
    for (std::size_t i = 0, j = contour.size() - 1; i < contour.size(); j = i++) {
      const Point& a = contour[i];
      const Point& b = contour[j];
      if ((a.y > y) != (b.y > y) && x < a.x + (y - a.y) * (b.x - a.x) / (b.y - a.y)) in = !in;
    }
  }
  return in;
}

// Whether the segment a–b meets the axis-aligned square of half-side r around (x, y)
// (Liang–Barsky clipping).
bool segment_meets_square(Point a, Point b, double x, double y, double r) {
  double t0 = 0, t1 = 1;
  const double dx = b.x - a.x, dy = b.y - a.y;
  const std::array<double, 4> p = {-dx, dx, -dy, dy};
  const std::array<double, 4> q = {a.x - (x - r), (x + r) - a.x, a.y - (y - r), (y + r) - a.y};
  for (int i = 0; i < 4; ++i) {
    if (p[i] == 0) {
      if (q[i] < 0) return false;
      continue;
    }
    const double t = q[i] / p[i];
    if (p[i] < 0) {
      t0 = std::max(t0, t);
    } else {
      t1 = std::min(t1, t);
    }
    if (t0 > t1) return false;
  }
  return true;
}

// Inside the shape grown by r with a square pen, which keeps the outline's corners square.
bool near(const std::vector<Contour>& shape, double x, double y, double r) {
  if (inside(shape, x, y)) return true;
  for (const Contour& contour : shape) {
    for (std::size_t i = 0, j = contour.size() - 1; i < contour.size(); j = i++) {
      if (segment_meets_square(contour[j], contour[i], x, y, r)) return true;
    }
  }
  return false;
}

// Whether any edge of the shape comes within r (square pen) of the pixel's square.
bool edge_near_pixel(const std::vector<Contour>& shape, int px, int py, double r) {
  for (const Contour& contour : shape) {
    for (std::size_t i = 0, j = contour.size() - 1; i < contour.size(); j = i++) {
      if (segment_meets_square(contour[j], contour[i], px + 0.5, py + 0.5, 0.5 + r)) return true;
    }
  }
  return false;
}

// Coverage of each pixel, 0 to 255, from 16 × 16 samples per pixel. `reach` is how far
// from the shape's edges `covers` can change its answer; pixels farther away than that
// are all in or all out, and one sample tells which.
template <typename Test>
std::vector<std::uint8_t> coverage(const std::vector<Contour>& shape, double reach, int width,
                                   int height, const Test& covers) {
  constexpr int kSamples = 16;
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height);
  for (int py = 0; py < height; ++py) {
    for (int px = 0; px < width; ++px) {
      if (!edge_near_pixel(shape, px, py, reach)) {
        out[static_cast<std::size_t>(py) * width + px] = covers(px + 0.5, py + 0.5) ? 255 : 0;
        continue;
      }
      int hits = 0;
      for (int sy = 0; sy < kSamples; ++sy) {
        for (int sx = 0; sx < kSamples; ++sx) {
          hits += covers(px + (sx + 0.5) / kSamples, py + (sy + 0.5) / kSamples) ? 1 : 0;
        }
      }
      out[static_cast<std::size_t>(py) * width + px] =
          static_cast<std::uint8_t>(std::min(255, (hits * 255 + kSamples * kSamples / 2) /
                                                      (kSamples * kSamples)));
    }
  }
  return out;
}

// ---------------------------------------------------------------------------
// Images
// ---------------------------------------------------------------------------

struct Image {
  int width;
  int height;
  std::vector<std::uint8_t> rgba;  // straight (not premultiplied) alpha, top row first
};

struct Colour {
  std::uint8_t r, g, b;
};

// The application icon: the tray's amber, with a dark outline so the rook stands out
// on a light background as well as on a dark one.
constexpr Colour kFill{245, 158, 11};
constexpr Colour kOutline{69, 26, 3};

// A mask for the tray to paint: black, the shape only in the alpha channel.
Image mask_image(const std::vector<std::uint8_t>& alpha, int width, int height) {
  Image image{width, height, std::vector<std::uint8_t>(alpha.size() * 4, 0)};
  for (std::size_t i = 0; i < alpha.size(); ++i) image.rgba[4 * i + 3] = alpha[i];
  return image;
}

// The Windows tray's image: one grid cell per pixel.
Image tray_image() {
  const auto shape = place(rook(), {1, 0, 0, false});
  const int width = static_cast<int>(kGridWidth), height = static_cast<int>(kGridHeight);
  return mask_image(coverage(shape, 0, width, height, [&](double x, double y) { return inside(shape, x, y); }),
                    width, height);
}

// The Linux tray's masks and the symbolic icon: the rook as tall as the square, centred
// across it, its vertices on whole pixels (mask_faults checks what that rounding keeps).
constexpr std::array<int, 5> kTrayMaskSizes = {16, 22, 24, 32, 48};

std::vector<Contour> tray_shape(int size) {
  const double scale = size / kGridHeight;
  return place(rook(), {scale, (size - kGridWidth * scale) / 2, 0, true});
}

Image tray_mask(int size) {
  const auto shape = tray_shape(size);
  // On whole pixels the slanted edges run exactly through samples, and the crossing test
  // counts such a sample in on one side of the rook and out on the other. Raised by a
  // hair (less than the samples' spacing, more than rounding error), every sample
  // leaves the edge the same way on both sides, so the mask stays symmetric.
  constexpr double kRaise = 1.0 / 4096;
  return mask_image(
      coverage(shape, 0, size, size, [&](double x, double y) { return inside(shape, x, y - kRaise); }), size,
      size);
}

// Outline width of the square icon of `size` pixels.
double outline_width(int size) { return std::max(1.0, std::round(size / 48.0)); }

Placement icon_placement(int size, bool snap) {
  const double outline = outline_width(size);
  const double scale = (size - 2 * outline) / kGridHeight;
  return {scale, (size - kGridWidth * scale) / 2, outline, snap};
}

// The application icon at `size` × `size`, drawn from the description at that size.
Image icon_image(int size) {
  // Up to 64 pixels the vertices go to whole pixels; above, edges may fall between.
  const auto shape = place(rook(), icon_placement(size, size <= 64));
  const double r = outline_width(size);
  const auto fill = coverage(shape, 0, size, size, [&](double x, double y) { return inside(shape, x, y); });
  const auto all = coverage(shape, r, size, size, [&](double x, double y) { return near(shape, x, y, r); });
  Image image{size, size, std::vector<std::uint8_t>(fill.size() * 4, 0)};
  for (std::size_t i = 0; i < fill.size(); ++i) {
    const int a = std::max(all[i], fill[i]);
    if (a == 0) continue;
    // Fill over outline, as straight colour: the fill's share of the covered part.
    const auto mix = [&](std::uint8_t f, std::uint8_t o) {
      return static_cast<std::uint8_t>((f * fill[i] + o * (a - fill[i]) + a / 2) / a);
    };
    image.rgba[4 * i + 0] = mix(kFill.r, kOutline.r);
    image.rgba[4 * i + 1] = mix(kFill.g, kOutline.g);
    image.rgba[4 * i + 2] = mix(kFill.b, kOutline.b);
    image.rgba[4 * i + 3] = static_cast<std::uint8_t>(a);
  }
  return image;
}

// ---------------------------------------------------------------------------
// File formats
// ---------------------------------------------------------------------------

using Bytes = std::string;

// 8-bit RGBA PNG, not interlaced.
Bytes png(const Image& image) {
  Bytes out;
  stbi_write_png_compression_level = 9;
  stbi_write_png_to_func(
      [](void* context, void* data, int size) {
        static_cast<Bytes*>(context)->append(static_cast<const char*>(data), size);
      },
      &out, image.width, image.height, 4, image.rgba.data(), image.width * 4);
  return out;
}

void put16(Bytes& out, unsigned value) {
  out += static_cast<char>(value & 0xFF);
  out += static_cast<char>((value >> 8) & 0xFF);
}

void put32(Bytes& out, std::uint32_t value) {
  put16(out, value & 0xFFFF);
  put16(out, value >> 16);
}

// One icon image as a DIB: BITMAPINFOHEADER (height doubled for the mask), BGRA rows
// bottom-up, then the 1-bit AND mask, set where the pixel is fully transparent, for
// whatever still ignores the alpha channel.
Bytes dib(const Image& image) {
  const int n = image.width;
  const int mask_stride = ((n + 31) / 32) * 4;
  Bytes out;
  put32(out, 40);
  put32(out, n);
  put32(out, 2 * n);
  put16(out, 1);   // planes
  put16(out, 32);  // bits per pixel
  put32(out, 0);   // BI_RGB
  put32(out, n * n * 4 + mask_stride * n);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  put32(out, 0);
  for (int y = n - 1; y >= 0; --y) {
    for (int x = 0; x < n; ++x) {
      const std::uint8_t* p = &image.rgba[4 * (static_cast<std::size_t>(y) * n + x)];
      out += static_cast<char>(p[2]);
      out += static_cast<char>(p[1]);
      out += static_cast<char>(p[0]);
      out += static_cast<char>(p[3]);
    }
  }
  for (int y = n - 1; y >= 0; --y) {
    Bytes row(mask_stride, '\0');
    for (int x = 0; x < n; ++x) {
      if (image.rgba[4 * (static_cast<std::size_t>(y) * n + x) + 3] == 0) {
        row[x / 8] = static_cast<char>(row[x / 8] | (0x80 >> (x % 8)));
      }
    }
    out += row;
  }
  return out;
}

// An icon group file; the 256-pixel image is stored as PNG, as Windows allows.
Bytes ico(const std::vector<Image>& images) {
  Bytes header;
  put16(header, 0);
  put16(header, 1);  // icon
  put16(header, static_cast<unsigned>(images.size()));
  Bytes data;
  const std::size_t first = 6 + 16 * images.size();
  for (const Image& image : images) {
    const Bytes entry = image.width >= 256 ? png(image) : dib(image);
    header += static_cast<char>(image.width >= 256 ? 0 : image.width);
    header += static_cast<char>(image.height >= 256 ? 0 : image.height);
    header += '\0';  // no palette
    header += '\0';
    put16(header, 1);   // planes
    put16(header, 32);  // bits per pixel
    put32(header, static_cast<std::uint32_t>(entry.size()));
    put32(header, static_cast<std::uint32_t>(first + data.size()));
    data += entry;
  }
  return header + data;
}

std::string number(double value) {
  std::ostringstream out;
  out.precision(6);
  out << std::round(value * 1000) / 1000;
  return out.str();
}

// SVG path data, one subpath per contour. Snapping can land two vertices on one
// pixel; the repeat is left out.
std::string path_data(const std::vector<Contour>& shape) {
  std::string path;
  for (const Contour& contour : shape) {
    for (std::size_t i = 0; i < contour.size(); ++i) {
      if (i > 0 && contour[i].x == contour[i - 1].x && contour[i].y == contour[i - 1].y) continue;
      path += (i == 0 ? "M" : " L") + number(contour[i].x) + "," + number(contour[i].y);
    }
    path += " Z ";
  }
  path.pop_back();
  return path;
}

std::string hex(Colour c) {
  char text[8];
  std::snprintf(text, sizeof text, "#%02x%02x%02x", c.r, c.g, c.b);
  return text;
}

constexpr std::string_view kXmlDeclaration = "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n";

// A full-colour icon on a 256 canvas: the outline as a stroke of twice its width under
// the fill, which leaves exactly one width outside the rook and inside each opening.
Bytes amber_svg(const std::vector<Contour>& shape, double outline) {
  const std::string path = path_data(shape);
  std::string out(kXmlDeclaration);
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"256\" height=\"256\" viewBox=\"0 0 256 256\">\n";
  out += "  <path d=\"" + path + "\" fill=\"" + hex(kOutline) + "\" fill-rule=\"evenodd\" stroke=\"" +
         hex(kOutline) + "\" stroke-width=\"" + number(2 * outline) +
         "\" stroke-linejoin=\"miter\" stroke-miterlimit=\"10\"/>\n";
  out += "  <path d=\"" + path + "\" fill=\"" + hex(kFill) + "\" fill-rule=\"evenodd\"/>\n";
  out += "</svg>\n";
  return out;
}

// The application's scalable icon, drawn freely on the large canvas.
Bytes svg() {
  constexpr int kSize = 256;
  return amber_svg(place(rook(), icon_placement(kSize, false)), outline_width(kSize));
}

// The tray's icon for a failed agent. Panels draw it at 16 to 24 pixels, so it is the
// 16 pixel application icon (vertices on whole pixels, a one-pixel outline) enlarged 16
// times: crisp at 16, an outline that still shows at every panel size, and as tall as
// the symbolic icon it takes turns with.
Bytes failed_svg() {
  constexpr int kDesign = 16, kEnlarge = 256 / kDesign;
  auto shape = place(rook(), icon_placement(kDesign, true));
  for (Contour& contour : shape) {
    for (Point& p : contour) p = {p.x * kEnlarge, p.y * kEnlarge};
  }
  return amber_svg(shape, outline_width(kDesign) * kEnlarge);
}

// A symbolic icon: one path in the text colour, which the panel sets. GTK recolours
// any "-symbolic" icon by overriding its fill; Plasma replaces the style sheet with
// the id "current-color-scheme", whose class gives the path its colour. The colour
// written here (Breeze's text colour) shows only where nothing recolours. Opacity is
// an attribute of the path, which neither recolouring touches.
Bytes symbolic_svg(double opacity) {
  constexpr int kSize = 16;  // the hicolor theme's size for symbolic icons
  const std::string side = std::to_string(kSize);
  std::string out(kXmlDeclaration);
  out += "<svg xmlns=\"http://www.w3.org/2000/svg\" width=\"" + side + "\" height=\"" + side +
         "\" viewBox=\"0 0 " + side + " " + side + "\">\n";
  out += "  <style type=\"text/css\" id=\"current-color-scheme\">.ColorScheme-Text { color:#232629; }</style>\n";
  out += "  <path class=\"ColorScheme-Text\" d=\"" + path_data(tray_shape(kSize)) +
         "\" fill=\"currentColor\" fill-rule=\"evenodd\"";
  if (opacity < 1) out += " opacity=\"" + number(opacity) + "\"";
  out += "/>\n</svg>\n";
  return out;
}

// ---------------------------------------------------------------------------
// What the small masks must keep
// ---------------------------------------------------------------------------

// Rounding every vertex can close a narrow opening, shift one side of the rook more
// than the other or leave a straight edge between pixels. mask_faults looks for these,
// and for a rook short of its square's height, at each tray size before anything is
// written or compared, so a new size or a change to the description cannot slip them in.
struct Opening {
  const char* name;
  double left, top, right, bottom;  // grid cells
};
constexpr std::array<Opening, 4> kOpenings = {{{"the left gap between merlons", 9, 0, 12, 5},
                                               {"the right gap between merlons", 19, 0, 22, 5},
                                               {"the band's opening", 12, 15, 19, 17},
                                               {"the arrow slit", 14, 21, 17, 26}}};

std::vector<std::string> mask_faults() {
  std::vector<std::string> faults;
  for (const int size : kTrayMaskSizes) {
    const auto shape = tray_shape(size);
    const Image mask = tray_mask(size);
    const auto alpha = [&](int x, int y) { return mask.rgba[4 * (static_cast<std::size_t>(y) * size + x) + 3]; };
    const std::string at = "the " + std::to_string(size) + " pixel tray mask ";
    bool mirrored = true, crisp = true, top = false, bottom = false;
    std::vector<Contour> slanted;  // the only edges allowed to leave grey pixels
    for (const Contour& contour : shape) {
      for (std::size_t i = 0, j = contour.size() - 1; i < contour.size(); j = i++) {
        if (contour[i].x != contour[j].x && contour[i].y != contour[j].y) slanted.push_back({contour[j], contour[i]});
      }
    }
    for (int y = 0; y < size; ++y) {
      for (int x = 0; x < size; ++x) {
        mirrored = mirrored && alpha(x, y) == alpha(size - 1 - x, y);
        crisp = crisp && (alpha(x, y) == 0 || alpha(x, y) == 255 || edge_near_pixel(slanted, x, y, 0));
        top = top || (y == 0 && alpha(x, y) == 255);
        bottom = bottom || (y == size - 1 && alpha(x, y) == 255);
      }
    }
    if (!mirrored) faults.push_back(at + "is not symmetric");
    if (!crisp) faults.push_back(at + "has grey pixels along a straight edge");
    if (!top || !bottom) faults.push_back(at + "does not span its height");
    const double scale = size / kGridHeight, left = (size - kGridWidth * scale) / 2;
    for (const Opening& o : kOpenings) {
      bool open = false;
      for (int y = static_cast<int>(o.top * scale); y < std::ceil(o.bottom * scale); ++y) {
        for (int x = static_cast<int>(left + o.left * scale); x < std::ceil(left + o.right * scale); ++x) {
          open = open || alpha(x, y) == 0;
        }
      }
      if (!open) faults.push_back(at + "closes " + o.name);
    }
  }
  return faults;
}

// ---------------------------------------------------------------------------
// Output
// ---------------------------------------------------------------------------

struct Output {
  std::filesystem::path path;  // relative to the resource directory
  Bytes bytes;
};

std::vector<Output> outputs() {
  std::vector<Output> out;
  out.push_back({"rook.png", png(tray_image())});
  std::vector<Image> icon;
  for (const int size : {16, 20, 24, 32, 40, 48, 64, 256}) icon.push_back(icon_image(size));
  out.push_back({"tallowmere.ico", ico(icon)});
  for (const int size : {16, 22, 24, 32, 48, 64, 128, 256}) {
    const std::string dimensions = std::to_string(size) + "x" + std::to_string(size);
    out.push_back({std::filesystem::path("icons/hicolor") / dimensions / "apps/tallowmere-tray.png",
                   png(icon_image(size))});
  }
  out.push_back({"icons/hicolor/scalable/apps/tallowmere-tray.svg", svg()});

  // The Linux tray shows these icons by name; a panel draws the symbolic ones in its own
  // text colour. The dimmed one stands for an agent that is not running, at the opacity
  // the tray's own pixmaps use. In symbolic/, where the hicolor theme keeps them now, and in
  // scalable/, the only place a theme from before symbolic/ existed looks.
  for (const char* directory : {"scalable", "symbolic"}) {
    const std::filesystem::path apps = std::filesystem::path("icons/hicolor") / directory / "apps";
    out.push_back({apps / "tallowmere-tray-symbolic.svg", symbolic_svg(1)});
    out.push_back({apps / "tallowmere-tray-dimmed-symbolic.svg", symbolic_svg(0.35)});
  }
  out.push_back({"icons/hicolor/scalable/apps/tallowmere-tray-failed.svg", failed_svg()});

  // Pixmaps for hosts that take no icon names, each size drawn at that size.
  for (const int size : kTrayMaskSizes) {
    out.push_back({"tray/rook-" + std::to_string(size) + ".png", png(tray_mask(size))});
  }
  return out;
}

Bytes read_all(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

}  // namespace

int main(int argc, char** argv) {
  const std::vector<std::string_view> args(argv + 1, argv + argc);
  const bool check = !args.empty() && args[0] == "--check";
  if (args.size() != (check ? 2u : 1u)) {
    std::fprintf(stderr, "usage: rook_generator [--check] RES_DIR\n");
    return 2;
  }
  const std::filesystem::path root(args.back());
  const auto faults = mask_faults();
  for (const std::string& fault : faults) std::fprintf(stderr, "%s\n", fault.c_str());
  if (!faults.empty()) return 1;
  int differences = 0;
  for (const Output& output : outputs()) {
    const auto path = root / output.path;
    if (check) {
      if (read_all(path) != output.bytes) {
        std::fprintf(stderr, "%s differs from what the generator draws\n", path.string().c_str());
        ++differences;
      }
      continue;
    }
    std::filesystem::create_directories(path.parent_path());
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(output.bytes.data(), static_cast<std::streamsize>(output.bytes.size()));
    if (!out) {
      std::fprintf(stderr, "cannot write %s\n", path.string().c_str());
      return 1;
    }
  }
  if (differences > 0) {
    std::fprintf(stderr, "run the rook_artwork target to draw them again\n");
    return 1;
  }
  return 0;
}
