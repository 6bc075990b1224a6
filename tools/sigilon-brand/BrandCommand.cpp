#include "tools/sigilon-brand/BrandCommand.h"

#include <algorithm>
#include <charconv>
#include <exception>
#include <iostream>
#include <optional>
#include <ostream>
#include <sstream>
#include <utility>
#include <vector>

#include "SigilonVersion.h"
#include "engine/Errors.h"
#include "engine/FontAvailability.h"
#include "engine/FontText.h"
#include "platform/PathText.h"
#include "platform/Platform.h"

namespace sigilon {
namespace {

// Beyond this more threads only cost memory: every job holds a picture.
constexpr int kMaxJobs = 256;

// Points become pixels through this; beyond a few thousand the text of one
// copy outgrows any picture, so larger values are typing mistakes.
constexpr int kMaxPixelsPerInch = 10000;

int ParseWholeNumber(const std::string& option, const std::string& text, int maximum) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || last != end || value < 1 || value > maximum) {
    throw TUsageError(option + " takes a whole number from 1 to " + std::to_string(maximum) +
                      ", not '" + text + "'");
  }
  return value;
}

// A number of the brand's look or placement; `typed` is what the message
// quotes.
template <typename T>
T ParseNumber(const std::string& option, const std::string& text, T low, T high, const char* kind,
              const std::string& typed) {
  T value{};
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || last != end || !(value >= low && value <= high)) {
    std::ostringstream message;
    message << option << " takes " << kind << " from " << low << " to " << high << ", not '"
            << typed << "'";
    throw TUsageError(message.str());
  }
  return value;
}

template <typename T>
T ParseNumber(const std::string& option, const std::string& text, T low, T high, const char* kind) {
  return ParseNumber(option, text, low, high, kind, text);
}

// The same with an optional "%" after the number.
template <typename T>
T ParsePercentage(const std::string& option, const std::string& text, T low, T high,
                  const char* kind) {
  std::string digits = text;
  if (digits.ends_with('%')) digits.pop_back();
  return ParseNumber(option, digits, low, high, kind, text);
}

TMarkLayout ParseLayout(const std::string& text) {
  if (text == "tile") return TMarkLayout::Tile;
  if (text == "single") return TMarkLayout::Single;
  throw TUsageError("--layout takes tile or single, not '" + text + "'");
}

TMarkAnchor ParseAnchor(const std::string& text) {
  static constexpr std::pair<const char*, TMarkAnchor> kAnchors[] = {
      {"top-left", TMarkAnchor::TopLeft},   {"top", TMarkAnchor::Top},
      {"top-right", TMarkAnchor::TopRight}, {"left", TMarkAnchor::Left},
      {"centre", TMarkAnchor::Centre},      {"center", TMarkAnchor::Centre},
      {"right", TMarkAnchor::Right},        {"bottom-left", TMarkAnchor::BottomLeft},
      {"bottom", TMarkAnchor::Bottom},      {"bottom-right", TMarkAnchor::BottomRight}};
  for (const auto& [name, anchor] : kAnchors) {
    if (text == name) return anchor;
  }
  throw TUsageError(
      "--anchor takes top-left, top, top-right, left, centre, right, bottom-left, bottom or "
      "bottom-right, not '" +
      text + "'");
}

std::optional<TColor> ParseOutline(const std::string& text) {
  try {
    const TColor color = TextToColor(text, DrawingColorTable());
    return color == clNone ? std::nullopt : std::optional<TColor>(color);
  } catch (const ConvertError&) {
    throw TUsageError("--outline takes a colour such as clWhite or $00BBGGRR, not '" + text + "'");
  }
}

// Only whether the text reads matters here; the drawing font is filled per file.
class TDiscardFont : public TFontTextTarget {
 public:
  void SetName(const std::string&) override {}
  void SetSize(std::int32_t) override {}
  void SetColor(TColor) override {}
  void SetStyle(TFontStyles) override {}
};

}  // namespace

