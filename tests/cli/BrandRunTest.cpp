// The command line over real pictures and the real per-file branding.

#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <map>
#include <sstream>

#include "engine/Bitmap.h"
#include "engine/BmpCodec.h"
#include "engine/BrandFile.h"
#include "engine/JpegCodec.h"
#include "engine/JpegMetadata.h"
#include "engine/formats/PngFormat.h"
#include "platform/Platform.h"
#include "tests/support/FileSizeLimit.h"
#include "tests/support/JpegSegments.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TextFiles.h"
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
    WriteWholeFile(source + "b.JPG", EncodeJpeg(Gradient(160, 100), 90, "b.JPG"));
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

TEST_F(BrandRunTest, DamagedJpegWarnsOrFailsWithStrict) {
  std::vector<std::byte> jpeg = EncodeJpeg(Gradient(160, 100), 90, "jpeg");
  jpeg.resize(jpeg.size() / 2);
  WriteWholeFile(source + "b.JPG", jpeg);

  EXPECT_EQ(Run({"Studio", source, target}), kExitSuccess);
  EXPECT_TRUE(Printed("Processed file: " + source + "b.JPG"));
  EXPECT_NE(err.find("sigilon-brand: " + source + "b.JPG: warning: Premature end of JPEG file"),
            std::string::npos)
      << err;
  fs::remove(target + "b.JPG");

  EXPECT_EQ(Run({"--strict", "Studio", source, target}), kExitFileFailed);
  EXPECT_TRUE(Printed("Failed to process file: " + source + "b.JPG"));
  EXPECT_TRUE(Printed("Processed file: " + source + "a.bmp"));
  EXPECT_NE(err.find("sigilon-brand: " + source + "b.JPG: damaged JPEG data:"), std::string::npos)
      << err;
  EXPECT_FALSE(fs::exists(target + "b.JPG"));
}

