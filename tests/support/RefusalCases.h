#pragma once
// The settings a run refuses, with the message each one gives: the window
// program and sigilon-brand are both tested against this one table, so the
// two front ends cannot drift apart.

#include <string>
#include <vector>

namespace sigilon::test {

struct RefusalCase {
  std::string Name;
  std::string BrandText;
  std::string SourceDirectory;
  std::string TargetDirectory;
  std::string Message;
  /// The window program keeps its own files in its start directory;
  /// sigilon-brand has none there and does not refuse it.
  bool WindowOnly = false;
};

/// `source` and `other` are existing directories (spelled without a trailing
/// "/"); `start` is the window program's start directory.
inline std::vector<RefusalCase> RefusalCases(const std::string& source, const std::string& other,
                                             const std::string& start) {
  const std::string same =
      "You cannot save the Target images into the same directory as the Source images because "
      "they would overwrite the Source images!";
  return {
      {"no brand text", "", source, other, "You must enter the Brand Text setting."},
      // Blanks are a brand text: the next check speaks.
      {"no source", "  ", "", other, "You must set the Source Path setting."},
      {"no target", "B", source, "", "You must set the Target Path setting."},
      {"same text", "B", source, source, same},
      {"same directory spelled otherwise", "B", source, source + "/.", same},
      {"start directory", "B", source, start,
       "You cannot save the Target images into Sigilon's directory!", true},
  };
}

}  // namespace sigilon::test
