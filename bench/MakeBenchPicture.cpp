// Writes a photo-like picture (bench/Photo.h) as a PNG or TIFF file, for the
// benchmarks and for measuring the peak memory of branding big pictures.
//
//   make-bench-picture WIDTH HEIGHT OUT.png
//   make-bench-picture WIDTH HEIGHT OUT.tif [none|lzw|deflate|packbits|jpeg] [tiled]

#include <tiffio.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/BenchTiff.h"
#include "bench/Photo.h"
#include "engine/formats/FormatRegistry.h"
#include "platform/Platform.h"

namespace {

// `photo` in 256 x 256 tiles, LZW, written by libtiff itself.
bool WriteTiledTiff(const sigilon::TBitmap& photo, const std::string& path) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w8");
  if (tiff == nullptr) return false;
  const auto width = static_cast<std::uint32_t>(photo.Width());
  const auto height = static_cast<std::uint32_t>(photo.Height());
  constexpr std::uint32_t kTile = 256;
  sigilon::bench::SetRgb8Page(tiff, width, height, COMPRESSION_LZW);
  TIFFSetField(tiff, TIFFTAG_TILEWIDTH, kTile);
  TIFFSetField(tiff, TIFFTAG_TILELENGTH, kTile);
  std::vector<std::uint8_t> tile(kTile * kTile * 3);
  bool ok = true;
  for (std::uint32_t ty = 0; ty < height && ok; ty += kTile) {
    for (std::uint32_t tx = 0; tx < width && ok; tx += kTile) {
      std::fill(tile.begin(), tile.end(), 0);
      for (std::uint32_t r = 0; r < kTile && ty + r < height; ++r) {
        const std::uint8_t* row = photo.Row(static_cast<int>(ty + r)).data();
        for (std::uint32_t x = 0; x < kTile && tx + x < width; ++x) {
          // B, G, R in the bitmap; R, G, B in the file.
          for (int c = 0; c < 3; ++c) tile[(r * kTile + x) * 3 + c] = row[(tx + x) * 3 + 2 - c];
        }
      }
      ok = TIFFWriteTile(tiff, tile.data(), tx, ty, 0, 0) >= 0;
    }
  }
  TIFFClose(tiff);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  using namespace sigilon;
  if (argc < 4) {
    std::fprintf(stderr, "usage: %s WIDTH HEIGHT OUT.png|OUT.tif [compression] [tiled]\n", argv[0]);
    return 2;
  }
  const int width = std::atoi(argv[1]);
  const int height = std::atoi(argv[2]);
  const std::string path = argv[3];
  const TPictureFormat* format = FormatForPath(path, true);
  if (format == nullptr) {
    std::fprintf(stderr, "%s: not a picture type\n", path.c_str());
    return 2;
  }
  const TBitmap photo = Photo(width, height);
  if (argc > 5 && std::strcmp(argv[5], "tiled") == 0) return WriteTiledTiff(photo, path) ? 0 : 1;
  TPictureMetadata metadata;
  metadata.Compression = argc > 4 ? argv[4] : "lzw";
  const TWriteSpec request{
      .Name = path, .Width = width, .Height = height, .Metadata = &metadata, .Quality = 90};
  WriteWholeFile(path, format->EncodeWhole(photo, request));
  return 0;
}
