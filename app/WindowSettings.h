#pragma once
/// TWindowSettings: what the main window keeps between sessions, as plain
/// values, and their entries in the per-user configuration store. It knows no
/// widget: the window moves the values into and out of its controls.

#include <QRect>
#include <functional>
#include <optional>
#include <string>

#include "engine/BrandOptions.h"

namespace sigilon {

class TConfigurationFile;

/// The message when the settings could not be written.
inline constexpr const char* kSaveSettingsFailedText =
    "I was not able to save your configuration.\rMaybe the file has been made read only?";

/// Loads the user's configuration store, lets `change` work on it and saves
/// it, the user's other entries as they were; false when it was not written.
/// Never raises.
bool ChangeStoredSettings(const std::function<void(TConfigurationFile&)>& change);

struct TWindowSettings {
  // The four settings of a run, as the fields show them.
  std::string BrandText;
  /// The brand font as font description text; none when not stored.
  std::optional<std::string> BrandTextFont;
  std::string SourceDirectory;
  std::string TargetDirectory;
  /// How the brand looks beyond its font, and where its copies go.
  TStampLook BrandLook{};
  /// Fill in the brand text's fields ({name}, {date}, ...) per file.
  bool FillInFields = false;

  // Remembered places.
  /// The window's frame position and size, not maximised; none unless all
  /// four numbers are stored.
  std::optional<QRect> WindowPlace;
  bool WindowMaximized = false;
  /// The page shown; none when not stored (its range is the window's to check).
  std::optional<int> ActivePage;
  bool FitImage = false;
  /// Where the log was last saved.
  std::string LogDirectory;
  bool KeepPictureInformation = false;
  bool RefuseDamagedPictures = false;
  bool BrandAllPictureTypes = false;
  bool IncludeSubfolders = false;
  /// Quality of lossy copies, kMinQuality to kMaxQuality, or kDefaultQuality.
  int PictureQuality = kDefaultQuality;
  /// JPEG copies with Huffman tables made for each picture.
  bool OptimizeJpegCopies = false;
  /// The type every copy is written in, by its conversion name ("jpeg");
  /// empty: each in its own. A name no conversion type has is empty.
  std::string ConvertCopiesTo;

  /// Reads every entry on its own: one that is missing, unreadable or out of
  /// range leaves its member as default-constructed. Never raises.
  void Load(const TConfigurationFile& store);
  /// Writes every entry, empty texts too; a member that is none leaves its
  /// entries as they stand in `store`.
  void Save(TConfigurationFile& store) const;

  friend bool operator==(const TWindowSettings&, const TWindowSettings&) = default;
};

}  // namespace sigilon
