#pragma once
/// The box structure HEIF files are made of, read through ByteReader: box
/// types as numbers, sized fields, and a walk over the boxes a span holds.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <span>
#include <string>

#include "engine/ByteReader.h"

namespace sigilon {

/// A box or item type: its four letters, the first in the high byte.
using TFourCC = std::uint32_t;

constexpr TFourCC FourCC(const char (&text)[5]) {
  return std::uint32_t{static_cast<std::uint8_t>(text[0])} << 24 |
         std::uint32_t{static_cast<std::uint8_t>(text[1])} << 16 |
         std::uint32_t{static_cast<std::uint8_t>(text[2])} << 8 |
         std::uint32_t{static_cast<std::uint8_t>(text[3])};
}

/// A type as messages show it: its four letters quoted, '?' for a byte that
/// is no printable letter.
std::string FourCCText(TFourCC type);

/// A big-endian field of `bytes` bytes (0, 2, 4 or 8; 0 reads nothing and
/// gives 0), as item locations size them. Throws ImageError otherwise.
std::uint64_t SizedField(ByteReader& reader, unsigned bytes, const char* what);

/// Calls `visit` with the type and body of each box `data` holds. A box that
/// runs past the end throws ImageError naming `name` and `where`, unless
/// `lenient`: then the walk stops there (the file's outer level, where only
/// the meta box matters).
void ForEachBox(std::span<const std::byte> data, const std::string& name, const char* where,
                const std::function<void(TFourCC, std::span<const std::byte>)>& visit,
                bool lenient = false);

}  // namespace sigilon
