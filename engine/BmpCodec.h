#pragma once
/// Reading and writing of Windows bitmap files ("BM") in memory.
///
/// Reading accepts the OS/2 core (12), OS/2 2.x (16, 64), info (40), the
/// 52/56-byte bit-field variants, V4 (108) and V5 (124) headers; 1, 4, 8, 16,
/// 24 and 32 bits per pixel; uncompressed, bit-field (also with alpha) and
/// RLE4/RLE8 pixel data; bottom-up and top-down rows. The picture keeps the
/// file's pixel format: palette (as long as the file gives it), channel masks
/// and resolution. Anything else fails with ImageError naming the file.

#include <cstddef>
#include <span>
#include <string>
#include <vector>

#include "engine/Bitmap.h"

namespace sigilon {

/// Largest bitmap file worth reading: the pixels of the biggest picture the
/// reader accepts (kMaxPixels at 32 bits) and room for headers, colour table
/// and a gap before the pixel data. A bigger file is refused unread.
inline constexpr std::uint64_t kMaxBitmapFileBytes = kMaxPixels * 4 + (std::uint64_t{1} << 20);

/// Decodes a bitmap file held in `data`. `nameForErrors` starts every error
/// message. Header fields are checked before use; the pixel allocation is
/// bounded by kMaxPixels and by the file's size (for RLE data a fixed number
/// of pixels per byte of file).
/// Pixels that RLE data skips or never reaches are palette index 0.
TBitmap LoadBitmapFromBytes(std::span<const std::byte> data, const std::string& nameForErrors);

/// Encodes `bitmap` as a complete bitmap file: a 40-byte info header (with
/// bit-field masks when a 16/32-bit picture's masks are not the default ones,
/// or a V4 header when they include alpha), the colour table of palette
/// formats, and bottom-up rows. Reading the result back gives the same
/// picture, and writing that again gives the same bytes.
std::vector<std::byte> SaveBitmapToBytes(const TBitmap& bitmap);

/// Size of the file SaveBitmapToBytes makes, and the same file written into
/// memory the caller provides (exactly that many bytes), for callers that
/// keep big files in memory of their own.
std::size_t BitmapFileSize(const TBitmap& bitmap);
void WriteBitmapFile(const TBitmap& bitmap, std::span<std::byte> out);

}  // namespace sigilon
