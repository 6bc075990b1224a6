// The public bitmap test suite: "good" files decode, "questionable" and "bad"
// ones decode or fail cleanly, and whatever decodes survives being written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "tests/codecs_bmp/BmpTestSupport.h"
#include "tests/support/Corpora.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

const fs::path kSuite = fs::path(SIGILON_CORPORA_DIR) / "bmpsuite";

TBitmap LoadSuiteFile(const std::string& name) {
  return LoadBitmapFromBytes(test::ReadBytes((kSuite / name).string()), name);
}

// Calls `row` with each line of a table file, the column names left out.
void ForEachRow(const std::string& table, const std::function<void(const char*)>& row) {
  std::ifstream in(kSuite / table);
  std::string line;
  std::getline(in, line);
  while (std::getline(in, line)) row(line.c_str());
}

struct Expected {
  int width = 0;
  int height = 0;  // unsigned: top-down files give a negative header height
  int bits = 0;
};

// "g/pal8.bmp" -> size and bits from the manifest's header fields.
std::map<std::string, Expected> ReadManifest() {
  std::map<std::string, Expected> out;
  ForEachRow("MANIFEST.tsv", [&](const char* line) {
    char file[256];
    Expected e;
    if (std::sscanf(line, "%255s %*s %*s %*s %dx%d %*s bpp=%d", file, &e.width, &e.height,
                    &e.bits) != 4)
      return;
    e.height = std::abs(e.height);
    out[file] = e;
  });
  return out;
}

// "g/pal8.bmp" -> what the independent decoder made of it ("P", "RGB", ... or "").
std::map<std::string, std::string> ReadOracle() {
  std::map<std::string, std::string> out;
  ForEachRow("ORACLE-pillow-9.4.tsv", [&](const char* line) {
    char file[256], verdict[32], mode[32];
    if (std::sscanf(line, "bmpsuite/%255s %31s %31s", file, verdict, mode) != 3) return;
    out[file] = std::string(verdict) == "DECODED" ? mode : "";
  });
  return out;
}

// Files outside what this program decodes (2-bit, Huffman, RLE24, embedded
// JPEG/PNG, 64-bit).
const std::set<std::string> kMustFail = {
    "q/pal2.bmp",      "q/pal2color.bmp", "q/pal1huffmsb.bmp", "q/rgb24rle24.bmp",
    "q/rgb24jpeg.bmp", "q/rgb24png.bmp",  "q/rgba64.bmp",      "x/ba-bm.bmp",
};

class BmpCorpus : public testing::Test {
 protected:
  void SetUp() override { SIGILON_REQUIRE_CORPUS(kSuite); }

