#include "engine/BrandOutcome.h"

namespace sigilon {

std::string ResultLine(TOutcomeKind kind, const std::string& sourcePath) {
  switch (kind) {
    case TOutcomeKind::Processed:
      return "Processed file: " + sourcePath;
    case TOutcomeKind::Failed:
      return "Failed to process file: " + sourcePath;
    case TOutcomeKind::NotProcessable:
      return "File type not processable: " + sourcePath;
    case TOutcomeKind::Skipped:
      return "Skipped file: " + sourcePath;
  }
  return "Failed to process file: " + sourcePath;
}

std::string JoinWarnings(const std::vector<std::string>& warnings) {
  std::string text;
  for (const std::string& warning : warnings) text += (text.empty() ? "" : "; ") + warning;
  return text;
}

std::string OutcomeNote(const TBrandOutcome& outcome) {
  return outcome.Kind == TOutcomeKind::Failed ? outcome.Reason : JoinWarnings(outcome.Warnings);
}

}  // namespace sigilon
