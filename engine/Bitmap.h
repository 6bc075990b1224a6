#pragma once
/// TBitmap: a device-independent picture in memory, the drawing layer's
/// surface. Rows are stored top-down, each padded to a multiple of four bytes
/// exactly as in a bitmap file, so a file can be written without conversion.

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

namespace sigilon {

/// One colour table entry, in bitmap-file byte order.
struct TRGBQuad {
  std::uint8_t Blue = 0;
  std::uint8_t Green = 0;
  std::uint8_t Red = 0;
  std::uint8_t Reserved = 0;
  friend bool operator==(const TRGBQuad&, const TRGBQuad&) = default;
};

/// Storage formats. 1/4/8 bits index a palette; 16 and 32 bits use the
/// channel masks; 24 bits is B, G, R bytes.
///
/// The deep formats hold what other picture types store and bitmap files
/// cannot: one grey sample (pfGray8, pfGray16), grey then alpha
/// (pfGrayAlpha8, pfGrayAlpha16), B, G, R, A bytes (pfBGRA32), and B, G, R
/// (pf48bit) or B, G, R, A (pf64bit) 16-bit samples in the machine's byte
/// order. Alpha is straight (not premultiplied), 0 transparent.
enum class TPixelFormat {
  pf1bit,
  pf4bit,
  pf8bit,
  pf16bit,
  pf24bit,
  pf32bit,
  pfGray8,
  pfGray16,
  pfGrayAlpha8,
  pfGrayAlpha16,
  pfBGRA32,
  pf48bit,
  pf64bit
};

/// Bits per pixel of a format (1 to 64).
int BitsPerPixel(TPixelFormat format);

/// Whether pixels index a palette (1, 4 and 8 bits).
bool IsPaletteFormat(TPixelFormat format);

/// How a deep format lays out a pixel: samples of one or two bytes, grey or
/// B, G, R, then alpha where there is one.
struct TSampleLayout {
  int Channels = 0;  // 0: not a deep format
  int SampleBytes = 1;
  bool Gray = false;
  bool Alpha = false;
};
TSampleLayout SampleLayout(TPixelFormat format);

/// The grey a colour looks (Rec. 601 weights), rounded: what grey pictures
/// are painted with.
std::uint8_t Luminance(std::uint8_t red, std::uint8_t green, std::uint8_t blue);

/// Upper bound on the pixels of one picture, checked before any decoding or
/// allocation: 256 megapixels (2^28) still admits medium-format photos and
/// stitched panoramas, while a lying header cannot make us allocate gigabytes.
inline constexpr std::uint64_t kMaxPixels = std::uint64_t{1} << 28;

/// Bytes of one padded row for the given width and bits per pixel (64-bit).
std::uint64_t RowStride(std::uint64_t width, int bitsPerPixel);

/// The one checked size helper that guards every pixel allocation: validates
/// width, height (both >= 1) and the pixel bound, and returns stride * height.
/// Throws ImageError naming `what` when the picture is not acceptable.
std::uint64_t CheckedImageBytes(std::int64_t width, std::int64_t height, int bitsPerPixel,
                                const char* what = "picture");

/// Gate on compressed size: refuses a picture whose header claims more than
/// `maxPixelsPerByte` pixels for each byte of the file that holds it, so that
/// a few hundred bytes cannot make us allocate and fill gigabytes. Each codec
/// chooses its ratio from what its format can compress. Throws ImageError
/// naming `what`.
void CheckPixelsPerByte(std::uint64_t width, std::uint64_t height, std::uint64_t fileBytes,
                        std::uint64_t maxPixelsPerByte, const std::string& what);

/// Allocator of pixel storage: big pictures get memory that is cheap to touch
/// (see AllocateLargeBlock).
template <class T>
struct TPixelAllocator {
  using value_type = T;
  TPixelAllocator() = default;
  template <class U>
  TPixelAllocator(const TPixelAllocator<U>&) noexcept {}
  T* allocate(std::size_t n) { return static_cast<T*>(AllocatePixels(n * sizeof(T))); }
  void deallocate(T* p, std::size_t n) noexcept { FreePixels(p, n * sizeof(T)); }
  friend bool operator==(const TPixelAllocator&, const TPixelAllocator&) = default;

