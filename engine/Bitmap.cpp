#include "engine/Bitmap.h"

#include <algorithm>
#include <bit>
#include <cstring>
#include <limits>
#include <string>

#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

constexpr std::array<std::uint32_t, 4> kDefaultMasks16 = {0x7C00, 0x03E0, 0x001F, 0};
constexpr std::array<std::uint32_t, 4> kDefaultMasks32 = {0x00FF0000, 0x0000FF00, 0x000000FF, 0};

std::array<std::uint32_t, 4> DefaultMasks(TPixelFormat format) {
  if (format == TPixelFormat::pf16bit) return kDefaultMasks16;
  if (format == TPixelFormat::pf32bit) return kDefaultMasks32;
  return {};
}

std::uint32_t LoadPixel(const std::uint8_t* p, int bytes) {
  std::uint32_t v = 0;
  for (int i = 0; i < bytes; ++i) v |= std::uint32_t{p[i]} << (8 * i);
  return v;
}

void StorePixel(std::uint8_t* p, int bytes, std::uint32_t v) {
  for (int i = 0; i < bytes; ++i) p[i] = static_cast<std::uint8_t>(v >> (8 * i));
}

// Extracts a masked channel and scales it to 0..255.
std::uint8_t ExtractChannel(std::uint32_t pixel, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  const std::uint64_t maxValue = (std::uint64_t{1} << bits) - 1;
  const std::uint64_t v = (pixel & mask) >> shift;
  return static_cast<std::uint8_t>((v * 255 + maxValue / 2) / maxValue);
}

std::uint32_t PackChannel(std::uint8_t value, std::uint32_t mask) {
  if (mask == 0) return 0;
  const int shift = std::countr_zero(mask);
  const int bits = std::popcount(mask);
  const std::uint64_t maxValue = (std::uint64_t{1} << bits) - 1;
  const std::uint64_t v = (std::uint64_t{value} * maxValue + 127) / 255;
  return static_cast<std::uint32_t>((v << shift) & mask);
}

}  // namespace

template <>
void* TPixelAllocator<std::uint8_t>::AllocatePixels(std::size_t bytes) {
  return AllocateLargeBlock(bytes);
}

template <>
void TPixelAllocator<std::uint8_t>::FreePixels(void* block, std::size_t bytes) noexcept {
  FreeLargeBlock(block, bytes);
}

int BitsPerPixel(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pf1bit:
      return 1;
    case TPixelFormat::pf4bit:
      return 4;
    case TPixelFormat::pf8bit:
      return 8;
    case TPixelFormat::pf16bit:
      return 16;
    case TPixelFormat::pf24bit:
      return 24;
    case TPixelFormat::pf32bit:
      return 32;
    case TPixelFormat::pfGray8:
      return 8;
    case TPixelFormat::pfGray16:
    case TPixelFormat::pfGrayAlpha8:
      return 16;
    case TPixelFormat::pfGrayAlpha16:
    case TPixelFormat::pfBGRA32:
      return 32;
    case TPixelFormat::pf48bit:
      return 48;
    case TPixelFormat::pf64bit:
      return 64;
  }
  return 24;
}

bool IsPaletteFormat(TPixelFormat format) {
  return format == TPixelFormat::pf1bit || format == TPixelFormat::pf4bit ||
         format == TPixelFormat::pf8bit;
}

TSampleLayout SampleLayout(TPixelFormat format) {
  switch (format) {
    case TPixelFormat::pfGray8:
      return {1, 1, true, false};
    case TPixelFormat::pfGray16:
      return {1, 2, true, false};
    case TPixelFormat::pfGrayAlpha8:
      return {2, 1, true, true};
    case TPixelFormat::pfGrayAlpha16:
      return {2, 2, true, true};
    case TPixelFormat::pfBGRA32:
      return {4, 1, false, true};
    case TPixelFormat::pf48bit:
      return {3, 2, false, false};
    case TPixelFormat::pf64bit:
      return {4, 2, false, true};
    default:
      return {};
  }
}