TBrandCommandLine ParseBrandCommandLine(std::span<const std::string> args) {
  TBrandCommandLine command;
  std::vector<std::string> positional;
  bool optionsEnded = false;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (optionsEnded || arg.size() < 2 || arg[0] != '-') {
      positional.push_back(arg);
      continue;
    }
    // "--font TEXT" or "--font=TEXT"; the same for --ppi.
    auto value = [&](const std::string& option) -> std::optional<std::string> {
      if (arg == option) {
        if (i + 1 >= args.size()) throw TUsageError(option + " needs a value");
        return args[++i];
      }
      if (arg.starts_with(option + "=")) return arg.substr(option.size() + 1);
      return std::nullopt;
    };
    if (arg == "--") {
      optionsEnded = true;
    } else if (arg == "--help" || arg == "-h") {
      command.Help = true;
    } else if (arg == "--version") {
      command.Version = true;
    } else if (arg == "--keep-metadata") {
      command.KeepMetadata = true;
    } else if (arg == "--strict") {
      command.Strict = true;
    } else if (auto font = value("--font")) {
      command.FontText = *font;
    } else if (auto ppi = value("--ppi")) {
      command.PixelsPerInch = ParseWholeNumber("--ppi", *ppi, kMaxPixelsPerInch);
    } else if (auto jobs = value("--jobs")) {
      command.Jobs = ParseWholeNumber("--jobs", *jobs, kMaxJobs);
    } else if (auto shard = value("--shard")) {
      const auto parsed = ParseShard(*shard);
      if (!parsed) {
        throw TUsageError("--shard takes K/N, whole numbers with 1 <= K <= N <= " +
                          std::to_string(kMaxShardCount) + ", not '" + *shard + "'");
      }
      command.Shard = *parsed;
    } else if (auto list = value("--files-from")) {
      command.FilesFrom = *list;
    } else if (arg == "--skip-existing") {
      command.SkipExisting = true;
    } else if (arg.starts_with("-j")) {
      // "-j N" or "-jN".
      if (arg == "-j" && i + 1 >= args.size()) throw TUsageError("-j needs a value");
      command.Jobs = ParseWholeNumber("-j", arg == "-j" ? args[++i] : arg.substr(2), kMaxJobs);
    } else if (auto size = value("--relative-size")) {
      command.Look.RelativeSize = ParsePercentage("--relative-size", *size, kMinRelativeSize,
                                                  kMaxRelativeSize, "a percentage");
    } else if (auto opacity = value("--opacity")) {
      command.Look.Opacity =
          ParsePercentage("--opacity", *opacity, kMinOpacity, kMaxOpacity, "a whole percentage");
    } else if (auto outline = value("--outline")) {
      command.Look.Outline = ParseOutline(*outline);
    } else if (arg == "--all-types") {
      command.AllTypes = true;
    } else if (auto quality = value("--quality")) {
      command.Quality = ParseWholeNumber("--quality", *quality, kMaxQuality);
    } else if (arg == "--optimize") {
      command.Optimize = true;
    } else if (auto type = value("--convert-to")) {
      command.ConvertTo = ConversionTypeNamed(*type);
      if (!command.ConvertTo) {
        throw TUsageError("--convert-to takes one of " + ConversionTypeNames() + ", not '" + *type +
                          "'");
      }
    } else if (arg == "--recursive" || arg == "-r") {
      command.Recursive = true;
    } else if (auto layout = value("--layout")) {
      command.Look.Layout = ParseLayout(*layout);
    } else if (auto spacing = value("--spacing")) {
      command.Look.Spacing =
          ParseNumber("--spacing", *spacing, kMinSpacing, kMaxSpacing, "a factor");
    } else if (auto angle = value("--angle")) {
      command.Look.Angle = ParseNumber("--angle", *angle, kMinAngle, kMaxAngle, "degrees");
    } else if (auto anchor = value("--anchor")) {
      command.Look.Anchor = ParseAnchor(*anchor);
    } else if (auto margin = value("--margin")) {
      command.Look.Margin =
          ParsePercentage("--margin", *margin, kMinMargin, kMaxMargin, "a percentage");
    } else if (arg == "--shadow") {
      command.Look.Shadow = true;
    } else if (arg == "--fields") {
      command.Fields = true;
    } else {
      throw TUsageError("unknown option '" + arg + "'");
    }
  }
  if (command.Help || command.Version) return command;
  if (positional.size() != 3) {
    throw TUsageError("expected BRAND_TEXT SOURCE_DIR TARGET_DIR, got " +
                      std::to_string(positional.size()) + " argument" +
                      (positional.size() == 1 ? "" : "s"));
  }
  command.BrandText = positional[0];
  command.SourceDirectory = WithTrailingSlash(positional[1]);
  command.TargetDirectory = WithTrailingSlash(positional[2]);
  return command;
}

