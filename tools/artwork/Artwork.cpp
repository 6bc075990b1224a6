// Draws Sigilon's artwork with simple geometric shapes and writes it as
// uncompressed palette bitmap files:
//   Splash.bmp     324 x 71, 8 bits per pixel, 256-entry colour table, six
//                  colours in use (the window around it is black);
//   APP_BITMAP.bmp 100 x 100, 4 bits per pixel, 16 colours.
// and, for the desktop's menus, the seal of APP_BITMAP as a smoothed PNG icon
// with a transparent ground at any size.
// Usage: sigilon-artwork <output directory>
//        sigilon-artwork --icon <size> <file.png>
// The bytes are written here rather than through the engine so that every
// header field is exactly what the windows expect, independent of the codec.

#include <array>
#include <cmath>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iostream>
#include <string>
#include <vector>

#include <zlib.h>

namespace {

constexpr int kFileHeaderSize = 14;
constexpr int kInfoHeaderSize = 40;
// 72 dots per inch, in pixels per metre.
constexpr std::int32_t kPixelsPerMetre = 2834;

struct Rgb {
  std::uint8_t r, g, b;
};

// A palette picture being drawn: one index per pixel, row 0 at the top.
class Canvas {
 public:
  Canvas(int width, int height, std::uint8_t ground = 0)
      : width_(width), height_(height), pixels_(width * height, ground) {}
  int Width() const { return width_; }
  int Height() const { return height_; }
  std::uint8_t At(int x, int y) const { return pixels_[y * width_ + x]; }
  void Set(int x, int y, std::uint8_t index) {
    if (x >= 0 && y >= 0 && x < width_ && y < height_) pixels_[y * width_ + x] = index;
  }
  void FillRect(int x0, int y0, int w, int h, std::uint8_t index) {
    for (int y = y0; y < y0 + h; ++y)
      for (int x = x0; x < x0 + w; ++x) Set(x, y, index);
  }
  // Pixels whose centre lies at a distance in [inner, outer) from (cx, cy).
  void Ring(double cx, double cy, double inner, double outer, std::uint8_t index) {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        const double d = std::hypot(x + 0.5 - cx, y + 0.5 - cy);
        if (d >= inner && d < outer) Set(x, y, index);
      }
  }
  // A filled convex polygon (vertices in order, either direction).
  void Polygon(const std::vector<std::array<double, 2>>& v, std::uint8_t index) {
    for (int y = 0; y < height_; ++y)
      for (int x = 0; x < width_; ++x) {
        const double px = x + 0.5, py = y + 0.5;
        int sign = 0;
        bool inside = true;
        for (std::size_t i = 0; i < v.size() && inside; ++i) {
          const auto& a = v[i];
          const auto& b = v[(i + 1) % v.size()];
          const double cross = (b[0] - a[0]) * (py - a[1]) - (b[1] - a[1]) * (px - a[0]);
          const int s = cross > 0 ? 1 : (cross < 0 ? -1 : 0);
          if (s != 0) {
            if (sign == 0) sign = s;
            inside = s == sign;
          }
        }
        if (inside) Set(x, y, index);
      }
  }

 private:
  int width_, height_;
  std::vector<std::uint8_t> pixels_;
};

void Put16(std::vector<std::uint8_t>& out, std::uint16_t v) {
  out.push_back(v & 0xFF);
  out.push_back(v >> 8);
}
void Put32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 0; i < 4; ++i) out.push_back((v >> (8 * i)) & 0xFF);
}

// The canvas as a bitmap file: bottom-up rows, each padded to four bytes.
std::vector<std::uint8_t> BitmapFile(const Canvas& canvas, int bitsPerPixel,
                                     const std::vector<Rgb>& palette) {
  const std::uint32_t stride = ((canvas.Width() * bitsPerPixel + 31) / 32) * 4;
  const std::uint32_t imageSize = stride * canvas.Height();
  const std::uint32_t tableEntries = 1u << bitsPerPixel;
  const std::uint32_t offset = kFileHeaderSize + kInfoHeaderSize + tableEntries * 4;
  std::vector<std::uint8_t> out;
  out.push_back('B');
  out.push_back('M');
  Put32(out, offset + imageSize);
  Put32(out, 0);
  Put32(out, offset);
  Put32(out, kInfoHeaderSize);
  Put32(out, canvas.Width());
  Put32(out, canvas.Height());
  Put16(out, 1);
  Put16(out, bitsPerPixel);
  Put32(out, 0);  // no compression
  Put32(out, imageSize);
  Put32(out, kPixelsPerMetre);
  Put32(out, kPixelsPerMetre);
  Put32(out, tableEntries);
  Put32(out, 0);
  for (std::uint32_t i = 0; i < tableEntries; ++i) {
    const Rgb c = i < palette.size() ? palette[i] : Rgb{0, 0, 0};
    out.insert(out.end(), {c.b, c.g, c.r, 0});
  }
  for (int y = canvas.Height() - 1; y >= 0; --y) {
    std::vector<std::uint8_t> row(stride, 0);
    for (int x = 0; x < canvas.Width(); ++x) {
      const std::uint8_t index = canvas.At(x, y);
      if (bitsPerPixel == 8) {
        row[x] = index;
      } else {  // 4 bits: the left pixel in the high nibble
        row[x / 2] |= (x % 2 == 0) ? (index << 4) : index;
      }
    }
    out.insert(out.end(), row.begin(), row.end());
  }
  return out;
}

