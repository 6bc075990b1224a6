// Branded HEIC and AVIF copies: the primary picture upright and alone (no
// transforms, no thumbnails), at the chosen quality, with its profile and
// metadata by choice; sequences, lies and damage fail with a reason.

#include <gtest/gtest.h>
#include <libheif/heif.h>

#include <algorithm>
#include <memory>
#include <string_view>

#include "engine/Errors.h"
#include "engine/formats/HeifCodedSize.h"
#include "tests/codecs_webp/WholeTestSupport.h"

namespace sigilon {
namespace {

using test::BrandBytes;

struct TContextFree {
  void operator()(heif_context* context) const { heif_context_free(context); }
};
using TContext = std::unique_ptr<heif_context, TContextFree>;

heif_error Append(heif_context*, const void* data, std::size_t size, void* out) {
  const auto* bytes = static_cast<const std::byte*>(data);
  auto* file = static_cast<std::vector<std::byte>*>(out);
  file->insert(file->end(), bytes, bytes + size);
  return {heif_error_Ok, heif_suberror_Unspecified, "ok"};
}

heif_image* Textured(int width, int height) {
  heif_image* image = nullptr;
  EXPECT_EQ(
      heif_image_create(width, height, heif_colorspace_RGB, heif_chroma_interleaved_RGB, &image)
          .code,
      heif_error_Ok);
  heif_image_add_plane(image, heif_channel_interleaved, width, height, 8);
  int stride = 0;
  std::uint8_t* rgb = heif_image_get_plane(image, heif_channel_interleaved, &stride);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = rgb + y * stride + x * 3;
      p[0] = static_cast<std::uint8_t>(x * 2);
      p[1] = static_cast<std::uint8_t>(y * 3);
      p[2] = static_cast<std::uint8_t>(x + y);
    }
  }
  return image;
}

struct TSource {
  heif_compression_format Compression = heif_compression_HEVC;
  int Width = 96;
  int Height = 64;
  heif_orientation Orientation = heif_orientation_normal;
  bool Profile = false;
  bool Exif = false;
  bool Thumbnail = false;
  int Pictures = 1;
};

bool HasEncoder(heif_compression_format compression) {
  return heif_have_encoder_for_format(compression) != 0;
}

std::vector<std::byte> MakeHeif(const TSource& source) {
  const TContext context(heif_context_alloc());
  heif_encoder* encoder = nullptr;
  EXPECT_EQ(heif_context_get_encoder_for_format(context.get(), source.Compression, &encoder).code,
            heif_error_Ok);
  heif_encoder_set_lossy_quality(encoder, 80);
  heif_encoding_options* options = heif_encoding_options_alloc();
  options->image_orientation = source.Orientation;
  for (int i = 0; i < source.Pictures; ++i) {
    heif_image* image = Textured(source.Width, source.Height);
    if (source.Profile) {
      const std::vector<std::byte> profile = test::SomeProfile();
      heif_image_set_raw_color_profile(image, "prof", profile.data(), profile.size());
    }
    heif_image_handle* handle = nullptr;
    EXPECT_EQ(heif_context_encode_image(context.get(), image, encoder, options, &handle).code,
              heif_error_Ok);
    if (source.Exif) {
      const std::vector<std::byte> exif = test::ExifWithOrientation(source.Orientation);
      heif_context_add_exif_metadata(context.get(), handle, exif.data(),
                                     static_cast<int>(exif.size()));
    }
    if (source.Thumbnail) {
      heif_image_handle* thumbnail = nullptr;
      EXPECT_EQ(heif_context_encode_thumbnail(context.get(), image, handle, encoder, options, 32,
                                              &thumbnail)
                    .code,
                heif_error_Ok);
      heif_image_handle_release(thumbnail);
    }
    heif_image_handle_release(handle);
    heif_image_release(image);
  }
  heif_encoding_options_free(options);
  heif_encoder_release(encoder);
  std::vector<std::byte> file;
  heif_writer writer{1, Append};
  EXPECT_EQ(heif_context_write(context.get(), &writer, &file).code, heif_error_Ok);
  return file;
}