std::uint8_t Luminance(std::uint8_t red, std::uint8_t green, std::uint8_t blue) {
  return static_cast<std::uint8_t>((299u * red + 587u * green + 114u * blue + 500) / 1000);
}

std::uint64_t RowStride(std::uint64_t width, int bitsPerPixel) {
  return ((width * static_cast<std::uint64_t>(bitsPerPixel) + 31) / 32) * 4;
}

std::uint64_t CheckedImageBytes(std::int64_t width, std::int64_t height, int bitsPerPixel,
                                const char* what) {
  if (width < 1 || height < 1) {
    throw ImageError(std::string(what) + ": expected a positive size, found " +
                     std::to_string(width) + " x " + std::to_string(height));
  }
  const auto w = static_cast<std::uint64_t>(width);
  const auto h = static_cast<std::uint64_t>(height);
  // Compare by division so that w * h cannot overflow.
  if (w > kMaxPixels || h > kMaxPixels / w) {
    throw ImageError(std::string(what) + ": " + std::to_string(width) + " x " +
                     std::to_string(height) + " pixels exceeds the limit of " +
                     std::to_string(kMaxPixels) + " pixels");
  }
  return RowStride(w, bitsPerPixel) * h;
}

void CheckPixelsPerByte(std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes,
                        std::uint64_t maxPixelsPerByte, const std::string& what) {
  // Callers have bounded width * height by kMaxPixels, so nothing overflows.
  const std::uint64_t pixels = width * height;
  if (pixels <= fileBytes * maxPixelsPerByte) return;
  throw ImageError(what + ": a " + std::to_string(fileBytes) + "-byte file cannot hold " +
                   std::to_string(width) + " x " + std::to_string(height) +
                   " pixels: expected at most " + std::to_string(maxPixelsPerByte) +
                   " pixels per byte of file, found " +
                   std::to_string(fileBytes == 0 ? pixels : pixels / fileBytes));
}

TBitmap::TBitmap(int width, int height, TPixelFormat format)
    : width_(width), height_(height), format_(format) {
  const int bpp = sigilon::BitsPerPixel(format);
  const std::uint64_t bytes = CheckedImageBytes(width, height, bpp);
  stride_ = static_cast<std::size_t>(RowStride(static_cast<std::uint64_t>(width), bpp));
  pixels_.assign(static_cast<std::size_t>(bytes), 0);
  if (IsPaletteFormat(format)) palette_.assign(std::size_t{1} << bpp, TRGBQuad{});
  masks_ = DefaultMasks(format);
}

std::span<std::uint8_t> TBitmap::Row(int y) {
  return std::span<std::uint8_t>(pixels_).subspan(static_cast<std::size_t>(y) * stride_, stride_);
}

std::span<const std::uint8_t> TBitmap::Row(int y) const {
  return std::span<const std::uint8_t>(pixels_).subspan(static_cast<std::size_t>(y) * stride_,
                                                        stride_);
}

bool TBitmap::HasCustomMasks() const { return masks_ != DefaultMasks(format_); }

TRGBQuad TBitmap::GetPixel(int x, int y) const {
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return {};
  const std::uint8_t* row = pixels_.data() + static_cast<std::size_t>(y) * stride_;
  const auto paletteColor = [&](unsigned index) {
    return index < palette_.size() ? palette_[index] : TRGBQuad{};
  };
  switch (format_) {
    case TPixelFormat::pf1bit:
      return paletteColor((row[x >> 3] >> (7 - (x & 7))) & 1u);
    case TPixelFormat::pf4bit:
      return paletteColor((x & 1) ? (row[x >> 1] & 0x0Fu) : (row[x >> 1] >> 4));
    case TPixelFormat::pf8bit:
      return paletteColor(row[x]);
    case TPixelFormat::pf24bit: {
      const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
      return TRGBQuad{p[0], p[1], p[2], 0};
    }
    case TPixelFormat::pf16bit:
    case TPixelFormat::pf32bit: {
      const int bytes = BitsPerPixel() / 8;
      const std::uint32_t v = LoadPixel(row + bytes * static_cast<std::size_t>(x), bytes);
      return TRGBQuad{ExtractChannel(v, masks_[2]), ExtractChannel(v, masks_[1]),
                      ExtractChannel(v, masks_[0]), 0};
    }
    default:
      return GetDeepPixel(row, x);
  }
}

