#pragma once
/// The logic of the sigilon-brand command line: argument parsing, the checks
/// the window program makes before a run, and the walk over the source
/// directory. Kept apart from main() so tests can drive it with their own
/// streams and their own per-file branding.

#include <functional>
#include <iosfwd>
#include <optional>
#include <span>
#include <stdexcept>
#include <string>

#include "engine/BatchRun.h"

namespace sigilon {

/// Exit statuses of the command.
inline constexpr int kExitSuccess = 0;
/// Every entry was handed over, but at least one file failed.
inline constexpr int kExitFileFailed = 1;
/// Bad usage, a refused setting, or a run that ended without its summary.
inline constexpr int kExitRefused = 2;
/// Stopped by SIGINT or SIGTERM (the shell's 128 + SIGINT).
inline constexpr int kExitCanceled = 130;

/// The drawing layer's default face at 10 points, in black.
inline constexpr const char* kDefaultBrandFont = "\"DejaVu Sans\", 10, [], [clBlack]";

/// What the command line asks for.
struct TBrandCommandLine {
  std::string BrandText;
  std::string SourceDirectory;  ///< ends with "/" once parsed
  std::string TargetDirectory;  ///< ends with "/" once parsed
  std::string FontText = kDefaultBrandFont;
  int PixelsPerInch = 96;
  /// Pictures branded at once; 0 until given: as many as there are processors.
  int Jobs = 0;
  /// Only the files whose name falls into this share of SOURCE_DIR.
  TShard Shard;
  /// A file listing the names to handle, one per line; "-" is standard input.
  std::optional<std::string> FilesFrom;
  /// Leave targets that exist alone.
  bool SkipExisting = false;
  bool KeepMetadata = false;
  bool Strict = false;
  TStampLook Look;
  /// Every registered picture type and spelling, not only .jpg and .bmp.
  bool AllTypes = false;
  /// Quality of lossy copies, or kDefaultQuality.
  int Quality = kDefaultQuality;
  /// JPEG copies with Huffman tables made for their pictures.
  bool Optimize = false;
  /// The type every copy is written in; nothing: each in its source's.
  std::optional<TConversionType> ConvertTo;
  /// Walk SOURCE_DIR's subfolders too and mirror them under TARGET_DIR.
  bool Recursive = false;
  /// Fill in the brand text's fields per file.
  bool Fields = false;
  /// A preset of the configuration file ConfigFile: its text, font, look and
  /// fields stand in for the defaults; options typed beside it override them.
  std::optional<std::string> Preset;
  std::optional<std::string> ConfigFile;
  bool Help = false;
  bool Version = false;
};

/// A command line that cannot be understood; the message says why.
class TUsageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Parses the arguments that follow the program name and reads a preset they
/// name. Throws TUsageError, also for a preset or file that cannot be read.
TBrandCommandLine ParseBrandCommandLine(std::span<const std::string> args);

/// The --help text.
std::string BrandUsage();

/// The --version text: "sigilon-brand VERSION" and a line end.
std::string BrandVersion();

/// The checks made before a run, in the window program's order and with its
/// texts, then the ones a command line needs (a missing directory, one
/// directory under two names, an unreadable font text). Returns the refusal,
/// or the empty text when the run may start.
std::string CheckBrandCommandLine(const TBrandCommandLine& command);

/// Walks the source directory, writes one result line per entry and the
/// summary to `out`, and returns the exit status. A failure that leaves no
/// result line (an unreadable font text) ends the run with its message on
/// `err` and no summary. Why a file failed goes to `err`. Once StopRequested()
/// no new file is started; the summary follows the cancel lines.
int ProcessImages(const TBrandCommandLine& command, const TBrandFileFunction& brandFile,
                  std::ostream& out, std::ostream& err);

/// The whole command: parse, check, walk.
int RunBrandCommand(std::span<const std::string> args, const TBrandFileFunction& brandFile,
                    std::ostream& out, std::ostream& err);

}  // namespace sigilon
