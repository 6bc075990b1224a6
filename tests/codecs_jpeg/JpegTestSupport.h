#pragma once
// Test pictures made with libjpeg directly (settings the program never uses:
// progressive, arithmetic, grayscale, CMYK/YCCK, custom scan scripts, extra
// markers) and a reader of a JPEG stream's marker segments.

// jpeglib.h needs FILE and size_t declared before it.
#include <cstdio>

#include <jpeglib.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "engine/Bitmap.h"

// Encodings are written as designated initializers naming only the settings
// that matter to the case; the rest keep their defaults on purpose.
#pragma GCC diagnostic ignored "-Wmissing-field-initializers"

namespace sigilon::test {

struct TTestEncoding {
  /// Colour space of the samples handed over (JCS_RGB, JCS_GRAYSCALE, JCS_CMYK).
  J_COLOR_SPACE Input = JCS_RGB;
  /// Colour space in the file when it differs from the library's choice
  /// (JCS_YCCK for CMYK samples).
  J_COLOR_SPACE File = JCS_UNKNOWN;
  bool AdobeMarker = true;
  bool Progressive = false;
  bool Arithmetic = false;
  int Quality = 90;
  /// Custom scan script (progressive when set).
  std::vector<jpeg_scan_info> Scans;
  /// Extra markers written after the header: (marker code, payload).
  std::vector<std::pair<int, std::string>> Markers;
  /// JFIF density.
  std::uint8_t DensityUnit = 0;
  std::uint16_t Density = 1;
};

inline int ComponentsOf(J_COLOR_SPACE space) {
  return space == JCS_GRAYSCALE ? 1 : (space == JCS_CMYK ? 4 : 3);
}

/// Encodes interleaved samples (rows top-down, no padding).
inline std::vector<std::byte> EncodeSamples(int width, int height,
                                            const std::vector<std::uint8_t>& samples,
                                            const TTestEncoding& encoding) {
  const int components = ComponentsOf(encoding.Input);
  if (samples.size() != static_cast<std::size_t>(width) * height * components) {
    throw std::invalid_argument("sample count does not match the size");
  }
  // Test pictures are always valid; libjpeg's default error handler ends the
  // process with its message should that ever be wrong.
  jpeg_compress_struct info{};
  jpeg_error_mgr errors{};
  info.err = jpeg_std_error(&errors);
  jpeg_create_compress(&info);
  unsigned char* buffer = nullptr;
  unsigned long size = 0;
  jpeg_mem_dest(&info, &buffer, &size);
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = components;
  info.in_color_space = encoding.Input;
  jpeg_set_defaults(&info);
  if (encoding.File != JCS_UNKNOWN) jpeg_set_colorspace(&info, encoding.File);
  info.write_Adobe_marker = encoding.AdobeMarker ? TRUE : FALSE;
  info.density_unit = encoding.DensityUnit;
  info.X_density = info.Y_density = encoding.Density;
  jpeg_set_quality(&info, encoding.Quality, TRUE);
  if (encoding.Progressive) jpeg_simple_progression(&info);
  if (!encoding.Scans.empty()) {
    info.scan_info = encoding.Scans.data();
    info.num_scans = static_cast<int>(encoding.Scans.size());
  }
  info.arith_code = encoding.Arithmetic ? TRUE : FALSE;
  jpeg_start_compress(&info, TRUE);
  for (const auto& [marker, payload] : encoding.Markers) {
    jpeg_write_marker(&info, marker, reinterpret_cast<const JOCTET*>(payload.data()),
                      static_cast<unsigned>(payload.size()));
  }
  const std::size_t rowBytes = static_cast<std::size_t>(width) * components;
  while (info.next_scanline < info.image_height) {
    JSAMPROW row = const_cast<JSAMPLE*>(samples.data() + info.next_scanline * rowBytes);
    jpeg_write_scanlines(&info, &row, 1);
  }
  jpeg_finish_compress(&info);
  jpeg_destroy_compress(&info);
  std::vector<std::byte> out(reinterpret_cast<std::byte*>(buffer),
                             reinterpret_cast<std::byte*>(buffer) + size);
  std::free(buffer);
  return out;
}

/// R, G, B samples of a smooth colour picture.
inline std::vector<std::uint8_t> GradientRgb(int width, int height) {
  std::vector<std::uint8_t> samples;
  samples.reserve(static_cast<std::size_t>(width) * height * 3);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      samples.push_back(static_cast<std::uint8_t>(x * 255 / std::max(1, width - 1)));
      samples.push_back(static_cast<std::uint8_t>(y * 255 / std::max(1, height - 1)));
      samples.push_back(static_cast<std::uint8_t>(128));
    }
  }
  return samples;
}

/// Horizontal bands `bandHeight` rows high, one per pixel value (each
/// `components` samples).
inline std::vector<std::uint8_t> Bands(int width, int bandHeight,
                                       const std::vector<std::vector<std::uint8_t>>& pixels) {
  std::vector<std::uint8_t> samples;
  for (const auto& pixel : pixels)
    for (int i = 0; i < width * bandHeight; ++i)
      samples.insert(samples.end(), pixel.begin(), pixel.end());
  return samples;
}

/// A 24-bit bitmap whose left half is pure red and right half pure blue, so
/// that a mix-up of the channel order shows.
inline TBitmap RedBlueBitmap(int width, int height) {
  TBitmap bitmap(width, height, TPixelFormat::pf24bit);
  for (int y = 0; y < height; ++y) {
    for (int x = 0; x < width; ++x) {
      bitmap.SetPixel(x, y, x < width / 2 ? TRGBQuad{0, 0, 255, 0} : TRGBQuad{255, 0, 0, 0});
    }
  }
  return bitmap;
}

/// One marker segment of a JPEG stream's header.
struct TSegment {
  std::size_t Offset = 0;  // of the segment's 0xFF
  std::uint8_t Marker = 0;
  std::vector<std::uint8_t> Payload;  // without the length field
};

/// The segments from SOI up to and including the first SOS; throws when the
/// stream's structure is broken. The last entry is the SOS.
inline std::vector<TSegment> HeaderSegments(std::span<const std::byte> data) {
  const auto at = [&](std::size_t i) {
    if (i >= data.size()) throw std::runtime_error("stream ends inside the header");
    return static_cast<std::uint8_t>(data[i]);
  };
  if (at(0) != 0xFF || at(1) != 0xD8) throw std::runtime_error("no SOI");
  std::vector<TSegment> segments;
  std::size_t pos = 2;
  for (;;) {
    if (at(pos) != 0xFF) throw std::runtime_error("expected a marker");
    TSegment segment{pos, at(pos + 1), {}};
    const std::size_t length = (std::size_t{at(pos + 2)} << 8) | at(pos + 3);
    if (length < 2) throw std::runtime_error("bad segment length");
    for (std::size_t i = 0; i < length - 2; ++i) segment.Payload.push_back(at(pos + 4 + i));
    pos += 2 + length;
    segments.push_back(std::move(segment));
    if (segments.back().Marker == 0xDA) return segments;
  }
}

}  // namespace sigilon::test