struct TRead {
  int Pictures = 0;
  int Width = 0;
  int Height = 0;
  int Thumbnails = 0;
  std::vector<std::byte> Profile;
  std::vector<std::byte> Exif;
  bool Decodes = false;
};

TRead ReadHeif(const std::vector<std::byte>& file) {
  TRead read;
  const TContext context(heif_context_alloc());
  if (heif_context_read_from_memory_without_copy(context.get(), file.data(), file.size(), nullptr)
          .code != heif_error_Ok) {
    return read;
  }
  read.Pictures = heif_context_get_number_of_top_level_images(context.get());
  heif_image_handle* handle = nullptr;
  heif_context_get_primary_image_handle(context.get(), &handle);
  read.Thumbnails = heif_image_handle_get_number_of_thumbnails(handle);
  if (heif_image_handle_get_color_profile_type(handle) == heif_color_profile_type_prof) {
    read.Profile.resize(heif_image_handle_get_raw_color_profile_size(handle));
    heif_image_handle_get_raw_color_profile(handle, read.Profile.data());
  }
  heif_item_id id = 0;
  if (heif_image_handle_get_list_of_metadata_block_IDs(handle, "Exif", &id, 1) == 1) {
    read.Exif.resize(heif_image_handle_get_metadata_size(handle, id));
    heif_image_handle_get_metadata(handle, id, read.Exif.data());
  }
  // Decoded without applying transforms: the copy must need none.
  heif_decoding_options* options = heif_decoding_options_alloc();
  options->ignore_transformations = 1;
  heif_image* image = nullptr;
  read.Decodes =
      heif_decode_image(handle, &image, heif_colorspace_RGB, heif_chroma_interleaved_RGB, options)
          .code == heif_error_Ok;
  if (read.Decodes) {
    read.Width = heif_image_get_width(image, heif_channel_interleaved);
    read.Height = heif_image_get_height(image, heif_channel_interleaved);
  }
  heif_image_release(image);
  heif_decoding_options_free(options);
  heif_image_handle_release(handle);
  return read;
}

TEST(HeifBranding, TheCopyIsThePrimaryPictureUprightWithoutThumbnailsAtTheChosenQuality) {
  for (const auto& [compression, name] : {std::pair{heif_compression_HEVC, "photo.HEIC"},
                                          std::pair{heif_compression_AV1, "photo.avif"}}) {
    SCOPED_TRACE(name);
    if (!HasEncoder(compression)) {
      GTEST_SKIP() << "no encoder for " << name << " in this libheif";
    }
    const std::vector<std::byte> source = MakeHeif({.Compression = compression,
                                                    .Orientation = heif_orientation_rotate_90_cw,
                                                    .Profile = true,
                                                    .Thumbnail = true});
    ASSERT_EQ(ReadHeif(source).Thumbnails, 1);
    const test::TBrandRun byDefault = BrandBytes(source, name);
    TBrandOptions low;
    low.Quality = 5;
    const test::TBrandRun atLow = BrandBytes(source, name, low);
    for (const test::TBrandRun* run : {&byDefault, &atLow}) {
      ASSERT_EQ(run->Outcome.Kind, TOutcomeKind::Processed) << run->Outcome.Reason;
      const TRead copy = ReadHeif(run->Copy);
      ASSERT_TRUE(copy.Decodes);
      EXPECT_EQ(copy.Pictures, 1);
      EXPECT_EQ(copy.Thumbnails, 0);
      // Upright: turned a quarter, with no transform left to apply.
      EXPECT_EQ(copy.Width, 64);
      EXPECT_EQ(copy.Height, 96);
      EXPECT_EQ(copy.Profile, test::SomeProfile());
      EXPECT_TRUE(copy.Exif.empty());
    }
    EXPECT_LT(atLow.Copy.size(), byDefault.Copy.size());
  }
}

