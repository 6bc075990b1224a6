#include "engine/formats/PngSession.h"

#include <algorithm>
#include <cstdio>
#include <utility>

#include "engine/Errors.h"

namespace sigilon {

namespace {

TPngErrors& ErrorsOf(png_structp png) { return *static_cast<TPngErrors*>(png_get_error_ptr(png)); }

// libpng must not continue after an error, and a C++ exception must not pass
// through its C frames: keep the text and jump back to the guard.
[[noreturn]] void OnError(png_structp png, png_const_charp message) {
  TPngErrors& errors = ErrorsOf(png);
  std::snprintf(errors.Message, sizeof errors.Message, "%s", message ? message : "");
  std::longjmp(errors.Jump, 1);
}

// Called from libpng's C frames, so nothing throws.
void OnWarning(png_structp png, png_const_charp message) noexcept {
  std::vector<std::string>* warnings = ErrorsOf(png).Warnings;
  if (warnings == nullptr || warnings->size() >= kMaxPngWarnings || message == nullptr) return;
  try {
    if (std::find(warnings->begin(), warnings->end(), message) == warnings->end()) {
      warnings->emplace_back(message);
    }
  } catch (const std::exception&) {
    // Out of memory for a message: the picture is still what it is.
  }
}

}  // namespace

TPngSession::TPngSession(TKind kind, std::string name) : kind_(kind), name_(std::move(name)) {
  // libpng reports a failure to create itself through the error callback.
  const bool created = RunPngGuarded(errors_, [this] {
    png_ = kind_ == TKind::Read
               ? png_create_read_struct(PNG_LIBPNG_VER_STRING, &errors_, OnError, OnWarning)
               : png_create_write_struct(PNG_LIBPNG_VER_STRING, &errors_, OnError, OnWarning);
    if (png_ != nullptr) info_ = png_create_info_struct(png_);
  });
  if (!created || png_ == nullptr || info_ == nullptr) {
    // The destructor will not run for a constructor that throws.
    Destroy();
    throw ImageError(name_ + ": cannot set up the PNG library");
  }
}

TPngSession::~TPngSession() { Destroy(); }

void TPngSession::Destroy() noexcept {
  if (png_ == nullptr) return;
  if (kind_ == TKind::Read) {
    png_destroy_read_struct(&png_, &info_, nullptr);
  } else {
    png_destroy_write_struct(&png_, &info_);
  }
}

void TPngSession::Fail() {
  // Taken out, so a later failure of the same session is reported as its own.
  std::exception_ptr pending;
  pending.swap(errors_.Pending);
  if (pending) std::rethrow_exception(pending);
  throw ImageError(name_ + ": PNG error: " + errors_.Message);
}

}  // namespace sigilon