TRGBQuad TBitmap::GetDeepPixel(const std::uint8_t* row, int x) const {
  const TSampleLayout layout = SampleLayout(format_);
  const std::uint8_t* p = row + static_cast<std::size_t>(x) *
                                    static_cast<std::size_t>(layout.Channels * layout.SampleBytes);
  const auto sample = [&](int channel) -> std::uint8_t {
    if (layout.SampleBytes == 1) return p[channel];
    std::uint16_t v;
    std::memcpy(&v, p + 2 * channel, 2);
    return static_cast<std::uint8_t>((v * 255u + 32767) / 65535);
  };
  if (layout.Gray) {
    const std::uint8_t g = sample(0);
    return TRGBQuad{g, g, g, 0};
  }
  return TRGBQuad{sample(0), sample(1), sample(2), 0};
}

void TBitmap::SetDeepPixel(std::uint8_t* row, int x, TRGBQuad color) {
  const TSampleLayout layout = SampleLayout(format_);
  std::uint8_t* p = row + static_cast<std::size_t>(x) *
                              static_cast<std::size_t>(layout.Channels * layout.SampleBytes);
  const auto put = [&](int channel, std::uint8_t value) {
    if (layout.SampleBytes == 1) {
      p[channel] = value;
      return;
    }
    const auto v = static_cast<std::uint16_t>(value * 257u);
    std::memcpy(p + 2 * channel, &v, 2);
  };
  if (layout.Gray) {
    put(0, Luminance(color.Red, color.Green, color.Blue));
    return;
  }
  put(0, color.Blue);
  put(1, color.Green);
  put(2, color.Red);
}

void TBitmap::SetPixel(int x, int y, TRGBQuad color) {
  // Drawing clips at the picture's edges.
  if (x < 0 || y < 0 || x >= width_ || y >= height_) return;
  std::uint8_t* row = pixels_.data() + static_cast<std::size_t>(y) * stride_;
  switch (format_) {
    case TPixelFormat::pf1bit: {
      const std::uint8_t bit = static_cast<std::uint8_t>(0x80u >> (x & 7));
      if (NearestPaletteIndex(color) & 1)
        row[x >> 3] |= bit;
      else
        row[x >> 3] &= static_cast<std::uint8_t>(~bit);
      return;
    }
    case TPixelFormat::pf4bit: {
      const auto index = static_cast<std::uint8_t>(NearestPaletteIndex(color) & 0x0F);
      std::uint8_t& b = row[x >> 1];
      b = (x & 1) ? static_cast<std::uint8_t>((b & 0xF0) | index)
                  : static_cast<std::uint8_t>((b & 0x0F) | (index << 4));
      return;
    }
    case TPixelFormat::pf8bit:
      row[x] = static_cast<std::uint8_t>(NearestPaletteIndex(color));
      return;
    case TPixelFormat::pf24bit: {
      std::uint8_t* p = row + 3 * static_cast<std::size_t>(x);
      p[0] = color.Blue;
      p[1] = color.Green;
      p[2] = color.Red;
      return;
    }
    case TPixelFormat::pf16bit:
    case TPixelFormat::pf32bit: {
      const int bytes = BitsPerPixel() / 8;
      std::uint8_t* p = row + bytes * static_cast<std::size_t>(x);
      // Bits outside the colour masks (alpha, padding) keep their value.
      const std::uint32_t colorMask = masks_[0] | masks_[1] | masks_[2];
      const std::uint32_t old = LoadPixel(p, bytes);
      const std::uint32_t v = PackChannel(color.Red, masks_[0]) |
                              PackChannel(color.Green, masks_[1]) |
                              PackChannel(color.Blue, masks_[2]);
      StorePixel(p, bytes, (old & ~colorMask) | v);
      return;
    }
    default:
      SetDeepPixel(row, x, color);
      return;
  }
}