TEST(HeifBranding, ExifIsCarriedByChoiceWithItsOrientationReset) {
  if (!HasEncoder(heif_compression_HEVC)) GTEST_SKIP() << "no HEVC encoder in this libheif";
  const std::vector<std::byte> source =
      MakeHeif({.Orientation = heif_orientation_rotate_180, .Exif = true});
  TBrandOptions keep;
  keep.KeepMetadata = true;
  const test::TBrandRun run = BrandBytes(source, "kept.heif", keep);
  ASSERT_EQ(run.Outcome.Kind, TOutcomeKind::Processed) << run.Outcome.Reason;
  const TRead copy = ReadHeif(run.Copy);
  EXPECT_EQ(copy.Width, 96);
  EXPECT_EQ(copy.Height, 64);
  ASSERT_FALSE(copy.Exif.empty());
  EXPECT_EQ(test::OrientationIn(copy.Exif), 1);
}

TEST(HeifBranding, SequencesLiesAndDamageFailWithAReason) {
  if (HasEncoder(heif_compression_HEVC)) {
    const test::TBrandRun burst = BrandBytes(MakeHeif({.Pictures = 2}), "burst.heic");
    EXPECT_EQ(burst.Outcome.Kind, TOutcomeKind::Failed);
    EXPECT_NE(burst.Outcome.Reason.find("sequences are not branded"), std::string::npos)
        << burst.Outcome.Reason;

    // A small file whose size box claims 70000 x 70000 pixels.
    std::vector<std::byte> huge = MakeHeif({});
    const std::string_view box = "ispe";
    const auto at = std::search(huge.begin(), huge.end(), box.begin(), box.end(),
                                [](std::byte a, char b) { return a == std::byte(b); });
    ASSERT_NE(at, huge.end());
    const std::uint8_t claim[] = {0, 1, 0x11, 0x70, 0, 1, 0x11, 0x70};
    for (std::size_t i = 0; i < sizeof claim; ++i) at[8 + i] = std::byte{claim[i]};
    const test::TBrandRun hostile = BrandBytes(huge, "huge.heic");
    EXPECT_EQ(hostile.Outcome.Kind, TOutcomeKind::Failed);
    EXPECT_NE(hostile.Outcome.Reason.find("70000"), std::string::npos) << hostile.Outcome.Reason;

    std::vector<std::byte> cut = MakeHeif({});
    cut.resize(cut.size() * 2 / 3);
    EXPECT_EQ(BrandBytes(cut, "cut.heic").Outcome.Kind, TOutcomeKind::Failed);
  }
  const std::vector<std::byte> png = {std::byte{0x89}, std::byte{'P'}, std::byte{'N'},
                                      std::byte{'G'}};
  const test::TBrandRun lying = BrandBytes(png, "lying.avif");
  EXPECT_EQ(lying.Outcome.Kind, TOutcomeKind::Failed);
  EXPECT_NE(lying.Outcome.Reason.find("expected a HEIF picture"), std::string::npos)
      << lying.Outcome.Reason;
}

// A grid of 2 x 2 tiles of 64 x 64 pixels on a canvas of 100 x 100, its
// description (32-bit sizes) in the idat box; and the fuzzer's grid whose
// 790 bytes describe a canvas of 65255 x 65519 pixels.
const std::string kGrid =
    SIGILON_SOURCE_DIR "/tests/fuzz/corpus/heif/grid-2x2-tiles-on-100x100.heic";
const std::string kHostileGrid =
    SIGILON_SOURCE_DIR "/tests/fuzz/regressions/heif/grid-canvas-65255x65519-in-790-bytes";

std::vector<std::byte>::iterator Find(std::vector<std::byte>& file, std::string_view box) {
  const auto at = std::search(file.begin(), file.end(), box.begin(), box.end(),
                              [](std::byte a, char b) { return a == std::byte(b); });
  EXPECT_NE(at, file.end()) << box;
  return at;
}

