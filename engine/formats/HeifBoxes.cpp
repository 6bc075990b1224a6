#include "engine/formats/HeifBoxes.h"

namespace sigilon {

std::string FourCCText(TFourCC type) {
  std::string text = "'";
  for (int shift = 24; shift >= 0; shift -= 8) {
    const auto c = static_cast<char>((type >> shift) & 0xFF);
    text += c >= ' ' && c <= '~' ? c : '?';
  }
  return text + "'";
}

std::uint64_t SizedField(ByteReader& reader, unsigned bytes, const char* what) {
  switch (bytes) {
    case 0:
      return 0;
    case 2:
      return reader.U16BE(what);
    case 4:
      return reader.U32BE(what);
    case 8: {
      const std::uint64_t high = reader.U32BE(what);
      return high << 32 | reader.U32BE(what);
    }
    default:
      reader.Fail(std::string(what) + ": expected a field of 0, 2, 4 or 8 bytes, found " +
                  std::to_string(bytes));
  }
}

void ForEachBox(std::span<const std::byte> data, const std::string& name, const char* where,
                const std::function<void(TFourCC, std::span<const std::byte>)>& visit,
                bool lenient) {
  ByteReader reader(data, name);
  while (!reader.AtEnd()) {
    const std::size_t start = reader.Position();
    if (lenient && reader.Remaining() < 8) return;
    std::uint64_t size = reader.U32BE(where);
    const TFourCC type = reader.U32BE(where);
    if (size == 1) {
      if (lenient && reader.Remaining() < 8) return;
      size = SizedField(reader, 8, where);
    } else if (size == 0) {
      size = data.size() - start;
    }
    const std::uint64_t header = reader.Position() - start;
    if (lenient && (size < header || size - header > reader.Remaining())) return;
    if (size < header) {
      reader.Fail(std::string(where) + ": expected a box of at least " + std::to_string(header) +
                  " bytes, found " + std::to_string(size));
    }
    visit(type, reader.Bytes(size - header, where));
  }
}

}  // namespace sigilon
