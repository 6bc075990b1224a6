// The command line over real pictures and the real per-file branding.

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "engine/Bitmap.h"
#include "engine/JpegImage.h"
#include "engine/VCLJpegBitmap_Unit.h"
#include "platform/PlatformDependence_Unit.h"
#include "tests/support/TempDirectory.h"
#include "tools/sigilon-brand/BrandCommand.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

using test::ReadBytes;

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
    for (const char* name : {"a.bmp", "b.JPG", "notes.txt"})
      before[name] = ReadBytes(source + name);
  }

  int Run(std::vector<std::string> args) {
    std::ostringstream o, e;
    const int status = RunBrandCommand(args, BrandFile, o, e);
    out = o.str();
    err = e.str();
    return status;
  }

  bool Printed(const std::string& line) const { return out.find(line + "\n") != std::string::npos; }

  void ExpectSourceUnchanged() {
    for (const auto& [name, bytes] : before) {
      EXPECT_EQ(ReadBytes(source + name), bytes) << name << " was changed";
    }
    EXPECT_EQ(std::distance(fs::directory_iterator(source), fs::directory_iterator()),
              static_cast<std::ptrdiff_t>(before.size()));
  }

  test::TempDirectory temp;
  std::string source, target, out, err;
  std::map<std::string, std::vector<std::byte>> before;
};

TEST_F(BrandRunTest, BrandsPicturesIntoTheTargetAndLeavesTheSourceAlone) {
  ASSERT_EQ(Run({"--font", "\"DejaVu Sans\", 12, [Bold], [clRed]", "Studio", source, target}),
            kExitSuccess)
      << err;
  EXPECT_TRUE(Printed("Processed file: " + source + "a.bmp")) << out;
  EXPECT_TRUE(Printed("Processed file: " + source + "b.JPG")) << out;
  EXPECT_TRUE(Printed("File type not processable: " + source + "notes.txt")) << out;
  EXPECT_TRUE(out.ends_with("\n3 files processed.\n")) << out;
  ExpectSourceUnchanged();

  for (const char* name : {"a.bmp", "b.JPG"}) {
    EXPECT_TRUE(fs::exists(target + name)) << name;
    EXPECT_NE(ReadBytes(target + name), before[name]) << name << " was not branded";
  }
  EXPECT_FALSE(fs::exists(target + "notes.txt"));
}

TEST_F(BrandRunTest, AFailedFileFailsTheRunButNotTheOthers) {
  // A file link in the target must never lead a write into the source.
  fs::create_symlink(source + "a.bmp", target + "a.bmp");
  std::ofstream(source + "broken.jpg") << "not a jpeg at all";
  before["broken.jpg"] = ReadBytes(source + "broken.jpg");
  EXPECT_EQ(Run({"B", source, target}), kExitFileFailed);
  EXPECT_TRUE(Printed("Failed to process file: " + source + "a.bmp")) << out;
  EXPECT_TRUE(Printed("Failed to process file: " + source + "broken.jpg")) << out;
  EXPECT_TRUE(Printed("Processed file: " + source + "b.JPG")) << out;
  EXPECT_TRUE(out.ends_with("\n4 files processed.\n")) << out;
  ExpectSourceUnchanged();
}

}  // namespace
}  // namespace sigilon
