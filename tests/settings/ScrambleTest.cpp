#include <gtest/gtest.h>

#include <string>

#include "settings/KestroDataEncode_Unit.h"
#include "settings/PlatformDependence_Unit.h"

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

/// The lines of an encoded text, split at CR LF.
std::vector<std::string> LinesOf(const std::string& encoded) {
  std::vector<std::string> lines;
  std::size_t start = 0;
  for (;;) {
    const auto at = encoded.find("\r\n", start);
    lines.push_back(encoded.substr(start, at - start));
    if (at == std::string::npos) return lines;
    start = at + 2;
  }
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

TEST(Scrambling, RoundTripsEveryByteValue) {
  const std::string all = AllByteValues();
  EXPECT_EQ(Decode(Encode(all)), all);
  // Each value at every rotation phase: the amounts repeat every 49 positions.
  std::string shifted;
  for (int phase = 0; phase < 49; ++phase) shifted += all;
  EXPECT_EQ(Decode(Encode(shifted)), shifted);

  for (const std::string& text :
       {std::string(), std::string(1, '\0'), std::string("\r"), std::string("\n"),
        std::string("\r\n\r\n"), std::string("a\0b", 3)}) {
    EXPECT_EQ(Decode(Encode(text)), text);
  }
  EXPECT_EQ(Encode(""), "");
  EXPECT_EQ(Decode(""), "");
}

TEST(Scrambling, OtherKeyInputsGiveOtherTexts) {
  const std::string text = "user.BrandText=value";
  EXPECT_EQ(Encode(text), Encode(text));
  EXPECT_NE(EncodeText(kName, "1.1", kKey, text), Encode(text));
  // Wrongly keyed text decodes to something else rather than failing.
  EXPECT_NE(DecodeText(kName, "1.1", kKey, Encode(text)), text);
  // Short key inputs are doubled up.
  EXPECT_EQ(DecodeText("a", "b", "c", EncodeText("a", "b", "c", text)), text);
}

TEST(Scrambling, LineCutting) {
  // Up to 80 digits stay on one line.
  EXPECT_EQ(Encode(std::string(40, 'x')).size(), 80u);
  EXPECT_EQ(Encode(std::string(40, 'x')).find('\r'), std::string::npos);

  for (const std::size_t n : {41u, 79u, 80u, 81u, 200u, 1000u}) {
    const std::string encoded = Encode(std::string(n, 'q'));
    const auto lines = LinesOf(encoded);
    std::size_t digits = 0;
    for (std::size_t i = 0; i < lines.size(); ++i) {
      const std::size_t expected = i == 0 ? 79 : 78;
      if (i + 1 < lines.size()) {
        EXPECT_EQ(lines[i].size(), expected) << "n=" << n << " line " << i;
      } else {
        EXPECT_GE(lines[i].size(), 2u);
        EXPECT_LE(lines[i].size(), 79u);
      }
      for (const char c : lines[i]) {
        EXPECT_TRUE((c >= '0' && c <= '9') || (c >= 'A' && c <= 'F')) << "n=" << n;
      }
      digits += lines[i].size();
    }
    EXPECT_EQ(digits, 2 * n);
    EXPECT_NE(encoded.substr(encoded.size() - 2), "\r\n");
  }
}

TEST(Scrambling, DecodeIsLenientAboutCaseAndLineBreaks) {
  const std::string text = AllByteValues();
  const std::string encoded = Encode(text);

  std::string lower = encoded;
  for (char& c : lower) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  EXPECT_EQ(Decode(lower), text);

  std::string digits;
  for (const char c : encoded) {
    if (c != '\r' && c != '\n') digits += c;
  }
  EXPECT_EQ(Decode(digits), text);
  std::string rebroken;
  for (std::size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && i % 17 == 0) rebroken += "\r\n";
    rebroken += digits[i];
  }
  EXPECT_EQ(Decode(rebroken + "\r\n"), text);
  // A CR alone at the end goes alone.
  EXPECT_EQ(Decode(digits + "\r"), text);
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