TEST_F(BrandRunTest, KeepMetadataCarriesXmpIntoTheCopy) {
  const std::string xmp = std::string("http://ns.adobe.com/xap/1.0/\0", 29) + "<x:xmpmeta/>";
  const std::vector<TJpegSegment> markers = {{kJpegApp1, test::Payload(xmp)}};
  WriteWholeFile(source + "b.JPG", EncodeJpeg(Gradient(160, 100), 90, "b", markers));
  for (const bool keep : {false, true}) {
    std::vector<std::string> args = {"Studio", source, target};
    if (keep) args.insert(args.begin(), "--keep-metadata");
    EXPECT_EQ(Run(args), kExitSuccess);
    const TJpegMetadata written = ReadJpegMetadata(ReadBytes(target + "b.JPG"));
    EXPECT_EQ(written.PictureInformation.size(), keep ? 1u : 0u);
  }
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

// "p" followed by the number and the extension.
std::string Numbered(int i, const char* extension) {
  std::string name = std::to_string(i);
  name.insert(0, 1, 'p');
  return name.append(extension);
}

// The directory's files by name with their bytes.
std::map<std::string, std::vector<std::byte>> Contents(const std::string& directory) {
  std::map<std::string, std::vector<std::byte>> files;
  for (const auto& entry : fs::directory_iterator(directory)) {
    files[entry.path().filename()] = ReadBytes(entry.path());
  }
  return files;
}

TEST_F(BrandRunTest, ManyJobsGiveWhatOneJobGives) {
  for (int i = 0; i < 7; ++i) {
    const std::string name = Numbered(i, i % 2 ? ".jpg" : ".bmp");
    const TBitmap picture = Gradient(100 + 37 * i, 80 + 11 * i);
    WriteWholeFile(source + name,
                   i % 2 ? EncodeJpeg(picture, 85, "picture") : picture.SaveToBytes());
  }
  std::ofstream(source + "broken.jpg") << "not a jpeg at all";
  fs::create_directory(source + "sub");

  ASSERT_EQ(Run({"--jobs", "1", "B", source, target}), kExitFileFailed);
  const std::string oneOut = out, oneErr = err;
  const auto oneFiles = Contents(target);
  EXPECT_NE(oneErr.find("sigilon-brand: " + source + "broken.jpg: "), std::string::npos);
  for (const char* jobs : {"2", "5", "256"}) {
    fs::remove_all(target);
    fs::create_directory(target);
    EXPECT_EQ(Run({"-j", jobs, "B", source, target}), kExitFileFailed);
    EXPECT_EQ(out, oneOut) << jobs;
    EXPECT_EQ(err, oneErr) << jobs;
    EXPECT_TRUE(Contents(target) == oneFiles) << jobs;
  }
  EXPECT_EQ(oneFiles.size(), 9u);  // seven pictures, a.bmp and b.JPG
}

TEST_F(BrandRunTest, FieldsBrandWhatTheExpandedTextBrands) {
  const std::vector<std::string> look = {"--layout", "single", "--shadow", "--angle", "10"};
  const auto run = [&](std::vector<std::string> args) {
    fs::remove_all(target);
    fs::create_directory(target);
    args.insert(args.begin(), look.begin(), look.end());
    EXPECT_EQ(Run(args), kExitSuccess) << err;
    return Contents(target);
  };
  const auto filled = run({"--fields", "{name} {{1}}", source, target});
  EXPECT_EQ(err, "");
  fs::remove(source + "a.bmp");
  const auto typed = run({"b.JPG {1}", source, target});
  EXPECT_TRUE(filled.at("b.JPG") == typed.at("b.JPG"));
  // A field the picture lacks warns and is left out.
  run({"--fields", "{artist}b.JPG {{1}}", source, target});
  EXPECT_NE(err.find(source + "b.JPG: warning: the picture has no {artist}"), std::string::npos)
      << err;
  EXPECT_TRUE(Contents(target).at("b.JPG") == filled.at("b.JPG"));
}

TEST_F(BrandRunTest, ASingleMarkStandsAtItsCornerOfTheUprightPicture) {
  // Stored 200 x 120, shown turned a quarter clockwise: 120 x 200 upright.
  TBitmap white(200, 120, TPixelFormat::pf24bit);
  for (int y = 0; y < 120; ++y) {
    for (int x = 0; x < 200; ++x) white.SetPixel(x, y, {255, 255, 255, 0});
  }
  const std::vector<TJpegSegment> markers = {{kJpegApp1, test::ExifPayload({.Orientation = 6})}};
  WriteWholeFile(source + "b.JPG", EncodeJpeg(white, 95, "b", markers));
  for (const char* jobs : {"1", "2"}) {
    ASSERT_EQ(Run({"-j", jobs, "--layout", "single", "--margin", "10", "--relative-size", "8", "B",
                   source, target}),
              kExitSuccess);
    const TBitmap upright = DecodeJpeg(ReadBytes(target + "b.JPG"), "b");
    ASSERT_EQ(upright.Width(), 120);
    int inkLeft = 120, inkTop = 200, inkRight = -1, inkBottom = -1;
    for (int y = 0; y < 200; ++y) {
      for (int x = 0; x < 120; ++x) {
        if (upright.GetPixel(x, y).Red > 128) continue;
        inkLeft = std::min(inkLeft, x), inkTop = std::min(inkTop, y);
        inkRight = std::max(inkRight, x), inkBottom = std::max(inkBottom, y);
      }
    }
    // 10 % of the shorter side (12 pixels) from the bottom and right edges.
    EXPECT_NEAR(inkRight, 120 - 12 - 1, 2) << jobs;
    EXPECT_NEAR(inkBottom, 200 - 12 - 1, 2) << jobs;
    EXPECT_GT(inkLeft, 40) << jobs;
    EXPECT_GT(inkTop, 150) << jobs;
  }
}

TEST_F(BrandRunTest, ALogoNeedsNoBrandText) {
  // A 20 x 20 opaque red logo, placed in the top-left corner of white.
  TBitmap logo(20, 20, TPixelFormat::pfBGRA32);
  for (int y = 0; y < 20; ++y) {
    for (int x = 0; x < 20; ++x) {
      std::uint8_t* bgra = logo.Row(y).data() + 4 * x;
      bgra[0] = bgra[1] = 0;
      bgra[2] = bgra[3] = 255;
    }
  }
  const std::string logoPath = temp.Path() + "/logo.png";
  WriteWholeFile(logoPath,
                 PngFormat().EncodeWhole(logo, {.Name = logoPath, .Width = 20, .Height = 20}));
  const std::string white = temp.Path() + "/white/";
  fs::create_directory(white);
  TBitmap picture(120, 90, TPixelFormat::pf24bit);
  for (int y = 0; y < 90; ++y) {
    for (int x = 0; x < 120; ++x) picture.SetPixel(x, y, {255, 255, 255, 0});
  }
  WriteWholeFile(white + "w.bmp", picture.SaveToBytes());
  ASSERT_EQ(Run({"--logo", logoPath, "--layout", "single", "--anchor", "top-left", "--margin", "0",
                 "", white, target}),
            kExitSuccess)
      << err;
  const TBitmap branded = LoadBitmapFromBytes(ReadBytes(target + "w.bmp"), "w.bmp");
  int red = 0, other = 0;
  for (int y = 0; y < 90; ++y) {
    for (int x = 0; x < 120; ++x) {
      const TRGBQuad p = branded.GetPixel(x, y);
      if (x < 20 && y < 20) {
        red += p.Red == 255 && p.Green == 0 && p.Blue == 0;
      } else {
        other += p.Red != 255 || p.Green != 255 || p.Blue != 255;
      }
    }
  }
  EXPECT_EQ(red, 20 * 20);
  EXPECT_EQ(other, 0);  // no text under it
}

TEST_F(BrandRunTest, RunningNumbersAreTheSameForEveryJobCount) {
  for (int i = 0; i < 6; ++i) {
    WriteWholeFile(source + Numbered(i, ".jpg"), EncodeJpeg(Gradient(90, 70), 85, "n"));
  }
  const auto run = [&](const char* jobs, const char* text, bool fields) {
    fs::remove_all(target);
    fs::create_directory(target);
    std::vector<std::string> args = {"-j",   jobs,  "--layout=single", "--anchor=centre", text,
                                     source, target};
    if (fields) args.insert(args.begin(), "--fields");
    Run(args);
    return Contents(target);
  };
  const auto one = run("1", "#{n}", true);
  for (const char* jobs : {"2", "4"}) EXPECT_TRUE(run(jobs, "#{n}", true) == one) << jobs;
  // The number is the entry's place in the listing the result lines follow.
  std::istringstream lines(out);
  std::string line;
  std::map<std::string, int> number;
  for (int n = 1; std::getline(lines, line) && line.find(source) != std::string::npos; ++n) {
    number[line.substr(line.find(source) + source.size())] = n;
  }
  ASSERT_EQ(number.size(), 9u);  // six pictures, a.bmp, b.JPG, notes.txt
  // The picture listed last among the numbered ones, whatever the listing.
  std::string last = "p0.jpg";
  for (int i = 1; i < 6; ++i) {
    if (number.at(Numbered(i, ".jpg")) > number.at(last)) last = Numbered(i, ".jpg");
  }
  const std::string expanded = std::string("#").append(std::to_string(number.at(last)));
  const auto typed = run("1", expanded.c_str(), false);
  EXPECT_TRUE(typed.at(last) == one.at(last)) << last;
  EXPECT_FALSE(one.at(last) == one.at(last == "p1.jpg" ? "p2.jpg" : "p1.jpg"));
}

TEST_F(BrandRunTest, AWriteErrorFailsThatFileAndTheRunGoesOn) {
  // A file size limit stands in for a full disk: b.JPG is branded small
  // enough, the large picture is not.
  WriteWholeFile(source + "large.bmp", Gradient(600, 400).SaveToBytes());
  const int status = test::RunUnderFileSizeLimit(200000, [&] {
    const int exitCode = Run({"-j1", "B", source, target});
    std::ofstream(temp.Path() + "/out") << out;
    std::ofstream(temp.Path() + "/err") << err;
    return exitCode;
  });
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), kExitFileFailed);
  out = test::ReadText(temp.Path() + "/out");
  EXPECT_TRUE(Printed("Failed to process file: " + source + "large.bmp")) << out;
  EXPECT_TRUE(Printed("Processed file: " + source + "b.JPG")) << out;
  EXPECT_TRUE(out.ends_with("\n4 files processed.\n")) << out;
  EXPECT_NE(test::ReadText(temp.Path() + "/err").find("large.bmp: Cannot write file"),
            std::string::npos);
  // Nothing half-written, under any name.
  EXPECT_EQ(Contents(target).count("large.bmp"), 0u);
  for (const auto& [name, bytes] : Contents(target)) EXPECT_FALSE(name.starts_with(".")) << name;
}

