#include <gtest/gtest.h>

#include <sys/wait.h>
#include <unistd.h>

#include <csignal>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <map>
#include <set>

#include "platform/Platform.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TextFiles.h"
#include "tests/support/Throws.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;
using test::ReadText;

std::span<const std::byte> Bytes(const std::string& text) { return std::as_bytes(std::span(text)); }

class Files : public ::testing::Test {
 protected:
  std::string Put(const std::string& name, const std::string& content) const {
    test::WriteText(temp_ / name, content);
    return temp_ / name;
  }
  std::set<std::string> Names(const std::string& sub = "") const {
    std::set<std::string> names;
    for (const auto& entry : fs::directory_iterator(dir_ + sub)) {
      names.insert(entry.path().filename().string());
    }
    return names;
  }
  static void MakeReadOnly(const std::string& path) {
    fs::permissions(path, fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  }

  test::TempDirectory temp_;
  const std::string dir_ = temp_.Path();
};

TEST_F(Files, ReadWholeFile) {
  std::string content(200000, '\0');
  for (std::size_t i = 0; i < content.size(); ++i) content[i] = static_cast<char>(i * 7);
  const std::string path = Put("data.bin", content);
  const auto data = ReadWholeFile(path);
  ASSERT_EQ(data.size(), content.size());
  EXPECT_TRUE(std::equal(data.begin(), data.end(), Bytes(content).begin()));
  EXPECT_TRUE(ReadWholeFile(Put("empty", "")).empty());

  // Read-only files read normally: nothing opens them for writing.
  MakeReadOnly(path);
  EXPECT_EQ(ReadWholeFile(path).size(), content.size());

  try {
    ReadWholeFile(dir_ + "/missing.jpg");
    ADD_FAILURE() << "no error for a missing file";
  } catch (const PlatformError& error) {
    EXPECT_NE(std::string(error.what()).find(dir_ + "/missing.jpg"), std::string::npos);
    EXPECT_NE(std::string(error.what()).find("No such file"), std::string::npos);
  }
  EXPECT_THROW(ReadWholeFile(dir_), PlatformError);
}

TEST_F(Files, ReadWholeFileStopsAtItsLimit) {
  const std::string path = Put("data.bin", std::string(1000, 'x'));
  EXPECT_EQ(ReadWholeFile(path, 1000).size(), 1000u);
  EXPECT_PRED2(test::Contains,
               test::ThrownMessage<PlatformError>([&] { ReadWholeFile(path, 999); }),
               "at most 999 bytes");
  // A device that never ends is cut off too, not read until memory runs out.
  EXPECT_THROW(ReadWholeFile("/dev/zero", 1 << 20), PlatformError);
}

TEST_F(Files, ReadOnlyMeansNoWriteBitAtAll) {
  const std::string path = Put("f", "x");
  EXPECT_FALSE(IsReadOnlyFile(path));
  fs::permissions(path, fs::perms::group_write | fs::perms::owner_read);
  EXPECT_FALSE(IsReadOnlyFile(path));  // someone may still write it
  MakeReadOnly(path);
  EXPECT_TRUE(IsReadOnlyFile(path));
  EXPECT_FALSE(IsReadOnlyFile(dir_ + "/missing"));
  EXPECT_FALSE(IsReadOnlyFile(dir_));
}

TEST_F(Files, WriteWholeFile) {
  const std::string path = dir_ + "/new.txt";
  WriteWholeFile(path, Bytes("first version, long"));
  EXPECT_EQ(ReadText(path), "first version, long");
  WriteWholeFile(path, Bytes("short"));
  EXPECT_EQ(ReadText(path), "short");

  // Refused also for root, who ignores permission bits.
  MakeReadOnly(path);
  EXPECT_THROW(WriteWholeFile(path, Bytes("changed")), PlatformError);
  EXPECT_EQ(ReadText(path), "short");
  EXPECT_THROW(WriteWholeFile(dir_ + "/no/such/dir/file", Bytes("x")), PlatformError);
}

TEST_F(Files, ReplaceFileAtomically) {
  const std::string path = Put("settings.cfg", "old content");
  fs::permissions(path, fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ReplaceFileAtomically(path, Bytes("new content"));
  EXPECT_EQ(ReadText(path), "new content");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
  ReplaceFileAtomically(dir_ + "/created.cfg", Bytes(""));
  EXPECT_TRUE(fs::exists(dir_ + "/created.cfg"));
  EXPECT_EQ(Names(), (std::set<std::string>{"settings.cfg", "created.cfg"}));

  MakeReadOnly(path);
  EXPECT_THROW(ReplaceFileAtomically(path, Bytes("refused")), PlatformError);
  EXPECT_EQ(ReadText(path), "new content");

  // Through a link the linked file is replaced and the link stays.
  const std::string real = Put("real/target.cfg", "before");
  fs::create_symlink(real, dir_ + "/link.cfg");
  ReplaceFileAtomically(dir_ + "/link.cfg", Bytes("after"));
  EXPECT_TRUE(fs::is_symlink(dir_ + "/link.cfg"));
  EXPECT_EQ(ReadText(real), "after");
  EXPECT_EQ(Names("/real"), std::set<std::string>{"target.cfg"});

  EXPECT_THROW(ReplaceFileAtomically(dir_ + "/real", Bytes("x")), PlatformError);
  EXPECT_TRUE(fs::is_directory(dir_ + "/real"));
}

TEST_F(Files, ReplaceInUnwritableDirectoryLeavesNothing) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any directory";
  const std::string path = Put("locked/f.cfg", "old");
  fs::permissions(dir_ + "/locked", fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_THROW(ReplaceFileAtomically(path, Bytes("new")), PlatformError);
  EXPECT_EQ(ReadText(path), "old");
  EXPECT_EQ(Names("/locked"), std::set<std::string>{"f.cfg"});
}

TEST_F(Files, TargetFileAppearsWholeOrNotAtAll) {
  // Written in pieces, visible under its name only once committed.
  const std::string path = dir_ + "/a.jpg";
  {
    TTargetFile file(path);
    file.Write(Bytes("first "));
    file.Write(Bytes("second"));
    EXPECT_EQ(Names(), std::set<std::string>{fs::path(file.TemporaryPath()).filename()});
    EXPECT_TRUE(
        fs::path(file.TemporaryPath()).filename().string().starts_with(".sigilon-partial."));
    file.Commit();
  }
  EXPECT_EQ(ReadText(path), "first second");
  EXPECT_EQ(fs::status(path).permissions() & fs::perms::all,
            fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read |
                fs::perms::others_read);
  // Replacing it with more than is handed to the disk at a time.
  std::string big(9 << 20, 'b');
  for (std::size_t i = 0; i < big.size(); i += 4099) big[i] = static_cast<char>('a' + i % 26);
  {
    TTargetFile file(path);
    for (std::size_t at = 0; at < big.size(); at += 1 << 18) {
      file.Write(Bytes(big.substr(at, 1 << 18)));
    }
    file.Commit();
  }
  EXPECT_TRUE(ReadText(path) == big);
  WriteTargetFile(path, Bytes("first second"));
  // Dropped before Commit (an exception, a cancelled run): the old file stays.
  {
    TTargetFile file(path);
    file.Write(Bytes("half"));
  }
  EXPECT_EQ(ReadText(path), "first second");
  EXPECT_EQ(Names(), std::set<std::string>{"a.jpg"});

  // A link is replaced, never written through; a read-only file and a
  // directory are refused and stay.
  const std::string elsewhere = Put("elsewhere/victim", "keep");
  fs::create_symlink(elsewhere, dir_ + "/link.jpg");
  WriteTargetFile(dir_ + "/link.jpg", Bytes("new"));
  EXPECT_FALSE(fs::is_symlink(dir_ + "/link.jpg"));
  EXPECT_EQ(ReadText(dir_ + "/link.jpg"), "new");
  EXPECT_EQ(ReadText(elsewhere), "keep");
  MakeReadOnly(path);
  EXPECT_THROW(WriteTargetFile(path, Bytes("refused")), PlatformError);
  EXPECT_EQ(ReadText(path), "first second");
  EXPECT_THROW(WriteTargetFile(dir_ + "/elsewhere", Bytes("x")), PlatformError);
  EXPECT_EQ(Names(), (std::set<std::string>{"a.jpg", "link.jpg", "elsewhere"}));
}

TEST_F(Files, KilledWriterLeavesNoPartialFileAndItsLeftoverIsRemovedLater) {
  const std::string path = dir_ + "/big.jpg";
  int ready[2];
  ASSERT_EQ(::pipe(ready), 0);
  const pid_t child = ::fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    TTargetFile file(path);
    file.Write(Bytes(std::string(100000, 'x')));
    const char byte = 1;
    (void)!::write(ready[1], &byte, 1);
    ::pause();  // killed mid-write
    ::_exit(0);
  }
  char byte = 0;
  ASSERT_EQ(::read(ready[0], &byte, 1), 1);
  ::kill(child, SIGKILL);
  ::waitpid(child, nullptr, 0);
  ::close(ready[0]);
  ::close(ready[1]);

  ASSERT_FALSE(fs::exists(path));
  ASSERT_EQ(Names().size(), 1u);
  // A file of this process still being written is not stale; neither is
  // anything that is not named as a temporary.
  TTargetFile inFlight(dir_ + "/other.jpg");
  const std::string plain = Put("photo.jpg", "x");
  EXPECT_EQ(RemoveStaleTargetFiles(dir_ + "/"), 1);
  EXPECT_EQ(Names(),
            (std::set<std::string>{fs::path(inFlight.TemporaryPath()).filename(), "photo.jpg"}));
}

TEST_F(Files, LeftoversOfOtherMachinesAreRemovedOnceADayOld) {
  // Another machine's writers cannot be asked whether they run: their files
  // go by age alone. The numbers name no process here, or a running one.
  const auto aged = [&](const std::string& name, std::chrono::hours age) {
    const std::string path = Put(name, "partial");
    fs::last_write_time(path, fs::file_time_type::clock::now() - age);
    return name;
  };
  aged(".sigilon-partial.node17.4242.0.a.jpg", std::chrono::hours(25));
  const std::string freshForeign =
      aged(".sigilon-partial.node17.4243.0.b.jpg", std::chrono::hours(23));
  aged(".sigilon-partial.c.jpg", std::chrono::hours(48));
  const std::string oldPicture = aged("old.jpg", std::chrono::hours(48));
  Put("fresh.jpg", "x");
  // Even this process's own file is left alone, however old: it may still
  // be committed.
  TTargetFile inFlight(dir_ + "/own.jpg");
  fs::last_write_time(inFlight.TemporaryPath(),
                      fs::file_time_type::clock::now() - std::chrono::hours(48));
  const std::string own = fs::path(inFlight.TemporaryPath()).filename();

  EXPECT_EQ(RemoveStaleTargetFiles(dir_), 2);
  EXPECT_EQ(Names(), (std::set<std::string>{freshForeign, oldPicture, "fresh.jpg", own}));
  inFlight.Commit();
  EXPECT_EQ(ReadText(dir_ + "/own.jpg"), "");
}

TEST_F(Files, WriteErrorLeavesNothingBehind) {
  // A file size limit stands in for a full disk: both fail the write itself.
  const int status = test::RunUnderFileSizeLimit(4096, [&] {
    try {
      WriteTargetFile(dir_ + "/big.jpg", Bytes(std::string(100000, 'x')));
    } catch (const PlatformError& error) {
      return error.Reason() == "File too large" ? 0 : 2;
    }
    return 1;
  });
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << status;
  EXPECT_TRUE(Names().empty());
}

TEST_F(Files, DirectoryIdentity) {
  Put("a/f.jpg", "x");
  Put("b/g.jpg", "y");
  fs::create_directory_symlink(dir_ + "/a", dir_ + "/a-link");
  EXPECT_TRUE(DirectoryExists(dir_ + "/a"));
  EXPECT_TRUE(DirectoryExists(dir_ + "/a-link/"));
  EXPECT_FALSE(DirectoryExists(dir_ + "/a/f.jpg"));
  EXPECT_FALSE(DirectoryExists(dir_ + "/none"));

  EXPECT_TRUE(SameDirectory(dir_ + "/a", dir_ + "/a/"));
  EXPECT_TRUE(SameDirectory(dir_ + "/a", dir_ + "/b/../a/."));
  EXPECT_TRUE(SameDirectory(dir_ + "/a", dir_ + "/a-link"));
  EXPECT_FALSE(SameDirectory(dir_ + "/a", dir_ + "/b"));
  EXPECT_FALSE(SameDirectory(dir_ + "/none", dir_ + "/none"));
  EXPECT_FALSE(SameDirectory(dir_ + "/a/f.jpg", dir_ + "/a/f.jpg"));

  EXPECT_EQ(FileIdentity(dir_ + "/a"), FileIdentity(dir_ + "/a-link"));
  EXPECT_NE(FileIdentity(dir_ + "/a/f.jpg"), FileIdentity(dir_ + "/b/g.jpg"));
  EXPECT_FALSE(FileIdentity(dir_ + "/none").has_value());
}

TEST_F(Files, TargetReachesSource) {
  const std::string source = Put("in/photo.jpg", "picture");
  Put("in/other.jpg", "picture 2");
  fs::create_directories(dir_ + "/out");
  fs::create_directory_symlink(dir_ + "/in", dir_ + "/in-link");

  EXPECT_FALSE(TargetReachesSource(source, dir_ + "/out/photo.jpg"));
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/in/photo.jpg"));
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/in-link/photo.jpg"));
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/out/../in/new.jpg"));

  // A link in the target directory to the source file, or to another file.
  fs::create_symlink(source, dir_ + "/out/photo.jpg");
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/out/photo.jpg"));
  fs::create_symlink("../in/other.jpg", dir_ + "/out/relative.jpg");
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/out/relative.jpg"));
  // A dangling link would create its file in the source directory.
  fs::create_symlink(dir_ + "/in/not-yet.jpg", dir_ + "/out/dangling.jpg");
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/out/dangling.jpg"));
  // A hard link of the source or of another file in its directory.
  fs::create_hard_link(source, dir_ + "/out/hard.jpg");
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/out/hard.jpg"));
  fs::create_hard_link(dir_ + "/in/other.jpg", dir_ + "/out/hard-other.jpg");
  EXPECT_TRUE(TargetReachesSource(source, dir_ + "/out/hard-other.jpg"));

  // Hard-linked elsewhere, but not into the source directory.
  Put("elsewhere/x.jpg", "z");
  fs::create_hard_link(dir_ + "/elsewhere/x.jpg", dir_ + "/out/x.jpg");
  EXPECT_FALSE(TargetReachesSource(source, dir_ + "/out/x.jpg"));
  Put("out/plain.jpg", "p");
  EXPECT_FALSE(TargetReachesSource(source, dir_ + "/out/plain.jpg"));
}

TEST_F(Files, DirectoryListing) {
  Put("list/a.jpg", "a");
  Put("list/sub/inner.jpg", "i");
  fs::create_directory_symlink(dir_ + "/list/sub", dir_ + "/list/sub-link");
  fs::create_symlink(dir_ + "/list/a.jpg", dir_ + "/list/a-link.jpg");
  fs::create_symlink(dir_ + "/list/gone", dir_ + "/list/dangling");

  TDirectoryListing listing(dir_ + "/list");
  ASSERT_TRUE(listing.Valid());
  std::map<std::string, bool> seen;
  while (auto entry = listing.Next()) {
    EXPECT_TRUE(seen.emplace(entry->Name, entry->IsDirectory).second) << entry->Name;
  }
  const std::map<std::string, bool> expected = {{"a.jpg", false},
                                                {"sub", true},
                                                {"sub-link", true},
                                                {"a-link.jpg", false},
                                                {"dangling", false}};
  EXPECT_EQ(seen, expected);
  EXPECT_FALSE(listing.Next().has_value());

  TDirectoryListing missing(dir_ + "/none");
  EXPECT_FALSE(missing.Valid());
  EXPECT_FALSE(missing.Next().has_value());
  TDirectoryListing ofAFile(dir_ + "/list/a.jpg");
  EXPECT_FALSE(ofAFile.Valid());
}

}  // namespace
}  // namespace sigilon
