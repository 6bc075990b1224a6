// TIFF pages decoded whole, strip by strip or a row of tiles at a time, into
// the pixel format that keeps their samples: grey, RGB, alpha, palette, 8 or
// 16 bits.

#include <algorithm>
#include <cstring>

#include "engine/Errors.h"
#include "engine/MetadataSignatures.h"
#include "engine/Orientation.h"
#include "engine/formats/PngMetadata.h"
#include "engine/formats/TiffCodec.h"

namespace sigilon {

namespace {

/// What one page's tags say about its samples.
struct TLayout {
  std::uint32_t Width = 0, Height = 0;
  std::uint16_t Samples = 1, Bits = 8, Photometric = 0, Planar = PLANARCONFIG_CONTIG;
  bool Alpha = false, Associated = false, Rgb = false, Palette = false, WhiteIsZero = false;
  TPixelFormat Format = TPixelFormat::pfGray8;
  std::uint64_t FileBytes = 0;
};

template <typename T>
T Field(TIFF* tiff, ttag_t tag, T fallback) {
  T value{};
  return TIFFGetFieldDefaulted(tiff, tag, &value) == 1 ? value : fallback;
}

TLayout LayoutOf(TTiffSession& session, std::uint64_t fileBytes) {
  TIFF* tiff = session.Tiff();
  TLayout layout;
  layout.FileBytes = fileBytes;
  const bool sized = TIFFGetField(tiff, TIFFTAG_IMAGEWIDTH, &layout.Width) == 1 &&
                     TIFFGetField(tiff, TIFFTAG_IMAGELENGTH, &layout.Height) == 1;
  session.Check(sized, "the TIFF page has no size");
  layout.Samples = Field<std::uint16_t>(tiff, TIFFTAG_SAMPLESPERPIXEL, 1);
  layout.Bits = Field<std::uint16_t>(tiff, TIFFTAG_BITSPERSAMPLE, 1);
  layout.Planar = Field<std::uint16_t>(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG);
  const auto sampleFormat = Field<std::uint16_t>(tiff, TIFFTAG_SAMPLEFORMAT, SAMPLEFORMAT_UINT);
  session.Check(TIFFGetField(tiff, TIFFTAG_PHOTOMETRIC, &layout.Photometric) == 1,
                "the TIFF page has no photometric interpretation");
  const std::uint16_t photometric = layout.Photometric;
  if (photometric == PHOTOMETRIC_YCBCR &&
      Field<std::uint16_t>(tiff, TIFFTAG_COMPRESSION, 1) == COMPRESSION_JPEG) {
    // libjpeg turns the samples to RGB.
    TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
    layout.Photometric = PHOTOMETRIC_RGB;
  }
  layout.Rgb = layout.Photometric == PHOTOMETRIC_RGB;
  layout.Palette = layout.Photometric == PHOTOMETRIC_PALETTE;
  layout.WhiteIsZero = layout.Photometric == PHOTOMETRIC_MINISWHITE;
  const bool grey = layout.WhiteIsZero || layout.Photometric == PHOTOMETRIC_MINISBLACK;
  const int colours = layout.Rgb ? 3 : 1;
  std::uint16_t extras = 0;
  std::uint16_t* kinds = nullptr;
  TIFFGetField(tiff, TIFFTAG_EXTRASAMPLES, &extras, &kinds);
  layout.Alpha = layout.Samples == colours + 1 && !layout.Palette;
  layout.Associated = layout.Alpha && extras == 1 && kinds[0] == EXTRASAMPLE_ASSOCALPHA;
  const bool supported =
      (layout.Rgb || grey || layout.Palette) && sampleFormat == SAMPLEFORMAT_UINT &&
      (layout.Samples == colours || layout.Alpha) &&
      (layout.Palette ? layout.Bits == 8 : layout.Bits == 8 || layout.Bits == 16);
  if (!supported) {
    throw ImageError(session.Name() + ": this kind of TIFF picture (photometric " +
                     std::to_string(photometric) + ", " + std::to_string(layout.Samples) +
                     " samples of " + std::to_string(layout.Bits) + " bits) is not supported");
  }
  using enum TPixelFormat;
  const bool deep = layout.Bits == 16;
  if (layout.Palette)
    layout.Format = pf8bit;
  else if (layout.Rgb)
    layout.Format = layout.Alpha ? (deep ? pf64bit : pfBGRA32) : (deep ? pf48bit : pf24bit);
  else
    layout.Format =
        layout.Alpha ? (deep ? pfGrayAlpha16 : pfGrayAlpha8) : (deep ? pfGray16 : pfGray8);
  CheckedImageBytes(layout.Width, layout.Height, BitsPerPixel(layout.Format), "TIFF picture");
  CheckPixelsPerByte(layout.Width, layout.Height, fileBytes, kMaxTiffPixelsPerByte, session.Name());
  return layout;
}

/// One sample as stored (8 or 16 bits, host order).
std::uint32_t SampleAt(const std::uint8_t* row, std::size_t index, bool deep) {
  if (!deep) return row[index];
  std::uint16_t value;
  std::memcpy(&value, row + 2 * index, 2);
  return value;
}

void PutSample(std::uint8_t* row, std::size_t index, std::uint32_t value, bool deep) {
  if (!deep) {
    row[index] = static_cast<std::uint8_t>(value);
    return;
  }
  const auto sample = static_cast<std::uint16_t>(value);
  std::memcpy(row + 2 * index, &sample, 2);
}

/// Stored rows, one buffer per plane, moved into `picture`'s rows from `top`.
void PlaceRows(const TLayout& layout, const std::vector<std::vector<std::uint8_t>>& planes,
               std::size_t planeRowBytes, std::uint32_t top, std::uint32_t rows, TBitmap& picture) {
  const bool deep = layout.Bits == 16;
  const bool separate = planes.size() > 1;
  const int colours = layout.Rgb ? 3 : 1;
  const std::uint32_t full = deep ? 0xFFFF : 0xFF;
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint8_t* out = picture.Row(static_cast<int>(top + r)).data();
    for (std::uint32_t x = 0; x < layout.Width; ++x) {
      const auto sample = [&](int channel) {
        if (separate) return SampleAt(planes[channel].data() + r * planeRowBytes, x, deep);
        return SampleAt(planes[0].data() + r * planeRowBytes,
                        std::size_t{x} * layout.Samples + channel, deep);
      };
      const std::uint32_t alpha = layout.Alpha ? sample(colours) : full;
      const std::size_t first = std::size_t{x} * layout.Samples;
      for (int c = 0; c < colours; ++c) {
        std::uint32_t value = sample(c);
        if (layout.WhiteIsZero) value = full - value;
        if (layout.Associated)
          value = alpha == 0 ? 0 : std::min(full, (value * full + alpha / 2) / alpha);
        // RGB is stored as B, G, R.
        PutSample(out, first + (layout.Rgb ? 2 - c : c), value, deep);
      }
      if (layout.Alpha) PutSample(out, first + colours, alpha, deep);
    }
  }
}

TBitmap ReadPixels(TTiffSession& session, const TLayout& layout) {
  TIFF* tiff = session.Tiff();
  TBitmap picture(static_cast<int>(layout.Width), static_cast<int>(layout.Height), layout.Format);
  const bool separate = layout.Planar == PLANARCONFIG_SEPARATE && layout.Samples > 1;
  const std::size_t sampleBytes = layout.Bits / 8;
  const std::size_t planeRowBytes =
      std::size_t{layout.Width} * sampleBytes * (separate ? 1 : layout.Samples);
  const bool tiled = TIFFIsTiled(tiff) != 0;
  std::uint32_t tileWidth = 0, bandRows = 0;
  if (tiled) {
    const bool tiles = TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth) == 1 &&
                       TIFFGetField(tiff, TIFFTAG_TILELENGTH, &bandRows) == 1;
    session.Check(tiles && tileWidth > 0 && bandRows > 0, "the TIFF tiles have no size");
    // A tile is allocated whole: it passes the gates a picture does.
    CheckedImageBytes(tileWidth, bandRows, BitsPerPixel(layout.Format), "TIFF tile");
    CheckPixelsPerByte(tileWidth, bandRows, layout.FileBytes, kMaxTiffPixelsPerByte,
                       session.Name());
  } else {
    bandRows = Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, layout.Height);
  }
  bandRows = std::clamp<std::uint32_t>(bandRows, 1, layout.Height);
  const std::size_t planeCount = separate ? layout.Samples : 1;
  std::vector<std::vector<std::uint8_t>> planes(
      planeCount, std::vector<std::uint8_t>(planeRowBytes * bandRows));
  std::vector<std::uint8_t> tile;
  if (tiled) {
    const tmsize_t tileBytes = TIFFTileSize(tiff);
    session.Check(tileBytes > 0, "the TIFF tiles have no size");
    tile.resize(static_cast<std::size_t>(tileBytes));
  }
  const std::size_t tileRowBytes = tiled ? tile.size() / bandRows : 0;
  for (std::uint32_t top = 0; top < layout.Height; top += bandRows) {
    const std::uint32_t rows = std::min(bandRows, layout.Height - top);
    for (std::size_t plane = 0; plane < planeCount; ++plane) {
      auto& buffer = planes[plane];
      if (!tiled) {
        const tstrip_t strip = TIFFComputeStrip(tiff, top, static_cast<tsample_t>(plane));
        const tmsize_t read = TIFFReadEncodedStrip(tiff, strip, buffer.data(),
                                                   static_cast<tmsize_t>(planeRowBytes * rows));
        session.Check(read >= 0, "a TIFF strip could not be read");
        continue;
      }
      for (std::uint32_t x = 0; x < layout.Width; x += tileWidth) {
        const tmsize_t read =
            TIFFReadTile(tiff, tile.data(), x, top, 0, static_cast<tsample_t>(plane));
        session.Check(read >= 0, "a TIFF tile could not be read");
        const std::size_t pixelBytes = planeRowBytes / layout.Width;
        const std::size_t bytes = std::min(tileWidth, layout.Width - x) * pixelBytes;
        for (std::uint32_t r = 0; r < rows; ++r) {
          std::memcpy(buffer.data() + r * planeRowBytes + x * pixelBytes,
                      tile.data() + r * tileRowBytes, bytes);
        }
      }
    }
    PlaceRows(layout, planes, planeRowBytes, top, rows, picture);
  }
  if (layout.Palette) {
    std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
    session.Check(TIFFGetField(tiff, TIFFTAG_COLORMAP, &red, &green, &blue) == 1,
                  "the TIFF palette is missing");
    auto& palette = picture.Palette();
    palette.resize(256);
    for (std::size_t i = 0; i < palette.size(); ++i) {
      palette[i] = {.Blue = static_cast<std::uint8_t>(blue[i] >> 8),
                    .Green = static_cast<std::uint8_t>(green[i] >> 8),
                    .Red = static_cast<std::uint8_t>(red[i] >> 8)};
    }
  }
  return picture;
}

