#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <random>
#include <sstream>

#include "engine/Errors.h"
#include "engine/MarkPreset.h"
#include "settings/ConfigurationFile.h"
#include "settings/PresetStore.h"
#include "tests/support/RefusalCases.h"
#include "tests/support/TempDirectory.h"
#include "tools/sigilon-brand/BrandCommand.h"

namespace sigilon {
namespace {

namespace fs = std::filesystem;

constexpr const char* kSameDirectory =
    "You cannot save the Target images into the same directory as the Source images because "
    "they would overwrite the Source images!\n";

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

class BrandCommandTest : public ::testing::Test {
 protected:
  void SetUp() override {
    source = temp.Path() + "/src";
    target = temp.Path() + "/dst";
    fs::create_directory(source);
    fs::create_directory(target);
  }

  // Runs the command with a stand-in for BrandFile that records what it was
  // given and answers by extension.
  int Run(std::vector<std::string> args) {
    const auto brand = [this](const std::string& brandText, const std::string& font,
                              const std::string& source, const std::string& target,
                              const TPreviewCallback&,
                              const TBrandOptions& options) -> TBrandOutcome {
      calls.push_back(
          {brandText, font, source, target, options.Display.PixelsPerInch, options.Threads});
      if (throwConvert) throw ConvertError("'x' is not a valid integer value");
      const std::string name = fs::path(source).filename();
      if (name == failFor) return {.Kind = TOutcomeKind::Failed, .Reason = "Permission denied"};
      if (name.ends_with(".jpg") || name.ends_with(".bmp")) return {};
      return {.Kind = TOutcomeKind::NotProcessable};
    };
    // One job: the stand-in records its calls unguarded, in listing order.
    args.insert(args.begin(), "--jobs=1");
    std::ostringstream o, e;
    const int status = RunBrandCommand(args, brand, o, e);
    out = o.str();
    err = e.str();
    return status;
  }

  // Creates files of these names in the source directory.
  void Touch(std::initializer_list<std::string> names) {
    for (const std::string& name : names) std::ofstream(source + "/" + name) << "data";
  }