int TBitmap::NearestPaletteIndex(TRGBQuad color) const {
  int best = 0;
  int bestDistance = std::numeric_limits<int>::max();
  // Entries beyond what a pixel can index are unreachable.
  std::size_t count = palette_.size();
  if (IsPaletteFormat(format_)) count = std::min(count, std::size_t{1} << BitsPerPixel());
  for (std::size_t i = 0; i < count; ++i) {
    const int dr = int{palette_[i].Red} - color.Red;
    const int dg = int{palette_[i].Green} - color.Green;
    const int db = int{palette_[i].Blue} - color.Blue;
    const int da = PaletteAlpha ? 255 - int{palette_[i].Reserved} : 0;
    const int d = dr * dr + dg * dg + db * db + da * da;
    if (d < bestDistance) {
      bestDistance = d;
      best = static_cast<int>(i);
    }
  }
  return best;
}

TBitmap TBitmap::ToBits24() const {
  if (Empty()) return {};
  if (format_ == TPixelFormat::pf24bit) {
    TBitmap out(width_, height_, TPixelFormat::pf24bit);
    out.XPelsPerMeter = XPelsPerMeter;
    out.YPelsPerMeter = YPelsPerMeter;
    out.pixels_ = pixels_;
    return out;
  }
  return RowsToBits24(0, height_);
}

TBitmap TBitmap::RowsToBits24(int firstRow, int rows) const {
  if (firstRow < 0 || rows <= 0 || rows > height_ - firstRow) return {};
  TBitmap out(width_, rows, TPixelFormat::pf24bit);
  out.XPelsPerMeter = XPelsPerMeter;
  out.YPelsPerMeter = YPelsPerMeter;
  const TSampleLayout layout = SampleLayout(format_);
  const bool paletteAlpha = PaletteAlpha && IsPaletteFormat(format_);
  for (int y = 0; y < rows; ++y) {
    std::uint8_t* dst = out.Row(y).data();
    const std::uint8_t* src = Row(firstRow + y).data();
    for (int x = 0; x < width_; ++x) {
      const TRGBQuad c = GetPixel(x, firstRow + y);
      if (!layout.Alpha && !paletteAlpha) {
        dst[3 * x] = c.Blue;
        dst[3 * x + 1] = c.Green;
        dst[3 * x + 2] = c.Red;
        continue;
      }
      // Straight alpha over white, at 16 bits where the samples have them.
      unsigned alpha = c.Reserved * 257u;
      if (layout.Alpha) {
        const std::size_t at =
            (static_cast<std::size_t>(x) * layout.Channels + layout.Channels - 1) *
            layout.SampleBytes;
        std::uint16_t a16 = src[at];
        if (layout.SampleBytes == 2) std::memcpy(&a16, src + at, 2);
        alpha = layout.SampleBytes == 2 ? a16 : a16 * 257u;
      }
      const auto over = [alpha](std::uint8_t v) {
        return static_cast<std::uint8_t>((v * alpha + 255u * (65535u - alpha) + 32767u) / 65535u);
      };
      dst[3 * x] = over(c.Blue);
      dst[3 * x + 1] = over(c.Green);
      dst[3 * x + 2] = over(c.Red);
    }
  }
  return out;
}

std::vector<std::byte> TBitmap::SaveToBytes() const { return SaveBitmapToBytes(*this); }

}  // namespace sigilon
