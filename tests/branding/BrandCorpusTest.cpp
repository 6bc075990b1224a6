// Every file of the public BMP and JPEG suites through BrandFile: exactly one
// result line, no crash or hang, bounded memory, every written file decodes
// again to the size (and, for bitmaps, the format) of its source, a JPEG's
// preview shows the pixels that decoding and stamping it whole give, and its
// copy is byte for byte the same in one thread or two, with or without a
// preview.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <filesystem>
#include <memory>

#include "engine/BmpCodec.h"
#include "engine/BrandFile.h"
#include "engine/Canvas.h"
#include "engine/JpegCodec.h"
#include "engine/JpegMetadata.h"
#include "tests/support/Corpora.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;

const std::string kFont = "\"DejaVu Sans\", 12, [Bold], [$000080FF]";

// A lying header must not be able to take the machine's memory: with the
// address space capped, such a file fails instead of thrashing.
void CapAddressSpace() {
  constexpr rlim_t kCap = rlim_t{6} << 30;
  rlimit limit{};
  if (::getrlimit(RLIMIT_AS, &limit) == 0 &&
      (limit.rlim_cur == RLIM_INFINITY || limit.rlim_cur > kCap)) {
    limit.rlim_cur = kCap;
    ::setrlimit(RLIMIT_AS, &limit);
  }
}

enum class Expect { kEither, kProcessed, kFailed };

void BrandFolder(const std::string& folder, Expect expect = Expect::kEither) {
  const fs::path root = fs::path(SIGILON_CORPORA_DIR) / folder;
  SIGILON_REQUIRE_CORPUS(root);
  const bool jpeg = folder.starts_with("jpeg/");
  CapAddressSpace();
  test::TempDirectory target;
  int processed = 0;
  int failed = 0;
  for (const auto& entry : fs::directory_iterator(root)) {
    const std::string name = entry.path().filename().string();
    const std::string extension = entry.path().extension().string();
    if (extension != ".bmp" && extension != ".jpg") continue;
    const std::string source = entry.path().string();
    const std::string output = target / name;
    int previews = 0;
    std::vector<std::byte> shown;
    const TBrandOutcome outcome =
        BrandFile("© Proof", kFont, source, output, [&](std::span<const std::byte> picture) {
          ++previews;
          shown.assign(picture.begin(), picture.end());
        });
    const std::string line = ResultLine(outcome.Kind, source);
    SCOPED_TRACE(name);
    const bool ok = outcome.Kind == TOutcomeKind::Processed;
    if (jpeg) {
      // Streamed without a preview, or encoded on a second thread while the
      // preview is shown: the same outcome and, when written, the same bytes.
      for (const int threads : {1, 2}) {
        for (const bool preview : {false, true}) {
          if (threads == 1 && preview) continue;  // the run above
          const std::string again = target / ("again-" + name);
          TBrandOptions options{.Display = {}, .Threads = threads};
          if (preview) options.PicturePreview = [](std::shared_ptr<const TBitmap>) {};
          const TBrandOutcome repeated =
              BrandFile("© Proof", kFont, source, again, nullptr, options);
          EXPECT_EQ(repeated.Kind, outcome.Kind) << threads << " threads, preview " << preview;
          EXPECT_EQ(repeated.Warnings, outcome.Warnings);
          if (ok) {
            EXPECT_EQ(ReadBytes(again), ReadBytes(output))
                << threads << " threads, preview " << preview;
          }
        }
      }
    }
    if (expect != Expect::kEither) {
      EXPECT_EQ(ok, expect == Expect::kProcessed) << line;
    }
    if (ok) {
      ++processed;
      EXPECT_EQ(line, "Processed file: " + source);
      EXPECT_EQ(previews, jpeg ? 1 : 0);
      if (jpeg) {
        const TBitmap in = DecodeJpeg(ReadBytes(source), name);
        // An upright picture's preview: the whole picture decoded and stamped.
        if (ReadJpegMetadata(ReadBytes(source)).Orientation == 1) {
          TBitmap stamped = in;
          TFont font;
          TextToFont(kFont, font);
          StampBrandText("© Proof", font, stamped);
          const TBitmap preview = LoadBitmapFromBytes(shown, "preview").ToBits24();
          EXPECT_EQ(preview.Width(), stamped.Width());
          EXPECT_EQ(preview.Height(), stamped.Height());
          EXPECT_TRUE(std::ranges::equal(preview.Pixels(), stamped.ToBits24().Pixels()));
        }
        const TJpegHeader header = ReadJpegHeader(ReadBytes(output), name);
        EXPECT_EQ(header.Components, 3);
        EXPECT_FALSE(header.Progressive);
        EXPECT_EQ(header.Width, in.Width());
        EXPECT_EQ(header.Height, in.Height());
      } else {
        const TBitmap in = LoadBitmapFromBytes(ReadBytes(source), name);
        const TBitmap out = LoadBitmapFromBytes(ReadBytes(output), name);
        EXPECT_EQ(out.Width(), in.Width());
        EXPECT_EQ(out.Height(), in.Height());
        EXPECT_EQ(out.PixelFormat(), in.PixelFormat());
      }
    } else {
      ++failed;
      EXPECT_EQ(line, "Failed to process file: " + source);
    }
  }
  ::testing::Test::RecordProperty("processed", processed);
  ::testing::Test::RecordProperty("failed", failed);
  EXPECT_GT(processed + failed, 0);
}

TEST(BrandCorpus, BmpSuiteGoodFilesAllBrand) { BrandFolder("bmpsuite/g", Expect::kProcessed); }
TEST(BrandCorpus, BmpSuiteQuestionable) { BrandFolder("bmpsuite/q"); }
TEST(BrandCorpus, BmpSuiteBad) { BrandFolder("bmpsuite/b"); }
TEST(BrandCorpus, BmpSuiteBitmapArrayFails) { BrandFolder("bmpsuite/x", Expect::kFailed); }
TEST(BrandCorpus, JpegLibraryTestImages) { BrandFolder("jpeg/libjpeg-turbo"); }
TEST(BrandCorpus, JpegImageTestSuite) { BrandFolder("jpeg/imagetestsuite"); }
TEST(BrandCorpus, JpegCrashTests) { BrandFolder("jpeg/image-rs-crashtest"); }
TEST(BrandCorpus, JpegReferenceSet) { BrandFolder("jpeg/image-rs-reftest"); }

}  // namespace
}  // namespace sigilon
