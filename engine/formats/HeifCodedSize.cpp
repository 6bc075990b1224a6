#include "engine/formats/HeifCodedSize.h"

#include <vector>

#include "engine/ByteReader.h"

namespace sigilon {

namespace {

// HEVC: the configuration's fixed fields up to the NAL unit length size,
// the two-byte NAL unit header, and the type of a sequence parameter set.
constexpr std::size_t kHevcConfigFixedBytes = 21;
constexpr std::size_t kNalHeaderBytes = 2;
constexpr unsigned kSequenceParameterSet = 33;
// A profile's fields before its level, and the level.
constexpr unsigned kProfileBits = 88;
constexpr unsigned kLevelBits = 8;
constexpr unsigned kMaxSubLayers = 8;
// 4:4:4, which may code its colours as separate planes.
constexpr std::uint64_t kChroma444 = 3;
// The picture size lies within a parameter set's first hundred or so bytes;
// more is not unescaped.
constexpr std::size_t kMaxParameterSetBytes = 512;
// An Exp-Golomb code of a 32-bit value has at most 31 leading zeros.
constexpr unsigned kMaxExpGolombZeros = 31;

// AV1: the configuration's fixed fields before its OBUs, the type of a
// sequence header OBU, and the longest size field.
constexpr std::size_t kAv1ConfigFixedBytes = 4;
constexpr unsigned kObuSequenceHeader = 1;
constexpr unsigned kMaxLeb128Bytes = 8;
constexpr unsigned kMaxUvlcZeros = 32;

// Most significant bit first, over a bounds-checked byte reader.
class TBitReader {
 public:
  TBitReader(std::span<const std::byte> data, const std::string& what) : bytes_(data, what) {}

  std::uint64_t Bits(unsigned count, const char* what) {
    std::uint64_t value = 0;
    for (unsigned i = 0; i < count; ++i) {
      if (left_ == 0) {
        current_ = bytes_.U8(what);
        left_ = 8;
      }
      --left_;
      value = value << 1 | ((current_ >> left_) & 1u);
    }
    return value;
  }

  bool Flag(const char* what) { return Bits(1, what) != 0; }

  unsigned LeadingZeros(unsigned most, const char* what) {
    unsigned zeros = 0;
    while (!Flag(what)) {
      if (++zeros > most) {
        bytes_.Fail(std::string(what) + ": expected a code of at most " + std::to_string(most) +
                    " leading zeros, found more");
      }
    }
    return zeros;
  }

  std::uint64_t ExpGolomb(const char* what) {
    const unsigned zeros = LeadingZeros(kMaxExpGolombZeros, what);
    return (std::uint64_t{1} << zeros) - 1 + Bits(zeros, what);
  }

