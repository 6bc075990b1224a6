#pragma once
/// What branding one file came to, as a value, and the one place where it
/// becomes the text a user reads: the result line and the reason.

#include <string>
#include <vector>

namespace sigilon {

/// The kind of a file's outcome; each has its own result line.
enum class TOutcomeKind {
  Processed,       ///< "Processed file: "
  Failed,          ///< "Failed to process file: "
  NotProcessable,  ///< "File type not processable: " (no format takes its name)
  Skipped,         ///< "Skipped file: " (a batch run left an existing target alone)
};

/// What branding one file came to.
struct TBrandOutcome {
  TOutcomeKind Kind = TOutcomeKind::Processed;
  /// Why a file failed, in words for its user ("Permission denied", a
  /// codec's message); empty for the other kinds.
  std::string Reason{};
  /// What was wrong with a file branded as far as it decodes (a damaged
  /// JPEG's libjpeg warnings), each text once.
  std::vector<std::string> Warnings{};
};

/// The result line of an outcome of `kind` for the file at `sourcePath`.
std::string ResultLine(TOutcomeKind kind, const std::string& sourcePath);

/// Warnings as one text, "; " between them.
std::string JoinWarnings(const std::vector<std::string>& warnings);

/// The text a front end shows beside the result line: the reason of a
/// failure, the warnings of a processed file, or the empty text.
std::string OutcomeNote(const TBrandOutcome& outcome);

}  // namespace sigilon
