// Every file of the public BMP and JPEG suites through BrandFile: exactly one
// result line, no crash or hang, bounded memory, and every written file
// decodes again to the size (and, for bitmaps, the format) of its source.

#include <gtest/gtest.h>
#include <sys/resource.h>

#include <filesystem>

#include "engine/BmpCodec.h"
#include "engine/JpegCodec.h"
#include "engine/VCLJpegBitmap_Unit.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;
using test::ReadBytes;

const std::string kFont = "\"DejaVu Sans\", 12, [Bold], [$000080FF]";

bool StartsWith(const std::string& text, const std::string& prefix) {
  return text.compare(0, prefix.size(), prefix) == 0;
}

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

void BrandFolder(const std::string& folder, bool jpeg) {
  const fs::path root = fs::path(SIGILON_CORPORA_DIR) / folder;
  if (!fs::is_directory(root)) GTEST_SKIP() << root << " not found";
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
    std::string line;
    int previews = 0;
    BrandFile(
        "© Proof", kFont, source, output, [&](std::span<const std::byte>) { ++previews; }, line);
    SCOPED_TRACE(name);
    if (StartsWith(line, "Processed file: ")) {
      ++processed;
      EXPECT_EQ(line, "Processed file: " + source);
      EXPECT_EQ(previews, jpeg ? 1 : 0);
      if (jpeg) {
        const TBitmap in = DecodeJpeg(ReadBytes(source), name);
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

TEST(BrandCorpus, BmpSuiteGoodFilesAllBrand) {
  const fs::path root = fs::path(SIGILON_CORPORA_DIR) / "bmpsuite/g";
  if (!fs::is_directory(root)) GTEST_SKIP() << root << " not found";
  test::TempDirectory target;
  for (const auto& entry : fs::directory_iterator(root)) {
    std::string line;
    BrandFile("Proof", kFont, entry.path().string(), target / entry.path().filename().string(),
              nullptr, line);
    EXPECT_EQ(line, "Processed file: " + entry.path().string());
  }
}

TEST(BrandCorpus, BmpSuiteQuestionable) { BrandFolder("bmpsuite/q", false); }
TEST(BrandCorpus, BmpSuiteBad) { BrandFolder("bmpsuite/b", false); }
TEST(BrandCorpus, BmpSuiteBitmapArrayFails) {
  const fs::path root = fs::path(SIGILON_CORPORA_DIR) / "bmpsuite/x";
  if (!fs::is_directory(root)) GTEST_SKIP() << root << " not found";
  test::TempDirectory target;
  for (const auto& entry : fs::directory_iterator(root)) {
    std::string line;
    BrandFile("Proof", kFont, entry.path().string(), target / "x.bmp", nullptr, line);
    EXPECT_EQ(line, "Failed to process file: " + entry.path().string());
  }
}
TEST(BrandCorpus, JpegLibraryTestImages) { BrandFolder("jpeg/libjpeg-turbo", true); }
TEST(BrandCorpus, JpegImageTestSuite) { BrandFolder("jpeg/imagetestsuite", true); }
TEST(BrandCorpus, JpegCrashTests) { BrandFolder("jpeg/image-rs-crashtest", true); }
TEST(BrandCorpus, JpegReferenceSet) { BrandFolder("jpeg/image-rs-reftest", true); }

}  // namespace
}  // namespace sigilon
