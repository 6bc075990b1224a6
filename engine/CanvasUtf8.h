#pragma once
// Text decoding for the drawing layer (internal to the engine).

#include <string>
#include <vector>

namespace sigilon::drawing {

/// Decodes UTF-8; a byte that does not start a well-formed sequence stands
/// for itself as Latin-1, so texts saved in an older 8-bit code page still
/// show their accented letters instead of replacement boxes.
std::vector<char32_t> DecodeUtf8(const std::string& text);

}  // namespace sigilon::drawing
