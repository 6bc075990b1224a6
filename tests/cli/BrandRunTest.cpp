// The command line over real pictures and the real per-file branding.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"
#include "engine/JpegImage.h"
#include "engine/VCLJpegBitmap_Unit.h"
#include "settings/PlatformDependence_Unit.h"
#include "tests/support/TempDirectory.h"
#include "tools/sigilon-brand/BrandCommand.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

TBitmap Gradient(int width, int height) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y,
                      {static_cast<std::uint8_t>(x * 255 / width),
                       static_cast<std::uint8_t>(y * 255 / height), 200, 0});
    }
  }
  return bitmap;
}

std::vector<std::byte> Bytes(const std::string& path) { return ReadWholeFile(path); }

class BrandRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = temp.Path() + "/src/";
    target = temp.Path() + "/dst/";
    fs::create_directory(source);
    fs::create_directory(target);
    WriteWholeFile(source + "a.bmp", Gradient(120, 90).SaveToBytes());
    WriteWholeFile(source + "b.JPG", BitmapToJpeg(Gradient(160, 100), 90)->CompressedBytes());
    std::ofstream(source + "notes.txt") << "no picture";
    for (const char* name : {"a.bmp", "b.JPG", "notes.txt"}) before[name] = Bytes(source + name);
  }

  int Run(std::vector<std::string> args) {
    std::ostringstream o, e;
    const int status = RunBrandCommand(args, &BrandFile, o, e);
    out = o.str();
    err = e.str();
    return status;
  }

  void ExpectSourceUnchanged() {
    for (const auto& [name, bytes] : before) {
      EXPECT_EQ(Bytes(source + name), bytes) << name << " was changed";
    }
  }

  test::TempDirectory temp;
  std::string source, target, out, err;
  std::map<std::string, std::vector<std::byte>> before;
};

TEST_F(BrandRunTest, BrandsPicturesIntoTheTargetAndLeavesTheSourceAlone) {
  ASSERT_EQ(Run({"--font", "\"DejaVu Sans\", 12, [Bold], [clRed]", "Studio", source, target}),
            kExitSuccess)
      << err;
  EXPECT_NE(out.find("Processed file: " + source + "a.bmp\n"), std::string::npos) << out;
  EXPECT_NE(out.find("Processed file: " + source + "b.JPG\n"), std::string::npos) << out;
  EXPECT_NE(out.find("File type not processable: " + source + "notes.txt\n"), std::string::npos);
  EXPECT_TRUE(out.ends_with("\n3 files processed.\n")) << out;
  ExpectSourceUnchanged();

  const TBitmap bmp = LoadBitmapFromBytes(Bytes(target + "a.bmp"), "a.bmp");
  EXPECT_EQ(bmp.Width(), 120);
  EXPECT_EQ(bmp.Height(), 90);
  EXPECT_NE(Bytes(target + "a.bmp"), before["a.bmp"]) << "nothing was stamped";
  TJPEGImage jpeg;
  jpeg.LoadFromBytes(Bytes(target + "b.JPG"), "b.JPG");
  EXPECT_EQ(jpeg.Width(), 160);
  EXPECT_EQ(jpeg.Height(), 100);
  EXPECT_FALSE(fs::exists(target + "notes.txt"));
}

TEST_F(BrandRunTest, BrokenPictureFailsTheRunButNotTheOthers) {
  std::ofstream(source + "broken.jpg") << "not a jpeg at all";
  EXPECT_EQ(Run({"B", source, target}), kExitFileFailed);
  EXPECT_NE(out.find("Failed to process file: " + source + "broken.jpg\n"), std::string::npos);
  EXPECT_TRUE(out.ends_with("\n4 files processed.\n")) << out;
  EXPECT_TRUE(fs::exists(target + "a.bmp"));
}

TEST_F(BrandRunTest, FileLinkInTheTargetNeverLeadsAWriteIntoTheSource) {
  fs::create_symlink(source + "a.bmp", target + "a.bmp");
  EXPECT_EQ(Run({"B", source, target}), kExitFileFailed);
  EXPECT_NE(out.find("Failed to process file: " + source + "a.bmp\n"), std::string::npos);
  EXPECT_NE(out.find("Processed file: " + source + "b.JPG\n"), std::string::npos);
  ExpectSourceUnchanged();
  EXPECT_EQ(std::distance(fs::directory_iterator(source), fs::directory_iterator()), 3);
}

}  // namespace
}  // namespace sigilon