// Glyphs of the word on a 5 x 9 grid, rows top to bottom (rows 7 and 8 hold
// the descender of the g). '#' is ink.
constexpr int kGlyphColumns = 5, kGlyphRows = 9;
const char* Glyph(char c) {
  switch (c) {
    case 'S':
      return ".###."
             "#...#"
             "#...."
             ".###."
             "....#"
             "#...#"
             ".###."
             "....."
             ".....";
    case 'i':
      return "..#.."
             "....."
             ".##.."
             "..#.."
             "..#.."
             "..#.."
             ".###."
             "....."
             ".....";
    case 'g':
      return "....."
             "....."
             ".####"
             "#...#"
             "#...#"
             ".####"
             "....#"
             "#...#"
             ".###.";
    case 'l':
      return ".##.."
             "..#.."
             "..#.."
             "..#.."
             "..#.."
             "..#.."
             ".###."
             "....."
             ".....";
    case 'o':
      return "....."
             "....."
             ".###."
             "#...#"
             "#...#"
             "#...#"
             ".###."
             "....."
             ".....";
    default:
      return "....."
             "....."
             "####."
             "#...#"
             "#...#"
             "#...#"
             "#...#"
             "....."
             ".....";
  }
}

// The seal: a disc with a ring and a four-pointed star, centred at (cx, cy).
void DrawSeal(Canvas& canvas, double cx, double cy, double radius, std::uint8_t disc,
              std::uint8_t ring, std::uint8_t star, std::uint8_t centre) {
  canvas.Ring(cx, cy, 0, radius, disc);
  canvas.Ring(cx, cy, radius * 0.78, radius * 0.88, ring);
  const double a = radius * 0.68, b = radius * 0.17;
  // Two crossed diamonds make the star.
  canvas.Polygon({{cx, cy - a}, {cx + b, cy}, {cx, cy + a}, {cx - b, cy}}, star);
  canvas.Polygon({{cx - a, cy}, {cx, cy - b}, {cx + a, cy}, {cx, cy + b}}, star);
  canvas.Ring(cx, cy, 0, radius * 0.12, centre);
}

std::vector<std::uint8_t> Splash() {
  enum : std::uint8_t { kBlack, kCrimson, kGold, kWhite, kShadow, kBronze };
  const std::vector<Rgb> palette = {{0, 0, 0},       {150, 20, 30}, {230, 180, 60},
                                    {250, 245, 235}, {70, 70, 80},  {150, 110, 40}};
  Canvas c(324, 71);
  DrawSeal(c, 35.5, 35.5, 32, kCrimson, kGold, kWhite, kGold);
  // The word in square blocks of 5 pixels, with a shadow one block-fifth away.
  const std::string word = "Sigilon";
  const int block = 5, left = 88, top = 8, advance = 6 * block + 2;
  for (int pass = 0; pass < 2; ++pass) {
    const int shift = pass == 0 ? 2 : 0;
    const std::uint8_t colour = pass == 0 ? kShadow : kGold;
    for (std::size_t k = 0; k < word.size(); ++k) {
      const char* glyph = Glyph(word[k]);
      for (int gy = 0; gy < kGlyphRows; ++gy)
        for (int gx = 0; gx < kGlyphColumns; ++gx)
          if (glyph[gy * kGlyphColumns + gx] == '#')
            c.FillRect(left + static_cast<int>(k) * advance + gx * block + shift,
                       top + gy * block + shift, block, block, colour);
    }
  }
  // A rule under the word, broken around the descender of the g.
  const int ruleTop = top + 7 * block + 2;
  const int gapLeft = left + 2 * advance - 4, gapRight = left + 3 * advance - 2;
  c.FillRect(left, ruleTop, gapLeft - left, 3, kBronze);
  c.FillRect(gapRight, ruleTop, c.Width() - 4 - gapRight, 3, kBronze);
  return BitmapFile(c, 8, palette);
}

// The sixteen colours of the classic low-colour palette.
const std::vector<Rgb> kAppPalette = {
    {0, 0, 0},     {128, 0, 0},     {0, 128, 0},     {128, 128, 0},  {0, 0, 128}, {128, 0, 128},
    {0, 128, 128}, {192, 192, 192}, {128, 128, 128}, {255, 0, 0},    {0, 255, 0}, {255, 255, 0},
    {0, 0, 255},   {255, 0, 255},   {0, 255, 255},   {255, 255, 255}};

// A seal with a scalloped rim, drawn on a 100-unit square scaled by `scale`.
void DrawAppSeal(Canvas& c, double scale) {
  for (int k = 0; k < 12; ++k) {
    const double t = k * 3.14159265358979 / 6;
    c.Ring((50 + 40 * std::cos(t)) * scale, (50 + 40 * std::sin(t)) * scale, 0, 9 * scale, 1);
  }
  DrawSeal(c, 50 * scale, 50 * scale, 42 * scale, 9, 11, 15, 3);
  c.Ring(50 * scale, 50 * scale, 42 * 0.88 * scale, 42 * 0.92 * scale, 8);
}

