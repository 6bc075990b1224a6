#pragma once
/// The one error type of the platform helpers: a failed operating-system
/// call, with the path it failed on and the system's reason kept apart for
/// callers that report them their own way.

#include <stdexcept>
#include <string>
#include <utility>

namespace sigilon {

/// A failed operating-system call; the message names the path and the reason.
class PlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
  /// "WHAT \"PATH\": REASON", keeping the path and the reason apart for
  /// callers that report them their own way.
  PlatformError(const std::string& what, std::string path, std::string reason)
      : std::runtime_error(what + " \"" + path + "\": " + reason),
        path_(std::move(path)),
        reason_(std::move(reason)) {}
  /// The path the call failed on; empty when not known.
  const std::string& Path() const { return path_; }
  /// The system's text for the error ("Permission denied"); empty when not known.
  const std::string& Reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

}  // namespace sigilon
