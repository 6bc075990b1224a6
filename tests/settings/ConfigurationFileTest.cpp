#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>

#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"
#include "settings/Scrambling.h"

#include "tests/support/FileSizeLimit.h"
#include "tests/support/TempDirectory.h"
#include "tests/support/TextFiles.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;
using Names = std::vector<std::string>;

const std::string kHeader = "KESTRO CONFIGURATION FILE";

std::string Scramble(const std::string& plain) {
  return EncodeText("Sigilon", "1.0", "5E2A7C14-9B3D-4F61-A8C2-0D47E95B31F6", plain);
}
std::string Unscramble(const std::string& stored) {
  return DecodeText("Sigilon", "1.0", "5E2A7C14-9B3D-4F61-A8C2-0D47E95B31F6", stored);
}

/// Each test gets a start directory of its own.
class ConfigurationFile : public ::testing::Test {
 protected:
  void SetUp() override {
    previousStart_ = StartDirectory();
    SetStartDirectoryForTesting(directory_ + "/");
    SetApplicationTitle("Sigilon");
    user_ = CurrentUserName();
  }
  void TearDown() override { SetStartDirectoryForTesting(previousStart_); }

  std::string FilePath() const { return directory_ + "/Sigilon.cfg"; }
  std::string FileBytes() const { return test::ReadText(FilePath()); }
  void WriteFileBytes(const std::string& bytes) const { test::WriteText(FilePath(), bytes); }
  /// Plants a file holding these plain lines, each ended by CR LF.
  void WritePlainFile(const std::string& plain) const { WriteFileBytes(Scramble(plain) + "\r\n"); }
  /// Names of everything in the start directory.
  Names DirectoryNames() const {
    Names names;
    for (const auto& entry : fs::directory_iterator(directory_)) {
      names.push_back(entry.path().filename().string());
    }
    return names;
  }
  bool SaveValue(const std::string& name, const std::string& value) const {
    TConfigurationFile config;
    config.Load();
    config.WriteValue(name, value);
    return config.Save();
  }

  test::TempDirectory temp_;
  const std::string directory_ = temp_.Path();
  std::string previousStart_;
  std::string user_;
};

TEST_F(ConfigurationFile, LifeCycleOfEntries) {
  TConfigurationFile config;
  EXPECT_EQ(config.FileName(), "Sigilon.cfg");
  EXPECT_FALSE(config.Load());
  EXPECT_FALSE(config.HasValue("BrandText"));
  EXPECT_EQ(config.ReadValue("BrandText"), "");
  config.WriteValue("BrandText", "  Kestro = Studio  ");
  config.WriteValue("SourceDirectory", "/pictures/in/");
  config.WriteValue("Empty", "");
  ASSERT_TRUE(config.Save());
  EXPECT_EQ(config.ReadValue("BrandText"), "  Kestro = Studio  ");
  EXPECT_EQ(DirectoryNames(), Names{"Sigilon.cfg"});

  // Scrambled digits in CR LF lines; the user's header entry goes last.
  const Names expected = {user_ + ".BrandText=  Kestro = Studio  ",
                          user_ + ".SourceDirectory=/pictures/in/",
                          user_ + ".Empty=", user_ + "." + kHeader + "=YES"};
  std::string plain;
  for (const std::string& line : expected) plain += line + "\r\n";
  const std::string stored = FileBytes();
  ASSERT_GE(stored.size(), 2u);
  EXPECT_EQ(stored.substr(stored.size() - 2), "\r\n");
  EXPECT_EQ(stored.find_first_not_of("0123456789ABCDEF\r\n"), std::string::npos);
  EXPECT_EQ(Unscramble(stored), plain);

  TConfigurationFile loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.Lines(), expected);
  EXPECT_EQ(loaded.ReadValue("brandtext"), "  Kestro = Studio  ");
  EXPECT_TRUE(loaded.HasValue("EMPTY"));
  EXPECT_EQ(loaded.ReadValue("Empty"), "");

  // Writing again moves the entry to the end, once.
  loaded.WriteValue("BRANDTEXT", "new");
  ASSERT_EQ(loaded.Lines().size(), 4u);
  EXPECT_EQ(loaded.Lines().back(), user_ + ".BRANDTEXT=new");
  EXPECT_EQ(loaded.Lines().front(), user_ + ".SourceDirectory=/pictures/in/");
  ASSERT_TRUE(loaded.Save());
  TConfigurationFile again;
  ASSERT_TRUE(again.Load());
  EXPECT_EQ(again.Lines(), loaded.Lines());
}

TEST_F(ConfigurationFile, ValueWithLineBreakSplitsAtTheNextSave) {
  TConfigurationFile config;
  config.WriteValue("BrandText", "first\r\nsecond");
  EXPECT_EQ(config.ReadValue("BrandText"), "first\r\nsecond");
  ASSERT_TRUE(config.Save());
  EXPECT_EQ(config.ReadValue("BrandText"), "first");
  TConfigurationFile loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.ReadValue("BrandText"), "first");
  EXPECT_EQ(loaded.Lines().at(1), "second");
}