std::string BrandUsage() {
  return std::string(
             "Usage: sigilon-brand [OPTION]... BRAND_TEXT SOURCE_DIR TARGET_DIR\n"
             "\n"
             "Brands every JPEG (.jpg) and bitmap (.bmp) file of SOURCE_DIR with BRAND_TEXT,\n"
             "drawn over the whole picture as rows of copies turned 45 degrees, and writes\n"
             "the results under the same names into TARGET_DIR. Other files are reported\n"
             "and left alone. The source files are never written, and nothing is written\n"
             "into SOURCE_DIR, whatever path or link names it. Subdirectories are skipped\n"
             "(see --recursive).\n"
             "A JPEG is written upright as its camera's orientation tag says, with its\n"
             "colour profile.\n"
             "\n"
             "Options:\n"
             "  --font TEXT  the brand font as a font description text:\n"
             "               \"FACE\", POINTS, [Bold|Italic|Underline|Strikeout], [COLOUR]\n"
             "               COLOUR is a name such as clRed or $00BBGGRR in hexadecimal.\n"
             "               Default: ") +
         kDefaultBrandFont +
         "\n"
         "  --ppi N      pixels per inch that turn points into pixels (default 96)\n"
         "  -j, --jobs N brand N pictures at once, 1 to 256 (default: one per processor);\n"
         "               the output is the same whatever N\n"
         "  --shard K/N  handle only the files whose name falls into share K of N\n"
         "               (1 <= K <= N <= 65536), by a fixed hash of the name: N runs,\n"
         "               one per share, on any machines, handle every file once\n"
         "  --files-from FILE\n"
         "               handle only the names listed in FILE, one per line (\"-\" reads\n"
         "               standard input); each must name a file directly inside\n"
         "               SOURCE_DIR, other names get a failure line and are not read\n"
         "  --skip-existing\n"
         "               leave a target that exists alone, reported as \"Skipped file: \"\n"
         "               with the source path, so a rerun does only the missing work\n"
         "  --keep-metadata  carry a JPEG's EXIF (upright, without its thumbnail), IPTC\n"
         "               and XMP into the branded copy\n"
         "  --strict     fail a damaged JPEG (data that ends early or is corrupt) and\n"
         "               write no copy; without it the picture is branded as far as it\n"
         "               decodes and a warning names the damage. Also refuse the run\n"
         "               when the font's face is not installed, which otherwise is only\n"
         "               a warning naming the face drawn instead\n"
         "  --relative-size P\n"
         "               letter height as P percent (0.5 to 50) of the picture's shorter\n"
         "               side instead of the font's point size, so that the brand looks\n"
         "               the same on every picture size\n"
         "  --opacity P  blend the brand over the picture at P percent (1 to 100,\n"
         "               default 100)\n"
         "  --outline COLOUR\n"
         "               draw a contour of COLOUR (as in the font text) around every\n"
         "               letter, so that the brand reads on dark and bright areas alike\n"
         "  --all-types  also brand the other picture types this build reads and the\n"
         "               other spellings .jpeg, .jpe, .jfif and .dib; without it only\n"
         "               .jpg and .bmp files are pictures\n"
         "  --quality Q  write lossy copies at quality Q (1 to 100; default: JPEG 100,\n"
         "               other lossy types 90)\n"
         "  --optimize   write JPEG copies with Huffman tables made for each picture:\n"
         "               the same pixels in a smaller file\n"
         "  --convert-to TYPE\n"
         "               write every copy as TYPE (jpeg, png, tiff, webp, heic or avif,\n"
         "               if this build writes it), the extension replaced: IMG_1.BMP\n"
         "               becomes IMG_1.jpg\n"
         "  -r, --recursive\n"
         "               also brand the files in SOURCE_DIR's subfolders (not through\n"
         "               links to folders) into the same subfolders of TARGET_DIR;\n"
         "               --shard, --files-from and --skip-existing then take paths\n"
         "               relative to SOURCE_DIR, such as 2024/May/IMG_1.jpg. Neither\n"
         "               directory may lie inside the other\n"
         "  --layout tile|single\n"
         "               tile: rows of copies over the whole picture (default); single:\n"
         "               one mark at the anchor\n"
         "  --spacing F  multiply both distances between tiled copies by F (0.5 to 10,\n"
         "               default 1)\n"
         "  --angle D    turn the brand D degrees counter-clockwise (-90 to 90; default\n"
         "               45 tiled, 0 single)\n"
         "  --anchor WHERE\n"
         "               where a single mark stands: top-left, top, top-right, left,\n"
         "               centre (or center), right, bottom-left, bottom, bottom-right\n"
         "               (default)\n"
         "  --margin P   gap between a single mark and the edges, P percent (0 to 50)\n"
         "               of the picture's shorter side (default 3)\n"
         "  --shadow     draw a soft dark shadow under the brand, down to the right, so\n"
         "               that a light brand reads on a light picture\n"
         "  --fields     fill in fields of BRAND_TEXT per file: {name} (file name),\n"
         "               {stem} (without extension), {folder}, {date} (when taken, as\n"
         "               YYYY-MM-DD, else when the file was last changed), {year},\n"
         "               {artist}, {copyright} (EXIF, else XMP), {n} (the file's number\n"
         "               in the listing, from 1); {{ and }} write braces. A field the\n"
         "               picture lacks is left empty with a warning\n"
         "  --help       show this text\n"
         "  --version    show the program's version\n"
         "  --           ends the options (for a brand text that begins with \"-\")\n"
         "\n"
         "Prints one result line per file, then how many files were processed; why a\n"
         "file failed goes to standard error as \"sigilon-brand: SOURCE_PATH: REASON\",\n"
         "damage to a processed picture as \"sigilon-brand: SOURCE_PATH: warning: REASON\".\n"
         "Exit status: 0 when no file failed, 1 when some file failed, 2 when the\n"
         "arguments or settings were refused, the font text cannot be read or (with\n"
         "--strict) its face is not installed, 130 when stopped by SIGINT or SIGTERM\n"
         "(files in progress are finished; no new one starts).\n";
}