TEST(HeifBranding, GridsBrandAndGridsThatLieAboutTheirCanvasOrTilesFail) {
  if (!HasEncoder(heif_compression_HEVC)) GTEST_SKIP() << "no HEVC encoder in this libheif";
  const std::vector<std::byte> grid = test::ReadBytes(kGrid);
  const test::TBrandRun run = BrandBytes(grid, "grid.heic");
  ASSERT_EQ(run.Outcome.Kind, TOutcomeKind::Processed) << run.Outcome.Reason;
  EXPECT_EQ(ReadHeif(run.Copy).Width, 100);
  EXPECT_EQ(ReadHeif(run.Copy).Height, 100);

  // Each lie, with the words its reason must hold.
  std::vector<std::pair<std::vector<std::byte>, std::string>> lies;
  lies.emplace_back(test::ReadBytes(kHostileGrid), "65255 x 65519");
  // A canvas of 100 x 200 that two rows of 64-pixel tiles cannot cover.
  lies.emplace_back(grid, "to cover its canvas of 100 x 200");
  Find(lies.back().first, "idat")[4 + 4 + 7] = std::byte{200};
  // No canvas at all: 100 x 0.
  lies.emplace_back(grid, "found 100 x 0");
  Find(lies.back().first, "idat")[4 + 4 + 7] = std::byte{0};
  // The first tile 65 pixels wide, the others 64.
  lies.emplace_back(grid, "every tile of 65 x 64");
  Find(lies.back().first, "ispe")[4 + 7] = std::byte{65};
  // Three rows of two tiles claimed, four tiles listed.
  lies.emplace_back(grid, "expected 3 x 2 tiles, found 4");
  Find(lies.back().first, "idat")[4 + 2] = std::byte{2};
  // The first tile drawn in place of the second.
  lies.emplace_back(grid, "drawn once");
  auto tiles = Find(lies.back().first, "dimg") + 4 + 2 + 2;
  std::copy(tiles, tiles + 2, tiles + 2);
  // The grid (item 5) drawn as its own last tile: a loop.
  lies.emplace_back(grid, "nested at most");
  tiles = Find(lies.back().first, "dimg") + 4 + 2 + 2;
  tiles[3 * 2 + 1] = std::byte{5};
  for (const auto& [file, words] : lies) {
    const test::TBrandRun lie = BrandBytes(file, "lie.heic");
    EXPECT_EQ(lie.Outcome.Kind, TOutcomeKind::Failed);
    EXPECT_NE(lie.Outcome.Reason.find(words), std::string::npos) << lie.Outcome.Reason;
  }
}

// A stream that codes frames far bigger than its picture's size box claims:
// 64 x 64 claimed, 1024 x 1024 coded, in HEVC and in AV1.
const std::string kRegressions = SIGILON_SOURCE_DIR "/tests/fuzz/regressions/heif/";
const std::string kGridOf512 =
    SIGILON_SOURCE_DIR "/tests/fuzz/corpus/heif/grid-2x2-tiles-of-512x512-on-1000x1000.heic";

