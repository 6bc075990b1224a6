#pragma once
/// Exceptions raised by the branding engine. The engine throws; BrandFile
/// catches once per file and turns the failure into its result line.

#include <stdexcept>
#include <string>

namespace sigilon {

/// A picture could not be read, decoded, encoded or written.
class ImageError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// A piece of a font description text is not a valid integer
/// ("'%s' is not a valid integer value").
class ConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace sigilon
