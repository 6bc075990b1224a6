// Public JPEG test suites: every file decodes or fails with an ImageError, and
// what decodes is re-encoded and re-decoded. The system library's own results
// (EXPECTED-*.tsv) say what each file should give.

#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <map>
#include <sstream>

#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "platform/Platform.h"
#include "tests/support/Corpora.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

const fs::path kJpegCorpus = fs::path(SIGILON_CORPORA_DIR) / "jpeg";

struct TExpectation {
  bool Decodes = false;
  int Width = 0, Height = 0;
  int ErrorCode = 0;  // libjpeg's message number when it fails
};

// file (relative, "/" separated) -> what the system libjpeg does with it
std::map<std::string, TExpectation> ReadExpectations() {
  std::map<std::string, TExpectation> expectations;
  std::ifstream in(kJpegCorpus / "EXPECTED-libjpeg62-turbo-2.1.5.tsv");
  std::string line;
  while (std::getline(in, line)) {
    if (line.empty() || line[0] == '#' || line.rfind("file\t", 0) == 0) continue;
    std::istringstream fields(line);
    std::string file, outcome, detail;
    std::getline(fields, file, '\t');
    std::getline(fields, outcome, '\t');
    std::getline(fields, detail, '\t');
    TExpectation e;
    e.Decodes = outcome.rfind("OK", 0) == 0;
    if (e.Decodes) {
      std::sscanf(detail.c_str(), "%dx%d", &e.Width, &e.Height);
    } else {
      std::sscanf(detail.c_str(), "#%d", &e.ErrorCode);
    }
    expectations[file] = e;
  }
  return expectations;
}

std::vector<fs::path> CorpusFiles() {
  std::vector<fs::path> files;
  for (const auto& entry : fs::recursive_directory_iterator(kJpegCorpus)) {
    if (entry.is_regular_file() && entry.path().extension() == ".jpg")
      files.push_back(entry.path());
  }
  std::sort(files.begin(), files.end());
  return files;
}

TEST(JpegCorpus, EveryFileDecodesOrFailsCleanlyAndDecodedPicturesRoundTrip) {
  SIGILON_REQUIRE_CORPUS(kJpegCorpus);
  const auto files = CorpusFiles();
  ASSERT_FALSE(files.empty()) << "no pictures in " << kJpegCorpus;
  const auto expectations = ReadExpectations();
  ASSERT_FALSE(expectations.empty());

  int decoded = 0, failed = 0, fourComponent = 0, scanLimited = 0;
  for (const fs::path& path : files) {
    const std::string name = fs::relative(path, kJpegCorpus).generic_string();
    SCOPED_TRACE(name);
    const auto start = std::chrono::steady_clock::now();
    const std::vector<std::byte> data = ReadWholeFile(path.string());

    TJpegHeader header;
    TBitmap bitmap;
    std::string error;
    try {
      header = ReadJpegHeader(data, name);
      bitmap = DecodeJpeg(data, name);
    } catch (const ImageError& e) {
      error = e.what();
    }
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(5));

    const auto expected = expectations.find(name);
    ASSERT_NE(expected, expectations.end()) << "file missing from the expectations";
    const bool fourComponents = header.Components == 4;
    if (!error.empty()) {
      ++failed;
      EXPECT_NE(error.find(name), std::string::npos) << error;
      // Our own bounds stop some files before libjpeg would.
      if (error.find("more than 100 scans") != std::string::npos) {
        ++scanLimited;
        continue;
      }
      const std::uint64_t pixels = std::uint64_t(header.Width) * std::uint64_t(header.Height);
      if (error.find("exceeds the limit") != std::string::npos) {
        EXPECT_GT(pixels, kMaxPixels);
        continue;
      }
      if (error.find("pixels per byte") != std::string::npos) {
        EXPECT_GT(pixels, data.size() * kMaxJpegPixelsPerByte);
        continue;
      }
      EXPECT_FALSE(expected->second.Decodes) << error;
      if (fourComponents) {
        // The system library stops at the colour conversion we add; past it,
        // a damaged file may still fail on its data.
        EXPECT_NE(error.find("JPEG error #"), std::string::npos) << error;
      } else {
        // Fails exactly where the system library fails, with its number.
        EXPECT_NE(error.find("JPEG error #" + std::to_string(expected->second.ErrorCode) + ":"),
                  std::string::npos)
            << error;
      }
      continue;
    }

    ++decoded;
    if (fourComponents) {
      ++fourComponent;
    } else {
      EXPECT_TRUE(expected->second.Decodes);
      EXPECT_EQ(bitmap.Width(), expected->second.Width);
      EXPECT_EQ(bitmap.Height(), expected->second.Height);
    }
    EXPECT_EQ(bitmap.PixelFormat(),
              header.Grayscale ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);

    // What the branding writes: a baseline copy that decodes to the same size,
    // in colour (three components) whatever the source.
    const TBitmap again = DecodeJpeg(EncodeJpeg(bitmap, 100, name), name + " (copy)");
    EXPECT_EQ(again.Width(), bitmap.Width());
    EXPECT_EQ(again.Height(), bitmap.Height());
    EXPECT_EQ(again.PixelFormat(), TPixelFormat::pf24bit);

    // A palette display's decoding of the same file.
    const TBitmap quantised = DecodeJpeg(data, name, DecodeOptionsForDisplay(8));
    EXPECT_EQ(quantised.Width(), bitmap.Width());
    EXPECT_EQ(quantised.PixelFormat(),
              fourComponents ? TPixelFormat::pf24bit : TPixelFormat::pf8bit);
  }
  std::cout << files.size() << " files: " << decoded << " decoded (" << fourComponent
            << " four-component), " << failed << " failed (" << scanLimited
            << " over the scan limit)\n";
  // Guards the expectations against a corpus that silently changed.
  EXPECT_GE(decoded, 75);
  EXPECT_GE(fourComponent, 3);
}

}  // namespace
}  // namespace sigilon
