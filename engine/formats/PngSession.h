#pragma once
/// What the PNG reader and writer share about running libpng (inside the
/// engine only): one libpng object with our error and warning callbacks,
/// steps run with the error jump armed, our callbacks called from libpng's C
/// frames. A libpng error becomes an ImageError naming the file; an exception
/// of one of our callbacks reaches the caller unchanged.
///
/// The jump rule, as for libjpeg: libpng leaves a failed step only by a
/// longjmp back to RunPngGuarded. Nothing the jump crosses holds an object
/// with a destructor or is inside a catch block: a guarded step holds plain
/// values and references only, and a callback takes its exception out of the
/// handler before it calls png_error.

#include <png.h>

#include <csetjmp>
#include <cstdint>
#include <exception>
#include <string>
#include <vector>

namespace sigilon {

/// Most bytes libpng may allocate for one chunk (an ICC profile or text
/// inflated, an eXIf block): far beyond any real profile or packet, far
/// below what would hurt.
inline constexpr std::uint64_t kMaxPngChunkBytes = std::uint64_t{64} << 20;

/// Most warnings kept for one file: a damaged file may repeat itself.
inline constexpr std::size_t kMaxPngWarnings = 20;

/// libpng's error pointer: where a failure's text goes and where it jumps.
struct TPngErrors {
  std::jmp_buf Jump;
  char Message[256];
  /// Where warning texts go, each once; null when nobody asked.
  std::vector<std::string>* Warnings;
  /// The exception one of our callbacks left before it stopped libpng.
  std::exception_ptr Pending;
};

/// Runs one libpng step with the error jump armed; false when libpng failed.
/// setjmp lives only here. The step must hold nothing with a destructor.
template <typename Step>
bool RunPngGuarded(TPngErrors& errors, const Step& step) {
  if (setjmp(errors.Jump) != 0) return false;
  step();
  return true;
}

/// Calls `callback` (reading input or writing output) from inside libpng:
/// an exception it throws is kept in errors.Pending and false returned, its
/// handler ended, so that the caller may stop libpng with png_error.
template <typename Callback>
bool CalledCleanly(TPngErrors& errors, const Callback& callback) noexcept {
  try {
    callback();
    return true;
  } catch (...) {
    errors.Pending = std::current_exception();
    return false;
  }
}

/// One libpng read or write object with its info structure, destroyed
/// together.
class TPngSession {
 public:
  enum class TKind { Read, Write };
  /// Throws ImageError naming `name` when libpng cannot be set up.
  TPngSession(TKind kind, std::string name);
  ~TPngSession();
  TPngSession(const TPngSession&) = delete;
  TPngSession& operator=(const TPngSession&) = delete;

  png_structp Png() const { return png_; }
  png_infop Info() const { return info_; }
  TPngErrors& Errors() { return errors_; }
  const std::string& Name() const { return name_; }

  /// Runs a step (see RunPngGuarded); throws the failure's exception.
  template <typename Step>
  void Run(const Step& step) {
    if (!RunPngGuarded(errors_, step)) Fail();
  }
  /// The failure of the last step: the exception a callback left, else
  /// libpng's message as an ImageError naming the file.
  [[noreturn]] void Fail();

 private:
  void Destroy() noexcept;

  TKind kind_;
  std::string name_;
  TPngErrors errors_{};
  png_structp png_ = nullptr;
  png_infop info_ = nullptr;
};

}  // namespace sigilon
