// The metadata fuzz target's regressions through BrandFile, with and without
// the picture information kept: each file is stored 60 x 40 with Orientation
// 6 (some also in XMP) and may hide a thumbnail in an awkward place. The copy
// must stand upright, say so wherever it states an orientation, and hold no
// piece of the unbranded thumbnail.

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <string_view>

#include "engine/BrandFile.h"
#include "engine/JpegCodec.h"
#include "engine/JpegMetadata.h"
#include "engine/XmpRewrite.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;
using Bytes = std::vector<std::byte>;

bool Contains(const Bytes& haystack, std::span<const std::byte> needle) {
  return std::ranges::search(haystack, needle).begin() != haystack.end();
}

// The thumbnail stream inside the EXIF segment: from the second start of
// image to the first end of image after it.
std::span<const std::byte> Thumbnail(const Bytes& file) {
  const Bytes soi{std::byte{0xFF}, std::byte{0xD8}}, eoi{std::byte{0xFF}, std::byte{0xD9}};
  const auto begin = std::ranges::search(file.begin() + 2, file.end(), soi.begin(), soi.end());
  const auto end = std::ranges::search(begin.begin(), file.end(), eoi.begin(), eoi.end());
  if (begin.empty() || end.empty()) return {};
  return {begin.begin(), end.end()};
}

// The 32-byte windows of the thumbnail found nowhere else in its file (its
// Huffman tables, say, are the same as the picture's).
std::vector<std::span<const std::byte>> OwnWindows(const Bytes& file,
                                                   std::span<const std::byte> thumbnail) {
  if (thumbnail.empty()) return {};
  const std::size_t at = static_cast<std::size_t>(thumbnail.data() - file.data());
  const Bytes before(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(at));
  const Bytes after(file.begin() + static_cast<std::ptrdiff_t>(at + thumbnail.size()), file.end());
  std::vector<std::span<const std::byte>> windows;
  for (std::size_t i = 0; i + 32 <= thumbnail.size(); ++i) {
    const auto window = thumbnail.subspan(i, 32);
    if (!Contains(before, window) && !Contains(after, window)) windows.push_back(window);
  }
  return windows;
}

TEST(MetadataRegressionTest, CopiesStandUprightSayOneAndHoldNoThumbnail) {
  const fs::path folder = fs::path(SIGILON_SOURCE_DIR) / "tests/fuzz/regressions/metadata";
  const struct {
    const char* name;
    bool thumbnail;
    bool xmp;
  } cases[] = {
      {"thumbnail-kept-length-wraps.jpg", true, false},
      {"thumbnail-kept-before-ifd0.jpg", true, false},
      {"orientation-lost-dangling-ifd1.jpg", false, false},
      {"xmp-orientation-kept-blank-around-eq.jpg", false, true},
  };
  const test::TempDirectory target;
  for (const auto& c : cases) {
    const std::string source = (folder / c.name).string();
    const Bytes original = test::ReadBytes(source);
    ASSERT_FALSE(original.empty()) << source;
    const auto thumbnail = Thumbnail(original);
    const auto windows = OwnWindows(original, thumbnail);
    EXPECT_EQ(ReadJpegMetadata(original).Orientation, 6) << c.name;
    EXPECT_EQ(windows.size() > 16, c.thumbnail) << c.name;

    for (bool keep : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (keep ? " kept" : " dropped"));
      const TBrandOutcome outcome = BrandFile("Sigilon", "\"DejaVu Sans\", 8, [], [clWhite]",
                                              source, target / c.name, nullptr,
                                              {.KeepMetadata = keep});
      ASSERT_EQ(outcome.Kind, TOutcomeKind::Processed) << outcome.Reason;
      const Bytes copy = test::ReadBytes(target / c.name);
      const TBitmap upright = DecodeJpeg(copy, c.name);
      EXPECT_EQ(upright.Width(), 40);
      EXPECT_EQ(upright.Height(), 60);

      const TJpegMetadata written = ReadJpegMetadata(copy);
      EXPECT_EQ(written.Orientation, 1);
      // EXIF always carried when kept (IFD0 reads in every file), XMP where
      // the source has it, and every orientation the XMP states is 1.
      EXPECT_EQ(written.PictureInformation.size(), keep ? 1u + c.xmp : 0u);
      for (const TJpegSegment& segment : written.PictureInformation) {
        const std::string_view text(reinterpret_cast<const char*>(segment.Payload.data()),
                                    segment.Payload.size());
        if (!text.starts_with("http://ns.adobe.com/xap/1.0/")) continue;
        const auto statements = FindXmpStatements(text);
        ASSERT_TRUE(statements && !statements->Orientation.empty());
        for (const TXmpSpan& v : statements->Orientation)
          EXPECT_EQ(text.substr(v.Begin, v.End - v.Begin), std::string_view("1"));
      }
      EXPECT_EQ(std::ranges::count_if(windows, [&](auto w) { return Contains(copy, w); }), 0)
          << "pieces of the thumbnail survived";
    }
  }
}

}  // namespace
}  // namespace sigilon
