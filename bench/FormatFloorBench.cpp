// PNG and TIFF branding against each type's floor: one 24-megapixel 8-bit
// RGB photo-like picture.
//
//   BM_Floor/png, /tiff      the library alone, one thread: decode every row and
//                            encode it again at the settings our writer uses (libpng's
//                            default level and filters; LZW in strips of the same
//                            height), file to file, no brand
//   BM_Brand/png/1, /2       BrandFile on the same file, one thread and two (the
//                            default for one picture on this two-core machine)
//
// Run the repetitions interleaved so all see the same machine:
//   formatfloorbench --benchmark_repetitions=7 --benchmark_enable_random_interleaving=true
//                    --benchmark_report_aggregates_only=true
// and compare the medians: ratio = time(BM_Brand) / time(BM_Floor) of the same type.

#include <benchmark/benchmark.h>
#include <png.h>
#include <tiffio.h>

#include <csetjmp>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/BenchTiff.h"
#include "bench/Photo.h"
#include "engine/BrandFile.h"
#include "engine/formats/FormatRegistry.h"
#include "platform/Platform.h"

namespace sigilon {
namespace {

constexpr int kWidth = 6000;
constexpr int kHeight = 4000;
const std::string kFontText = "\"DejaVu Sans\", 10, [], [clBlack]";
const std::string kBrand = "© Studio Proof";

struct Fixture : bench::TScratchFolders {
  Fixture() : TScratchFolders("sigilon-floor-bench") {
    const TBitmap photo = Photo(kWidth, kHeight);
    TPictureMetadata metadata;
    metadata.Compression = "lzw";
    for (const char* name : {"photo.png", "photo.tif"}) {
      const TWriteSpec request{
          .Name = name, .Width = kWidth, .Height = kHeight, .Metadata = &metadata};
      WriteWholeFile(source + name, FormatForPath(name, true)->EncodeWhole(photo, request));
    }
  }
};

Fixture& Shared() {
  static Fixture fixture;
  return fixture;
}

struct TFileClose {
  void operator()(std::FILE* file) const { std::fclose(file); }
};
using TFile = std::unique_ptr<std::FILE, TFileClose>;

// libpng: each row read is written at once, as a streaming copy does.
bool PngFloor(const std::string& from, const std::string& to) {
  const TFile in(std::fopen(from.c_str(), "rb"));
  const TFile out(std::fopen(to.c_str(), "wb"));
  if (!in || !out) return false;
  png_structp reader = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop readInfo = png_create_info_struct(reader);
  png_structp writer = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop writeInfo = png_create_info_struct(writer);
  std::vector<png_byte> row;
  bool ok = false;
  if (setjmp(png_jmpbuf(reader)) == 0 && setjmp(png_jmpbuf(writer)) == 0) {
    png_init_io(reader, in.get());
    png_read_info(reader, readInfo);
    const png_uint_32 width = png_get_image_width(reader, readInfo);
    const png_uint_32 height = png_get_image_height(reader, readInfo);
    png_init_io(writer, out.get());
    png_set_IHDR(writer, writeInfo, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    png_write_info(writer, writeInfo);
    row.resize(png_get_rowbytes(reader, readInfo));
    for (png_uint_32 y = 0; y < height; ++y) {
      png_read_row(reader, row.data(), nullptr);
      png_write_row(writer, row.data());
    }
    png_read_end(reader, nullptr);
    png_write_end(writer, writeInfo);
    ok = true;
  }
  png_destroy_read_struct(&reader, &readInfo, nullptr);
  png_destroy_write_struct(&writer, &writeInfo);
  return ok;
}

// libtiff: scanlines read and written, LZW in strips of the rows our writer
// puts in one (about 256 KB, whole groups of 16).
bool TiffFloor(const std::string& from, const std::string& to) {
  TIFF* in = TIFFOpen(from.c_str(), "r");
  TIFF* out = TIFFOpen(to.c_str(), "w");
  bool ok = in != nullptr && out != nullptr;
  std::uint32_t width = 0, height = 0, rowsPerStrip = 0;
  ok = ok && TIFFGetField(in, TIFFTAG_IMAGEWIDTH, &width) == 1 &&
       TIFFGetField(in, TIFFTAG_IMAGELENGTH, &height) == 1 &&
       TIFFGetField(in, TIFFTAG_ROWSPERSTRIP, &rowsPerStrip) == 1;
  if (ok) {
    sigilon::bench::SetRgb8Page(out, width, height, COMPRESSION_LZW);
    TIFFSetField(out, TIFFTAG_ROWSPERSTRIP, rowsPerStrip);
    std::vector<std::uint8_t> row(static_cast<std::size_t>(TIFFScanlineSize64(in)));
    for (std::uint32_t y = 0; y < height && ok; ++y) {
      ok = TIFFReadScanline(in, row.data(), y, 0) == 1 &&
           TIFFWriteScanline(out, row.data(), y, 0) == 1;
    }
  }
  if (in != nullptr) TIFFClose(in);
  if (out != nullptr) TIFFClose(out);
  return ok;
}

void BM_Floor(benchmark::State& state, const std::string& name) {
  Fixture& f = Shared();
  const bool png = name.ends_with(".png");
  for (auto _ : state) {
    const std::string from = f.source + name, to = f.baseline + name;
    if (!(png ? PngFloor(from, to) : TiffFloor(from, to))) state.SkipWithError("floor failed");
  }
}

void BM_Brand(benchmark::State& state, const std::string& name) {
  Fixture& f = Shared();
  TBrandOptions options;
  options.AllTypes = true;
  options.Threads = static_cast<int>(state.range(0));
  for (auto _ : state) {
    const TBrandOutcome outcome =
        BrandFile(kBrand, kFontText, f.source + name, f.target + name, nullptr, options);
    if (outcome.Kind != TOutcomeKind::Processed) state.SkipWithError(outcome.Reason.c_str());
  }
}

BENCHMARK_CAPTURE(BM_Floor, png, std::string("photo.png"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Brand, png, std::string("photo.png"))
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Floor, tiff, std::string("photo.tif"))
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();
BENCHMARK_CAPTURE(BM_Brand, tiff, std::string("photo.tif"))
    ->Arg(1)
    ->Arg(2)
    ->Unit(benchmark::kMillisecond)
    ->UseRealTime();

}  // namespace
}  // namespace sigilon