std::vector<std::byte> BytesOf(const void* data, std::size_t size) {
  const auto* bytes = static_cast<const std::byte*>(data);
  return {bytes, bytes + size};
}

std::vector<std::byte> Signed(std::string_view signature, std::vector<std::byte> payload) {
  std::vector<std::byte> out = BytesOf(signature.data(), signature.size());
  out.insert(out.end(), payload.begin(), payload.end());
  return out;
}

TPictureMetadata MetadataOf(TIFF* tiff) {
  TPictureMetadata metadata;
  const auto orientation = Field<std::uint16_t>(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT);
  metadata.Orientation = orientation >= 1 && orientation <= 8 ? orientation : 1;
  std::uint32_t size = 0;
  void* data = nullptr;
  if (TIFFGetField(tiff, TIFFTAG_ICCPROFILE, &size, &data) == 1 && data != nullptr) {
    metadata.IccProfile = BytesOf(data, size);
  }
  using enum TPictureMetadata::TKind;
  if (TIFFGetField(tiff, TIFFTAG_XMLPACKET, &size, &data) == 1 && data != nullptr && size > 0) {
    metadata.Information.push_back({Xmp, Signed(kXmpSignature, BytesOf(data, size))});
  }
  if (TIFFGetField(tiff, TIFFTAG_PHOTOSHOP, &size, &data) == 1 && data != nullptr && size > 0) {
    metadata.Information.push_back({Iptc, Signed(kPhotoshopSignature, BytesOf(data, size))});
  } else if (TIFFGetField(tiff, TIFFTAG_RICHTIFFIPTC, &size, &data) == 1 && data != nullptr &&
             size > 0) {
    // Counted in four-byte words by most writers.
    const std::vector<std::byte> iptc = BytesOf(data, std::size_t{size} * 4);
    metadata.Information.push_back({Iptc, Signed(kPhotoshopSignature, PhotoshopResourcesOf(iptc))});
  }
  switch (Field<std::uint16_t>(tiff, TIFFTAG_COMPRESSION, COMPRESSION_NONE)) {
    case COMPRESSION_LZW:
      metadata.Compression = "lzw";
      break;
    case COMPRESSION_ADOBE_DEFLATE:
    case COMPRESSION_DEFLATE:
      metadata.Compression = "deflate";
      break;
    case COMPRESSION_PACKBITS:
      metadata.Compression = "packbits";
      break;
    case COMPRESSION_JPEG:
      metadata.Compression = "jpeg";
      break;
    default:
      metadata.Compression = "none";
      break;
  }
  return metadata;
}

}  // namespace

