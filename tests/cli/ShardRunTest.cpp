// sigilon-brand as batch systems run it: several shares of one folder at once,
// lists of names, and reruns that only do the missing work. Runs the real
// program, as separate processes.

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <set>
#include <sstream>
#include <thread>

#include "engine/Bitmap.h"
#include "engine/JpegCodec.h"
#include "platform/Platform.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

using test::ReadBytes;

constexpr const char* kProcessed = "Processed file: ";
constexpr const char* kSkipped = "Skipped file: ";
constexpr const char* kFailed = "Failed to process file: ";

std::string ReadText(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

// The names after `prefix` on lines of `out`, relative to `directory`.
std::multiset<std::string> Names(const std::string& out, const std::string& prefix,
                                 const std::string& directory) {
  std::multiset<std::string> names;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    if (line.starts_with(prefix + directory))
      names.insert(line.substr(prefix.size() + directory.size()));
  }
  return names;
}

class ShardRunTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = temp.Path() + "/src/";
    fs::create_directory(source);
    // 30 pictures of different sizes, both formats.
    for (int i = 0; i < 30; ++i) {
      TBitmap bitmap(40 + 3 * i, 30 + 2 * i, TPixelFormat::pf24bit);
      for (int y = 0; y < bitmap.Height(); ++y)
        for (int x = 0; x < bitmap.Width(); ++x)
          bitmap.SetPixel(x, y,
                          {static_cast<std::uint8_t>(x * 5), static_cast<std::uint8_t>(y * 7),
                           static_cast<std::uint8_t>(i * 8), 0});
      char name[32];
      if (i % 2 == 0) {
        std::snprintf(name, sizeof name, "photo_%02d.JPG", i);
        WriteWholeFile(source + name, EncodeJpeg(bitmap, 90, name));
      } else {
        std::snprintf(name, sizeof name, "scan_%02d.bmp", i);
        WriteWholeFile(source + name, bitmap.SaveToBytes());
      }
      pictures.insert(name);
    }
  }

  std::string NewTarget(const std::string& name) {
    const std::string target = temp.Path() + "/" + name + "/";
    fs::create_directory(target);
    return target;
  }

  // The shell command that runs sigilon-brand with `options` from `source`
  // into `target`, its output into `log`.
  std::string Command(const std::string& options, const std::string& target,
                      const std::string& log) const {
    return std::string("'") + SIGILON_BRAND_PROGRAM + "' " + options + " Studio '" + source +
           "' '" + target + "' >'" + log + "' 2>'" + log + ".err'";
  }

  // Runs sigilon-brand and returns its exit status; its output goes to `out`, `err`.
  int Run(const std::string& options, const std::string& target) {
    const std::string log = temp.Path() + "/run.log";
    const int status = std::system(Command(options, target, log).c_str());
    out = ReadText(log);
    err = ReadText(log + ".err");
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }

  std::set<std::string> Files(const std::string& directory) const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(directory))
      names.insert(entry.path().filename().string());
    return names;
  }

  test::TempDirectory temp;
  std::string source, out, err;
  std::set<std::string> pictures;
};

TEST_F(ShardRunTest, ThreeSharesAtOnceDoTheWholeFolderOnceAsOneRunWould) {
  const std::string whole = NewTarget("whole");
  ASSERT_EQ(Run("", whole), 0) << err;

  const std::string shared = NewTarget("shared");
  std::vector<std::thread> tasks;
  std::vector<int> statuses(3, -1);
  for (int k = 1; k <= 3; ++k) {
    tasks.emplace_back([&, k] {
      const std::string log = temp.Path() + "/shard" + std::to_string(k) + ".log";
      statuses[k - 1] =
          std::system(Command("--shard " + std::to_string(k) + "/3", shared, log).c_str());
    });
  }
  for (auto& task : tasks) task.join();

  std::multiset<std::string> done;
  for (int k = 1; k <= 3; ++k) {
    const std::string log = temp.Path() + "/shard" + std::to_string(k) + ".log";
    EXPECT_EQ(statuses[k - 1], 0) << ReadText(log + ".err");
    const std::string shardOut = ReadText(log);
    const auto names = Names(shardOut, kProcessed, source);
    EXPECT_FALSE(names.empty()) << "share " << k << " of 3 got nothing of 30 files";
    const std::string countLine = std::to_string(names.size()) + " files processed.\n";
    EXPECT_TRUE(shardOut.ends_with(countLine) && shardOut.size() > countLine.size() &&
                shardOut[shardOut.size() - countLine.size() - 1] == '\n')
        << shardOut;
    done.insert(names.begin(), names.end());
  }
  EXPECT_EQ(done.size(), pictures.size()) << "a file was done twice or not at all";
  EXPECT_EQ(std::set<std::string>(done.begin(), done.end()), pictures);
  // Nothing else in the target (no half-written files), and every copy is the
  // one an unsharded run makes.
  ASSERT_EQ(Files(shared), pictures);
  for (const std::string& name : pictures) {
    EXPECT_EQ(ReadBytes(shared + name), ReadBytes(whole + name)) << name;
  }
}

