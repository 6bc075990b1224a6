#include "settings/Scrambling.h"

#include <algorithm>
#include <array>
#include <cstdint>
#include <utility>

#include "platform/PathText.h"

// Positions below count from 1, as the stored file format was defined; each
// access subtracts one at the point of use. Changing any detail here makes
// every stored configuration file unreadable.

namespace sigilon {

std::uint8_t RotateByteRight(std::uint8_t value, int count) {
  count &= 7;
  if (count == 0) return value;
  return static_cast<std::uint8_t>((value >> count) | (value << (8 - count)));
}

std::uint8_t RotateByteLeft(std::uint8_t value, int count) {
  count &= 7;
  if (count == 0) return value;
  return static_cast<std::uint8_t>((value << count) | (value >> (8 - count)));
}

namespace {

/// Only the first 50 characters of each doubled input enter the key text.
constexpr std::size_t kKeyInputLength = 50;
/// Rotation amounts and swap partners repeat with this period.
constexpr std::size_t kKeyPeriod = 49;
/// Encoded lines: a break goes in front of every 80th position.
constexpr std::size_t kLineBreakStep = 80;

/// The key characters 1 to 50 (the interleaved key text is 150 long; only
/// its first 50 characters are ever read).
struct TKeyText {
  std::array<std::uint8_t, kKeyInputLength + 1> code{};  // [0] unused

  /// Rotation amount r(i) for text position i (1-based).
  int Rotation(std::size_t i) const { return (code[(i % kKeyPeriod) + 1]) & 7; }

  /// Swap partner k(i) for position i in a text of length m >= 2.
  std::size_t Partner(std::size_t i, std::size_t m) const {
    const std::size_t j = (i % kKeyPeriod) + 1;
    const unsigned a = code[j];
    const unsigned b = code[kKeyInputLength + 1 - j];
    return (a * b) % (m - 1) + 1;
  }
};

std::string Doubled(const std::string& input) {
  // An empty input would never grow; the callers pass fixed non-empty texts,
  // but a stray empty one must not hang the program.
  std::string text = input.empty() ? std::string(1, ' ') : input;
  while (text.size() < kKeyInputLength) text += std::string(text);
  return text;
}

TKeyText BuildKeyText(const std::string& applicationName, const std::string& version,
                      const std::string& key) {
  const std::string name = Doubled(applicationName);
  const std::string keyText = Doubled(key);
  const std::string versionText = Doubled(version);
  // Interleaved name, key, version; the first 50 characters come from the
  // first 17 triples.
  std::string interleaved;
  for (std::size_t i = 0; i < kKeyInputLength; ++i) {
    interleaved += name[i];
    interleaved += keyText[i];
    interleaved += versionText[i];
  }
  TKeyText result;
  for (std::size_t i = 1; i <= kKeyInputLength; ++i) {
    result.code[i] = static_cast<std::uint8_t>(interleaved[i - 1]);
  }
  return result;
}

}  // namespace

std::string EncodeText(const std::string& applicationName, const std::string& version,
                       const std::string& key, const std::string& text) {
  const TKeyText keyText = BuildKeyText(applicationName, version, key);
  static constexpr char kDigits[] = "0123456789ABCDEF";

  std::string hex;
  hex.reserve(text.size() * 2);
  for (std::size_t i = 1; i <= text.size(); ++i) {
    const std::uint8_t rotated =
        RotateByteRight(static_cast<std::uint8_t>(text[i - 1]), keyText.Rotation(i));
    hex += kDigits[rotated >> 4];
    hex += kDigits[rotated & 0x0F];
  }

  const std::size_t m = hex.size();
  if (m >= 2) {
    for (std::size_t i = 1; i <= m; ++i) std::swap(hex[i - 1], hex[keyText.Partner(i, m) - 1]);
  }

  // Breaks go in front of position p of the growing text, so the first line
  // holds 79 digits and the following ones 78. The text is built in one pass:
  // inserting into it in place would take time quadratic in its length.
  std::string lines;
  lines.reserve(m + m / (kLineBreakStep - 2) * 2 + 2);
  std::size_t copied = 0;
  for (std::size_t p = kLineBreakStep; p < m + (lines.size() - copied); p += kLineBreakStep) {
    // Up to position p - 1 of the broken text, counting the breaks so far.
    const std::size_t digits = (p - 1) - lines.size();
    lines.append(hex, copied, digits);
    copied += digits;
    lines += "\r\n";
  }
  lines.append(hex, copied, std::string::npos);
  return lines;
}

std::string DecodeText(const std::string& applicationName, const std::string& version,
                       const std::string& key, const std::string& text) {
  const TKeyText keyText = BuildKeyText(applicationName, version, key);

  // Going from the end, a CR takes along the character that follows it in
  // what is left by then (the LF of its pair). The survivors are collected
  // back to front, so the one after a CR is the last collected: one pass, no
  // erasing from the middle of a long text.
  std::string digits;
  digits.reserve(text.size());
  for (std::size_t i = text.size(); i-- > 0;) {
    if (text[i] != '\r') {
      digits += text[i];
    } else if (!digits.empty()) {
      digits.pop_back();
    }
  }
  std::reverse(digits.begin(), digits.end());

  const std::size_t m = digits.size();
  if (m == 1) throw DecodeError("Cannot decode a text of a single digit");
  if (m >= 2) {
    for (std::size_t i = m; i >= 1; --i)
      std::swap(digits[keyText.Partner(i, m) - 1], digits[i - 1]);
  }

  std::string plain;
  plain.reserve(m / 2);
  for (std::size_t i = 1; i < m; i += 2) {
    const int high = HexDigitValue(digits[i - 1]);
    const int low = HexDigitValue(digits[i]);
    if (high < 0 || low < 0) {
      throw DecodeError("Cannot decode the text: a non-hexadecimal character in digit pair " +
                        std::to_string(i / 2 + 1));
    }
    const std::size_t position = plain.size() + 1;
    plain += static_cast<char>(
        RotateByteLeft(static_cast<std::uint8_t>(high * 16 + low), keyText.Rotation(position)));
  }
  return plain;
}

}  // namespace sigilon