TWholePicture DecodeTiff(std::span<const std::byte> file, const std::string& name) {
  TTiffSession session(file, name);
  TWholePicture whole;
  std::uint64_t pixels = 0;
  for (int page = 0;; ++page) {
    const TLayout layout = LayoutOf(session, file.size());
    // All pages together stay within one picture's caps.
    pixels += std::uint64_t{layout.Width} * layout.Height;
    if (pixels > kMaxPixels) throw ImageError(name + ": the TIFF pages hold too many pixels");
    CheckPixelsPerByte(pixels, 1, file.size(), kMaxTiffPixelsPerByte, name);
    TBitmap picture = ReadPixels(session, layout);
    TPictureMetadata metadata = MetadataOf(session.Tiff());
    if (page == 0) {
      whole.Picture = std::move(picture);
      whole.Metadata = std::move(metadata);
    } else {
      whole.MorePages.push_back(TurnUpright(std::move(picture), metadata.Orientation));
    }
    if (TIFFLastDirectory(session.Tiff()) != 0) break;
    if (page + 1 >= kMaxTiffPages) throw ImageError(name + ": the TIFF file has too many pages");
    session.Check(TIFFReadDirectory(session.Tiff()) == 1, "the next TIFF page could not be read");
  }
  whole.Warnings = session.Warnings();
  return whole;
}

}  // namespace sigilon
