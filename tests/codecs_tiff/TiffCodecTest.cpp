// The TIFF module: each variant (grey, RGB, alpha, palette, 8 and 16 bits,
// strips, tiles, separate planes, each compression) decodes and encodes again
// to the same pixels; a branded copy keeps the source's kind, compression and
// pages, differs only under the brand, stands upright and keeps its profile;
// a small file claiming a huge picture fails at once.

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <functional>

#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/Errors.h"
#include "engine/MetadataSignatures.h"
#include "engine/Orientation.h"
#include "engine/formats/TiffCodec.h"
#include "tests/support/TempDirectory.h"

#include <tiffio.h>

namespace sigilon {
namespace {

constexpr const char* kText = "Proof";
constexpr const char* kFont = "\"DejaVu Sans\", 20, [Bold], [$000000FF]";

struct TSource {
  std::uint32_t Width = 64, Height = 40;
  std::uint16_t Samples = 3, Bits = 8, Photometric = PHOTOMETRIC_RGB;
  std::uint16_t Compression = COMPRESSION_NONE, Planar = PLANARCONFIG_CONTIG;
  std::uint16_t Extra = EXTRASAMPLE_UNASSALPHA, Orientation = ORIENTATION_TOPLEFT;
  // Of the pages after the first; 0: as the first.
  std::uint16_t LaterOrientation = 0;
  std::uint32_t RowsPerStrip = 16;
  bool Tiled = false, Smooth = false;
  std::string Icc{}, Xmp{};
};

std::uint32_t PatternAt(std::uint32_t x, std::uint32_t y, int c, int bits, bool smooth = false) {
  if (smooth) return ((x * 2 + y * 3 + c * 50) % 256) << (bits - 8);
  return (x * 31 + y * 17 + c * 5) * 2654435761u % (1u << bits);
}

// Writes `pages` pages of `source` (each 8 pixels narrower than the last).
void WriteTiff(const std::string& path, const TSource& source, int pages = 1) {
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  for (int page = 0; page < pages; ++page) {
    const std::uint32_t width = source.Width - 8 * page;
    TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
    TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, source.Height);
    TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, source.Samples);
    TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, source.Bits);
    TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, source.Photometric);
    TIFFSetField(tiff, TIFFTAG_COMPRESSION, source.Compression);
    TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, source.Planar);
    TIFFSetField(
        tiff, TIFFTAG_ORIENTATION,
        page > 0 && source.LaterOrientation != 0 ? source.LaterOrientation : source.Orientation);
    const int colours = source.Photometric == PHOTOMETRIC_RGB ? 3 : 1;
    if (source.Samples > colours) TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &source.Extra);
    if (!source.Icc.empty())
      TIFFSetField(tiff, TIFFTAG_ICCPROFILE, std::uint32_t(source.Icc.size()), source.Icc.data());
    if (!source.Xmp.empty())
      TIFFSetField(tiff, TIFFTAG_XMLPACKET, std::uint32_t(source.Xmp.size()), source.Xmp.data());
    std::vector<std::uint16_t> map(256);
    for (int i = 0; i < 256; ++i) map[i] = static_cast<std::uint16_t>(i * 257);
    if (source.Photometric == PHOTOMETRIC_PALETTE)
      TIFFSetField(tiff, TIFFTAG_COLORMAP, map.data(), map.data(), map.data());
    if (pages > 1) TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE);
    const bool separate = source.Planar == PLANARCONFIG_SEPARATE;
    const int perPixel = separate ? 1 : source.Samples;
    const std::size_t sampleBytes = source.Bits / 8;
    if (source.Tiled) {
      TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16);
      TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16);
    } else {
      TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, source.RowsPerStrip);
    }
    // The whole plane (or picture), written as strips or tiles below.
    for (int plane = 0; plane < (separate ? source.Samples : 1); ++plane) {
      std::vector<std::uint8_t> pixels(std::size_t{width} * source.Height * perPixel * sampleBytes);
      for (std::uint32_t y = 0; y < source.Height; ++y) {
        for (std::uint32_t x = 0; x < width; ++x) {
          for (int c = 0; c < perPixel; ++c) {
            const auto v = static_cast<std::uint16_t>(
                PatternAt(x + page, y, plane + c, source.Bits, source.Smooth));
            const std::size_t at = ((std::size_t{y} * width + x) * perPixel + c) * sampleBytes;
            if (sampleBytes == 1)
              pixels[at] = static_cast<std::uint8_t>(v);
            else
              std::memcpy(&pixels[at], &v, 2);
          }
        }
      }
      const std::size_t rowBytes = std::size_t{width} * perPixel * sampleBytes;
      if (source.Tiled) {
        std::vector<std::uint8_t> tile(16 * 16 * perPixel * sampleBytes);
        for (std::uint32_t ty = 0; ty < source.Height; ty += 16) {
          for (std::uint32_t tx = 0; tx < width; tx += 16) {
            std::fill(tile.begin(), tile.end(), 0);
            for (std::uint32_t r = 0; r < 16 && ty + r < source.Height; ++r) {
              const std::size_t n =
                  std::min<std::uint32_t>(16, width - tx) * perPixel * sampleBytes;
              std::memcpy(&tile[r * 16 * perPixel * sampleBytes],
                          &pixels[(ty + r) * rowBytes + tx * perPixel * sampleBytes], n);
            }
            ASSERT_GE(TIFFWriteTile(tiff, tile.data(), tx, ty, 0, static_cast<tsample_t>(plane)),
                      0);
          }
        }
      } else {
        for (std::uint32_t y = 0; y < source.Height; ++y) {
          ASSERT_EQ(
              TIFFWriteScanline(tiff, &pixels[y * rowBytes], y, static_cast<tsample_t>(plane)), 1);
        }
      }
    }
    ASSERT_EQ(TIFFWriteDirectory(tiff), 1);
  }
  TIFFClose(tiff);
}