  static std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(kSuite / folder))
      if (entry.path().extension() == ".bmp")
        out.push_back(folder + "/" + entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

int LargestDifference(const TBitmap& a, const TBitmap& b) {
  int worst = 0;
  for (int y = 0; y < a.Height(); ++y)
    for (int x = 0; x < a.Width(); ++x) {
      const TRGBQuad p = a.GetPixel(x, y);
      const TRGBQuad q = b.GetPixel(x, y);
      worst = std::max(
          {worst, std::abs(p.Red - q.Red), std::abs(p.Green - q.Green), std::abs(p.Blue - q.Blue)});
    }
  return worst;
}

// Files of one family show the same picture in different layouts: they must
// agree to within what their format can hold. This catches bit order, row
// order, palette and mask mistakes that size checks cannot.
TEST_F(BmpCorpus, FilesOfOneFamilyShowTheSamePicture) {
  struct Family {
    std::string reference;
    std::vector<std::string> members;
    int tolerance;
  };
  const std::vector<Family> families = {
      {"g/rgb24.bmp",
       {"g/rgb32.bmp", "g/rgb32bf.bmp", "g/rgb32bfdef.bmp", "g/rgb24pal.bmp", "q/rgb24largepal.bmp",
        "q/rgb24prof.bmp", "q/rgb24lprof.bmp", "q/rgb32h52.bmp", "q/rgb32-xbgr.bmp",
        "q/rgb32fakealpha.bmp"},
       0},
      // Channels wider than 8 bits round to within one.
      {"g/rgb24.bmp", {"q/rgb32-111110.bmp", "q/rgb32-7187.bmp"}, 1},
      // 5 bits per channel: within one step of 255/31.
      {"g/rgb24.bmp",
       {"g/rgb16.bmp", "g/rgb16bfdef.bmp", "g/rgb16-565.bmp", "g/rgb16-565pal.bmp",
        "q/rgb16faketrns.bmp", "q/rgba16-5551.bmp"},
       8},
      // 3-bit red and blue: within one step of 255/7.
      {"g/rgb24.bmp", {"q/rgb16-3103.bmp"}, 37},
      // The 8-bit files are a 252-colour reduction of the same picture.
      {"g/rgb24.bmp", {"g/pal8.bmp"}, 64},
      {"g/pal8.bmp",
       {"g/pal8-0.bmp", "g/pal8rle.bmp", "g/pal8topdown.bmp", "g/pal8os2.bmp", "g/pal8v4.bmp",
        "g/pal8v5.bmp", "q/pal8offs.bmp", "q/pal8os2-hs.bmp", "q/pal8os2-sz.bmp", "q/pal8os2sp.bmp",
        "q/pal8os2v2.bmp", "q/pal8os2v2-16.bmp", "q/pal8os2v2-sz.bmp", "q/pal8os2v2-40sz.bmp",
        "q/pal8oversizepal.bmp", "b/rletopdown.bmp"},
       0},
      {"g/pal4.bmp", {"g/pal4rle.bmp"}, 0},
      // Headers that lie about sizes, density or planes over intact pixels.
      {"g/pal1.bmp",
       {"g/pal1wb.bmp", "b/badbitssize.bmp", "b/baddens1.bmp", "b/baddens2.bmp",
        "b/badfilesize.bmp", "b/badplanes.bmp"},
       0},
  };
  for (const Family& family : families) {
    const TBitmap reference = LoadSuiteFile(family.reference);
    for (const std::string& name : family.members) {
      SCOPED_TRACE(name);
      const TBitmap bmp = LoadSuiteFile(name);
      ASSERT_EQ(bmp.Width(), reference.Width());
      ASSERT_EQ(bmp.Height(), reference.Height());
      EXPECT_LE(LargestDifference(bmp, reference), family.tolerance);
    }
  }
}

// Good files must decode; the others may also fail, but only with an
// ImageError naming the file.
TEST_F(BmpCorpus, EveryFileDecodesAsTheManifestSaysOrFailsCleanly) {
  const auto manifest = ReadManifest();
  const auto oracle = ReadOracle();
  EXPECT_EQ(Files("g").size(), 27u);
  for (const std::string folder : {"g", "q", "b", "x"}) {
    for (const std::string& name : Files(folder)) {
      SCOPED_TRACE(name);
      try {
        const TBitmap bmp = LoadSuiteFile(name);
        EXPECT_FALSE(kMustFail.count(name)) << "decoded a file that must fail";
        const Expected& e = manifest.at(name);
        EXPECT_EQ(bmp.Width(), e.width);
        EXPECT_EQ(bmp.Height(), e.height);
        if (folder == "g") {
          EXPECT_EQ(bmp.BitsPerPixel(), e.bits);
          // Where the other decoder managed, it agrees on palette versus true colour.
          const std::string mode = oracle.at(name);
          if (!mode.empty()) {
            EXPECT_EQ(bmp.BitsPerPixel() <= 8, mode == "P" || mode == "1");
          }
        }
        test::ExpectRoundTrip(bmp);
      } catch (const ImageError& error) {
        EXPECT_NE(folder, "g") << error.what();
        EXPECT_EQ(std::string(error.what()).rfind(name + ": ", 0), 0u) << error.what();
      }
    }
  }
  // The files above must have been there to fail.
  for (const std::string& name : kMustFail) EXPECT_TRUE(fs::exists(kSuite / name)) << name;
}

}  // namespace
}  // namespace sigilon