std::string BrandVersion() { return std::string("sigilon-brand ") + SIGILON_VERSION + "\n"; }

TBatchSettings BatchSettings(const TBrandCommandLine& command) {
  return {.BrandText = command.BrandText,
          .FontText = command.FontText,
          .SourceDirectory = command.SourceDirectory,
          .TargetDirectory = command.TargetDirectory};
}

std::string CheckBrandCommandLine(const TBrandCommandLine& command) {
  // The window program's checks, but for its start directory: a command line
  // keeps none of its own files in the working directory.
  const TBatchRefusal refusal =
      CheckBatchSettings(BatchSettings(command), std::string(), command.Recursive);
  if (refusal != TBatchRefusal::None) return RefusalMessage(refusal, "sigilon-brand");
  if (command.ConvertTo && !ConversionFormat(*command.ConvertTo)) {
    return "--convert-to " + std::string(command.ConvertTo->Name) + ": this build cannot write " +
           std::string(command.ConvertTo->Title) + " pictures.";
  }
  if (!DirectoryExists(command.SourceDirectory)) {
    return "The Source Directory \"" + command.SourceDirectory + "\" does not exist.";
  }
  if (!DirectoryExists(command.TargetDirectory)) {
    return "The Target Directory \"" + command.TargetDirectory + "\" does not exist.";
  }
  // The same reading BrandFile does per file: refuse before the first one
  // rather than after a listing's worth of work.
  try {
    TDiscardFont font;
    ReadFontText(command.FontText, font, DrawingColorTable());
  } catch (const ConvertError& e) {
    return std::string("The font description text cannot be read: ") + e.what();
  }
  return {};
}