 private:
  static void* AllocatePixels(std::size_t bytes);
  static void FreePixels(void* block, std::size_t bytes) noexcept;
};

class TBitmap {
 public:
  TBitmap() = default;
  /// A picture of the given size and format, all bytes zero; palette formats
  /// get a zeroed palette of 2^bits entries. Throws ImageError on bad sizes.
  TBitmap(int width, int height, TPixelFormat format);

  int Width() const { return width_; }
  int Height() const { return height_; }
  bool Empty() const { return width_ == 0 || height_ == 0; }
  TPixelFormat PixelFormat() const { return format_; }
  int BitsPerPixel() const { return sigilon::BitsPerPixel(format_); }
  std::size_t Stride() const { return stride_; }

  /// Row y (0 = top) as raw bytes, Stride() long.
  std::span<std::uint8_t> Row(int y);
  std::span<const std::uint8_t> Row(int y) const;
  std::span<std::uint8_t> Pixels() { return pixels_; }
  std::span<const std::uint8_t> Pixels() const { return pixels_; }

  /// Colour table of palette formats (may be shorter than 2^bits when read
  /// from a file that says so); empty for the others.
  std::vector<TRGBQuad>& Palette() { return palette_; }
  const std::vector<TRGBQuad>& Palette() const { return palette_; }

  /// Channel masks for 16 and 32 bits (defaults: 5-5-5 and 8-8-8, no alpha).
  std::array<std::uint32_t, 4>& Masks() { return masks_; }  // R, G, B, A
  const std::array<std::uint32_t, 4>& Masks() const { return masks_; }
  /// True when the masks differ from the format's default layout, so a
  /// bitmap file must carry them (bit-field compression).
  bool HasCustomMasks() const;

  /// The palette's Reserved bytes are opacities (0 transparent, 255
  /// opaque), as a PNG transparency table gives them; false for bitmap
  /// files, whose Reserved bytes mean nothing.
  bool PaletteAlpha = false;

  /// Pixel resolution carried through bitmap files (pixels per metre).
  int XPelsPerMeter = 0;
  int YPelsPerMeter = 0;

  /// Colour of pixel (x, y) as R, G, B whatever the format (16-bit samples
  /// rounded to 8 bits, alpha left out); black outside the picture or for an
  /// index past the end of the palette.
  TRGBQuad GetPixel(int x, int y) const;
  /// Sets pixel (x, y) to the nearest representable colour (for palette
  /// formats: the nearest palette entry); does nothing outside the picture.
  /// Bits outside the colour masks (alpha, unused) keep their value, and so
  /// does the alpha sample of deep formats; grey takes the colour's
  /// Luminance, 16-bit samples the 8-bit value times 257.
  void SetPixel(int x, int y, TRGBQuad color);
  /// Index of the palette entry nearest to `color` (squared RGB distance,
  /// the first of equals) among the entries a pixel can index; 0 when the
  /// palette is empty. With PaletteAlpha, an entry's distance from opaque
  /// counts too: the colour asked for is opaque.
  int NearestPaletteIndex(TRGBQuad color) const;

  /// A copy converted to 24 bits per pixel. A picture with alpha (a deep
  /// format that has it, or PaletteAlpha) is laid over white, as a viewer
  /// shows it: a type without alpha would otherwise show whatever colour
  /// its transparent pixels happen to hold.
  TBitmap ToBits24() const;
  /// Rows `firstRow` to `firstRow + rows` (within the picture) as a picture
  /// of 24 bits per pixel, laid over white as ToBits24 does.
  TBitmap RowsToBits24(int firstRow, int rows) const;

  /// The picture as a complete bitmap file (file header "BM", info header,
  /// colour table where the format has one, pixel rows), in its own format
  /// (see SaveBitmapToBytes). Throws ImageError for an empty picture.
  std::vector<std::byte> SaveToBytes() const;

 private:
  TRGBQuad GetDeepPixel(const std::uint8_t* row, int x) const;
  void SetDeepPixel(std::uint8_t* row, int x, TRGBQuad color);

  int width_ = 0;
  int height_ = 0;
  TPixelFormat format_ = TPixelFormat::pf24bit;
  std::size_t stride_ = 0;
  std::vector<std::uint8_t, TPixelAllocator<std::uint8_t>> pixels_;
  std::vector<TRGBQuad> palette_;
  std::array<std::uint32_t, 4> masks_{};
};

}  // namespace sigilon
