#pragma once
/// The header fields of the 8-bit RGB TIFF pages the benchmarks write.

#include <tiffio.h>

#include <cstdint>

namespace sigilon::bench {

/// Sets `tiff`'s current page to `width` x `height` 8-bit RGB, samples
/// interleaved, top row first, in `compression`.
inline void SetRgb8Page(TIFF* tiff, std::uint32_t width, std::uint32_t height,
                        std::uint16_t compression) {
  TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, width);
  TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, height);
  TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, 3);
  TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE, 8);
  TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, PHOTOMETRIC_RGB);
  TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
}

}  // namespace sigilon::bench
