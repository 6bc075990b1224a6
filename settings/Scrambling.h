#pragma once
/// Keyed scrambling of the configuration file's text into lines of
/// hexadecimal digits, and its reversal.

#include <cstdint>
#include <stdexcept>
#include <string>

namespace sigilon {

/// DecodeText could not unscramble its input; no partial text is returned.
class DecodeError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

/// Rotates the eight bits of `value` right (left) by `count` places, 0 to 7.
std::uint8_t RotateByteRight(std::uint8_t value, int count);
std::uint8_t RotateByteLeft(std::uint8_t value, int count);

/// Scrambles any 8-bit text under the three key inputs. Never fails.
std::string EncodeText(const std::string& applicationName, const std::string& version,
                       const std::string& key, const std::string& text);

/// Reverses EncodeText. Throws DecodeError when one digit is left after the
/// line breaks are removed, or a pair holds a non-hexadecimal character.
std::string DecodeText(const std::string& applicationName, const std::string& version,
                       const std::string& key, const std::string& text);

}  // namespace sigilon
