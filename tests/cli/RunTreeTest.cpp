// sigilon-brand over folder trees and with converted copies: the tree
// mirrored in the target, links to folders never followed, shares, lists and
// reruns over relative paths, and the refusals made before any file is
// touched. Runs the real program.

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <set>
#include <sstream>

#include "engine/Bitmap.h"
#include "engine/JpegCodec.h"
#include "engine/formats/FormatRegistry.h"
#include "platform/Platform.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

using test::ReadBytes;
using TNames = std::set<std::string>;

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// A small picture, a shade of grey apart from its neighbours.
TBitmap Picture(int shade) {
  TBitmap bitmap(48, 32, TPixelFormat::pf24bit);
  std::fill(bitmap.Pixels().begin(), bitmap.Pixels().end(), static_cast<std::uint8_t>(shade));
  return bitmap;
}

class RunTreeTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = temp.Path() + "/src/";
    fs::create_directories(source + "2024/May");
    fs::create_directories(source + "2024/June");
    fs::create_directories(source + "other");
    WriteWholeFile(source + "top.jpg", EncodeJpeg(Picture(10), 90, "top"));
    WriteWholeFile(source + "2024/May/a.JPG", EncodeJpeg(Picture(80), 90, "a"));
    WriteWholeFile(source + "2024/May/b.bmp", Picture(150).SaveToBytes());
    WriteWholeFile(source + "other/c.jpeg", EncodeJpeg(Picture(200), 90, "c"));
    std::ofstream(source + "2024/notes.txt") << "not a picture";
    fs::create_directory_symlink(source + "2024", source + "linked");
  }

  std::string NewTarget(const std::string& name) {
    const std::string target = temp.Path() + "/" + name + "/";
    fs::create_directories(target);
    return target;
  }

  // Runs sigilon-brand and returns its exit status; its output goes to `out`, `err`.
  int Run(const std::string& options, const std::string& target,
          const std::string& from = std::string()) {
    const std::string log = temp.Path() + "/run.log";
    const std::string command = std::string("'") + SIGILON_BRAND_PROGRAM + "' -j 2 " + options +
                                " Studio '" + (from.empty() ? source : from) + "' '" + target +
                                "' >'" + log + "' 2>'" + log + ".err'";
    const int status = std::system(command.c_str());
    out = ReadText(log);
    err = ReadText(log + ".err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  // The paths after `prefix` + the source on the lines of the last output.
  TNames Lines(const std::string& prefix) const {
    TNames names;
    std::istringstream lines(out);
    for (std::string line; std::getline(lines, line);) {
      if (line.starts_with(prefix + source))
        names.insert(line.substr(prefix.size() + source.size()));
    }
    return names;
  }

  // Every file and folder under `directory`, as relative paths (folders end
  // in "/").
  static TNames Tree(const std::string& directory) {
    TNames names;
    for (const auto& entry : fs::recursive_directory_iterator(directory)) {
      const std::string path = fs::relative(entry.path(), directory).string();
      names.insert(entry.is_directory() ? path + "/" : path);
    }
    return names;
  }

  test::TempDirectory temp;
  std::string source, out, err;
};

constexpr const char* kProcessed = "Processed file: ";
constexpr const char* kFailed = "Failed to process file: ";

TEST_F(RunTreeTest, TheTreeIsMirroredWithoutFollowingLinksToFolders) {
  // Without the option: the folder's own files only, as always.
  const std::string flat = NewTarget("flat");
  ASSERT_EQ(Run("", flat), 0) << err;
  EXPECT_EQ(Lines(kProcessed), TNames{"top.jpg"});
  EXPECT_TRUE(out.ends_with("\n1 files processed.\n")) << out;
  EXPECT_EQ(Tree(flat), TNames{"top.jpg"});

  const std::string tree = NewTarget("tree");
  ASSERT_EQ(Run("--recursive", tree), 0) << err;
  EXPECT_EQ(Lines(kProcessed), (TNames{"top.jpg", "2024/May/a.JPG", "2024/May/b.bmp"}));
  EXPECT_EQ(Lines("File type not processable: "), (TNames{"2024/notes.txt", "other/c.jpeg"}));
  EXPECT_TRUE(out.ends_with("\n5 files processed.\n")) << out;
  // Folders are made for pictures only; nothing through the link.
  EXPECT_EQ(Tree(tree),
            (TNames{"top.jpg", "2024/", "2024/May/", "2024/May/a.JPG", "2024/May/b.bmp"}));
  // All types, every copy a JPEG under the conventional extension; of two
  // sources whose copies share a name, the first listed keeps it.
  WriteWholeFile(source + "top.BMP", Picture(30).SaveToBytes());
  const std::string converted = NewTarget("converted");
  ASSERT_EQ(Run("-r --all-types --convert-to JPEG", converted), 1) << err;
  const TNames second = Lines(kFailed);
  ASSERT_EQ(second.size(), 1u) << out;
  EXPECT_TRUE(*second.begin() == "top.jpg" || *second.begin() == "top.BMP") << out;
  EXPECT_NE(err.find("is the copy of another file of this run"), std::string::npos) << err;
  EXPECT_EQ(Tree(converted), (TNames{"top.jpg", "2024/", "2024/May/", "2024/May/a.jpg",
                                     "2024/May/b.jpg", "other/", "other/c.jpg"}));
  const TBitmap fromBitmap = DecodeJpeg(ReadBytes(converted + "2024/May/b.jpg"), "b");
  EXPECT_EQ(fromBitmap.Width(), 48);
  EXPECT_EQ(fromBitmap.Height(), 32);
}

TEST_F(RunTreeTest, NestedDirectoriesAreRefusedOverATreeBeforeAnyFile) {
  const std::string inside = source + "copies/";
  fs::create_directory(inside);
  fs::create_directory_symlink(source + "2024", temp.Path() + "/to-2024");
  for (const std::string& target : {inside, temp.Path() + "/", temp.Path() + "/to-2024/May/"}) {
    EXPECT_EQ(Run("--recursive", target), 2) << target;
    EXPECT_NE(err.find("one of the Source and Target directories lies inside"), std::string::npos)
        << err;
    EXPECT_TRUE(out.empty()) << out;
  }
  EXPECT_TRUE(fs::is_empty(inside));
  EXPECT_EQ(Tree(source + "2024/May"), (TNames{"a.JPG", "b.bmp"}));
  // A source inside the target, too.
  EXPECT_EQ(Run("-r", temp.Path(), source + "2024"), 2);
  // Without the option a target inside the source is what it always was.
  EXPECT_EQ(Run("", inside), 0) << err;
  EXPECT_EQ(Tree(inside), TNames{"top.jpg"});
}

TEST_F(RunTreeTest, SharesListsAndRerunsTakeRelativePaths) {
  // Two shares by relative path do the tree once between them.
  const std::string shared = NewTarget("shared");
  TNames done;
  std::size_t lines = 0;
  for (const char* share : {"1/2", "2/2"}) {
    ASSERT_EQ(Run(std::string("-r --shard ") + share, shared), 0) << err;
    const TNames processed = Lines(kProcessed);
    lines += processed.size();
    done.insert(processed.begin(), processed.end());
  }
  EXPECT_EQ(lines, 3u);
  EXPECT_EQ(done, (TNames{"top.jpg", "2024/May/a.JPG", "2024/May/b.bmp"}));

  // A rerun with --skip-existing does only what is missing.
  fs::remove(shared + "2024/May/b.bmp");
  ASSERT_EQ(Run("-r --skip-existing", shared), 0) << err;
  EXPECT_EQ(Lines(kProcessed), TNames{"2024/May/b.bmp"});
  EXPECT_EQ(Lines("Skipped file: "), (TNames{"top.jpg", "2024/May/a.JPG"}));

  // Listed paths: inside the tree only, never through a link to a folder.
  const std::string list = temp.Path() + "/list.txt";
  std::ofstream(list) << "2024/May/a.JPG\nlinked/May/b.bmp\n2024/../top.jpg\n2024//May/b.bmp\n"
                      << "/top.jpg\n2024/May/\n2024/May\n./top.jpg\n";
  const std::string listed = NewTarget("listed");
  EXPECT_EQ(Run("-r --files-from '" + list + "'", listed), 1) << err;
  EXPECT_EQ(Lines(kProcessed), TNames{"2024/May/a.JPG"});
  EXPECT_EQ(Lines(kFailed), (TNames{"linked/May/b.bmp", "2024/../top.jpg", "2024//May/b.bmp",
                                    "/top.jpg", "2024/May/", "2024/May", "./top.jpg"}));
  EXPECT_EQ(Tree(listed), (TNames{"2024/", "2024/May/", "2024/May/a.JPG"}));
  // Without the option a path is refused, as it always was.
  const std::string flat = NewTarget("flat");
  EXPECT_EQ(Run("--files-from '" + list + "'", flat), 1);
  EXPECT_TRUE(Lines(kProcessed).empty()) << out;
  EXPECT_TRUE(fs::is_empty(flat));
}

TEST_F(RunTreeTest, TypesThisBuildCannotWriteAreRefusedBeforeAnyFile) {
  const std::string target = NewTarget("dst");
  for (const char* name : {"png", "tiff", "webp", "heic", "avif"}) {
    const std::optional<TConversionType> type = ConversionTypeNamed(name);
    ASSERT_TRUE(type) << name;
    if (ConversionFormat(*type)) continue;  // registered: converted as JPEG is above
    EXPECT_EQ(Run(std::string("--convert-to ") + name, target), 2) << name;
    EXPECT_NE(err.find(": this build cannot write " + std::string(type->Title)), std::string::npos)
        << err;
  }
  for (const char* bad : {"--convert-to gif", "--quality 0", "--quality=101"}) {
    EXPECT_EQ(Run(bad, target), 2) << bad;
  }
  EXPECT_TRUE(fs::is_empty(target));
}

}  // namespace
}  // namespace sigilon
