#pragma once
// What the WebP and HEIF tests share: a branding run on one file, the
// brand's coverage, and the metadata blocks the test pictures carry.

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "tests/support/TempDirectory.h"

namespace sigilon::test {

inline constexpr const char* kBrandText = "Proof";
inline constexpr const char* kRedFont = "\"DejaVu Sans\", 20, [Bold], [$000000FF]";

struct TBrandRun {
  TBrandOutcome Outcome;
  std::vector<std::byte> Copy;
};

/// Brands `source` saved as `name` with all types on.
inline TBrandRun BrandBytes(const std::vector<std::byte>& source, const std::string& name,
                            TBrandOptions options = {}) {
  TempDirectory dir;
  WriteBytes(dir / name, source);
  std::filesystem::create_directory(dir / "out");
  const std::string target = dir / ("out/" + name);
  options.AllTypes = true;
  TBrandRun run{BrandFile(kBrandText, kRedFont, dir / name, target, {}, options), {}};
  if (run.Outcome.Kind == TOutcomeKind::Processed) run.Copy = ReadBytes(target);
  return run;
}

/// The brand's coverage (0 to 255) at each pixel of an upright picture, in
/// the red channel: red stamped on blue.
inline TBitmap BrandCoverage(int width, int height) {
  TBitmap mask(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) mask.SetPixel(x, y, TRGBQuad{255, 0, 0, 0});
  }
  TFont font;
  TextToFont(kRedFont, font);
  StampBrandText(kBrandText, font, mask);
  return mask;
}

/// A bare big-endian TIFF structure with one Orientation entry.
inline std::vector<std::byte> ExifWithOrientation(int orientation) {
  const std::uint8_t tiff[] = {
      'M',  'M',  0, 42, 0, 0, 0, 8, 0, 1,
      0x01, 0x12, 0, 3,  0, 0, 0, 1, 0, static_cast<std::uint8_t>(orientation),
      0,    0,    0, 0,  0, 0};
  std::vector<std::byte> out(sizeof tiff);
  for (std::size_t i = 0; i < sizeof tiff; ++i) out[i] = static_cast<std::byte>(tiff[i]);
  return out;
}

/// The orientation a bare TIFF structure made by ExifWithOrientation (or
/// rewritten from one) holds; 0 when there is none.
inline int OrientationIn(const std::vector<std::byte>& tiff) {
  for (std::size_t at = 0; at + 10 <= tiff.size(); ++at) {
    if (tiff[at] == std::byte{0x01} && tiff[at + 1] == std::byte{0x12} &&
        tiff[at + 3] == std::byte{3}) {
      return static_cast<int>(tiff[at + 9]);
    }
  }
  return 0;
}

/// A small ICC-like profile: the copy must carry these bytes unchanged.
inline std::vector<std::byte> SomeProfile() {
  std::vector<std::byte> profile(200);
  for (std::size_t i = 0; i < profile.size(); ++i) profile[i] = static_cast<std::byte>(i * 7);
  return profile;
}

}  // namespace sigilon::test