namespace {

// The names of a --files-from list; "-" reads standard input.
std::vector<std::string> ReadListedNames(const std::string& list) {
  if (list == "-") return ReadFileNameList(std::cin);
  const std::vector<std::byte> bytes = ReadWholeFile(list);
  std::istringstream text(std::string(reinterpret_cast<const char*>(bytes.data()), bytes.size()));
  return ReadFileNameList(text);
}

}  // namespace

int ProcessImages(const TBrandCommandLine& command, const TBrandFileFunction& brandFile,
                  std::ostream& out, std::ostream& err) {
  if (!TDirectoryListing(command.SourceDirectory).Valid()) {
    err << "The Source Directory \"" << command.SourceDirectory << "\" cannot be read.\n";
    return kExitRefused;
  }
  TBatchHooks hooks;
  // Nothing shows a preview here, so no bitmap file is made for one.
  hooks.FileDone = [&](const TFileOutcome& file) {
    out << file.ResultLine << '\n' << std::flush;
    // A processed file's reason is damage it was branded in spite of.
    if (!file.Reason.empty()) {
      err << "sigilon-brand: " << file.SourcePath << (file.Failed ? ": " : ": warning: ")
          << file.Reason << '\n';
    }
  };
  hooks.WriteLine = [&](const std::string& line) { out << line << '\n' << std::flush; };
  hooks.Cancelled = [] { return StopRequested(); };
  TBatchOptions options;
  options.Brand.Display.PixelsPerInch = command.PixelsPerInch;
  options.Brand.KeepMetadata = command.KeepMetadata;
  options.Brand.Strict = command.Strict;
  options.Brand.Look = command.Look;
  options.Brand.AllTypes = command.AllTypes;
  options.Brand.Quality = command.Quality;
  options.Brand.Optimize = command.Optimize;
  if (command.ConvertTo) options.Brand.WriteFormat = ConversionFormat(*command.ConvertTo);
  options.ConvertTo = command.ConvertTo;
  options.Recursive = command.Recursive;
  options.Brand.Fields = command.Fields;
  options.Jobs = command.Jobs > 0 ? command.Jobs : std::clamp(OnlineProcessors(), 1, kMaxJobs);
  options.ReportCancel = true;
  options.Shard = command.Shard;
  options.SkipExisting = command.SkipExisting;
  if (command.FilesFrom) {
    try {
      options.FileNames = ReadListedNames(*command.FilesFrom);
    } catch (const std::exception& e) {
      err << "The file list \"" << *command.FilesFrom << "\" cannot be read: " << e.what() << '\n';
      return kExitRefused;
    }
  }
  TBatchSummary summary;
  try {
    summary = RunBatch(BatchSettings(command), hooks, options, brandFile);
  } catch (const std::exception& e) {
    // What BrandFile does not turn into a result line ends the run unsummarised.
    out << std::flush;
    err << e.what() << '\n';
    return kExitRefused;
  }
  if (summary.Cancelled) return kExitCanceled;
  return summary.Failed > 0 ? kExitFileFailed : kExitSuccess;
}

int RunBrandCommand(std::span<const std::string> args, const TBrandFileFunction& brandFile,
                    std::ostream& out, std::ostream& err) {
  TBrandCommandLine command;
  try {
    command = ParseBrandCommandLine(args);
  } catch (const TUsageError& e) {
    err << "sigilon-brand: " << e.what() << "\nTry 'sigilon-brand --help' for more information.\n";
    return kExitRefused;
  }
  if (command.Help) {
    out << BrandUsage();
    return kExitSuccess;
  }
  if (command.Version) {
    out << BrandVersion();
    return kExitSuccess;
  }
  if (const std::string refusal = CheckBrandCommandLine(command); !refusal.empty()) {
    err << refusal << '\n';
    return kExitRefused;
  }
  // Once per run, before any file: another face writes other pictures.
  if (const auto missing = FindMissingFace(command.FontText)) {
    if (command.Strict) {
      err << "sigilon-brand: " << MissingFaceText(*missing) << " (refused under --strict)\n";
      return kExitRefused;
    }
    err << "sigilon-brand: warning: " << MissingFaceText(*missing) << '\n';
  }
  return ProcessImages(command, brandFile, out, err);
}

}  // namespace sigilon
