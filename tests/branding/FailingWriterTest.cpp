// A disk that is full for every file of a long run. Each failed write leaves
// the encoder through libjpeg's error jump; built with AddressSanitizer, the
// leak check at the end of this process finds whatever such a failure leaves
// behind (test.sh runs it there).

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "engine/Bitmap.h"
#include "engine/BrandFile.h"
#include "engine/JpegCodec.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

constexpr int kFiles = 200;

TBitmap Picture(int width, int height) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(
          x, y,
          TRGBQuad{static_cast<std::uint8_t>(x * 2), static_cast<std::uint8_t>(y * 3), 90, 0});
    }
  }
  return bitmap;
}

TEST(FailingWriter, EveryFileOfALongRunFailsAndLeavesNothingBehind) {
  test::TempDirectory dir;
  std::filesystem::create_directory(dir / "out");
  const std::string source = dir / "in.jpg";
  const std::string target = dir / "out/in.jpg";
  test::WriteBytes(source, EncodeJpeg(Picture(120, 80), 90, "in"));

  std::vector<TBrandOutcome> outcomes(kFiles);
  {
    // Far less than any branded copy: the encoder's first bytes fail.
    const test::TFileSizeLimit full(200);
    // On a thread of its own: what a failure leaves on a thread's list of
    // caught exceptions is only lost, and so reported, once the thread ends.
    std::thread run([&] {
      for (int i = 0; i < kFiles; ++i) {
        // The window's path (whole picture, with a preview) and the command
        // line's (in bands) by turns.
        const TPreviewCallback preview = [](std::span<const std::byte>) {};
        outcomes[i] = BrandFile("Proof", "\"DejaVu Sans\", 10, [], [clRed]", source, target,
                                i % 2 ? preview : nullptr);
      }
    });
    run.join();
  }
  for (int i = 0; i < kFiles; ++i) {
    EXPECT_EQ(outcomes[i].Kind, TOutcomeKind::Failed) << "file " << i;
    EXPECT_NE(outcomes[i].Reason.find("File too large"), std::string::npos) << outcomes[i].Reason;
  }
  EXPECT_TRUE(std::filesystem::is_empty(dir / "out"));
}

}  // namespace
}  // namespace sigilon
