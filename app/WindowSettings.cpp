#include "app/WindowSettings.h"

#include <QString>
#include <exception>

#include "engine/Errors.h"
#include "engine/MarkPreset.h"
#include "engine/formats/FormatRegistry.h"
#include "settings/ConfigurationFile.h"

namespace sigilon {

namespace {

constexpr const char* kBrandTextEntry = "BrandText";
constexpr const char* kBrandTextFontEntry = "BrandTextFont";
constexpr const char* kSourceDirectoryEntry = "SourceDirectory";
constexpr const char* kTargetDirectoryEntry = "TargetDirectory";
// The brand's look on the pictures, beside its font.
constexpr const char* kBrandRelativeSizeEntry = "BrandRelativeSize";
constexpr const char* kBrandOpacityEntry = "BrandOpacity";
constexpr const char* kBrandOutlineEntry = "BrandOutline";
// Where the copies of the mark go, its shadow, and the fields of its text.
constexpr const char* kBrandLayoutEntry = "BrandLayout";
constexpr const char* kBrandSpacingEntry = "BrandSpacing";
constexpr const char* kBrandAngleEntry = "BrandAngle";
constexpr const char* kBrandAnchorEntry = "BrandAnchor";
constexpr const char* kBrandMarginEntry = "BrandMargin";
constexpr const char* kBrandShadowEntry = "BrandShadow";
constexpr const char* kFillInFieldsEntry = "FillInFields";
// The logo file of the mark; empty: none.
constexpr const char* kBrandLogoEntry = "BrandLogo";
// Remembered places: the window's frame position, size and state, the page
// shown, how the picture is shown, and where the log was last saved.
constexpr const char* kWindowLeftEntry = "WindowLeft";
constexpr const char* kWindowTopEntry = "WindowTop";
constexpr const char* kWindowWidthEntry = "WindowWidth";
constexpr const char* kWindowHeightEntry = "WindowHeight";
constexpr const char* kWindowMaximizedEntry = "WindowMaximized";
constexpr const char* kActivePageEntry = "ActivePage";
constexpr const char* kFitImageEntry = "FitImage";
constexpr const char* kLogDirectoryEntry = "LogDirectory";
constexpr const char* kKeepPictureInformationEntry = "KeepPictureInformation";
constexpr const char* kRefuseDamagedPicturesEntry = "RefuseDamagedPictures";
constexpr const char* kBrandAllPictureTypesEntry = "BrandAllPictureTypes";
constexpr const char* kIncludeSubfoldersEntry = "IncludeSubfolders";
constexpr const char* kPictureQualityEntry = "PictureQuality";
constexpr const char* kOptimizeJpegCopiesEntry = "OptimizeJpegCopies";
constexpr const char* kConvertCopiesToEntry = "ConvertCopiesTo";

/// A stored text, or nothing when the entry is missing or cannot be read.
std::optional<std::string> StoredText(const TConfigurationFile& store, const char* name) {
  try {
    if (store.HasValue(name)) return store.ReadValue(name);
  } catch (const std::exception&) {
  }
  return std::nullopt;
}

/// A stored whole number, or nothing when the entry is missing or no number.
std::optional<int> StoredNumber(const TConfigurationFile& store, const char* name) {
  const std::optional<std::string> text = StoredText(store, name);
  if (!text) return std::nullopt;
  bool ok = false;
  const int value = QString::fromStdString(*text).trimmed().toInt(&ok);
  if (!ok) return std::nullopt;
  return value;
}

/// A stored switch: on for any number but 0.
bool StoredSwitch(const TConfigurationFile& store, const char* name) {
  return StoredNumber(store, name).value_or(0) != 0;
}

const char* SwitchText(bool on) { return on ? "1" : "0"; }

/// A value that does not read, or lies out of range, is the default: the
/// brand as it looks without these entries.
TStampLook StoredLook(const TConfigurationFile& store) {
  TStampLook look;
  if (const auto size = StoredText(store, kBrandRelativeSizeEntry)) {
    bool ok = false;
    const double value = QString::fromStdString(*size).trimmed().toDouble(&ok);
    if (ok && value >= kMinRelativeSize && value <= kMaxRelativeSize) look.RelativeSize = value;
  }
  if (const std::optional<int> opacity = StoredNumber(store, kBrandOpacityEntry)) {
    if (*opacity >= kMinOpacity && *opacity <= kMaxOpacity) look.Opacity = *opacity;
  }
  if (const auto outline = StoredText(store, kBrandOutlineEntry); outline && !outline->empty()) {
    try {
      const TColor color = TextToColor(*outline, DrawingColorTable());
      if (color != clNone) look.Outline = color;
    } catch (const ConvertError&) {
    }
  }
  const auto number = [&store](const char* name, double low, double high) {
    const std::optional<std::string> text = StoredText(store, name);
    return text ? MarkNumber(*text, low, high) : std::nullopt;
  };
  if (const auto layout = StoredText(store, kBrandLayoutEntry)) {
    look.Layout = LayoutNamed(*layout).value_or(look.Layout);
  }
  look.Spacing = number(kBrandSpacingEntry, kMinSpacing, kMaxSpacing).value_or(look.Spacing);
  // Empty or unreadable: each layout's own angle.
  look.Angle = number(kBrandAngleEntry, kMinAngle, kMaxAngle);
  if (const auto anchor = StoredText(store, kBrandAnchorEntry)) {
    look.Anchor = AnchorNamed(*anchor).value_or(look.Anchor);
  }
  look.Margin = number(kBrandMarginEntry, kMinMargin, kMaxMargin).value_or(look.Margin);
  look.Shadow = StoredSwitch(store, kBrandShadowEntry);
  look.LogoFile = StoredText(store, kBrandLogoEntry).value_or(std::string());
  return look;
}

}  // namespace

bool ChangeStoredSettings(const std::function<void(TConfigurationFile&)>& change) {
  try {
    TConfigurationFile store;
    // Loaded first so that the user's other entries are written back.
    store.Load();
    change(store);
    return store.Save();
  } catch (const std::exception&) {
    return false;
  }
}

void TWindowSettings::Load(const TConfigurationFile& store) {
  *this = TWindowSettings{};
  BrandText = StoredText(store, kBrandTextEntry).value_or(std::string());
  BrandTextFont = StoredText(store, kBrandTextFontEntry);
  SourceDirectory = StoredText(store, kSourceDirectoryEntry).value_or(std::string());
  TargetDirectory = StoredText(store, kTargetDirectoryEntry).value_or(std::string());
  BrandLook = StoredLook(store);

  const std::optional<int> left = StoredNumber(store, kWindowLeftEntry);
  const std::optional<int> top = StoredNumber(store, kWindowTopEntry);
  const std::optional<int> width = StoredNumber(store, kWindowWidthEntry);
  const std::optional<int> height = StoredNumber(store, kWindowHeightEntry);
  if (left && top && width && height) WindowPlace = QRect(*left, *top, *width, *height);
  WindowMaximized = StoredSwitch(store, kWindowMaximizedEntry);
  ActivePage = StoredNumber(store, kActivePageEntry);
  FitImage = StoredSwitch(store, kFitImageEntry);
  LogDirectory = StoredText(store, kLogDirectoryEntry).value_or(std::string());
  KeepPictureInformation = StoredSwitch(store, kKeepPictureInformationEntry);
  RefuseDamagedPictures = StoredSwitch(store, kRefuseDamagedPicturesEntry);
  BrandAllPictureTypes = StoredSwitch(store, kBrandAllPictureTypesEntry);
  IncludeSubfolders = StoredSwitch(store, kIncludeSubfoldersEntry);
  if (const std::optional<int> quality = StoredNumber(store, kPictureQualityEntry)) {
    if (*quality >= kMinQuality && *quality <= kMaxQuality) PictureQuality = *quality;
  }
  OptimizeJpegCopies = StoredSwitch(store, kOptimizeJpegCopiesEntry);
  if (const std::optional<std::string> type = StoredText(store, kConvertCopiesToEntry)) {
    if (const std::optional<TConversionType> known = ConversionTypeNamed(*type)) {
      ConvertCopiesTo = known->Name;
    }
  }
  FillInFields = StoredSwitch(store, kFillInFieldsEntry);
}

void TWindowSettings::Save(TConfigurationFile& store) const {
  // Each write moves its entry to the end: this order is the file's order.
  store.WriteValue(kBrandTextEntry, BrandText);
  if (BrandTextFont) store.WriteValue(kBrandTextFontEntry, *BrandTextFont);
  store.WriteValue(kBrandRelativeSizeEntry,
                   QString::number(BrandLook.RelativeSize, 'g', 4).toStdString());
  store.WriteValue(kBrandOpacityEntry, std::to_string(BrandLook.Opacity));
  store.WriteValue(kBrandOutlineEntry,
                   BrandLook.Outline ? ColorToText(*BrandLook.Outline, DrawingColorTable()) : "");
  store.WriteValue(kSourceDirectoryEntry, SourceDirectory);
  store.WriteValue(kTargetDirectoryEntry, TargetDirectory);
  if (WindowPlace) {
    store.WriteValue(kWindowLeftEntry, std::to_string(WindowPlace->x()));
    store.WriteValue(kWindowTopEntry, std::to_string(WindowPlace->y()));
    store.WriteValue(kWindowWidthEntry, std::to_string(WindowPlace->width()));
    store.WriteValue(kWindowHeightEntry, std::to_string(WindowPlace->height()));
  }
  store.WriteValue(kWindowMaximizedEntry, SwitchText(WindowMaximized));
  if (ActivePage) store.WriteValue(kActivePageEntry, std::to_string(*ActivePage));
  store.WriteValue(kFitImageEntry, SwitchText(FitImage));
  store.WriteValue(kLogDirectoryEntry, LogDirectory);
  store.WriteValue(kKeepPictureInformationEntry, SwitchText(KeepPictureInformation));
  store.WriteValue(kRefuseDamagedPicturesEntry, SwitchText(RefuseDamagedPictures));
  store.WriteValue(kBrandAllPictureTypesEntry, SwitchText(BrandAllPictureTypes));
  store.WriteValue(kIncludeSubfoldersEntry, SwitchText(IncludeSubfolders));
  store.WriteValue(kPictureQualityEntry, std::to_string(PictureQuality));
  store.WriteValue(kOptimizeJpegCopiesEntry, SwitchText(OptimizeJpegCopies));
  store.WriteValue(kConvertCopiesToEntry, ConvertCopiesTo);
  store.WriteValue(kBrandLayoutEntry, std::string(LayoutName(BrandLook.Layout)));
  store.WriteValue(kBrandSpacingEntry, MarkNumberText(BrandLook.Spacing));
  store.WriteValue(kBrandAngleEntry, BrandLook.Angle ? MarkNumberText(*BrandLook.Angle) : "");
  store.WriteValue(kBrandAnchorEntry, std::string(AnchorName(BrandLook.Anchor)));
  store.WriteValue(kBrandMarginEntry, MarkNumberText(BrandLook.Margin));
  store.WriteValue(kBrandShadowEntry, SwitchText(BrandLook.Shadow));
  store.WriteValue(kBrandLogoEntry, BrandLook.LogoFile);
  store.WriteValue(kFillInFieldsEntry, SwitchText(FillInFields));
}

}  // namespace sigilon