std::vector<std::byte> TiffBytes(const TSource& source, int pages = 1) {
  test::TempDirectory dir;
  const std::string path = dir / "source.tif";
  WriteTiff(path, source, pages);
  return test::ReadBytes(path);
}

// What libtiff itself says of each page of a file.
struct TPageTags {
  std::uint32_t Width = 0, Height = 0;
  std::uint16_t Samples = 0, Bits = 0, Compression = 0, Orientation = 0;
  std::string Icc{}, Xmp{};
};
std::vector<TPageTags> TagsOf(const std::string& path) {
  std::vector<TPageTags> pages;
  TIFF* tiff = TIFFOpen(path.c_str(), "r");
  if (tiff == nullptr) return pages;
  do {
    TPageTags tags;
    TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &tags.Width);
    TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &tags.Height);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_SAMPLESPERPIXEL, &tags.Samples);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_BITSPERSAMPLE, &tags.Bits);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_COMPRESSION, &tags.Compression);
    TIFFGetFieldDefaulted(tiff, TIFFTAG_ORIENTATION, &tags.Orientation);
    std::uint32_t size = 0;
    char* data = nullptr;
    if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &data) == 1) tags.Icc.assign(data, size);
    if (TIFFGetField(tiff, TIFFTAG_XMLPACKET, &size, &data) == 1) tags.Xmp.assign(data, size);
    pages.push_back(tags);
  } while (TIFFReadDirectory(tiff) == 1);
  TIFFClose(tiff);
  return pages;
}

bool SamePixels(const TBitmap& a, const TBitmap& b) {
  if (a.Width() != b.Width() || a.Height() != b.Height() || a.PixelFormat() != b.PixelFormat())
    return false;
  const std::size_t rowBytes = (std::size_t(a.Width()) * a.BitsPerPixel() + 7) / 8;
  for (int y = 0; y < a.Height(); ++y) {
    if (std::memcmp(a.Row(y).data(), b.Row(y).data(), rowBytes) != 0) return false;
  }
  return a.Palette() == b.Palette();
}

