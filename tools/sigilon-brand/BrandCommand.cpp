#include "tools/sigilon-brand/BrandCommand.h"

#include <charconv>
#include <exception>
#include <optional>
#include <ostream>
#include <vector>

#include "SigilonVersion.h"
#include "engine/Conversions_Unit.h"
#include "engine/Errors.h"
#include "platform/PlatformDependence_Unit.h"

namespace sigilon {
namespace {

constexpr const char* kFailedPrefix = "Failed to process file: ";
constexpr const char* kSameDirectoryMessage =
    "You cannot save the Target images into the same directory as the Source images because "
    "they would overwrite the Source images!";

// Points become pixels through this; beyond a few thousand the text of one
// copy outgrows any picture, so larger values are typing mistakes.
constexpr int kMaxPixelsPerInch = 10000;

std::string WithTrailingSlash(std::string directory) {
  if (!directory.empty() && directory.back() != '/') directory += '/';
  return directory;
}

int ParsePixelsPerInch(const std::string& text) {
  int value = 0;
  const char* end = text.data() + text.size();
  const auto [last, error] = std::from_chars(text.data(), end, value);
  if (text.empty() || error != std::errc() || last != end || value < 1 ||
      value > kMaxPixelsPerInch) {
    throw TUsageError("--ppi takes a whole number from 1 to " + std::to_string(kMaxPixelsPerInch) +
                      ", not '" + text + "'");
  }
  return value;
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
    } else if (auto font = value("--font")) {
      command.FontText = *font;
    } else if (auto ppi = value("--ppi")) {
      command.PixelsPerInch = ParsePixelsPerInch(*ppi);
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
             "Usage: sigilon-brand [--font TEXT] [--ppi N] BRAND_TEXT SOURCE_DIR TARGET_DIR\n"
             "\n"
             "Brands every JPEG (.jpg) and bitmap (.bmp) file of SOURCE_DIR with BRAND_TEXT,\n"
             "drawn over the whole picture as rows of copies turned 45 degrees, and writes\n"
             "the results under the same names into TARGET_DIR. Other files are reported\n"
             "and left alone. The source files are never written, and nothing is written\n"
             "into SOURCE_DIR, whatever path or link names it. Subdirectories are skipped.\n"
             "\n"
             "Options:\n"
             "  --font TEXT  the brand font as a font description text:\n"
             "               \"FACE\", POINTS, [Bold|Italic|Underline|Strikeout], [COLOUR]\n"
             "               COLOUR is a name such as clRed or $00BBGGRR in hexadecimal.\n"
             "               Default: ") +
         kDefaultBrandFont +
         "\n"
         "  --ppi N      pixels per inch that turn points into pixels (default 96)\n"
         "  --help       show this text\n"
         "  --version    show the program's version\n"
         "  --           ends the options (for a brand text that begins with \"-\")\n"
         "\n"
         "Prints one result line per file, then how many files were processed; why a\n"
         "file failed goes to standard error as \"sigilon-brand: SOURCE_PATH: REASON\".\n"
         "Exit status: 0 when no file failed, 1 when some file failed, 2 when the\n"
         "arguments or settings were refused or the font text cannot be read.\n";
}

std::string BrandVersion() { return std::string("sigilon-brand ") + SIGILON_VERSION + "\n"; }

std::string CheckBrandCommandLine(const TBrandCommandLine& command) {
  if (command.BrandText.empty()) return "You must enter the Brand Text setting.";
  if (command.SourceDirectory.empty()) return "You must set the Source Path setting.";
  if (command.TargetDirectory.empty()) return "You must set the Target Path setting.";
  if (command.SourceDirectory == command.TargetDirectory) return kSameDirectoryMessage;
  if (!DirectoryExists(command.SourceDirectory)) {
    return "The Source Directory \"" + command.SourceDirectory + "\" does not exist.";
  }
  if (!DirectoryExists(command.TargetDirectory)) {
    return "The Target Directory \"" + command.TargetDirectory + "\" does not exist.";
  }
  // Another spelling, a symbolic link or a bind mount of the source.
  if (SameDirectory(command.SourceDirectory, command.TargetDirectory)) {
    return kSameDirectoryMessage;
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

int ProcessImages(const TBrandCommandLine& command, const TBrandFileFunction& brandFile,
                  std::ostream& out, std::ostream& err) {
  TDirectoryListing listing(command.SourceDirectory);
  if (!listing.Valid()) {
    err << "The Source Directory \"" << command.SourceDirectory << "\" cannot be read.\n";
    return kExitRefused;
  }
  const TBrandOptions options{.Display = {.PixelsPerInch = command.PixelsPerInch}};
  // Nothing shows a preview here, so no bitmap file is made for one.
  const TPreviewCallback noPreview = nullptr;
  std::int64_t count = 0;
  bool anyFailed = false;
  try {
    while (const auto entry = listing.Next()) {
      if (entry->IsDirectory) continue;
      const std::string sourcePath = command.SourceDirectory + entry->Name;
      const std::string targetPath = command.TargetDirectory + entry->Name;
      // BrandFile itself refuses a target that leads back into the source.
      std::string resultLine;
      std::string reason;
      brandFile(command.BrandText, command.FontText, sourcePath, targetPath, noPreview, resultLine,
                options, &reason);
      out << resultLine << '\n' << std::flush;
      if (resultLine.starts_with(kFailedPrefix)) {
        anyFailed = true;
        if (!reason.empty()) err << "sigilon-brand: " << sourcePath << ": " << reason << '\n';
      }
      ++count;
    }
  } catch (const std::exception& e) {
    // What BrandFile does not turn into a result line ends the run unsummarised.
    out << std::flush;
    err << e.what() << '\n';
    return kExitRefused;
  }
  if (count == 0) {
    out << "There were no images to process in the Source Directory.\n";
  } else {
    out << '\n' << count << " files processed.\n";
  }
  return anyFailed ? kExitFileFailed : kExitSuccess;
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
  return ProcessImages(command, brandFile, out, err);
}

}  // namespace sigilon
