#include "engine/formats/PngSegments.h"

#include <array>
#include <cstring>
#include <initializer_list>

#include "engine/Errors.h"

namespace sigilon {

namespace {

// libpng's own choices for filtered pictures: zlib's default level, its
// filtered strategy, the whole window.
constexpr int kLevel = Z_DEFAULT_COMPRESSION;
constexpr int kWindowBits = 15;
constexpr int kMemoryLevel = 8;
// The zlib header of a stream of those settings.
constexpr std::array<std::byte, 2> kZlibHeader{std::byte{0x78}, std::byte{0x9C}};

enum TFilter : std::uint8_t { kNone, kSub, kUp, kAverage, kPaeth };

// What a filtered row costs: its bytes as signed values, added up.
std::uint64_t Cost(const std::uint8_t* row, std::size_t n) {
  std::uint64_t sum = 0;
  for (std::size_t i = 0; i < n; ++i) sum += row[i] < 128 ? row[i] : 256 - row[i];
  return sum;
}

std::uint8_t Paeth(int a, int b, int c) {
  const int pa = std::abs(b - c), pb = std::abs(a - c), pc = std::abs(a + b - 2 * c);
  return static_cast<std::uint8_t>(pa <= pb && pa <= pc ? a : (pb <= pc ? b : c));
}

// `raw` filtered by `filter` against `above` (null: the row starts a
// segment and only None and Sub are offered) into `out`.
void Filter(TFilter filter, const std::uint8_t* raw, const std::uint8_t* above, std::size_t n,
            std::size_t bpp, std::uint8_t* out) {
  switch (filter) {
    case kNone:
      std::memcpy(out, raw, n);
      return;
    case kSub:
      std::memcpy(out, raw, bpp);
      for (std::size_t i = bpp; i < n; ++i) out[i] = raw[i] - raw[i - bpp];
      return;
    case kUp:
      for (std::size_t i = 0; i < n; ++i) out[i] = raw[i] - above[i];
      return;
    case kAverage:
      for (std::size_t i = 0; i < bpp; ++i) out[i] = raw[i] - above[i] / 2;
      for (std::size_t i = bpp; i < n; ++i) out[i] = raw[i] - (raw[i - bpp] + above[i]) / 2;
      return;
    case kPaeth:
      for (std::size_t i = 0; i < bpp; ++i) out[i] = raw[i] - above[i];
      for (std::size_t i = bpp; i < n; ++i)
        out[i] = raw[i] - Paeth(raw[i - bpp], above[i], above[i - bpp]);
      return;
  }
}

}  // namespace

bool WrittenInSegments(TPixelFormat format) {
  return format == TPixelFormat::pf24bit || format == TPixelFormat::pfBGRA32;
}

struct TPngSegment::TDeflater {
  z_stream Stream{};
  bool Ready = false;
  ~TDeflater() {
    if (Ready) deflateEnd(&Stream);
  }
};

TPngSegment::TPngSegment() : deflater_(std::make_unique<TDeflater>()) {}
TPngSegment::~TPngSegment() = default;

void TPngSegment::Make(const TBitmap& band, int firstRow, int rows, bool last,
                       const std::string& name) {
  const std::size_t bpp = band.PixelFormat() == TPixelFormat::pfBGRA32 ? 4 : 3;
  const std::size_t n = static_cast<std::size_t>(band.Width()) * bpp;
  // Two rows as PNG stores them (R, G, B), then one candidate per filter.
  scratch_.resize(7 * n);
  std::uint8_t* raw = scratch_.data();
  std::uint8_t* above = raw + n;
  std::uint8_t* candidates = raw + 2 * n;
  filtered_.resize(static_cast<std::size_t>(rows) * (n + 1));
  for (int r = 0; r < rows; ++r) {
    const std::uint8_t* in = band.Row(firstRow + r).data();
    for (std::size_t i = 0; i < n; i += bpp) {
      raw[i] = in[i + 2];
      raw[i + 1] = in[i + 1];
      raw[i + 2] = in[i];
      if (bpp == 4) raw[i + 3] = in[i + 3];
    }
    const int offered = r == 0 ? 2 : 5;
    int best = 0;
    std::uint64_t lowest = UINT64_MAX;
    for (int filter = 0; filter < offered; ++filter) {
      std::uint8_t* candidate = candidates + filter * n;
      Filter(static_cast<TFilter>(filter), raw, above, n, bpp, candidate);
      const std::uint64_t cost = Cost(candidate, n);
      if (cost < lowest) lowest = cost, best = filter;
    }
    std::uint8_t* out = filtered_.data() + r * (n + 1);
    out[0] = static_cast<std::uint8_t>(best);
    std::memcpy(out + 1, candidates + best * n, n);
    std::swap(raw, above);
  }

  z_stream& z = deflater_->Stream;
  const int ready = deflater_->Ready ? deflateReset(&z)
                                     : deflateInit2(&z, kLevel, Z_DEFLATED, -kWindowBits,
                                                    kMemoryLevel, Z_FILTERED);
  if (ready != Z_OK) throw ImageError(name + ": PNG data cannot be compressed");
  deflater_->Ready = true;
  deflated_.resize(deflateBound(&z, filtered_.size()) + 16);
  z.next_in = filtered_.data();
  z.avail_in = static_cast<uInt>(filtered_.size());
  z.next_out = reinterpret_cast<Bytef*>(deflated_.data());
  z.avail_out = static_cast<uInt>(deflated_.size());
  // A segment that does not end the picture ends on a byte, its last block
  // open to the next segment's.
  const int done = deflate(&z, last ? Z_FINISH : Z_SYNC_FLUSH);
  if (done != (last ? Z_STREAM_END : Z_OK) || z.avail_in != 0) {
    throw ImageError(name + ": PNG data cannot be compressed");
  }
  deflated_.resize(deflated_.size() - z.avail_out);
  adler_ =
      static_cast<std::uint32_t>(adler32(1, filtered_.data(), static_cast<uInt>(filtered_.size())));
  length_ = filtered_.size();
  last_ = last;
}

void TPngDataWriter::Chunk(const char (&type)[5],
                           std::initializer_list<std::span<const std::byte>> parts) {
  std::size_t length = 0;
  for (const auto& part : parts) length += part.size();
  std::array<std::byte, 8> head{};
  for (int i = 0; i < 4; ++i) {
    head[i] = static_cast<std::byte>(length >> (24 - 8 * i));
    head[4 + i] = static_cast<std::byte>(type[i]);
  }
  uLong crc = crc32(0, reinterpret_cast<const Bytef*>(type), 4);
  for (const auto& part : parts) {
    // An empty part may have no address, which would restart the check.
    if (part.empty()) continue;
    crc = crc32(crc, reinterpret_cast<const Bytef*>(part.data()), static_cast<uInt>(part.size()));
  }
  std::array<std::byte, 4> tail{};
  for (int i = 0; i < 4; ++i) tail[i] = static_cast<std::byte>(crc >> (24 - 8 * i));
  sink_(head);
  for (const auto& part : parts) {
    if (!part.empty()) sink_(part);
  }
  sink_(tail);
}

void TPngDataWriter::Write(const TPngSegment& segment) {
  adler_ = static_cast<std::uint32_t>(
      adler32_combine(adler_, segment.Adler(), static_cast<z_off_t>(segment.Length())));
  std::array<std::byte, 4> check{};
  for (int i = 0; i < 4; ++i) check[i] = static_cast<std::byte>(adler_ >> (24 - 8 * i));
  const std::span<const std::byte> header =
      started_ ? std::span<const std::byte>{} : std::span<const std::byte>(kZlibHeader);
  const std::span<const std::byte> trailer =
      segment.Last() ? std::span<const std::byte>(check) : std::span<const std::byte>{};
  Chunk("IDAT", {header, segment.Deflated(), trailer});
  started_ = true;
}

void TPngDataWriter::End() { Chunk("IEND", {}); }

}  // namespace sigilon
