// make-samples: writes a small folder of deterministic pictures (JPEG and
// bitmap files in several pixel formats) plus one file that is no picture,
// for trying the branding on without bringing pictures of one's own.

#include <cmath>
#include <cstdint>
#include <cstdio>
#include <exception>
#include <string>

#include "engine/Bitmap.h"
#include "engine/JpegEncoder.h"
#include "platform/Files.h"
#include "platform/PathText.h"

namespace sigilon {
namespace {

std::uint8_t Clamp(double v) {
  return static_cast<std::uint8_t>(std::lround(std::fmin(255.0, std::fmax(0.0, v))));
}

// A landscape-like picture: sky gradient, a sun, hills and a little texture,
// so the tiled text shows over light and dark parts alike.
TRGBQuad Landscape(int x, int y, int width, int height, std::uint32_t& noise) {
  noise = noise * 1664525u + 1013904223u;
  const double grain = static_cast<double>(noise >> 24) / 255.0 * 12.0 - 6.0;
  const double u = static_cast<double>(x) / width;
  const double v = static_cast<double>(y) / height;
  const double hill = 0.62 + 0.08 * std::sin(u * 9.0) + 0.05 * std::sin(u * 23.0 + 1.0);
  const double sunDx = u - 0.75, sunDy = (v - 0.22) * height / width;
  if (sunDx * sunDx + sunDy * sunDy < 0.006)
    return {Clamp(120 + grain), Clamp(230 + grain), 255, 0};
  if (v < hill) {
    return {Clamp(250 - 60 * v + grain), Clamp(190 - 40 * v + grain), Clamp(110 + 60 * v + grain),
            0};
  }
  const double depth = (v - hill) / (1.0 - hill);
  return {Clamp(40 + grain), Clamp(140 - 70 * depth + grain), Clamp(60 + 40 * depth + grain), 0};
}

TBitmap Picture(int width, int height, TPixelFormat format) {
  TBitmap bitmap(width, height, format);
  if (!bitmap.Palette().empty()) {
    // An evenly spread palette so nearest-entry painting has colours to pick.
    auto& palette = bitmap.Palette();
    const int n = static_cast<int>(palette.size());
    for (int i = 0; i < n; ++i) {
      const double t = n == 1 ? 0.0 : static_cast<double>(i) / (n - 1);
      palette[i] = {Clamp(255 * std::fabs(std::sin(t * 3.1))), Clamp(255 * t),
                    Clamp(255 * (1.0 - t)), 0};
    }
  }
  std::uint32_t noise = 12345;
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) bitmap.SetPixel(x, y, Landscape(x, y, width, height, noise));
  }
  return bitmap;
}

void WriteJpeg(const std::string& path, const TBitmap& bitmap) {
  WriteWholeFile(path, EncodeJpeg(bitmap, 90, path));
}

void WriteBmp(const std::string& path, const TBitmap& bitmap) {
  WriteWholeFile(path, bitmap.SaveToBytes());
}

}  // namespace
}  // namespace sigilon

int main(int argc, char** argv) {
  using namespace sigilon;
  if (argc != 2) {
    std::fprintf(
        stderr,
        "Usage: make-samples DIRECTORY\nWrites sample pictures into an existing DIRECTORY.\n");
    return 2;
  }
  const std::string dir = WithTrailingSlash(argv[1]);
  try {
    WriteJpeg(dir + "landscape.jpg", Picture(1024, 768, TPixelFormat::pf24bit));
    WriteJpeg(dir + "PORTRAIT.JPG", Picture(480, 640, TPixelFormat::pf24bit));
    WriteBmp(dir + "poster.bmp", Picture(640, 480, TPixelFormat::pf24bit));
    WriteBmp(dir + "palette.bmp", Picture(400, 300, TPixelFormat::pf8bit));
    WriteBmp(dir + "icon.BMP", Picture(128, 128, TPixelFormat::pf4bit));
    const std::string note = "Not a picture: reported as not processable and left alone.\n";
    WriteWholeFile(dir + "notes.txt", std::as_bytes(std::span(note)));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "make-samples: %s\n", e.what());
    return 1;
  }
  return 0;
}