std::vector<std::uint8_t> AppBitmap() {
  Canvas c(100, 100, 15);  // on a white ground
  DrawAppSeal(c, 1.0);
  return BitmapFile(c, 4, kAppPalette);
}

void PutBig32(std::vector<std::uint8_t>& out, std::uint32_t v) {
  for (int i = 3; i >= 0; --i) out.push_back((v >> (8 * i)) & 0xFF);
}

// One PNG chunk: length, type, data, and the CRC over type and data.
void PutChunk(std::vector<std::uint8_t>& out, const char (&type)[5],
              const std::vector<std::uint8_t>& data) {
  PutBig32(out, static_cast<std::uint32_t>(data.size()));
  const std::size_t typeAt = out.size();
  out.insert(out.end(), type, type + 4);
  out.insert(out.end(), data.begin(), data.end());
  const uLong crc = crc32(0, out.data() + typeAt, static_cast<uInt>(out.size() - typeAt));
  PutBig32(out, static_cast<std::uint32_t>(crc));
}

// The application icon: the seal of APP_BITMAP on a transparent ground, as an
// 8-bit RGBA PNG of size x size. Each pixel averages kSamples x kSamples
// points of the seal drawn larger, so the rim and the star have smooth edges
// at every size.
std::vector<std::uint8_t> AppIcon(int size) {
  constexpr int kSamples = 4;
  constexpr std::uint8_t kClear = 16;  // outside the palette: no ink
  Canvas c(size * kSamples, size * kSamples, kClear);
  DrawAppSeal(c, size * kSamples / 100.0);

  std::vector<std::uint8_t> raw;  // filter byte 0, then the row's RGBA
  raw.reserve(static_cast<std::size_t>(size) * (size * 4 + 1));
  for (int y = 0; y < size; ++y) {
    raw.push_back(0);
    for (int x = 0; x < size; ++x) {
      int inked = 0, r = 0, g = 0, b = 0;
      for (int sy = 0; sy < kSamples; ++sy)
        for (int sx = 0; sx < kSamples; ++sx) {
          const std::uint8_t index = c.At(x * kSamples + sx, y * kSamples + sy);
          if (index == kClear) continue;
          ++inked;
          r += kAppPalette[index].r;
          g += kAppPalette[index].g;
          b += kAppPalette[index].b;
        }
      const int half = inked / 2;
      raw.insert(raw.end(), {static_cast<std::uint8_t>(inked ? (r + half) / inked : 0),
                             static_cast<std::uint8_t>(inked ? (g + half) / inked : 0),
                             static_cast<std::uint8_t>(inked ? (b + half) / inked : 0),
                             static_cast<std::uint8_t>((inked * 255 + 8) / (kSamples * kSamples))});
    }
  }
  uLongf packedSize = compressBound(static_cast<uLong>(raw.size()));
  std::vector<std::uint8_t> packed(packedSize);
  if (compress2(packed.data(), &packedSize, raw.data(), static_cast<uLong>(raw.size()),
                Z_BEST_COMPRESSION) != Z_OK) {
    return {};
  }
  packed.resize(packedSize);

  std::vector<std::uint8_t> header;
  PutBig32(header, static_cast<std::uint32_t>(size));
  PutBig32(header, static_cast<std::uint32_t>(size));
  // 8 bits per channel, RGBA, deflate, adaptive filtering, no interlace.
  header.insert(header.end(), {8, 6, 0, 0, 0});

  std::vector<std::uint8_t> out = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n'};
  PutChunk(out, "IHDR", header);
  PutChunk(out, "IDAT", packed);
  PutChunk(out, "IEND", {});
  return out;
}

bool WriteFile(const std::string& path, const std::vector<std::uint8_t>& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()),
            static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) {
    std::cerr << "sigilon-artwork: cannot write " << path << "\n";
    return false;
  }
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 4 && std::string(argv[1]) == "--icon") {
    // Desktop icons come in a few fixed sizes; more than this is a typing mistake.
    constexpr int kMaxIconSize = 1024;
    const int size = std::atoi(argv[2]);
    if (size < 16 || size > kMaxIconSize) {
      std::cerr << "sigilon-artwork: icon size must be 16 to " << kMaxIconSize << "\n";
      return 2;
    }
    const std::vector<std::uint8_t> icon = AppIcon(size);
    if (icon.empty()) {
      std::cerr << "sigilon-artwork: cannot compress the icon\n";
      return 1;
    }
    return WriteFile(argv[3], icon) ? 0 : 1;
  }
  if (argc != 2) {
    std::cerr << "usage: sigilon-artwork <output directory>\n"
                 "       sigilon-artwork --icon <size> <file.png>\n";
    return 2;
  }
  const std::string dir = argv[1];
  const bool ok =
      WriteFile(dir + "/Splash.bmp", Splash()) && WriteFile(dir + "/APP_BITMAP.bmp", AppBitmap());
  return ok ? 0 : 1;
}
