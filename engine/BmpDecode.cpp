// Reading of bitmap files: headers checked before use, uncompressed, bit-field
// and RLE pixel data.

#include <algorithm>
#include <array>
#include <bit>
#include <cstdint>
#include <cstring>
#include <limits>
#include <string>

#include "engine/BmpCodec.h"
#include "engine/BmpFileLayout.h"
#include "engine/ByteReader.h"
#include "engine/Errors.h"

namespace sigilon {

using namespace bmpfile;

namespace {

// Most pixels a bitmap file may claim per byte it holds. Uncompressed data
// never passes 8 (1 bit per pixel). RLE codes at most 255 pixels in a 2-byte
// run: a flat 16000 x 16000 RLE8 picture coded in full-length runs is about
// 2 MB, 125 pixels per byte. Deltas and an early end of the bitmap may skip
// more, so the gate leaves eight times that room; a 60-byte file claiming
// 16384 x 16384 (4 million pixels per byte) fails before any allocation.
constexpr std::uint64_t kMaxBitmapPixelsPerByte = 1024;

struct BmpHeader {
  std::uint32_t headerSize = 0;
  std::int64_t width = 0;
  std::int64_t height = 0;
  std::uint16_t bitCount = 0;
  std::uint32_t compression = kBiRgb;
  std::int32_t xPelsPerMeter = 0;
  std::int32_t yPelsPerMeter = 0;
  std::uint32_t colorsUsed = 0;
  std::array<std::uint32_t, 4> headerMasks{};  // R, G, B, A from 52+ byte headers
  bool os2 = false;                            // OS/2 2.x compression numbering
  std::size_t paletteEntrySize = 4;
};

std::string Hex(std::uint32_t v, int digitCount = 8) {
  static const char* digits = "0123456789ABCDEF";
  std::string s = "0x";
  for (int shift = 4 * (digitCount - 1); shift >= 0; shift -= 4) s += digits[(v >> shift) & 0xF];
  return s;
}

BmpHeader ReadInfoHeader(ByteReader& r) {
  BmpHeader h;
  const std::size_t start = r.Position();
  h.headerSize = r.U32("info header size");
  switch (h.headerSize) {
    case kCoreHeaderSize:
    case kOs2ShortHeaderSize:
    case kInfoHeaderSize:
    case kV2HeaderSize:
    case kV3HeaderSize:
    case kOs2HeaderSize:
    case kV4HeaderSize:
    case kV5HeaderSize:
      break;
    default:
      r.Fail("unsupported info header size: expected 12, 16, 40, 52, 56, 64, 108 or 124, found " +
             std::to_string(h.headerSize));
  }
  if (h.headerSize - 4 > r.Remaining()) {
    r.Fail("info header truncated: expected " + std::to_string(h.headerSize) + " bytes, found " +
           std::to_string(r.Remaining() + 4));
  }
  if (h.headerSize == kCoreHeaderSize) {
    h.width = r.U16("width");
    h.height = r.U16("height");
    r.U16("planes");
    h.bitCount = r.U16("bit count");
    h.paletteEntrySize = 3;
  } else {
    h.width = r.I32("width");
    h.height = r.I32("height");
    // Planes is meaningless for a file; files that get it wrong still decode.
    r.U16("planes");
    h.bitCount = r.U16("bit count");
    if (h.headerSize >= kInfoHeaderSize) {
      h.compression = r.U32("compression");
      r.U32("image size");  // unreliable in practice; the layout decides the size
      h.xPelsPerMeter = r.I32("horizontal resolution");
      h.yPelsPerMeter = r.I32("vertical resolution");
      h.colorsUsed = r.U32("colours used");
      r.U32("important colours");
    }
    h.os2 = h.headerSize == kOs2HeaderSize;
    if (!h.os2 && h.headerSize >= kV2HeaderSize) {
      h.headerMasks[0] = r.U32("red mask");
      h.headerMasks[1] = r.U32("green mask");
      h.headerMasks[2] = r.U32("blue mask");
      if (h.headerSize >= kV3HeaderSize) h.headerMasks[3] = r.U32("alpha mask");
    }
  }
  r.Seek(start + h.headerSize, "end of info header");
  return h;
}

// Rejects what this reader does not decode, with the reason, before any
// other field is trusted.
void CheckFormat(const ByteReader& r, const BmpHeader& h) {
  const std::uint32_t c = h.compression;
  if (h.os2 && c == kOs2Huffman1D) r.Fail("Huffman 1D compressed bitmaps are not supported");
  if (h.os2 && c == kOs2Rle24) r.Fail("RLE24 compressed bitmaps are not supported");
  if (c == kBiJpeg) r.Fail("bitmaps holding embedded JPEG data are not supported");
  if (c == kBiPng) r.Fail("bitmaps holding embedded PNG data are not supported");
  switch (h.bitCount) {
    case 1:
    case 4:
    case 8:
    case 16:
    case 24:
    case 32:
      break;
    default:
      r.Fail("unsupported bits per pixel: expected 1, 4, 8, 16, 24 or 32, found " +
             std::to_string(h.bitCount));
  }
  const auto expectBits = [&](const char* kind, bool ok, const char* expected) {
    if (!ok) {
      r.Fail(std::string(kind) + " compression needs " + expected + " bits per pixel, found " +
             std::to_string(h.bitCount));
    }
  };
  switch (c) {
    case kBiRgb:
      break;
    case kBiRle8:
      expectBits("RLE8", h.bitCount == 8, "8");
      break;
    case kBiRle4:
      expectBits("RLE4", h.bitCount == 4, "4");
      break;
    case kBiBitfields:
    case kBiAlphaBitfields:
      expectBits("bit-field", h.bitCount == 16 || h.bitCount == 32, "16 or 32");
      break;
    default:
      r.Fail("unsupported compression: expected 0 to 3 or 6, found " + std::to_string(c));
  }
}

// Masks must be runs of set bits that fit the pixel and do not overlap, or
// channel extraction would mix channels.
void CheckMasks(const ByteReader& r, const std::array<std::uint32_t, 4>& masks, int bitCount) {
  static const char* names[] = {"red", "green", "blue", "alpha"};
  const std::uint64_t pixelBits = (std::uint64_t{1} << bitCount) - 1;
  std::uint32_t seen = 0;
  for (int i = 0; i < 4; ++i) {
    const std::uint32_t m = masks[static_cast<std::size_t>(i)];
    if (m == 0) continue;
    const std::uint32_t run = m >> std::countr_zero(m);
    if ((run & (run + 1)) != 0) {
      r.Fail(std::string(names[i]) + " mask: expected one run of set bits, found " + Hex(m));
    }
    if (m > pixelBits) {
      r.Fail(std::string(names[i]) + " mask: expected bits within a " + std::to_string(bitCount) +
             "-bit pixel, found " + Hex(m));
    }
    if ((seen & m) != 0) {
      r.Fail(std::string(names[i]) + " mask " + Hex(m) + " overlaps another channel's mask");
    }
    seen |= m;
  }
  if ((masks[0] | masks[1] | masks[2]) == 0)
    r.Fail("bit-field masks: expected colour bits, found none");
}

TPixelFormat FormatForBits(int bits) {
  switch (bits) {
    case 1:
      return TPixelFormat::pf1bit;
    case 4:
      return TPixelFormat::pf4bit;
    case 8:
      return TPixelFormat::pf8bit;
    case 16:
      return TPixelFormat::pf16bit;
    case 32:
      return TPixelFormat::pf32bit;
    default:
      return TPixelFormat::pf24bit;
  }
}

// Decodes RLE8 or RLE4 data into the (zeroed) picture. Output is clipped to
// the picture, so a stream may lie about runs and deltas without harm; every
// step consumes input, so the work is bounded by the stream's length.
void DecodeRle(std::span<const std::byte> src, TBitmap& bmp, bool rle4, bool topDown) {
  const std::int64_t width = bmp.Width();
  const std::int64_t height = bmp.Height();
  std::int64_t x = 0;
  std::int64_t line = 0;  // in file order: the first line stored is line 0
  std::size_t p = 0;
  const auto at = [&](std::size_t i) { return static_cast<std::uint8_t>(src[i]); };
  const auto put = [&](std::uint8_t index) {
    if (x < width) {
      const int y = static_cast<int>(topDown ? line : height - 1 - line);
      std::uint8_t* row = bmp.Row(y).data();
      if (!rle4) {
        row[x] = index;
      } else {
        std::uint8_t& b = row[x >> 1];
        b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | index)
                    : static_cast<std::uint8_t>((b & 0x0F) | (index << 4));
      }
    }
    ++x;
  };
  while (p + 1 < src.size() && line < height) {
    const std::uint8_t count = at(p);
    const std::uint8_t value = at(p + 1);
    p += 2;
    if (count > 0) {
      for (int i = 0; i < count && x < width; ++i) {
        put(rle4 ? static_cast<std::uint8_t>((i & 1) ? (value & 0x0F) : (value >> 4)) : value);
      }
      continue;
    }
    switch (value) {
      case 0:  // end of line
        x = 0;
        ++line;
        break;
      case 1:  // end of bitmap
        return;
      case 2:  // delta: move right and up (in file order)
        if (p + 1 >= src.size()) return;
        x += at(p);
        line += at(p + 1);
        p += 2;
        break;
      default: {  // absolute run of `value` pixels, padded to an even byte count
        const std::size_t n = value;
        const std::size_t bytes = rle4 ? (n + 1) / 2 : n;
        for (std::size_t i = 0; i < n; ++i) {
          const std::size_t b = p + (rle4 ? i / 2 : i);
          if (b >= src.size()) return;
          put(rle4 ? static_cast<std::uint8_t>((i & 1) ? (at(b) & 0x0F) : (at(b) >> 4)) : at(b));
        }
        p += bytes + (bytes & 1);
        break;
      }
    }
  }
}

}  // namespace