TEST(TiffCodec, EveryVariantEncodesAgainToTheSamePixels) {
  const std::vector<std::function<void(TSource&)>> kinds{
      [](TSource& s) { s.Samples = 1, s.Photometric = PHOTOMETRIC_MINISBLACK; },
      [](TSource& s) { s.Samples = 1, s.Bits = 16, s.Photometric = PHOTOMETRIC_MINISBLACK; },
      [](TSource& s) { s.Samples = 2, s.Photometric = PHOTOMETRIC_MINISBLACK; },
      [](TSource& s) { s.Samples = 2, s.Bits = 16, s.Photometric = PHOTOMETRIC_MINISBLACK; },
      [](TSource&) {},
      [](TSource& s) { s.Bits = 16; },
      [](TSource& s) { s.Samples = 4; },
      [](TSource& s) { s.Samples = 4, s.Bits = 16; },
      [](TSource& s) { s.Samples = 1, s.Photometric = PHOTOMETRIC_PALETTE; },
  };
  const std::vector<std::function<void(TSource&)>> layouts{
      [](TSource&) {}, [](TSource& s) { s.Tiled = true; },
      [](TSource& s) { s.Planar = PLANARCONFIG_SEPARATE; }};
  for (std::size_t kind = 0; kind < kinds.size(); ++kind) {
    for (std::size_t layout = 0; layout < layouts.size(); ++layout) {
      for (const std::uint16_t compression :
           {COMPRESSION_NONE, COMPRESSION_LZW, COMPRESSION_ADOBE_DEFLATE, COMPRESSION_PACKBITS}) {
        SCOPED_TRACE(testing::Message() << "kind " << kind << ", layout " << layout
                                        << ", compression " << compression);
        TSource source;
        kinds[kind](source);
        layouts[layout](source);
        source.Compression = compression;
        const TWholePicture whole = DecodeTiff(TiffBytes(source), "source.tif");
        ASSERT_EQ(whole.Picture.Width(), 64);
        const std::vector<std::byte> copy =
            EncodeTiff(whole.Picture, {.Name = "copy.tif", .Metadata = &whole.Metadata});
        const TWholePicture again = DecodeTiff(copy, "copy.tif");
        EXPECT_TRUE(SamePixels(whole.Picture, again.Picture));
        EXPECT_EQ(again.Metadata.Compression, whole.Metadata.Compression);
        // The samples are the ones written (grey first, alpha last).
        const TRGBQuad first = whole.Picture.GetPixel(3, 2);
        const std::uint32_t expected = PatternAt(3, 2, 0, source.Bits) >> (source.Bits - 8);
        EXPECT_EQ(source.Samples <= 2 ? first.Green : first.Red, expected);
      }
    }
  }
}

TEST(TiffCodec, AssociatedAlphaIsTakenApartAndJpegStaysJpeg) {
  TSource associated;
  associated.Samples = 4;
  associated.Extra = EXTRASAMPLE_ASSOCALPHA;
  const TWholePicture whole = DecodeTiff(TiffBytes(associated), "a.tif");
  const std::uint32_t alpha = PatternAt(5, 7, 3, 8), red = PatternAt(5, 7, 0, 8);
  const std::uint8_t* pixel = whole.Picture.Row(7).data() + 5 * 4;  // B, G, R, A
  EXPECT_EQ(pixel[3], alpha);
  if (alpha > 0) EXPECT_EQ(pixel[2], std::min(255u, (red * 255 + alpha / 2) / alpha));

  TSource jpeg;
  jpeg.Compression = COMPRESSION_JPEG, jpeg.Smooth = true;
  const TWholePicture photo = DecodeTiff(TiffBytes(jpeg), "j.tif");
  EXPECT_EQ(photo.Metadata.Compression, "jpeg");
  const std::vector<std::byte> copy =
      EncodeTiff(photo.Picture, {.Name = "c.tif", .Metadata = &photo.Metadata, .Quality = 95});
  const TWholePicture again = DecodeTiff(copy, "c.tif");
  EXPECT_EQ(again.Metadata.Compression, "jpeg");
  ASSERT_EQ(again.Picture.Width(), photo.Picture.Width());
  // A smooth pattern at quality 95: close on average, not exact.
  double difference = 0;
  for (int y = 0; y < photo.Picture.Height(); ++y) {
    for (int x = 0; x < photo.Picture.Width(); ++x) {
      difference +=
          std::abs(photo.Picture.GetPixel(x, y).Green - again.Picture.GetPixel(x, y).Green);
    }
  }
  EXPECT_LT(difference / (photo.Picture.Width() * photo.Picture.Height()), 4.0);
}