TEST_F(ConfigurationFile, ReadingToleratesOtherLineEndsAndCase) {
  ASSERT_TRUE(SaveValue("BrandText", std::string(120, 'b')));  // several scrambled lines
  const std::string stored = FileBytes();
  TConfigurationFile reference;
  ASSERT_TRUE(reference.Load());

  std::string lfOnly, extraEmpty, lower, crOnly;
  for (const char c : stored) {
    if (c != '\r') lfOnly += c;
    if (c != '\n') crOnly += c;
    extraEmpty += c;
    if (c == '\n') extraEmpty += "\r\n\n";
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  for (const std::string& variant : {lfOnly, crOnly, extraEmpty, lower}) {
    WriteFileBytes(variant);
    TConfigurationFile config;
    EXPECT_TRUE(config.Load());
    EXPECT_EQ(config.Lines(), reference.Lines());
  }
}

TEST_F(ConfigurationFile, DamagedFilesDoNotLoad) {
  // The last is decodable but has no header for anyone.
  for (const std::string& bytes :
       {std::string("4\r\n"), std::string("41 2A\r\n"), std::string("not a file at all"),
        std::string(), Scramble("just some text\r\n") + "\r\n"}) {
    WriteFileBytes(bytes);
    TConfigurationFile config;
    EXPECT_FALSE(config.Load()) << bytes;
    EXPECT_FALSE(config.HasValue(kHeader));
  }
}

TEST_F(ConfigurationFile, OversizedFileIsNotRead) {
  // A valid file grown with empty lines, which loading otherwise skips.
  const std::string valid = Scramble(user_ + "." + kHeader + "=YES\r\n") + "\r\n";
  WriteFileBytes(valid + std::string(kMaxConfigurationFileBytes - valid.size(), '\n'));
  EXPECT_TRUE(TConfigurationFile().Load());

  WriteFileBytes(valid + std::string(kMaxConfigurationFileBytes, '\n'));
  TConfigurationFile config;
  config.WriteValue("BrandText", "kept");
  EXPECT_FALSE(config.Load());
  EXPECT_EQ(config.ReadValue("BrandText"), "kept") << "as for any file that cannot be read";
}

TEST_F(ConfigurationFile, HeaderValueIsNotExamined) {
  WritePlainFile(user_ + "." + kHeader + "=NO\r\n" + user_ + ".BrandText=x\r\n");
  TConfigurationFile config;
  ASSERT_TRUE(config.Load());
  ASSERT_TRUE(config.Save());
  TConfigurationFile loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.ReadValue(kHeader), "NO");
  EXPECT_EQ(loaded.Lines().size(), 2u);
}

TEST_F(ConfigurationFile, OtherUsersEntriesSurvive) {
  const std::string other = user_ + "-other";
  const std::string otherLines = other + ".BrandText=theirs\r\n" + other + "." + kHeader +
                                 "=YES\r\n" + other + ".TargetDirectory=/out/\r\n";
  WritePlainFile(otherLines);

  TConfigurationFile config;
  EXPECT_FALSE(config.Load());  // no header for the current user
  EXPECT_FALSE(config.HasValue("BrandText"));
  EXPECT_EQ(config.ReadValue("TargetDirectory"), "");
  config.WriteValue("BrandText", "mine");
  ASSERT_TRUE(config.Save());

  EXPECT_EQ(Unscramble(FileBytes()),
            otherLines + user_ + ".BrandText=mine\r\n" + user_ + "." + kHeader + "=YES\r\n");
  TConfigurationFile loaded;
  ASSERT_TRUE(loaded.Load());
  EXPECT_EQ(loaded.ReadValue("BrandText"), "mine");
}

/// Runs a Save of a large value in a child process whose file size limit is
/// too small for it; `killed` lets the limit's signal end the child mid-write.
int SaveUnderSizeLimit(bool killed) {
  return test::RunUnderFileSizeLimit(
      4096,
      [] {
        TConfigurationFile config;
        config.Load();
        config.WriteValue("BrandText", std::string(100000, 'z'));
        return config.Save() ? 1 : 0;
      },
      killed);
}

TEST_F(ConfigurationFile, FailedSavesKeepTheOldFile) {
  ASSERT_TRUE(SaveValue("BrandText", "kept"));
  const std::string before = FileBytes();

  const int failed = SaveUnderSizeLimit(false);
  ASSERT_TRUE(WIFEXITED(failed));
  EXPECT_EQ(WEXITSTATUS(failed), 0) << "Save must report the failed write";
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(DirectoryNames(), Names{"Sigilon.cfg"});

  // A read-only file is left alone, also when the tests run as root, who
  // could write regardless.
  fs::permissions(FilePath(),
                  fs::perms::owner_read | fs::perms::group_read | fs::perms::others_read);
  TConfigurationFile readOnly;
  ASSERT_TRUE(readOnly.Load());
  readOnly.WriteValue("BrandText", "after");
  EXPECT_FALSE(readOnly.Save());
  EXPECT_EQ(FileBytes(), before);
  EXPECT_EQ(DirectoryNames(), Names{"Sigilon.cfg"});
  fs::permissions(FilePath(), fs::perms::owner_write, fs::perm_options::add);

  ASSERT_TRUE(WIFSIGNALED(SaveUnderSizeLimit(true)));
  EXPECT_EQ(FileBytes(), before);
  TConfigurationFile config;
  EXPECT_TRUE(config.Load());
  EXPECT_EQ(config.ReadValue("BrandText"), "kept");
}

TEST_F(ConfigurationFile, UnwritableDirectoryGivesFalse) {
  if (::geteuid() == 0) GTEST_SKIP() << "root writes into any directory";
  fs::permissions(directory_, fs::perms::owner_read | fs::perms::owner_exec);
  EXPECT_FALSE(SaveValue("BrandText", "x"));
  fs::permissions(directory_, fs::perms::owner_all);
  EXPECT_TRUE(DirectoryNames().empty());
}

TEST_F(ConfigurationFile, FileNameFollowsTheApplicationTitle) {
  SetApplicationTitle("Other");
  TConfigurationFile config;
  EXPECT_EQ(config.FileName(), "Other.cfg");
  config.WriteValue("BrandText", "x");
  ASSERT_TRUE(config.Save());
  SetApplicationTitle("Sigilon");
  EXPECT_EQ(DirectoryNames(), Names{"Other.cfg"});
}

}  // namespace
}  // namespace sigilon
