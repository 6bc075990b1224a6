// The public bitmap test suite: "good" files decode, "questionable" and "bad"
// ones decode or fail cleanly, and whatever decodes survives being written.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "tests/codecs_bmp/BmpTestSupport.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

const fs::path kSuite = fs::path(SIGILON_CORPORA_DIR) / "bmpsuite";

std::vector<std::byte> ReadFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  std::vector<char> chars((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  std::vector<std::byte> bytes(chars.size());
  std::memcpy(bytes.data(), chars.data(), chars.size());
  return bytes;
}

std::vector<std::vector<std::string>> ReadTsv(const fs::path& path) {
  std::vector<std::vector<std::string>> rows;
  std::ifstream in(path);
  std::string line;
  std::getline(in, line);  // column names
  while (std::getline(in, line)) {
    std::vector<std::string> cells;
    std::stringstream ss(line);
    std::string cell;
    while (std::getline(ss, cell, '\t')) cells.push_back(cell);
    rows.push_back(cells);
  }
  return rows;
}

struct Expected {
  int width = 0;
  int height = 0;  // unsigned: top-down files give a negative header height
  int bits = 0;
};

// "g/pal8.bmp" -> size and bits from the manifest's header fields.
std::map<std::string, Expected> ReadManifest() {
  std::map<std::string, Expected> out;
  for (const auto& cells : ReadTsv(kSuite / "MANIFEST.tsv")) {
    if (cells.size() < 7) continue;
    Expected e;
    const std::string& size = cells[4];
    const auto x = size.find('x');
    e.width = std::stoi(size.substr(0, x));
    e.height = std::abs(std::stoi(size.substr(x + 1)));
    e.bits = std::stoi(cells[6].substr(cells[6].find('=') + 1));
    out[cells[0]] = e;
  }
  return out;
}

// "g/pal8.bmp" -> what the independent decoder made of it ("P", "RGB", ... or "").
std::map<std::string, std::string> ReadOracle() {
  std::map<std::string, std::string> out;
  for (const auto& cells : ReadTsv(kSuite / "ORACLE-pillow-9.4.tsv")) {
    if (cells.size() < 3) continue;
    const std::string key = cells[0].substr(std::string("bmpsuite/").size());
    out[key] = cells[1] == "DECODED" ? cells[2] : "";
  }
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
  void SetUp() override {
    if (!fs::is_directory(kSuite)) GTEST_SKIP() << "no corpus at " << kSuite;
  }

  // Writes and re-reads a decoded picture: same size and format, same pixels,
  // and a second write gives the same bytes.
  static void ExpectSurvivesWriting(const TBitmap& bmp) {
    const auto first = SaveBitmapToBytes(bmp);
    const TBitmap reread = LoadBitmapFromBytes(first, "rewritten");
    test::ExpectSamePicture(bmp, reread);
    EXPECT_EQ(first, SaveBitmapToBytes(reread));
  }

  static std::vector<std::string> Files(const std::string& folder) {
    std::vector<std::string> out;
    for (const auto& entry : fs::directory_iterator(kSuite / folder))
      if (entry.path().extension() == ".bmp")
        out.push_back(folder + "/" + entry.path().filename().string());
    std::sort(out.begin(), out.end());
    return out;
  }
};

TEST_F(BmpCorpus, GoodFilesDecodeAsTheManifestSays) {
  const auto manifest = ReadManifest();
  const auto oracle = ReadOracle();
  const auto files = Files("g");
  EXPECT_EQ(files.size(), 27u);
  for (const std::string& name : files) {
    SCOPED_TRACE(name);
    TBitmap bmp;
    ASSERT_NO_THROW(bmp = LoadBitmapFromBytes(ReadFile(kSuite / name), name));
    const Expected& e = manifest.at(name);
    EXPECT_EQ(bmp.Width(), e.width);
    EXPECT_EQ(bmp.Height(), e.height);
    EXPECT_EQ(bmp.BitsPerPixel(), e.bits);
    // Where the other decoder managed, it agrees on palette versus true colour.
    const std::string mode = oracle.at(name);
    if (!mode.empty()) {
      EXPECT_EQ(bmp.BitsPerPixel() <= 8, mode == "P" || mode == "1");
    }
    ExpectSurvivesWriting(bmp);
  }
}

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
    const TBitmap reference =
        LoadBitmapFromBytes(ReadFile(kSuite / family.reference), family.reference);
    for (const std::string& name : family.members) {
      SCOPED_TRACE(name);
      const TBitmap bmp = LoadBitmapFromBytes(ReadFile(kSuite / name), name);
      ASSERT_EQ(bmp.Width(), reference.Width());
      ASSERT_EQ(bmp.Height(), reference.Height());
      EXPECT_LE(LargestDifference(bmp, reference), family.tolerance);
    }
  }
}

TEST_F(BmpCorpus, QuestionableAndBadFilesDecodeOrFailCleanly) {
  const auto manifest = ReadManifest();
  for (const std::string folder : {"q", "b", "x"}) {
    for (const std::string& name : Files(folder)) {
      SCOPED_TRACE(name);
      try {
        const TBitmap bmp = LoadBitmapFromBytes(ReadFile(kSuite / name), name);
        EXPECT_FALSE(kMustFail.count(name)) << "decoded a file that must fail";
        const Expected& e = manifest.at(name);
        EXPECT_EQ(bmp.Width(), e.width);
        EXPECT_EQ(bmp.Height(), e.height);
        ExpectSurvivesWriting(bmp);
      } catch (const ImageError& error) {
        EXPECT_EQ(std::string(error.what()).rfind(name + ": ", 0), 0u) << error.what();
      }
    }
  }
  for (const std::string& name : kMustFail)
    EXPECT_THROW(LoadBitmapFromBytes(ReadFile(kSuite / name), name), ImageError) << name;
}

}  // namespace
}  // namespace sigilon