TEST(TiffBranding, TheCopyKeepsKindCompressionAndPagesAndDiffersOnlyUnderTheBrand) {
  for (const std::uint16_t bits : {8, 16}) {
    SCOPED_TRACE(testing::Message() << bits << " bits");
    test::TempDirectory dir;
    const std::string in = dir / "in.TIF", out = dir / "copies/out.TIF";
    std::filesystem::create_directory(dir / "copies");
    TSource source;
    source.Width = 160, source.Height = 120, source.Bits = bits;
    source.Compression = COMPRESSION_LZW, source.Tiled = bits == 16;
    WriteTiff(in, source, 3);
    TBrandOptions options;
    options.AllTypes = true;
    const TBrandOutcome outcome = BrandFile(kText, kFont, in, out, {}, options);
    ASSERT_EQ(outcome.Kind, TOutcomeKind::Processed) << outcome.Reason;
    const std::vector<TPageTags> before = TagsOf(in), after = TagsOf(out);
    ASSERT_EQ(after.size(), 3u);
    const TWholePicture sourcePages = DecodeTiff(test::ReadBytes(in), in);
    const TWholePicture copyPages = DecodeTiff(test::ReadBytes(out), out);
    for (std::size_t page = 0; page < after.size(); ++page) {
      EXPECT_EQ(after[page].Width, before[page].Width);
      EXPECT_EQ(after[page].Samples, before[page].Samples);
      EXPECT_EQ(after[page].Bits, before[page].Bits);
      EXPECT_EQ(after[page].Compression, COMPRESSION_LZW);
      const TBitmap& a = page == 0 ? sourcePages.Picture : sourcePages.MorePages[page - 1];
      const TBitmap& b = page == 0 ? copyPages.Picture : copyPages.MorePages[page - 1];
      // Each page is stamped by its own size: red on blue shows the coverage.
      TBitmap mask(a.Width(), a.Height(), TPixelFormat::pf24bit);
      for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) mask.SetPixel(x, y, TRGBQuad{255, 0, 0, 0});
      }
      TFont font;
      TextToFont(kFont, font);
      StampBrandText(kText, font, mask);
      int changed = 0, stray = 0;
      for (int y = 0; y < a.Height(); ++y) {
        for (int x = 0; x < a.Width(); ++x) {
          const bool same = a.GetPixel(x, y) == b.GetPixel(x, y);
          if (mask.GetPixel(x, y).Red == 0 && !same) ++stray;
          if (mask.GetPixel(x, y).Red > 128 && !same) ++changed;
        }
      }
      EXPECT_EQ(stray, 0);
      EXPECT_GT(changed, a.Width() * a.Height() / 50);
    }
  }
}

TEST(TiffBranding, TheCopyStandsUprightAndCarriesItsProfileAndXmpByChoice) {
  for (const bool keep : {false, true}) {
    test::TempDirectory dir;
    const std::string in = dir / "in.tiff", out = dir / "copies/out.tiff";
    std::filesystem::create_directory(dir / "copies");
    TSource source;
    source.Orientation = ORIENTATION_RIGHTTOP;  // turned a quarter when shown
    source.Icc = std::string("profile\0bytes", 13);
    source.Xmp = "<x:xmpmeta xmlns:x=\"adobe:ns:meta/\"/>";
    WriteTiff(in, source);
    TBrandOptions options;
    options.AllTypes = true;
    options.KeepMetadata = keep;
    const TBrandOutcome outcome = BrandFile(kText, kFont, in, out, {}, options);
    ASSERT_EQ(outcome.Kind, TOutcomeKind::Processed) << outcome.Reason;
    const std::vector<TPageTags> tags = TagsOf(out);
    ASSERT_EQ(tags.size(), 1u);
    EXPECT_EQ(tags[0].Width, source.Height);
    EXPECT_EQ(tags[0].Height, source.Width);
    EXPECT_EQ(tags[0].Orientation, ORIENTATION_TOPLEFT);
    EXPECT_EQ(tags[0].Icc, source.Icc);
    EXPECT_EQ(tags[0].Xmp, keep ? source.Xmp : std::string{});
  }
}