TEST_F(BrandRunTest, InterruptFinishesTheFileInHandAndSummarises) {
  for (int i = 0; i < 10; ++i) {
    WriteWholeFile(source + Numbered(i, ".bmp"), Gradient(70, 50).SaveToBytes());
  }
  // The second file to begin raises the interrupt itself, so it lands there
  // however fast or slow the machine is.
  constexpr int kJobs = 2;
  std::atomic<int> begun{0};
  const auto brandRaisingInterrupt = [&](auto&&... arguments) {
    if (++begun == 2) ::raise(SIGINT);
    return BrandFile(std::forward<decltype(arguments)>(arguments)...);
  };
  // In a child of its own: the signal handling stays there.
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    CatchStopSignals();
    std::ostringstream o, e;
    const std::vector<std::string> args = {"-j" + std::to_string(kJobs), "B", source, target};
    const int exitCode = RunBrandCommand(args, brandRaisingInterrupt, o, e);
    std::ofstream(temp.Path() + "/out") << o.str();
    std::ofstream(temp.Path() + "/begun") << begun;
    ::_exit(exitCode);
  }
  int status = 0;
  ASSERT_EQ(::waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status)) << status;
  EXPECT_EQ(WEXITSTATUS(status), kExitCanceled);
  const std::string printed = test::ReadText(temp.Path() + "/out");
  const std::size_t filesBegun = std::stoul(test::ReadText(temp.Path() + "/begun"));

  out = printed;
  std::vector<std::string> lines;
  std::istringstream in(printed);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  ASSERT_GE(lines.size(), 5u) << printed;
  const std::size_t files = lines.size() - 4;
  // Every file begun has its line; after the interrupt only what the walk had
  // already handed over begins, one file per job at the most.
  EXPECT_EQ(files, filesBegun);
  EXPECT_LE(filesBegun, 2u + kJobs);
  EXPECT_EQ(lines[files], "");
  EXPECT_EQ(lines[files + 1], "Operation Canceled by User.");
  EXPECT_EQ(lines[files + 2], "");
  EXPECT_EQ(lines[files + 3], std::to_string(files) + " files processed.");
  // Every file begun was finished: no temporary, and a target per picture line.
  std::size_t pictures = 0;
  for (std::size_t i = 0; i < files; ++i) {
    pictures += lines[i].starts_with("Processed file: ") ? 1 : 0;
  }
  const auto written = Contents(target);
  for (const auto& [name, bytes] : written) EXPECT_FALSE(name.starts_with(".")) << name;
  EXPECT_EQ(written.size(), pictures);
}

}  // namespace
}  // namespace sigilon