TEST(HeifBranding, StreamsThatCodeFramesOtherThanTheirSizeFailAndTrueOnesBrand) {
  for (const auto& [name, as] :
       {std::pair{"hevc-frame-1024x1024-behind-a-64x64-size-box", "lie.heic"},
        std::pair{"av1-frame-1024x1024-behind-a-64x64-size-box", "lie.avif"}}) {
    SCOPED_TRACE(name);
    const test::TBrandRun lie = BrandBytes(test::ReadBytes(kRegressions + name), as);
    EXPECT_EQ(lie.Outcome.Kind, TOutcomeKind::Failed);
    EXPECT_NE(lie.Outcome.Reason.find("64 x 64"), std::string::npos) << lie.Outcome.Reason;
    EXPECT_NE(lie.Outcome.Reason.find("found 1024 x 1024"), std::string::npos)
        << lie.Outcome.Reason;
  }
  // Frames cropped to an odd size, and a grid of large tiles that the
  // canvas crops.
  std::vector<std::pair<std::vector<std::byte>, std::string>> truths;
  for (const auto compression : {heif_compression_HEVC, heif_compression_AV1}) {
    if (HasEncoder(compression)) {
      truths.emplace_back(MakeHeif({.Compression = compression, .Width = 101, .Height = 67}),
                          compression == heif_compression_AV1 ? "odd.avif" : "odd.heic");
    }
  }
  truths.emplace_back(test::ReadBytes(kGridOf512), "tiles.heic");
  for (const auto& [file, name] : truths) {
    const test::TBrandRun truth = BrandBytes(file, name);
    ASSERT_EQ(truth.Outcome.Kind, TOutcomeKind::Processed) << truth.Outcome.Reason;
    EXPECT_EQ(ReadHeif(truth.Copy).Width, ReadHeif(file).Width) << name;
  }
}

// Bits written most significant first, and the bytes escaped as an encoder
// escapes them so that they cannot imitate a start code.
struct TBitWriter {
  std::vector<std::byte> Bytes;
  unsigned Used = 8;
  void Put(std::uint64_t value, unsigned count) {
    for (unsigned i = count; i-- > 0;) {
      if (Used == 8) {
        Bytes.push_back(std::byte{0});
        Used = 0;
      }
      Bytes.back() |= std::byte(((value >> i) & 1u) << (7 - Used++));
    }
  }
  void ExpGolomb(std::uint64_t value) {
    unsigned bits = 0;
    while ((value + 1) >> (bits + 1) != 0) ++bits;
    Put(0, bits);
    Put(value + 1, bits + 1);
  }
  std::vector<std::byte> Escaped() const {
    std::vector<std::byte> out;
    for (const std::byte b : Bytes) {
      if (out.size() >= 2 && out.end()[-1] == std::byte{0} && out.end()[-2] == std::byte{0} &&
          static_cast<unsigned>(b) <= 3) {
        out.push_back(std::byte{3});
      }
      out.push_back(b);
    }
    return out;
  }
};

TEST(HeifCodedSize, AParameterSetWithSubLayersAndEscapesGivesItsPictureSize) {
  TBitWriter sps;
  sps.Put(0, 4);
  sps.Put(2, 3);  // three sub-layers
  sps.Put(1, 1);
  sps.Put(0, 96);      // the general profile and level, all zero bits
  sps.Put(0b1001, 4);  // a profile for the first sub-layer, a level for the second
  sps.Put(0, 2 * 6);   // reserved up to eight sub-layers
  sps.Put(0, 88);      // the first sub-layer's profile
  sps.Put(0, 8);       // the second's level
  sps.ExpGolomb(0);    // its own number
  sps.ExpGolomb(3);    // 4:4:4, with a plane flag
  sps.Put(0, 1);
  sps.ExpGolomb(1032);
  sps.ExpGolomb(776);
  std::vector<std::byte> nal = {std::byte{33 << 1}, std::byte{1}};
  const std::vector<std::byte> escaped = sps.Escaped();
  ASSERT_GT(escaped.size(), sps.Bytes.size());
  nal.insert(nal.end(), escaped.begin(), escaped.end());
  // One array of one parameter set; the data holds it again behind a
  // four-byte length, and a unit of another layer that is not read.
  std::vector<std::byte> config(21, std::byte{0});
  config.push_back(std::byte{3});
  config.push_back(std::byte{1});
  config.push_back(std::byte{33});
  for (const unsigned value : {0u, 1u, 0u, static_cast<unsigned>(nal.size())}) {
    config.push_back(std::byte(value));
  }
  config.insert(config.end(), nal.begin(), nal.end());
  std::vector<std::byte> data = {std::byte{0}, std::byte{0}, std::byte{0}, std::byte(nal.size())};
  data.insert(data.end(), nal.begin(), nal.end());
  const std::vector<std::byte> otherLayer = {std::byte{0},   std::byte{0},       std::byte{0},
                                             std::byte{3},   std::byte{33 << 1}, std::byte{8},
                                             std::byte{0xFF}};
  data.insert(data.end(), otherLayer.begin(), otherLayer.end());
  std::vector<TCodedSize> sizes;
  ForEachHevcFrameSize(config, data, "sps", [&](const TCodedSize& size) { sizes.push_back(size); });
  ASSERT_EQ(sizes.size(), 2u);
  for (const TCodedSize& size : sizes) {
    EXPECT_EQ(size.Width, 1032u);
    EXPECT_EQ(size.Height, 776u);
  }
  // Cut short inside the sizes, and a data length past the end.
  const auto visitNothing = [](const TCodedSize&) {};
  std::vector<std::byte> cut(config.begin(), config.end() - 2);
  cut[21 + 2 + 5] = std::byte(nal.size() - 2);
  EXPECT_THROW(ForEachHevcFrameSize(cut, {}, "sps", visitNothing), ImageError);
  data[3] = std::byte{0xFF};
  EXPECT_THROW(ForEachHevcFrameSize(config, data, "sps", visitNothing), ImageError);
}

