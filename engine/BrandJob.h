#pragma once
/// One file to brand, as the branding paths below BrandFile take it.

#include <functional>
#include <string>
#include <vector>

#include "engine/BrandOptions.h"

namespace sigilon {

class TFont;

struct TBrandJob {
  std::string BrandText;
  const TFont& Font;
  std::string SourcePath;
  std::string TargetPath;
  TBrandOptions Options{};
  /// Receives the whole stamped picture on the calling thread once it is
  /// complete and the guard has passed, before a failure to write it is
  /// reported; none: no picture is kept whole for it.
  TStampedPictureHandler ShowPicture{};
  /// Refuses (throws) a target that must not be written; called before the
  /// source is opened, before the target is created and before it is put
  /// in place.
  std::function<void()> GuardTarget{};
};

class TPictureFormat;
struct TPictureMetadata;

/// The text to stamp on the job's file: with Options.Fields, the brand text
/// with its fields filled in from the file and its `metadata`, what it lacks
/// added to `warnings`; otherwise the brand text as it is.
std::string StampText(const TBrandJob& job, const TPictureMetadata& metadata,
                      std::vector<std::string>& warnings);

/// With Options.Strict, throws for a picture of `format` that was read with
/// `warnings` (damaged data): it fails instead of being branded as far as it
/// decodes.
void RefuseDamaged(const TBrandJob& job, const TPictureFormat& format,
                   const std::vector<std::string>& warnings);

}  // namespace sigilon