  test::TempDirectory temp;
  std::string source, target, out, err;
  struct Call {
    std::string brandText, fontText, source, target;
    int ppi;
    int threads;
  };
  std::vector<Call> calls;
  std::string failFor;  // a file name whose branding fails
  bool throwConvert = false;
};

using Args = std::vector<std::string>;

TEST(ParseBrandCommandLine, DefaultsOptionsAndTrailingSlash) {
  const auto c = ParseBrandCommandLine(Args{"Me", "/a/src", "/a/dst/"});
  EXPECT_EQ(c.BrandText, "Me");
  EXPECT_EQ(c.SourceDirectory, "/a/src/");
  EXPECT_EQ(c.TargetDirectory, "/a/dst/");
  EXPECT_EQ(c.FontText, kDefaultBrandFont);
  EXPECT_EQ(c.PixelsPerInch, 96);
  EXPECT_FALSE(c.Help);

  const auto o = ParseBrandCommandLine(
      Args{"--font", "\"A\", 3, [], [clRed]", "--ppi=120", "--", "-dash-", "s", "--ppi"});
  EXPECT_EQ(o.FontText, "\"A\", 3, [], [clRed]");
  EXPECT_EQ(o.PixelsPerInch, 120);
  EXPECT_EQ(o.BrandText, "-dash-");
  EXPECT_EQ(o.TargetDirectory, "--ppi/");

  // Empty arguments stay empty, so the checks can name them.
  const auto e = ParseBrandCommandLine(Args{"", "", ""});
  EXPECT_EQ(e.SourceDirectory, "");
  EXPECT_EQ(e.TargetDirectory, "");

  EXPECT_TRUE(ParseBrandCommandLine(Args{"--help"}).Help);

  for (const Args& jobs : {Args{"-j", "3"}, Args{"-j3"}, Args{"--jobs", "3"}, Args{"--jobs=3"}}) {
    Args args = jobs;
    args.insert(args.end(), {"a", "b", "c"});
    EXPECT_EQ(ParseBrandCommandLine(args).Jobs, 3) << jobs[0];
  }
  EXPECT_EQ(c.Jobs, 0);  // not given: one per processor

  const auto shared = ParseBrandCommandLine(
      Args{"--shard", "2/5", "--files-from=-", "--skip-existing", "a", "b", "c"});
  EXPECT_EQ(shared.Shard.Index, 2u);
  EXPECT_EQ(shared.Shard.Count, 5u);
  EXPECT_EQ(shared.FilesFrom, "-");
  EXPECT_TRUE(shared.SkipExisting);
  EXPECT_EQ(c.Shard.Count, 1u);  // not given: the whole folder
  EXPECT_FALSE(c.FilesFrom);

  const auto m = ParseBrandCommandLine(Args{"--keep-metadata", "--strict", "a", "b", "c"});
  EXPECT_TRUE(m.KeepMetadata);
  EXPECT_TRUE(m.Strict);
  EXPECT_FALSE(c.KeepMetadata || c.Strict);
  EXPECT_EQ(c.Look, TStampLook{});
  const auto look = ParseBrandCommandLine(
      Args{"--relative-size", "2.5", "--opacity=40%", "--outline", "CLWHITE", "a", "b", "c"});
  EXPECT_EQ(look.Look, (TStampLook{.RelativeSize = 2.5, .Opacity = 40, .Outline = 0x00FFFFFF}));
  EXPECT_EQ(ParseBrandCommandLine(Args{"--outline=$00336699", "a", "b", "c"}).Look.Outline,
            0x00336699);
  EXPECT_EQ(ParseBrandCommandLine(Args{"--outline=clNone", "a", "b", "c"}).Look.Outline,
            std::nullopt);
  const auto placed = ParseBrandCommandLine(
      Args{"--layout", "single", "--anchor=center", "--margin", "5%", "--angle", "-30.5",
           "--spacing=2", "--shadow", "--fields", "a", "b", "c"});
  EXPECT_EQ(placed.Look, (TStampLook{.Layout = TMarkLayout::Single,
                                     .Spacing = 2,
                                     .Angle = -30.5,
                                     .Anchor = TMarkAnchor::Centre,
                                     .Margin = 5,
                                     .Shadow = true}));
  EXPECT_TRUE(placed.Fields);
  EXPECT_FALSE(c.Fields);
  EXPECT_EQ(ParseBrandCommandLine(Args{"--anchor", "top-left", "a", "b", "c"}).Look.Anchor,
            TMarkAnchor::TopLeft);
}

TEST(ParseBrandCommandLine, RefusesBadUsage) {
  const std::vector<Args> bad = {
      {},
      {"a", "b"},
      {"a", "b", "c", "d"},
      {"--bogus", "a", "b", "c"},
      {"a", "b", "c", "--font"},
      {"--ppi", "0", "a", "b", "c"},
      {"--ppi", "10001", "a", "b", "c"},
      {"--ppi", "96x", "a", "b", "c"},
      {"--ppi=", "a", "b", "c"},
      {"--ppi", "-5", "a", "b", "c"},
      {"-j", "0", "a", "b", "c"},
      {"--jobs=257", "a", "b", "c"},
      {"a", "b", "c", "-j"},
      {"--shard", "0/3", "a", "b", "c"},
      {"--shard", "4/3", "a", "b", "c"},
      {"--shard=1/65537", "a", "b", "c"},
      {"a", "b", "c", "--files-from"},
      {"--relative-size", "0.4", "a", "b", "c"},
      {"--relative-size=50.5", "a", "b", "c"},
      {"--relative-size=nan", "a", "b", "c"},
      {"--opacity", "0", "a", "b", "c"},
      {"--opacity", "101", "a", "b", "c"},
      {"--opacity", "50.5", "a", "b", "c"},
      {"--outline", "clText", "a", "b", "c"},
      {"--outline=", "a", "b", "c"},
      {"--layout", "grid", "a", "b", "c"},
      {"--spacing", "0.49", "a", "b", "c"},
      {"--spacing=10.5", "a", "b", "c"},
      {"--spacing=1%", "a", "b", "c"},
      {"--angle", "-90.1", "a", "b", "c"},
      {"--angle=91", "a", "b", "c"},
      {"--angle=inf", "a", "b", "c"},
      {"--anchor", "middle", "a", "b", "c"},
      {"--anchor=Top", "a", "b", "c"},
      {"--margin", "-1", "a", "b", "c"},
      {"--margin=51", "a", "b", "c"},
      {"a", "b", "c", "--margin"},
  };
  for (const auto& args : bad) {
    EXPECT_THROW(ParseBrandCommandLine(args), TUsageError) << ::testing::PrintToString(args);
  }
}

// A configuration file of the current user holding one preset, as the window
// writes it.
std::string WritePresetFile(const std::string& directory, const std::string& name,
                            const TMarkPreset& preset) {
  const std::string path = directory + "/Sigilon.cfg";
  TConfigurationFile store(path);
  WritePreset(store, name, MarkPresetToText(preset));
  if (!store.Save()) ADD_FAILURE() << "cannot write " << path;
  return path;
}

TEST(ParseBrandCommandLine, APresetStandsInForTheDefaultsAndTypedOptionsOverrideIt) {
  test::TempDirectory temp;
  const TMarkPreset preset{.BrandText = "© {stem}",
                           .FontText = "\"DejaVu Sans\", 20, [Bold], [clWhite]",
                           .Look = {.Opacity = 70,
                                    .Layout = TMarkLayout::Single,
                                    .Anchor = TMarkAnchor::TopLeft,
                                    .Shadow = true},
                           .Fields = true};
  const std::string config = WritePresetFile(temp.Path(), "Studio ☀ corner", preset);
  const auto used =
      ParseBrandCommandLine(Args{"--preset", "Studio ☀ corner", "--config", config, "in", "out"});
  EXPECT_EQ(used.BrandText, preset.BrandText);
  EXPECT_EQ(used.FontText, preset.FontText);
  EXPECT_EQ(used.Look, preset.Look);
  EXPECT_TRUE(used.Fields);
  EXPECT_EQ(used.SourceDirectory, "in/");
  EXPECT_EQ(used.TargetDirectory, "out/");
  // Typed beside it, before or after, an option and the brand text win.
  const auto overridden =
      ParseBrandCommandLine(Args{"--opacity=30", "--preset=Studio ☀ corner", "--config=" + config,
                                 "--anchor", "top", "typed", "in", "out"});
  TStampLook expected = preset.Look;
  expected.Opacity = 30;
  expected.Anchor = TMarkAnchor::Top;
  EXPECT_EQ(overridden.Look, expected);
  EXPECT_EQ(overridden.BrandText, "typed");
  EXPECT_EQ(overridden.FontText, preset.FontText);

  // No file, a file of no preset of that name, a preset that does not read,
  // one half of the pair, or no directories: refused.
  TConfigurationFile store(config);
  ASSERT_TRUE(store.Load());
  WritePreset(store, "broken", "Spacing=99");
  ASSERT_TRUE(store.Save());
  for (const Args& bad :
       std::vector<Args>{{"--preset", "x", "--config", temp.Path() + "/none.cfg", "in", "out"},
                         {"--preset", "studio ☀ corner", "--config", config, "in", "out"},
                         {"--preset", "broken", "--config", config, "in", "out"},
                         {"--preset", "Studio ☀ corner", "in", "out"},
                         {"--config", config, "a", "in", "out"},
                         {"--preset", "Studio ☀ corner", "--config", config, "out"}}) {
    EXPECT_THROW(ParseBrandCommandLine(bad), TUsageError) << ::testing::PrintToString(bad);
  }
}

TEST_F(BrandCommandTest, UsageErrorsAndHelp) {
  EXPECT_EQ(Run({"a", "b"}), kExitRefused);
  EXPECT_NE(err.find("--help"), std::string::npos);
  EXPECT_EQ(out, "");

  EXPECT_EQ(Run({"--help"}), kExitSuccess);
  EXPECT_TRUE(out.starts_with("Usage: sigilon-brand [OPTION]... BRAND_TEXT SOURCE_DIR TARGET_DIR"));
  EXPECT_NE(out.find(kDefaultBrandFont), std::string::npos);
  EXPECT_TRUE(calls.empty());
}

TEST_F(BrandCommandTest, ChecksComeInOrderWithTheWindowProgramsTexts) {
  const std::string missing = temp.Path() + "/missing";
  const std::vector<std::pair<Args, std::string>> cases = {
      {{"", "", ""}, "You must enter the Brand Text setting.\n"},
      {{"B", "", ""}, "You must set the Source Path setting.\n"},
      {{"B", missing, ""}, "You must set the Target Path setting.\n"},
      {{"B", missing, missing + "/"}, kSameDirectory},
      {{"B", missing, target}, "The Source Directory \"" + missing + "/\" does not exist.\n"},
      {{"B", source, missing}, "The Target Directory \"" + missing + "/\" does not exist.\n"},
      {{"--font", "\"A\", big, [], [clBlack]", "B", source, target},
       "The font description text cannot be read: 'big' is not a valid integer value\n"},
      // A window-only colour is not a drawing colour.
      {{"--font", "\"A\", 9, [], [clButton]", "B", source, target},
       "The font description text cannot be read: 'clButton' is not a valid integer value\n"},
  };
  Touch({"a.jpg"});
  for (const auto& [args, message] : cases) {
    EXPECT_EQ(Run(args), kExitRefused) << message;
    EXPECT_EQ(err, message);
    EXPECT_EQ(out, "");
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(BrandCommandTest, RefusesWhatTheWindowProgramRefuses) {
  Touch({"a.jpg"});
  for (const test::RefusalCase& c : test::RefusalCases(source, target, temp.Path() + "/start")) {
    if (c.WindowOnly) continue;
    EXPECT_EQ(Run({c.BrandText, c.SourceDirectory, c.TargetDirectory}), kExitRefused) << c.Name;
    EXPECT_EQ(err, c.Message + "\n") << c.Name;
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(BrandCommandTest, SameDirectoryUnderAnotherNameIsRefused) {
  fs::create_directory_symlink(source, temp.Path() + "/link");
  for (const std::string& other :
       {source + "/.", temp.Path() + "/dst/../src", temp.Path() + "//src", temp.Path() + "/link"}) {
    EXPECT_EQ(Run({"B", source, other}), kExitRefused) << other;
    EXPECT_EQ(err, kSameDirectory) << other;
  }
  EXPECT_TRUE(calls.empty());
}

TEST_F(BrandCommandTest, WalksEveryFileOnceAndSummarises) {
  // Another run's unfinished target is no picture of the folder.
  Touch({"a.jpg", "b.txt", "c.bmp", ".hidden.jpg", ".sigilon-partial.host.99.0.d.jpg"});
  fs::create_directory(source + "/sub.jpg");
  std::ofstream(source + "/sub.jpg/inner.jpg") << "data";

  EXPECT_EQ(Run({"--ppi", "150", "--font", "\"Z\", 4, [], [clRed]", "Brand", source, target}),
            kExitSuccess);
  EXPECT_TRUE(err.starts_with("sigilon-brand: warning: font \"Z\" is not installed")) << err;
  auto lines = Lines(out);
  ASSERT_EQ(lines.size(), 6u) << out;
  EXPECT_EQ(lines[4], "");
  EXPECT_EQ(lines[5], "4 files processed.");
  lines.resize(4);
  std::sort(lines.begin(), lines.end());
  EXPECT_EQ(lines, (std::vector<std::string>{
                       "File type not processable: " + source + "/b.txt",
                       "Processed file: " + source + "/.hidden.jpg",
                       "Processed file: " + source + "/a.jpg",
                       "Processed file: " + source + "/c.bmp",
                   }));
  ASSERT_EQ(calls.size(), 4u);
  for (const auto& call : calls) {
    EXPECT_EQ(call.brandText, "Brand");
    EXPECT_EQ(call.fontText, "\"Z\", 4, [], [clRed]");
    EXPECT_EQ(call.ppi, 150);
    EXPECT_EQ(call.target, target + "/" + fs::path(call.source).filename().string());
  }
}

TEST_F(BrandCommandTest, OneFileStillSaysFilesAndGetsTheDefaults) {
  Touch({"only.bmp"});
  EXPECT_EQ(Run({"B", source, target}), kExitSuccess);
  EXPECT_EQ(Lines(out).back(), "1 files processed.");
  EXPECT_EQ(calls.at(0).fontText, kDefaultBrandFont);
  EXPECT_EQ(calls.at(0).ppi, 96);
  EXPECT_EQ(calls.at(0).threads, 1);

  // A single picture may use every core the jobs were meant for.
  EXPECT_EQ(Run({"-j3", "B", source, target}), kExitSuccess);
  EXPECT_EQ(calls.at(1).threads, 3);
}

TEST_F(BrandCommandTest, NoEntriesGiveTheNoImagesLine) {
  fs::create_directory(source + "/only-a-folder");
  EXPECT_EQ(Run({"B", source, target}), kExitSuccess);
  EXPECT_EQ(out, "There were no images to process in the Source Directory.\n");
}

TEST_F(BrandCommandTest, AFailedFileGivesExitOneAfterTheFullWalk) {
  Touch({"a.jpg", "bad.jpg", "c.bmp"});
  failFor = "bad.jpg";
  EXPECT_EQ(Run({"B", source, target}), kExitFileFailed);
  EXPECT_NE(out.find("Failed to process file: " + source + "/bad.jpg\n"), std::string::npos);
  EXPECT_EQ(Lines(out).back(), "3 files processed.");
  EXPECT_EQ(calls.size(), 3u);
  // The reason goes to standard error only.
  EXPECT_EQ(err, "sigilon-brand: " + source + "/bad.jpg: Permission denied\n");
}

TEST_F(BrandCommandTest, UnreadableFontFromBrandFileEndsTheRunWithoutSummary) {
  Touch({"a.jpg", "b.jpg"});
  throwConvert = true;
  EXPECT_EQ(Run({"B", source, target}), kExitRefused);
  EXPECT_EQ(err, "'x' is not a valid integer value\n");
  EXPECT_EQ(out, "");
  EXPECT_EQ(calls.size(), 1u);
}

TEST_F(BrandCommandTest, AFaceThatIsNotInstalledWarnsOnceOrIsRefusedUnderStrict) {
  Touch({"a.jpg", "b.jpg", "c.bmp"});
  const std::string missing = "\"No Such Face Sigilon\", 9, [Bold], [clRed]";
  EXPECT_EQ(Run({"--font", missing, "B", source, target}), kExitSuccess);
  const std::string warning =
      "sigilon-brand: warning: font \"No Such Face Sigilon\" is not installed; "
      "fontconfig substitutes \"";
  EXPECT_TRUE(err.starts_with(warning)) << err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n'), 1) << err;
  EXPECT_EQ(calls.size(), 3u);
  EXPECT_EQ(Lines(out).back(), "3 files processed.");

  // Refused before any file is touched.
  calls.clear();
  EXPECT_EQ(Run({"--strict", "--font", missing, "B", source, target}), kExitRefused);
  EXPECT_TRUE(err.ends_with(" (refused under --strict)\n")) << err;
  EXPECT_EQ(out, "");
  EXPECT_TRUE(calls.empty());

  // An installed face, in any letter case, and a generic family pass quietly.
  for (const char* font : {"\"DejaVu Sans\", 9, [], [clBlack]", "\"dejavu SANS\", 9, [], [clBlack]",
                           "\"sans-serif\", 9, [], [clBlack]"}) {
    EXPECT_EQ(Run({"--strict", "--font", font, "B", source, target}), kExitSuccess) << font;
    EXPECT_EQ(err, "") << font;
  }
}

TEST_F(BrandCommandTest, AnUnreadableLogoRefusesTheRunBeforeAnyFile) {
  Touch({"a.jpg"});
  std::ofstream(temp.Path() + "/text.png") << "not a picture";
  std::ofstream(temp.Path() + "/text.svg") << "<svg";
  for (const std::string& logo :
       {temp.Path() + "/missing.png", temp.Path() + "/text.png", temp.Path() + "/text.svg"}) {
    calls.clear();
    EXPECT_EQ(Run({"--logo", logo, "B", source, target}), kExitRefused) << logo;
    EXPECT_TRUE(calls.empty()) << logo;
    EXPECT_NE(err.find("--logo"), std::string::npos) << err;
    EXPECT_TRUE(fs::is_empty(target)) << logo;
  }
}

}  // namespace
}  // namespace sigilon