TEST(HeifCodedSize, AnAv1SequenceHeaderWithTimingAndOperatingPointsGivesItsLargestFrame) {
  TBitWriter header;
  header.Put(0, 3 + 1 + 1);
  header.Put(1, 1);  // timing, one picture every six ticks
  header.Put(0, 64);
  header.Put(1, 1);
  header.ExpGolomb(5);
  header.Put(1, 1);  // a decoder model with 10-bit delays
  header.Put(9, 5);
  header.Put(0, 32 + 5 + 5);
  header.Put(1, 1);  // display delays
  header.Put(1, 5);  // two operating points
  header.Put(0, 12);
  header.Put(8, 5);  // a level that has a tier
  header.Put(0, 1);
  header.Put(1, 1);
  header.Put(0, 10 + 10 + 1);
  header.Put(1, 1);
  header.Put(0, 4);
  header.Put(0, 12);
  header.Put(3, 5);
  header.Put(0, 2);
  header.Put(10, 4);  // an 11-bit width and a 10-bit height
  header.Put(9, 4);
  header.Put(1919, 11);
  header.Put(999, 10);
  ASSERT_LT(header.Bytes.size(), 128u);
  const auto size = std::byte(header.Bytes.size());
  // In the configuration; in the data after a temporal delimiter, with an
  // extension byte.
  std::vector<std::byte> config = {std::byte{0x81}, std::byte{0},          std::byte{0},
                                   std::byte{0},    std::byte{1 << 3 | 2}, size};
  config.insert(config.end(), header.Bytes.begin(), header.Bytes.end());
  std::vector<std::byte> data = {std::byte{2 << 3 | 2}, std::byte{0}, std::byte{1 << 3 | 4 | 2},
                                 std::byte{0}, size};
  data.insert(data.end(), header.Bytes.begin(), header.Bytes.end());
  std::vector<TCodedSize> sizes;
  ForEachAv1FrameSize(config, data, "av1",
                      [&](const TCodedSize& found) { sizes.push_back(found); });
  ASSERT_EQ(sizes.size(), 2u);
  for (const TCodedSize& found : sizes) {
    EXPECT_EQ(found.Width, 1920u);
    EXPECT_EQ(found.Height, 1000u);
  }
  // A size field past the end.
  data[1] = std::byte{0x7F};
  EXPECT_THROW(ForEachAv1FrameSize(config, data, "av1", [](const TCodedSize&) {}), ImageError);
}

}  // namespace
}  // namespace sigilon