// Several bands a page: branding in bands, on one thread or two, writes the
// very file that stamping the whole decoded pages and encoding them writes.
TEST(TiffBranding, BandsWriteWhatTheWholePicturePathWrites) {
  const std::vector<std::function<void(TSource&)>> layouts{
      [](TSource&) {},
      [](TSource& s) { s.RowsPerStrip = s.Height; },
      // One strip too big to decode whole: read a row at a time.
      [](TSource& s) { s.Width = 2200, s.Height = 1400, s.RowsPerStrip = s.Height; },
      [](TSource& s) { s.Tiled = true; },
      [](TSource& s) { s.Planar = PLANARCONFIG_SEPARATE; },
      [](TSource& s) { s.Samples = 1, s.Photometric = PHOTOMETRIC_PALETTE; },
      [](TSource& s) { s.Samples = 2, s.Bits = 16, s.Photometric = PHOTOMETRIC_MINISBLACK; },
  };
  TFont font;
  TextToFont(kFont, font);
  for (std::size_t layout = 0; layout < layouts.size(); ++layout) {
    for (const int pages : {1, 3}) {
      SCOPED_TRACE(testing::Message() << "layout " << layout << ", " << pages << " pages");
      test::TempDirectory dir;
      const std::string in = dir / "in.tif";
      std::filesystem::create_directory(dir / "copies");
      TSource source;
      source.Width = 1000, source.Height = 700, source.Compression = COMPRESSION_LZW;
      // The later pages are turned: each is held whole, the first streams.
      source.LaterOrientation = ORIENTATION_RIGHTTOP;
      layouts[layout](source);
      WriteTiff(in, source, pages);

      TWholePicture whole = DecodeTiff(test::ReadBytes(in), in);
      TBitmap first = TurnUpright(std::move(whole.Picture), whole.Metadata.Orientation);
      StampBrandText(kText, font, first);
      for (TBitmap& page : whole.MorePages) StampBrandText(kText, font, page);
      const std::vector<std::byte> expected = EncodeTiff(
          first, {.Name = in, .Metadata = &whole.Metadata, .MorePages = whole.MorePages});
      const TWholePicture expectedPages = DecodeTiff(expected, "expected.tif");

      for (const int threads : {1, 2}) {
        const std::string out = dir / ("copies/" + std::to_string(threads) + ".tif");
        TBrandOptions options;
        options.AllTypes = true;
        options.Threads = threads;
        const TBrandOutcome outcome = BrandFile(kText, kFont, in, out, {}, options);
        ASSERT_EQ(outcome.Kind, TOutcomeKind::Processed) << outcome.Reason;
        const TWholePicture copy = DecodeTiff(test::ReadBytes(out), out);
        ASSERT_EQ(copy.MorePages.size(), whole.MorePages.size());
        EXPECT_TRUE(SamePixels(copy.Picture, first));
        for (std::size_t page = 0; page < copy.MorePages.size(); ++page) {
          EXPECT_TRUE(SamePixels(copy.MorePages[page], expectedPages.MorePages[page]));
        }
        EXPECT_TRUE(test::ReadBytes(out) == expected);
      }
    }
  }
}

TEST(TiffCodec, ASmallFileClaimingAHugePictureFailsAtOnce) {
  test::TempDirectory dir;
  const std::string path = dir / "huge.tif";
  TIFF* tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 60000u);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 60000u);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, COMPRESSION_ADOBE_DEFLATE);
  TIFFWriteDirectory(tiff);
  TIFFClose(tiff);
  const std::vector<std::byte> bytes = test::ReadBytes(path);
  ASSERT_LT(bytes.size(), 4096u);
  EXPECT_THROW(DecodeTiff(bytes, path), ImageError);
  // A small picture in one huge tile, which would be allocated whole.
  tiff = TIFFOpen(path.c_str(), "w");
  ASSERT_NE(tiff, nullptr);
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, 16u);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, 16u);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_MINISBLACK);
  TIFFSetField(tiff, TIFFTAG_TILEWIDTH, 16384u);
  TIFFSetField(tiff, TIFFTAG_TILELENGTH, 16384u);
  TIFFWriteDirectory(tiff);
  TIFFClose(tiff);
  EXPECT_THROW(DecodeTiff(test::ReadBytes(path), path), ImageError);
  // Damage: not a TIFF at all, and a cut file.
  EXPECT_THROW(DecodeTiff(std::vector<std::byte>(64, std::byte{7}), "x.tif"), ImageError);
  TSource small;
  std::vector<std::byte> cut = TiffBytes(small);
  cut.resize(cut.size() / 2);
  EXPECT_THROW(DecodeTiff(cut, "cut.tif"), ImageError);
}

}  // namespace
}  // namespace sigilon
