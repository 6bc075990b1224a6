#pragma once
/// What the JPEG decoder and encoder share about running libjpeg (inside the
/// engine only): one libjpeg object with our error manager, steps run with
/// libjpeg's error jump armed, and our own callbacks called from libjpeg's C
/// frames. A libjpeg error becomes an ImageError naming the source; an
/// exception of one of our callbacks reaches the caller unchanged.
///
/// The jump rule: libjpeg leaves a failed step only by a longjmp back to
/// RunGuarded. Nothing that the jump crosses may hold an object with a
/// destructor or be inside a catch block: a guarded step holds plain values
/// and references only, and a callback takes its exception out of the
/// handler (CalledCleanly) before anything jumps.

// jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>

#include <jpeglib.h>

#include <csetjmp>
#include <cstdint>
#include <exception>
#include <string>
#include <type_traits>
#include <utility>
#include <vector>

#include "engine/Bitmap.h"

namespace sigilon {

/// Memory libjpeg may use for its own buffers: enough for the coefficients
/// of three full-resolution components (2 bytes each) at the pixel bound, so
/// any picture that passes kMaxPixels decodes and nothing larger is tried.
inline constexpr std::uint64_t kMaxJpegDecoderMemory = kMaxPixels * 3 * 2;

/// libjpeg sees the first member; the rest is ours. Standard layout, so the
/// jpeg_error_mgr* that libjpeg hands back converts to the whole record.
struct TJpegErrorManager {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
  int MessageCode;
  char Message[JMSG_LENGTH_MAX];
  /// Set when one of our own limits stopped the decoder, not libjpeg.
  bool ScanLimitExceeded;
  /// Where warning texts go; null when nobody asked.
  std::vector<std::string>* Warnings;
};

inline TJpegErrorManager& ErrorsOf(j_common_ptr info) {
  return *reinterpret_cast<TJpegErrorManager*>(info->err);
}

/// Resets `errors` and points libjpeg's messages at it: errors jump back to
/// the running RunGuarded, warnings are collected, nothing is printed.
jpeg_error_mgr* InstallErrorManager(TJpegErrorManager& errors);

/// Runs one libjpeg step with the error jump armed; false when libjpeg
/// failed. setjmp lives only here. The step must hold nothing with a
/// destructor, as the jump back skips its frames.
template <typename Step>
bool RunGuarded(TJpegErrorManager& errors, const Step& step) {
  if (setjmp(errors.Jump) != 0) return false;
  step();
  return true;
}

/// Stops libjpeg from a frame of ours, through its error exit: a jump back
/// to RunGuarded. Call it only outside any catch block.
[[noreturn]] void StopLibjpeg(j_common_ptr info);

/// Calls `callback` (reading input or writing output) from inside libjpeg.
/// An exception it throws is kept in `pending` and its handler ends here;
/// the caller then stops libjpeg (StopLibjpeg) from outside the handler, so
/// the exception is freed once the session's caller has caught it.
template <typename Callback>
bool CalledCleanly(std::exception_ptr& pending, const Callback& callback) noexcept {
  try {
    callback();
    return true;
  } catch (...) {
    pending = std::current_exception();
    return false;
  }
}

/// The failure of a session: the exception a callback left, else our scan
/// limit, else libjpeg's message as an ImageError naming `name`.
[[noreturn]] void ThrowJpegFailure(const std::string& name, const TJpegErrorManager& errors,
                                   std::exception_ptr pending);

/// Owns the error manager and one libjpeg object (decompress or compress)
/// and turns a failed step into the failure's exception.
template <typename Info>
class TJpegSession {
 public:
  explicit TJpegSession(const std::string& name) : name_(name) {
    info_.err = InstallErrorManager(errors_);
    const bool created = RunGuarded(errors_, [this] {
      if constexpr (std::is_same_v<Info, jpeg_decompress_struct>) {
        jpeg_create_decompress(&info_);
      } else {
        jpeg_create_compress(&info_);
      }
    });
    if (!created) {
      // The destructor will not run for a constructor that throws.
      Destroy();
      Fail();
    }
    // Everything libjpeg buffers for one picture stays within this budget;
    // beyond it libjpeg fails (it has no backing store) instead of swapping.
    info_.mem->max_memory_to_use = static_cast<long>(kMaxJpegDecoderMemory);
  }
  ~TJpegSession() { Destroy(); }
  TJpegSession(const TJpegSession&) = delete;
  TJpegSession& operator=(const TJpegSession&) = delete;

  Info& info() { return info_; }
  const Info& info() const { return info_; }
  void CollectWarnings(std::vector<std::string>* warnings) { errors_.Warnings = warnings; }

  /// Runs a step (see RunGuarded); throws the failure's exception.
  template <typename Step>
  void Run(const Step& step) {
    if (!RunGuarded(errors_, step)) Fail();
  }

  /// Where a callback of ours leaves the exception that stopped libjpeg.
  std::exception_ptr* PendingSlot() { return &pending_; }

 private:
  [[noreturn]] void Fail() {
    // Taken out, so a later failure of the same session is reported as its own.
    std::exception_ptr pending;
    pending.swap(pending_);
    ThrowJpegFailure(name_, errors_, std::move(pending));
  }
  // Safe on a half-created object: libjpeg checks what it has set up.
  void Destroy() { jpeg_destroy(reinterpret_cast<j_common_ptr>(&info_)); }

  std::string name_;
  TJpegErrorManager errors_;
  std::exception_ptr pending_;
  Info info_{};
};

using TDecompressor = TJpegSession<jpeg_decompress_struct>;
using TCompressor = TJpegSession<jpeg_compress_struct>;

}  // namespace sigilon
