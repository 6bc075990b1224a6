#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "engine/Errors.h"
#include "engine/MarkPreset.h"
#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"
#include "settings/PresetStore.h"
#include "tests/support/TempDirectory.h"

namespace sigilon {
namespace {

using Names = std::vector<std::string>;

// Names that a key of the store could not hold as they are: blanks, letters
// beyond ASCII, what splits an entry, what ends a line, and two names that
// differ only in case.
const Names kAwkwardNames{"Studio corner", "Ström ☀ 写真", "a=b",    "two\nlines",
                          "100%;",         "Wedding",      "wedding"};

TEST(PresetStore, NamesOfAnyCharactersComeBackThroughTheFile) {
  test::TempDirectory temp;
  const std::string path = temp.Path() + "/Sigilon.cfg";
  {
    TConfigurationFile store(path);
    store.WriteValue("BrandText", "kept");
    for (std::size_t i = 0; i < kAwkwardNames.size(); ++i) {
      WritePreset(store, kAwkwardNames[i], "preset " + std::to_string(i));
    }
    ASSERT_TRUE(store.Save());
  }
  TConfigurationFile store(path);
  ASSERT_TRUE(store.Load());
  EXPECT_EQ(PresetNames(store), kAwkwardNames);
  for (std::size_t i = 0; i < kAwkwardNames.size(); ++i) {
    EXPECT_EQ(ReadPreset(store, kAwkwardNames[i]), "preset " + std::to_string(i));
  }
  EXPECT_EQ(store.ReadValue("BrandText"), "kept");

  // Saving again replaces and moves to the end; removing leaves the others.
  WritePreset(store, "Wedding", "new");
  RemovePreset(store, "a=b");
  RemovePreset(store, "never stored");
  EXPECT_EQ(PresetNames(store),
            (Names{"Studio corner", "Ström ☀ 写真", "two\nlines", "100%;", "wedding", "Wedding"}));
  EXPECT_EQ(ReadPreset(store, "Wedding"), "new");
  EXPECT_FALSE(ReadPreset(store, "a=b"));
  EXPECT_FALSE(ReadPreset(store, "WEDDING"));
}

TEST(PresetStore, OnlyHexadecimalNamesAreListedAsPresets) {
  TConfigurationFile store;
  store.WriteValue("Preset.6162", "mine");  // "ab"
  store.WriteValue("Preset.zz", "not hexadecimal");
  store.WriteValue("Preset.616", "odd");
  store.WriteValue("Preset.", "empty");
  store.WriteValue("Presets", "another entry");
  EXPECT_EQ(PresetNames(store), Names{"ab"});
  // Each preset is one entry of the current user, as every setting is.
  EXPECT_EQ(store.Lines().front(), CurrentUserName() + ".Preset.6162=mine");
}

TEST(MarkPreset, EveryPartOfTheMarkSurvivesItsText) {
  const TMarkPreset preset{.BrandText = "© {artist}; 100% ☀\nline=2",
                           .FontText = "\"DejaVu Sans\", 14, [Bold], [clRed]",
                           .Look = {.RelativeSize = 4.25,
                                    .Opacity = 60,
                                    .Outline = 0x00FF00,
                                    .Layout = TMarkLayout::Single,
                                    .Spacing = 2.5,
                                    .Angle = -12.5,
                                    .Anchor = TMarkAnchor::TopLeft,
                                    .Margin = 0.1,
                                    .Shadow = true,
                                    .LogoFile = "/home/me/Logo; 100%.svg"},
                           .Fields = true};
  const std::string text = MarkPresetToText(preset);
  // One entry of the store: one line, nothing that splits or ends it.
  EXPECT_EQ(text.find('\n'), std::string::npos);
  EXPECT_EQ(text.find('\r'), std::string::npos);
  EXPECT_EQ(MarkPresetFromText(text), preset);
  EXPECT_EQ(MarkPresetFromText(MarkPresetToText(TMarkPreset{})), TMarkPreset{});
  // Without a logo the text is what it was before logos: older readers
  // find no key they do not know.
  EXPECT_EQ(MarkPresetToText(TMarkPreset{}).find("Logo"), std::string::npos);
  // Every anchor by its name, "center" too.
  for (int i = 0; i <= static_cast<int>(TMarkAnchor::BottomRight); ++i) {
    const auto anchor = static_cast<TMarkAnchor>(i);
    EXPECT_EQ(AnchorNamed(AnchorName(anchor)), anchor);
  }
  EXPECT_EQ(AnchorNamed("center"), TMarkAnchor::Centre);
}

TEST(MarkPreset, MissingAndUnknownKeysKeepTheDefaultsAndBadValuesAreRefused) {
  const TMarkPreset read = MarkPresetFromText("Text=a;Future=later;Spacing=3");
  EXPECT_EQ(read, (TMarkPreset{.BrandText = "a", .Look = {.Spacing = 3}}));
  for (const char* bad : {"Spacing=0.4", "Spacing=x", "Angle=91", "Opacity=0", "Opacity=50.5",
                          "RelativeSize=0.4", "Margin=-1", "Layout=grid", "Anchor=middle",
                          "Shadow=yes", "Outline=clPuce", "Text=%4", "Text=%zz", "no field"}) {
    EXPECT_THROW(MarkPresetFromText(bad), ConvertError) << bad;
  }
}

}  // namespace
}  // namespace sigilon