TEST_F(ShardRunTest, ARerunWithSkipExistingDoesOnlyTheMissingFiles) {
  const std::string target = NewTarget("dst");
  ASSERT_EQ(Run("", target), 0) << err;
  std::map<std::string, fs::file_time_type> written;
  for (const std::string& name : pictures) written[name] = fs::last_write_time(target + name);

  ASSERT_EQ(Run("--skip-existing", target), 0) << err;
  EXPECT_EQ(Names(out, kSkipped, source),
            std::multiset<std::string>(pictures.begin(), pictures.end()));
  EXPECT_TRUE(out.ends_with("\n30 files processed.\n")) << out;
  for (const std::string& name : pictures) {
    EXPECT_EQ(fs::last_write_time(target + name), written[name]) << name << " was written again";
  }

  // A task that died half-way: only what it left undone is done now.
  fs::remove(target + "photo_04.JPG");
  fs::remove(target + "scan_07.bmp");
  ASSERT_EQ(Run("--skip-existing", target), 0) << err;
  EXPECT_EQ(Names(out, kProcessed, source),
            (std::multiset<std::string>{"photo_04.JPG", "scan_07.bmp"}));
  EXPECT_EQ(Names(out, kSkipped, source).size(), 28u);
  EXPECT_EQ(Files(target), pictures);
}

TEST_F(ShardRunTest, ListedNamesOnlyAndNeverOutsideTheSourceFolder) {
  const std::string target = NewTarget("dst");
  // A picture beside the source folder, and one in a folder inside it: both
  // named by a list, neither may be read.
  fs::copy_file(source + "photo_00.JPG", temp.Path() + "/outside.JPG");
  fs::create_directory(source + "sub");
  fs::copy_file(source + "photo_02.JPG", source + "sub/inner.JPG");
  const std::string list = temp.Path() + "/list.txt";
  std::ofstream(list) << "scan_01.bmp\n../outside.JPG\nsub/inner.JPG\n"
                      << std::string("a\0b.jpg", 7) << "\n.\n..\n"
                      << temp.Path() << "/outside.JPG\nsub\nmissing.jpg\nphoto_00.JPG\n"
                      << "scan_01.bmp\n";

  EXPECT_EQ(Run("--files-from '" + list + "'", target), 1) << err;
  EXPECT_EQ(Names(out, kProcessed, source),
            (std::multiset<std::string>{"scan_01.bmp", "photo_00.JPG"}));
  // Each refused or failed name has its own line; the reasons go to standard error.
  for (const std::string& name :
       {std::string("../outside.JPG"), std::string("sub/inner.JPG"), std::string("a\0b.jpg", 7),
        std::string("."), std::string(".."), temp.Path() + "/outside.JPG", std::string("sub"),
        std::string("missing.jpg")}) {
    EXPECT_NE(out.find(kFailed + source + name + "\n"), std::string::npos) << name << "\n" << out;
  }
  EXPECT_TRUE(out.ends_with("\n10 files processed.\n")) << out;
  EXPECT_EQ(Files(target), (std::set<std::string>{"scan_01.bmp", "photo_00.JPG"}));

  // A list that cannot be read refuses the run before any file.
  const std::string none = NewTarget("none");
  EXPECT_EQ(Run("--files-from '" + temp.Path() + "/no-such-list'", none), 2);
  EXPECT_NE(err.find("no-such-list"), std::string::npos) << err;
  EXPECT_TRUE(Files(none).empty());

  // The same list on standard input.
  const std::string again = NewTarget("again");
  const std::string log = temp.Path() + "/stdin.log";
  ASSERT_EQ(std::system(("printf 'scan_03.bmp\\nphoto_06.JPG\\n' | " +
                         Command("--files-from -", again, log))
                            .c_str()),
            0)
      << ReadText(log + ".err");
  EXPECT_EQ(Files(again), (std::set<std::string>{"scan_03.bmp", "photo_06.JPG"}));
}

}  // namespace
}  // namespace sigilon