TBitmap LoadBitmapFromBytes(std::span<const std::byte> data, const std::string& nameForErrors) {
  ByteReader r(data, nameForErrors);
  const std::uint16_t signature = r.U16("file signature");
  if (signature == kSignatureBA) {
    r.Fail("an OS/2 bitmap array ('BA') is not a single bitmap file");
  }
  if (signature != kSignatureBM) {
    r.Fail("expected the bitmap signature 'BM', found " + Hex(signature, 4));
  }
  r.U32("file size");  // often wrong; the data we have is what counts
  r.U32("reserved");
  const std::uint32_t pixelOffset = r.U32("pixel data offset");

  const BmpHeader h = ReadInfoHeader(r);
  CheckFormat(r, h);
  const int bits = h.bitCount;

  // Channel masks: defaults for plain data; for bit fields from the header,
  // or from the 12 (16 with alpha) bytes that follow a 40-byte header.
  const TPixelFormat format = FormatForBits(bits);
  std::array<std::uint32_t, 4> masks{};
  if (bits == 16) masks = {0x7C00, 0x03E0, 0x001F, 0};
  if (bits == 32) masks = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};
  const bool bitfields = h.compression == kBiBitfields || h.compression == kBiAlphaBitfields;
  if (bitfields) {
    if (h.headerSize == kInfoHeaderSize) {
      masks[0] = r.U32("red mask");
      masks[1] = r.U32("green mask");
      masks[2] = r.U32("blue mask");
      masks[3] = h.compression == kBiAlphaBitfields ? r.U32("alpha mask") : 0;
    } else {
      masks = h.headerMasks;
    }
    CheckMasks(r, masks, bits);
  }
  const std::size_t paletteStart = r.Position();

  if (pixelOffset < paletteStart || pixelOffset > data.size()) {
    r.Fail("pixel data offset: expected " + std::to_string(paletteStart) + " to " +
           std::to_string(data.size()) + ", found " + std::to_string(pixelOffset));
  }

  if (h.width < 1) r.Fail("expected a positive width, found " + std::to_string(h.width));
  if (h.height == 0) r.Fail("expected a non-zero height, found 0");
  const bool topDown = h.height < 0;
  const std::int64_t height = topDown ? -h.height : h.height;
  // Bounds the pixel count before anything is allocated.
  CheckedImageBytes(h.width, height, bits, nameForErrors.c_str());
  CheckPixelsPerByte(static_cast<std::uint64_t>(h.width), static_cast<std::uint64_t>(height),
                     data.size(), kMaxBitmapPixelsPerByte, nameForErrors);
  const std::uint64_t stride = RowStride(static_cast<std::uint64_t>(h.width), bits);
  const std::uint64_t rowBytes = (static_cast<std::uint64_t>(h.width) * bits + 7) / 8;
  const bool rle = h.compression == kBiRle8 || h.compression == kBiRle4;
  const std::uint64_t available = data.size() - pixelOffset;
  if (!rle) {
    // The last row's padding may be missing; its pixels may not.
    const std::uint64_t needed = stride * static_cast<std::uint64_t>(height - 1) + rowBytes;
    if (needed > available) {
      r.Fail("pixel data truncated: expected " + std::to_string(needed) + " bytes at offset " +
             std::to_string(pixelOffset) + ", found " + std::to_string(available));
    }
  }

  // Colour table: as many entries as the header says, but never more than the
  // pixels can index nor more than fit before the pixel data.
  std::vector<TRGBQuad> palette;
  if (bits <= 8) {
    const std::uint64_t maxEntries = std::uint64_t{1} << bits;
    std::uint64_t entries =
        h.colorsUsed == 0 ? maxEntries : std::min<std::uint64_t>(h.colorsUsed, maxEntries);
    entries = std::min<std::uint64_t>(entries, (pixelOffset - paletteStart) / h.paletteEntrySize);
    if (entries == 0) {
      r.Fail("expected a colour table for " + std::to_string(bits) +
             "-bit pixels before the pixel data, found none");
    }
    palette.resize(static_cast<std::size_t>(entries));
    for (auto& entry : palette) {
      entry.Blue = r.U8("colour table");
      entry.Green = r.U8("colour table");
      entry.Red = r.U8("colour table");
      if (h.paletteEntrySize == 4) r.U8("colour table");
    }
  }

  TBitmap bmp(static_cast<int>(h.width), static_cast<int>(height), format);
  if (bits <= 8) bmp.Palette() = std::move(palette);
  if (bits == 16 || bits == 32) bmp.Masks() = masks;
  bmp.XPelsPerMeter = h.xPelsPerMeter;
  bmp.YPelsPerMeter = h.yPelsPerMeter;

  const auto pixels = data.subspan(pixelOffset);
  if (rle) {
    DecodeRle(pixels, bmp, h.compression == kBiRle4, topDown);
    return bmp;
  }
  for (std::int64_t line = 0; line < height; ++line) {
    const int y = static_cast<int>(topDown ? line : height - 1 - line);
    const auto* src = pixels.data() + static_cast<std::size_t>(stride * line);
    std::memcpy(bmp.Row(y).data(), src, static_cast<std::size_t>(rowBytes));
  }
  return bmp;
}

}  // namespace sigilon
