#include "engine/BrandJob.h"

#include "engine/BrandFields.h"
#include "engine/BrandOutcome.h"
#include "engine/Errors.h"
#include "engine/formats/PictureFormat.h"

namespace sigilon {

void RefuseDamaged(const TBrandJob& job, const TPictureFormat& format,
                   const std::vector<std::string>& warnings) {
  if (job.Options.Strict && !warnings.empty()) {
    throw ImageError(job.SourcePath + ": damaged " + std::string(format.Name()) +
                     " data: " + JoinWarnings(warnings));
  }
}

std::string StampText(const TBrandJob& job, const TPictureMetadata& metadata,
                      std::vector<std::string>& warnings) {
  if (!job.Options.Fields) return job.BrandText;
  return ExpandFields(job.BrandText,
                      FileFieldValues(job.SourcePath, metadata, job.Options.FileNumber), warnings);
}

}  // namespace sigilon