 private:
  ByteReader bytes_;
  unsigned current_ = 0;
  unsigned left_ = 0;
};

// A NAL unit's payload without the bytes that keep it from imitating a
// start code (0, 0, 3 stands for 0, 0).
std::vector<std::byte> Unescaped(std::span<const std::byte> payload) {
  std::vector<std::byte> out;
  unsigned zeros = 0;
  for (const std::byte b : payload) {
    if (out.size() == kMaxParameterSetBytes) break;
    if (zeros >= 2 && b == std::byte{3}) {
      zeros = 0;
      continue;
    }
    zeros = b == std::byte{0} ? zeros + 1 : 0;
    out.push_back(b);
  }
  return out;
}

// Calls `visit` with the picture size of `nal` when it is a parameter set
// of the base layer, the only one a single-layer decoder reads.
void VisitParameterSet(std::span<const std::byte> nal, const std::string& what,
                       const std::function<void(const TCodedSize&)>& visit) {
  if (nal.size() < kNalHeaderBytes) return;
  const auto first = static_cast<unsigned>(nal[0]);
  const auto second = static_cast<unsigned>(nal[1]);
  const unsigned layer = (first & 1u) << 5 | second >> 3;
  if ((first >> 1 & 0x3Fu) != kSequenceParameterSet || layer != 0) return;
  const char* where = "HEVC sequence parameter set";
  const std::vector<std::byte> payload = Unescaped(nal.subspan(kNalHeaderBytes));
  TBitReader bits(payload, what);
  bits.Bits(4, where);
  const auto subLayers = static_cast<unsigned>(bits.Bits(3, where));
  bits.Bits(1 + kProfileBits + kLevelBits, where);
  bool profiles[kMaxSubLayers] = {};
  bool levels[kMaxSubLayers] = {};
  for (unsigned i = 0; i < subLayers; ++i) {
    profiles[i] = bits.Flag(where);
    levels[i] = bits.Flag(where);
  }
  if (subLayers > 0) bits.Bits(2 * (kMaxSubLayers - subLayers), where);
  for (unsigned i = 0; i < subLayers; ++i) {
    bits.Bits((profiles[i] ? kProfileBits : 0) + (levels[i] ? kLevelBits : 0), where);
  }
  bits.ExpGolomb(where);
  if (bits.ExpGolomb(where) == kChroma444) bits.Bits(1, where);
  const std::uint64_t width = bits.ExpGolomb(where);
  visit({width, bits.ExpGolomb(where)});
}

std::uint64_t Leb128(ByteReader& reader, const char* where) {
  std::uint64_t value = 0;
  for (unsigned i = 0; i < kMaxLeb128Bytes; ++i) {
    const unsigned byte = reader.U8(where);
    value |= std::uint64_t{byte & 0x7Fu} << (7 * i);
    if ((byte & 0x80u) == 0) break;
  }
  return value;
}

TCodedSize Av1MaxFrameSize(std::span<const std::byte> header, const std::string& what) {
  const char* where = "AV1 sequence header";
  TBitReader bits(header, what);
  bits.Bits(4, where);
  if (bits.Flag(where)) {
    bits.Bits(5, where);
  } else {
    bool decoderModel = false;
    unsigned delayBits = 0;
    if (bits.Flag(where)) {
      bits.Bits(64, where);
      if (bits.Flag(where)) {
        const unsigned zeros = bits.LeadingZeros(kMaxUvlcZeros, where);
        if (zeros < kMaxUvlcZeros) bits.Bits(zeros, where);
      }
      decoderModel = bits.Flag(where);
      if (decoderModel) {
        delayBits = static_cast<unsigned>(bits.Bits(5, where)) + 1;
        bits.Bits(32 + 5 + 5, where);
      }
    }
    const bool displayDelay = bits.Flag(where);
    const auto points = static_cast<unsigned>(bits.Bits(5, where)) + 1;
    for (unsigned i = 0; i < points; ++i) {
      bits.Bits(12, where);
      if (bits.Bits(5, where) > 7) bits.Bits(1, where);
      if (decoderModel && bits.Flag(where)) bits.Bits(2 * delayBits + 1, where);
      if (displayDelay && bits.Flag(where)) bits.Bits(4, where);
    }
  }
  const auto widthBits = static_cast<unsigned>(bits.Bits(4, where)) + 1;
  const auto heightBits = static_cast<unsigned>(bits.Bits(4, where)) + 1;
  const std::uint64_t width = bits.Bits(widthBits, where) + 1;
  return {width, bits.Bits(heightBits, where) + 1};
}

void VisitSequenceHeaders(std::span<const std::byte> obus, const std::string& what,
                          const char* where, const std::function<void(const TCodedSize&)>& visit) {
  ByteReader reader(obus, what);
  while (!reader.AtEnd()) {
    const unsigned header = reader.U8(where);
    if ((header & 4u) != 0) reader.Skip(1, where);
    const std::uint64_t size = (header & 2u) != 0 ? Leb128(reader, where) : reader.Remaining();
    const std::span<const std::byte> body = reader.Bytes(size, where);
    if ((header >> 3 & 15u) == kObuSequenceHeader) visit(Av1MaxFrameSize(body, what));
  }
}

}  // namespace

void ForEachHevcFrameSize(std::span<const std::byte> config, std::span<const std::byte> data,
                          const std::string& what,
                          const std::function<void(const TCodedSize&)>& visit) {
  const char* where = "HEVC configuration";
  ByteReader reader(config, what);
  reader.Skip(kHevcConfigFixedBytes, where);
  const unsigned lengthBytes = (reader.U8(where) & 3u) + 1;
  const unsigned arrays = reader.U8(where);
  for (unsigned a = 0; a < arrays; ++a) {
    reader.Skip(1, where);
    const unsigned units = reader.U16BE(where);
    for (unsigned u = 0; u < units; ++u) {
      VisitParameterSet(reader.Bytes(reader.U16BE(where), where), what, visit);
    }
  }
  ByteReader stream(data, what);
  while (!stream.AtEnd()) {
    std::uint64_t length = 0;
    for (unsigned i = 0; i < lengthBytes; ++i) length = length << 8 | stream.U8("HEVC data");
    VisitParameterSet(stream.Bytes(length, "HEVC data"), what, visit);
  }
}

void ForEachAv1FrameSize(std::span<const std::byte> config, std::span<const std::byte> data,
                         const std::string& what,
                         const std::function<void(const TCodedSize&)>& visit) {
  ByteReader reader(config, what);
  reader.Skip(kAv1ConfigFixedBytes, "AV1 configuration");
  VisitSequenceHeaders(config.subspan(kAv1ConfigFixedBytes), what, "AV1 configuration", visit);
  VisitSequenceHeaders(data, what, "AV1 data", visit);
}

}  // namespace sigilon
