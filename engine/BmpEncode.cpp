// Writing of bitmap files: info or V4 header, colour table, bottom-up rows.

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <limits>
#include <span>
#include <vector>

#include "engine/BmpCodec.h"
#include "engine/BmpFileLayout.h"
#include "engine/Errors.h"

namespace sigilon {

using namespace bmpfile;

namespace {

// Writes little-endian fields into a file image of known size.
class ByteWriter {
 public:
  explicit ByteWriter(std::span<std::byte> out) : out_(out) {}
  void U8(std::uint8_t v) { out_[at_++] = static_cast<std::byte>(v); }
  void U16(std::uint16_t v) {
    U8(static_cast<std::uint8_t>(v));
    U8(static_cast<std::uint8_t>(v >> 8));
  }
  void U32(std::uint32_t v) {
    U16(static_cast<std::uint16_t>(v));
    U16(static_cast<std::uint16_t>(v >> 16));
  }
  void I32(std::int32_t v) { U32(static_cast<std::uint32_t>(v)); }
  void Zeros(std::size_t n) {
    std::fill_n(out_.begin() + static_cast<std::ptrdiff_t>(at_), n, std::byte{0});
    at_ += n;
  }
  void Bytes(std::span<const std::uint8_t> b) {
    std::memcpy(out_.data() + at_, b.data(), b.size());
    at_ += b.size();
  }
  std::size_t Written() const { return at_; }

 private:
  std::span<std::byte> out_;
  std::size_t at_ = 0;
};

// Where the parts of a written bitmap file go.
struct TFileLayout {
  std::vector<TRGBQuad> Palette;
  bool Bitfields = false;
  bool V4 = false;
  std::uint32_t HeaderSize = 0;
  std::uint64_t PixelOffset = 0;
  std::uint64_t ImageBytes = 0;
  std::uint64_t FileSize = 0;
};

TFileLayout LayoutOf(const TBitmap& bitmap) {
  if (bitmap.Empty()) throw ImageError("bitmap file: cannot write an empty picture");
  if (SampleLayout(bitmap.PixelFormat()).Channels != 0) {
    throw ImageError("bitmap file: cannot hold grey, alpha or 16-bit samples");
  }
  const int bits = bitmap.BitsPerPixel();
  TFileLayout layout;
  // A palette format always gets a colour table its indexes can use; one that
  // was never filled in is written black rather than left out.
  if (bits <= 8) {
    const std::size_t maxEntries = std::size_t{1} << bits;
    layout.Palette = bitmap.Palette();
    if (layout.Palette.size() > maxEntries) layout.Palette.resize(maxEntries);
    if (layout.Palette.empty()) layout.Palette.resize(maxEntries);
  }
  layout.Bitfields = (bits == 16 || bits == 32) && bitmap.HasCustomMasks();
  // A 40-byte header has no room for an alpha mask; V4 carries it and is
  // read widely, unlike the alpha bit-field compression.
  layout.V4 = layout.Bitfields && bitmap.Masks()[3] != 0;
  layout.HeaderSize = layout.V4 ? kV4HeaderSize : kInfoHeaderSize;
  const std::uint64_t maskBytes = (layout.Bitfields && !layout.V4) ? 12 : 0;
  layout.PixelOffset = kFileHeaderSize + layout.HeaderSize + maskBytes + 4 * layout.Palette.size();
  layout.ImageBytes = bitmap.Stride() * static_cast<std::uint64_t>(bitmap.Height());
  layout.FileSize = layout.PixelOffset + layout.ImageBytes;
  if (layout.FileSize > std::numeric_limits<std::uint32_t>::max()) {
    throw ImageError("bitmap file: " + std::to_string(layout.FileSize) +
                     " bytes exceeds the 4 GiB a bitmap file can describe");
  }
  return layout;
}

}  // namespace

std::size_t BitmapFileSize(const TBitmap& bitmap) {
  return static_cast<std::size_t>(LayoutOf(bitmap).FileSize);
}

void WriteBitmapFile(const TBitmap& bitmap, std::span<std::byte> out) {
  const TFileLayout layout = LayoutOf(bitmap);
  if (out.size() != layout.FileSize) {
    throw ImageError("bitmap file: expected room for " + std::to_string(layout.FileSize) +
                     " bytes, found " + std::to_string(out.size()));
  }
  const int bits = bitmap.BitsPerPixel();
  const auto& masks = bitmap.Masks();
  ByteWriter w(out);
  w.U16(kSignatureBM);
  w.U32(static_cast<std::uint32_t>(layout.FileSize));
  w.U32(0);
  w.U32(static_cast<std::uint32_t>(layout.PixelOffset));

  w.U32(layout.HeaderSize);
  w.I32(bitmap.Width());
  w.I32(bitmap.Height());  // positive: rows bottom-up
  w.U16(1);
  w.U16(static_cast<std::uint16_t>(bits));
  w.U32(layout.Bitfields ? kBiBitfields : kBiRgb);
  w.U32(static_cast<std::uint32_t>(layout.ImageBytes));
  w.I32(bitmap.XPelsPerMeter);
  w.I32(bitmap.YPelsPerMeter);
  w.U32(static_cast<std::uint32_t>(layout.Palette.size()));
  w.U32(0);
  if (layout.Bitfields) {
    w.U32(masks[0]);
    w.U32(masks[1]);
    w.U32(masks[2]);
  }
  if (layout.V4) {
    w.U32(masks[3]);
    w.U32(kLcsSrgb);
    w.Zeros(kV4ColorSpaceBytes);
  }
  for (const TRGBQuad& c : layout.Palette) {
    w.U8(c.Blue);
    w.U8(c.Green);
    w.U8(c.Red);
    w.U8(0);
  }
  // Padding is written as zero whatever the buffer holds, so writing what was
  // read gives the same bytes again.
  const std::size_t stride = bitmap.Stride();
  const std::size_t rowBytes =
      static_cast<std::size_t>((static_cast<std::uint64_t>(bitmap.Width()) * bits + 7) / 8);
  for (int y = bitmap.Height() - 1; y >= 0; --y) {
    w.Bytes(bitmap.Row(y).first(rowBytes));
    w.Zeros(stride - rowBytes);
  }
}

std::vector<std::byte> SaveBitmapToBytes(const TBitmap& bitmap) {
  std::vector<std::byte> out(BitmapFileSize(bitmap));
  WriteBitmapFile(bitmap, out);
  return out;
}

}  // namespace sigilon
