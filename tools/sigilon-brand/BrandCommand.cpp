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

#include "engine/Errors.h"
#include "engine/FontAvailability.h"
#include "engine/FontText.h"
#include "engine/Logo.h"
#include "engine/MarkPreset.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"
#include "settings/PresetStore.h"

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
  if (const auto layout = LayoutNamed(text)) return *layout;
  throw TUsageError("--layout takes tile or single, not '" + text + "'");
}

TMarkAnchor ParseAnchor(const std::string& text) {
  if (const auto anchor = AnchorNamed(text)) return *anchor;
  throw TUsageError("--anchor takes " + AnchorNames() + ", not '" + text + "'");
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

// The options over `command`: each one given replaces its value there.
TBrandCommandLine ParseOptions(std::span<const std::string> args, TBrandCommandLine command) {
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
    } else if (auto logo = value("--logo")) {
      command.Look.LogoFile = *logo;
    } else if (arg == "--fields") {
      command.Fields = true;
    } else if (auto preset = value("--preset")) {
      command.Preset = *preset;
    } else if (auto config = value("--config")) {
      command.ConfigFile = *config;
    } else {
      throw TUsageError("unknown option '" + arg + "'");
    }
  }
  if (command.Help || command.Version) return command;
  // A preset brings its brand text; one typed as well overrides it.
  const bool textGiven = positional.size() == 3;
  if (!textGiven && !(command.Preset && positional.size() == 2)) {
    throw TUsageError(std::string("expected ") +
                      (command.Preset ? "[BRAND_TEXT] " : "BRAND_TEXT ") +
                      "SOURCE_DIR TARGET_DIR, got " + std::to_string(positional.size()) +
                      " argument" + (positional.size() == 1 ? "" : "s"));
  }
  if (textGiven) command.BrandText = positional[0];
  command.SourceDirectory = WithTrailingSlash(positional[positional.size() - 2]);
  command.TargetDirectory = WithTrailingSlash(positional[positional.size() - 1]);
  return command;
}

// The named preset of the configuration file, read as the window reads it:
// the current user's entries.
TMarkPreset ReadBrandPreset(const std::string& configFile, const std::string& name) {
  TConfigurationFile store(configFile);
  if (!store.Load()) {
    throw TUsageError("--config: the configuration file '" + configFile +
                      "' cannot be read for this user");
  }
  const std::optional<std::string> text = ReadPreset(store, name);
  if (!text) throw TUsageError("--preset: '" + configFile + "' holds no preset '" + name + "'");
  try {
    return MarkPresetFromText(*text);
  } catch (const ConvertError& e) {
    throw TUsageError("--preset '" + name + "': " + e.what());
  }
}

// The command with its logo read, once for the whole run: a logo that
// cannot be read refuses the run before any file is touched.
TBrandCommandLine WithLogo(TBrandCommandLine command) {
  if (command.Look.LogoFile.empty()) return command;
  try {
    command.Look.Logo = LoadLogo(command.Look.LogoFile);
  } catch (const std::exception& e) {
    throw TUsageError("--logo: the logo cannot be read: " + std::string(e.what()));
  }
  return command;
}

}  // namespace

TBrandCommandLine ParseBrandCommandLine(std::span<const std::string> args) {
  const TBrandCommandLine command = ParseOptions(args, TBrandCommandLine{});
  if (command.Help || command.Version) return command;
  if (!command.Preset) {
    if (command.ConfigFile) throw TUsageError("--config is read only with --preset");
    return WithLogo(command);
  }
  if (!command.ConfigFile) throw TUsageError("--preset needs --config FILE");
  // The preset stands in for the defaults, so that every option typed beside
  // it, before or after, overrides its value.
  const TMarkPreset preset = ReadBrandPreset(*command.ConfigFile, *command.Preset);
  TBrandCommandLine base;
  base.BrandText = preset.BrandText;
  base.FontText = preset.FontText;
  base.Look = preset.Look;
  base.Fields = preset.Fields;
  return WithLogo(ParseOptions(args, base));
}

TBatchSettings BatchSettings(const TBrandCommandLine& command) {
  return {.BrandText = command.BrandText,
          .FontText = command.FontText,
          .SourceDirectory = command.SourceDirectory,
          .TargetDirectory = command.TargetDirectory,
          .HasLogo = !command.Look.LogoFile.empty()};
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
  ConvertCopies(options, command.ConvertTo);
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
