#include "engine/JpegSession.h"

#include <jerror.h>

#include <algorithm>
#include <cstdlib>
#include <cstring>

#include "engine/Errors.h"
#include "engine/JpegDecoder.h"

namespace sigilon {

namespace {

// libjpeg must not continue after an error, and a C++ exception must not pass
// through its C frames: remember the message and jump back to the guard.
[[noreturn]] void ErrorExit(j_common_ptr info) {
  TJpegErrorManager& errors = ErrorsOf(info);
  errors.MessageCode = errors.Pub.msg_code;
  (*errors.Pub.format_message)(info, errors.Message);
  std::longjmp(errors.Jump, 1);
}

// Warnings (level -1: corrupt or missing data) and trace messages are not
// failures: the picture is used as far as it decodes. Warnings are noted for
// callers that report them; called from libjpeg's C frames, so nothing throws.
void EmitMessage(j_common_ptr info, int level) noexcept {
  if (level >= 0) return;
  ++info->err->num_warnings;
  std::vector<std::string>* warnings = ErrorsOf(info).Warnings;
  if (warnings == nullptr || warnings->size() >= kMaxJpegWarnings) return;
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  try {
    if (std::find(warnings->begin(), warnings->end(), text) == warnings->end()) {
      warnings->emplace_back(text);
    }
  } catch (const std::exception&) {
    // Out of memory for a message: the count above still says it happened.
  }
}

void OutputMessage(j_common_ptr) {}

}  // namespace

jpeg_error_mgr* InstallErrorManager(TJpegErrorManager& errors) {
  std::memset(&errors, 0, sizeof errors);
  jpeg_error_mgr* const pub = jpeg_std_error(&errors.Pub);
  errors.Pub.error_exit = ErrorExit;
  errors.Pub.emit_message = EmitMessage;
  errors.Pub.output_message = OutputMessage;
  return pub;
}

void StopLibjpeg(j_common_ptr info) {
  (*info->err->error_exit)(info);
  std::abort();  // error_exit never returns
}

void ThrowJpegFailure(const std::string& name, const TJpegErrorManager& errors,
                      std::exception_ptr pending) {
  if (pending) std::rethrow_exception(pending);
  if (errors.ScanLimitExceeded) {
    throw ImageError(name + ": JPEG file has more than " + std::to_string(kMaxJpegScans) +
                     " scans; expected at most " + std::to_string(kMaxJpegScans));
  }
  throw ImageError(name + ": JPEG error #" + std::to_string(errors.MessageCode) + ": " +
                   errors.Message);
}

}  // namespace sigilon
