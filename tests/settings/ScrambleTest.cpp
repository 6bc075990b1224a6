#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "settings/Scrambling.h"

namespace sigilon {
namespace {

const std::string kName = "Sigilon";
const std::string kVersion = "1.0";
const std::string kKey = "5E2A7C14-9B3D-4F61-A8C2-0D47E95B31F6";

std::string Encode(const std::string& text) { return EncodeText(kName, kVersion, kKey, text); }
std::string Decode(const std::string& text) { return DecodeText(kName, kVersion, kKey, text); }

std::string AllByteValues() {
  std::string text;
  for (int i = 0; i < 256; ++i) text += static_cast<char>(i);
  return text;
}

TEST(ByteRotation, KnownValuesAndInverse) {
  EXPECT_EQ(RotateByteRight(0x81, 1), 0xC0);
  EXPECT_EQ(RotateByteLeft(0xC0, 1), 0x81);
  EXPECT_EQ(RotateByteRight(0x01, 7), 0x02);
  EXPECT_EQ(RotateByteLeft(0x80, 7), 0x40);
  for (int value = 0; value < 256; ++value) {
    const auto byte = static_cast<std::uint8_t>(value);
    EXPECT_EQ(RotateByteRight(byte, 0), byte);
    for (int count = 0; count < 8; ++count) {
      ASSERT_EQ(RotateByteLeft(RotateByteRight(byte, count), count), byte) << value << " " << count;
    }
  }
}

// Stored configuration files depend on every detail of the scrambling: these
// texts were worked out by hand from the rules, independently of this code.
TEST(Scrambling, KnownAnswers) {
  const std::string plain = "Alice.BrandText=Kestro Studio\r\n";
  const std::string scrambled = "A349920BE0ACB8435425986987337A5A2E7B5C3B11B4609C7BAF068E8A47B5";
  EXPECT_EQ(Encode(plain), scrambled);
  EXPECT_EQ(Decode(scrambled), plain);

  std::string firstBytes;
  for (int i = 0; i < 50; ++i) firstBytes += static_cast<char>(i);
  const std::string broken =
      "0818E04040B0288B107130B159560014791841084138009A0B8851524981340817ACE4821E64224\r\n"
      "790CA028825D262920C9E";
  EXPECT_EQ(Encode(firstBytes), broken);
  EXPECT_EQ(Decode(broken), firstBytes);
}

TEST(Scrambling, RoundTrips) {
  // Each byte value at every rotation phase: the amounts repeat every 49 positions.
  std::string everyPhase;
  for (int phase = 0; phase < 49; ++phase) everyPhase += AllByteValues();
  for (const std::string& text : std::vector<std::string>{
           everyPhase, "", std::string(1, '\0'), "\r", "\n", "\r\n\r\n", std::string("a\0b", 3)}) {
    EXPECT_EQ(Decode(Encode(text)), text) << text.size();
  }
  EXPECT_EQ(Encode(""), "");

  const std::string text = "user.BrandText=value";
  EXPECT_NE(EncodeText(kName, "1.1", kKey, text), Encode(text));
  // Wrongly keyed text decodes to something else rather than failing.
  EXPECT_NE(DecodeText(kName, "1.1", kKey, Encode(text)), text);
  // Short key inputs are doubled up.
  EXPECT_EQ(DecodeText("a", "b", "c", EncodeText("a", "b", "c", text)), text);
}

TEST(Scrambling, LineCutting) {
  // The first line holds 79 digits, the next ones 78; up to 80 digits stay on
  // one line, and the text never ends with a line break.
  for (const std::size_t n : {40u, 41u, 79u, 80u, 81u, 200u, 1000u}) {
    SCOPED_TRACE(n);
    const std::string encoded = Encode(std::string(n, 'q'));
    std::size_t digits = 0;
    for (std::size_t start = 0, line = 0;; ++line) {
      const auto end = encoded.find("\r\n", start);
      const std::string text = encoded.substr(start, end - start);
      EXPECT_EQ(text.find_first_not_of("0123456789ABCDEF"), std::string::npos) << text;
      digits += text.size();
      if (end == std::string::npos) {
        EXPECT_GE(text.size(), 2u);
        EXPECT_LE(text.size(), line == 0 ? 80u : 79u);
        break;
      }
      EXPECT_EQ(text.size(), line == 0 ? 79u : 78u) << "line " << line;
      start = end + 2;
    }
    EXPECT_EQ(digits, 2 * n);
  }
}

TEST(Scrambling, DecodeIsLenientAboutCaseAndLineBreaks) {
  const std::string text = AllByteValues();
  const std::string encoded = Encode(text);
  std::string lower, digits, rebroken;
  for (const char c : encoded) {
    lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c != '\r' && c != '\n') digits += c;
  }
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 17 == 0) rebroken += "\r\n";
    rebroken += digits[i];
  }
  // A CR alone at the end goes alone.
  for (const std::string& variant : {lower, digits, rebroken + "\r\n", digits + "\r"}) {
    EXPECT_EQ(Decode(variant), text) << variant;
  }
}

TEST(Scrambling, DecodeFailures) {
  EXPECT_THROW(Decode("A"), DecodeError);
  EXPECT_THROW(Decode("A\r\n"), DecodeError);

  const std::string encoded = Encode("some plain text of a configuration");
  for (const char bad : {' ', 'G', 'g', '\n', '\0', '-'}) {
    // Wherever it stands after the permutation, every pair is read.
    for (const std::size_t at : {std::size_t{0}, encoded.size() / 2, encoded.size() - 1}) {
      std::string damaged = encoded;
      damaged[at] = bad;
      EXPECT_THROW(Decode(damaged), DecodeError) << "char " << int(bad) << " at " << at;
    }
  }

  // Two digits: one character. An odd digit count leaves the last unread.
  EXPECT_EQ(Decode("41").size(), 1u);
  EXPECT_EQ(Decode("414").size(), 1u);
}

}  // namespace
}  // namespace sigilon
