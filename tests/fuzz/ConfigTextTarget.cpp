// Configuration text descrambler: what decodes, encoded again, decodes to the
// same text, and the encoded form is digits in lines.

#include <string>

#include "settings/Scrambling.h"
#include "tests/fuzz/FuzzCheck.h"

using namespace sigilon;

namespace {

// The configuration file's key inputs.
const char* const kName = "Sigilon";
const char* const kVersion = "1.0";
const char* const kKey = "5E2A7C14-9B3D-4F61-A8C2-0D47E95B31F6";

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data, std::size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  std::string plain;
  try {
    plain = DecodeText(kName, kVersion, kKey, text);
  } catch (const DecodeError&) {
    return 0;
  }
  const std::string encoded = EncodeText(kName, kVersion, kKey, plain);
  FUZZ_CHECK(encoded.find_first_not_of("0123456789ABCDEF\r\n") == std::string::npos);
  FUZZ_CHECK(encoded.size() < 2 || encoded.compare(encoded.size() - 2, 2, "\r\n") != 0);
  FUZZ_CHECK(DecodeText(kName, kVersion, kKey, encoded) == plain);
  return 0;
}
