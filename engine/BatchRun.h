#pragma once
/// The batch run shared by the window program and sigilon-brand: the checks
/// before a run with their messages, the live walk over the source directory,
/// the count and the summary. The front ends supply the settings, show the
/// lines and decide about cancelling through hooks; nothing here knows of Qt.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "engine/BatchSelection.h"
#include "engine/BrandFile.h"
#include "engine/formats/FormatRegistry.h"

namespace sigilon {

// ---- Messages ----------------------------------------------------------------

inline constexpr const char* kNoBrandTextMessage = "You must enter the Brand Text setting.";
inline constexpr const char* kNoSourceDirectoryMessage = "You must set the Source Path setting.";
inline constexpr const char* kNoTargetDirectoryMessage = "You must set the Target Path setting.";
inline constexpr const char* kSameDirectoryMessage =
    "You cannot save the Target images into the same directory as the Source images because "
    "they would overwrite the Source images!";
inline constexpr const char* kNoImagesMessage =
    "There were no images to process in the Source Directory.";
inline constexpr const char* kCanceledMessage = "Operation Canceled by User.";
inline constexpr const char* kNestedDirectoryMessage =
    "You cannot include subfolders when one of the Source and Target directories lies inside "
    "the other: the run would brand its own copies or write into the Source images!";

/// "You cannot save the Target images into TITLE's directory!"
std::string StartDirectoryMessage(const std::string& applicationTitle);

/// The summary's count line: "N files processed." for every N, 1 included.
std::string CountLine(std::int64_t count);

// ---- Checks ------------------------------------------------------------------

/// The four settings of a run as the front end holds them. Directories are
/// empty or end with "/".
struct TBatchSettings {
  std::string BrandText;
  std::string FontText;
  std::string SourceDirectory;
  std::string TargetDirectory;
  /// The mark has a logo, which is a mark by itself: the brand text may
  /// then be empty.
  bool HasLogo = false;
};

/// Why a run does not start, in the order the checks are made.
enum class TBatchRefusal {
  None,
  NoBrandText,
  NoSourceDirectory,
  NoTargetDirectory,
  SameDirectory,
  StartDirectory,
  /// With subfolders, one directory lies inside the other.
  NestedDirectory,
};

/// The checks before a run. The same directory is recognised by its text and
/// by its identity (another spelling, a link). `startDirectory` is the
/// directory the program keeps its own files in; a front end without one
/// passes the empty text and that check is skipped. A run that includes
/// subfolders (`recursive`) is refused also when one directory lies inside
/// the other.
TBatchRefusal CheckBatchSettings(const TBatchSettings& settings, const std::string& startDirectory,
                                 bool recursive = false);

/// The message of a refusal; empty for None.
std::string RefusalMessage(TBatchRefusal refusal, const std::string& applicationTitle);

// ---- The run -----------------------------------------------------------------

/// Brands one file; BrandFile in the programs, a stand-in in tests.
using TBrandFileFunction = std::function<TBrandOutcome(
    const std::string& brandText, const std::string& fontText, const std::string& sourcePath,
    const std::string& targetPath, const TPreviewCallback& preview, const TBrandOptions& options)>;

/// What one entry came to.
struct TFileOutcome {
  /// 1 for the first entry handed over, counting on in listing order.
  std::int64_t Index = 0;
  std::string SourcePath;
  std::string ResultLine;
  /// Why the file failed; for a processed file, the damage it was branded in
  /// spite of (a JPEG that decodes only in part); empty otherwise.
  std::string Reason;
  bool Failed = false;
};

/// How a front end takes part in a run. Every hook is optional.
struct TBatchHooks {
  /// The settings, read afresh before every entry; without it the run uses
  /// the settings it was started with.
  std::function<TBatchSettings()> ReadSettings;
  /// Shows a JPEG's stamped picture; without it no preview is made.
  TPreviewCallback Preview;
  /// After an entry's result line is known, in listing order.
  std::function<void(const TFileOutcome&)> FileDone;
  /// After the listing has advanced past an entry.
  std::function<void()> ListingAdvanced;
  /// Tested before every entry; true stops the walk there.
  std::function<bool()> Cancelled;
  /// Writes a line of the summary (the empty text is an empty line).
  std::function<void(const std::string&)> WriteLine;
  /// Shows the no-images message before its line is written.
  std::function<void(const std::string&)> ShowMessage;
};

/// How a run is made.
struct TBatchOptions {
  TBrandOptions Brand;
  /// Pictures branded at once, each on its own thread; 1 brands them one
  /// after the other on the calling thread, which every hook then runs on.
  /// With more, the hooks still run on the calling thread, results in
  /// listing order, the settings are those the run was started with, and
  /// no preview is made. Fewer pictures than jobs: each picture is told it
  /// may use the spare cores (TBrandOptions::Threads).
  int Jobs = 1;
  /// Writes "" and kCanceledMessage before the summary when the run was
  /// cancelled (a front end that shows no cancel lines of its own).
  bool ReportCancel = false;
  /// Only the entries whose name falls into this share of the folder.
  TShard Shard{};
  /// Only these names, in this order, instead of the directory's listing. A
  /// name that is not an entry directly inside the source directory (see
  /// ListedNameRefusal), or that names a directory, gets a failure line and
  /// nothing is read for it.
  std::optional<std::vector<std::string>> FileNames{};
  /// A target that already exists is left alone and reported as skipped
  /// (TOutcomeKind::Skipped), counted like the others.
  bool SkipExisting = false;
  /// Walks the subfolders too (never through a link to a folder), handing
  /// over their files by their paths relative to the source directory
  /// ("2024/May/a.jpg"); each copy goes to the same path under the target
  /// directory, whose folders are made as pictures need them. Shares and
  /// listed names are then such paths.
  bool Recursive = false;
  /// Every picture's copy in this type, its extension replaced (the format
  /// that writes it goes in Brand.WriteFormat); nothing: each in its own.
  std::optional<TConversionType> ConvertTo{};
};

/// Makes `options` write every copy as `type` (ConvertTo, and the format
/// that writes it as Brand.WriteFormat); nothing: each in its own type.
void ConvertCopies(TBatchOptions& options, const std::optional<TConversionType>& type);

/// What a run came to.
struct TBatchSummary {
  std::int64_t Count = 0;
  std::int64_t Failed = 0;
  bool Cancelled = false;
};

/// Walks the source directory live, entry by entry (directories skipped),
/// brands every other entry into the target directory and writes the
/// summary. Never writes into the directory it walks, whatever the target
/// setting says by then. A failure that BrandFile does not turn into a
/// result line (an unreadable font text) escapes, and no summary is written.
TBatchSummary RunBatch(const TBatchSettings& settings, const TBatchHooks& hooks,
                       const TBatchOptions& options = {},
                       const TBrandFileFunction& brandFile = BrandFile);

/// The number of entries a run over `directory` (and its subfolders when
/// `recursive`) would hand over now: cheap (no file is opened), for showing
/// progress; 0 when it cannot be read.
std::int64_t CountBatchEntries(const std::string& directory, bool recursive = false);

}  // namespace sigilon
