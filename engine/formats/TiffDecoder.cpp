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

/// Rows `unitRow` on of decoded stored rows (one buffer per plane), moved
/// into `picture`'s rows from `pictureRow`.
void PlaceRows(const TLayout& layout, const std::vector<std::vector<std::uint8_t>>& planes,
               std::size_t planeRowBytes, std::uint32_t unitRow, int pictureRow, std::uint32_t rows,
               TBitmap& picture) {
  const bool deep = layout.Bits == 16;
  const bool separate = planes.size() > 1;
  const int colours = layout.Rgb ? 3 : 1;
  const std::uint32_t full = deep ? 0xFFFF : 0xFF;
  // Samples as the bitmap holds them: only colour needs reordering.
  const bool plain = !deep && !separate && !layout.WhiteIsZero && !layout.Associated;
  for (std::uint32_t r = 0; r < rows; ++r) {
    std::uint8_t* out = picture.Row(pictureRow + static_cast<int>(r)).data();
    const std::size_t at = (unitRow + r) * planeRowBytes;
    if (plain && !layout.Rgb) {
      std::memcpy(out, planes[0].data() + at, planeRowBytes);
      continue;
    }
    if (plain) {
      const std::size_t samples = layout.Samples;
      const std::uint8_t* in = planes[0].data() + at;
      for (std::size_t x = 0; x < layout.Width; ++x, in += samples, out += samples) {
        out[0] = in[2];
        out[1] = in[1];
        out[2] = in[0];
        if (samples == 4) out[3] = in[3];
      }
      continue;
    }
    for (std::uint32_t x = 0; x < layout.Width; ++x) {
      const auto sample = [&](int channel) {
        if (separate) return SampleAt(planes[channel].data() + at, x, deep);
        return SampleAt(planes[0].data() + at, std::size_t{x} * layout.Samples + channel, deep);
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

/// 16-bit colour map entries as the palette's 8-bit ones.
std::vector<TRGBQuad> PaletteOf(TTiffSession& session) {
  std::uint16_t *red = nullptr, *green = nullptr, *blue = nullptr;
  session.Check(TIFFGetField(session.Tiff(), TIFFTAG_COLORMAP, &red, &green, &blue) == 1,
                "the TIFF palette is missing");
  std::vector<TRGBQuad> palette(256);
  for (std::size_t i = 0; i < palette.size(); ++i) {
    palette[i] = {.Blue = static_cast<std::uint8_t>(blue[i] >> 8),
                  .Green = static_cast<std::uint8_t>(green[i] >> 8),
                  .Red = static_cast<std::uint8_t>(red[i] >> 8)};
  }
  return palette;
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

// Most bytes of one strip decoded whole; a bigger one is read a row at a
// time (as libtiff does for rows, in parts where it was built to).
constexpr std::size_t kMaxStripBytes = std::size_t{8} << 20;

// How a page is read: the rows of one unit (a strip, a row of a big strip,
// a row of tiles) decoded at a time.
struct TTiffBandDecoder::TImpl {
  TImpl(std::unique_ptr<TTiffFile> file, const std::string& name)
      : session(std::move(file), TTiffSession::TMode::Read, name) {}

  void OpenPage();
  void Load(std::uint32_t row);

  TTiffSession session;
  TLayout layout;
  TPictureHeader header;
  TPictureMetadata metadata;
  std::vector<TRGBQuad> palette;
  int pages = 1;
  int page = 0;
  std::uint64_t pixels = 0;
  int nextRow = 0;
  bool tiled = false, separate = false, byRow = false;
  std::uint32_t unitRows = 1, tileWidth = 0;
  std::size_t planeRowBytes = 0, tileRowBytes = 0;
  std::vector<std::vector<std::uint8_t>> planes;
  std::vector<std::uint8_t> tile;
  // The unit decoded: its first row and rows.
  std::uint32_t loadedTop = 0, loadedRows = 0;
};

void TTiffBandDecoder::TImpl::OpenPage() {
  TIFF* tiff = session.Tiff();
  const std::string& name = session.Name();
  layout = LayoutOf(session, session.FileSize());
  // All pages together stay within one picture's caps.
  pixels += std::uint64_t{layout.Width} * layout.Height;
  if (pixels > kMaxPixels) throw ImageError(name + ": the TIFF pages hold too many pixels");
  CheckPixelsPerByte(pixels, 1, session.FileSize(), kMaxTiffPixelsPerByte, name);
  metadata = MetadataOf(tiff);
  header = {.Width = static_cast<int>(layout.Width),
            .Height = static_cast<int>(layout.Height),
            .BitsPerSample = layout.Bits};
  palette.clear();
  if (layout.Palette) palette = PaletteOf(session);
  separate = layout.Planar == PLANARCONFIG_SEPARATE && layout.Samples > 1;
  const std::size_t sampleBytes = layout.Bits / 8;
  planeRowBytes = std::size_t{layout.Width} * sampleBytes * (separate ? 1 : layout.Samples);
  tiled = TIFFIsTiled(tiff) != 0;
  byRow = false;
  tile.clear();
  if (tiled) {
    const bool tiles = TIFFGetField(tiff, TIFFTAG_TILEWIDTH, &tileWidth) == 1 &&
                       TIFFGetField(tiff, TIFFTAG_TILELENGTH, &unitRows) == 1;
    session.Check(tiles && tileWidth > 0 && unitRows > 0, "the TIFF tiles have no size");
    // A tile is allocated whole: it passes the gates a picture does.
    CheckedImageBytes(tileWidth, unitRows, BitsPerPixel(layout.Format), "TIFF tile");
    CheckPixelsPerByte(tileWidth, unitRows, layout.FileBytes, kMaxTiffPixelsPerByte, name);
    const tmsize_t tileBytes = TIFFTileSize(tiff);
    session.Check(tileBytes > 0, "the TIFF tiles have no size");
    tile.resize(static_cast<std::size_t>(tileBytes));
  } else {
    unitRows = std::clamp<std::uint32_t>(
        Field<std::uint32_t>(tiff, TIFFTAG_ROWSPERSTRIP, layout.Height), 1, layout.Height);
    // A big strip of one plane is decoded a row at a time instead of whole.
    byRow = !separate && planeRowBytes * unitRows > kMaxStripBytes;
    if (byRow) unitRows = 1;
  }
  unitRows = std::clamp<std::uint32_t>(unitRows, 1, layout.Height);
  tileRowBytes = tiled ? tile.size() / unitRows : 0;
  planes.assign(separate ? layout.Samples : 1, std::vector<std::uint8_t>(planeRowBytes * unitRows));
  nextRow = 0;
  loadedTop = loadedRows = 0;
}

void TTiffBandDecoder::TImpl::Load(std::uint32_t row) {
  TIFF* tiff = session.Tiff();
  const std::uint32_t top = row - row % unitRows;
  const std::uint32_t rows = std::min(unitRows, layout.Height - top);
  if (byRow) {
    const int read = TIFFReadScanline(tiff, planes[0].data(), top, 0);
    session.Check(read == 1, "a TIFF strip could not be read");
  }
  for (std::size_t plane = 0; plane < planes.size() && !byRow; ++plane) {
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
  loadedTop = top;
  loadedRows = rows;
}

TTiffBandDecoder::TTiffBandDecoder(std::unique_ptr<TTiffFile> file, const std::string& name)
    : impl_(std::make_unique<TImpl>(std::move(file), name)) {
  TImpl& d = *impl_;
  d.OpenPage();
  // Counted before any pixel is read: every page is written with its number.
  const tdir_t pages = TIFFNumberOfDirectories(d.session.Tiff());
  d.session.Check(true, "the next TIFF page could not be read");
  if (pages > static_cast<tdir_t>(kMaxTiffPages)) {
    throw ImageError(name + ": the TIFF file has too many pages");
  }
  d.pages = std::max<int>(1, static_cast<int>(pages));
}

TTiffBandDecoder::~TTiffBandDecoder() = default;

const TPictureHeader& TTiffBandDecoder::Header() const { return impl_->header; }
const TPictureMetadata& TTiffBandDecoder::Metadata() const { return impl_->metadata; }
int TTiffBandDecoder::NextRow() const { return impl_->nextRow; }
int TTiffBandDecoder::Pages() const { return impl_->pages; }
std::vector<std::string> TTiffBandDecoder::Warnings() const { return impl_->session.Warnings(); }

TBitmap TTiffBandDecoder::NewBand(int rows) const {
  TBitmap band(impl_->header.Width, std::max(rows, 1), impl_->layout.Format);
  if (!impl_->palette.empty()) band.Palette() = impl_->palette;
  return band;
}

int TTiffBandDecoder::ReadRows(TBitmap& picture, int firstRow, int rows) {
  TImpl& d = *impl_;
  if (picture.Width() != d.header.Width || picture.PixelFormat() != d.layout.Format ||
      firstRow < 0 || rows < 0 || rows > picture.Height() - firstRow) {
    throw ImageError(d.session.Name() + ": expected a band made for this TIFF page");
  }
  const int count = std::min(rows, d.header.Height - d.nextRow);
  for (int done = 0; done < count;) {
    const auto row = static_cast<std::uint32_t>(d.nextRow);
    if (row < d.loadedTop || row >= d.loadedTop + d.loadedRows) d.Load(row);
    const std::uint32_t n = std::min<std::uint32_t>(count - done, d.loadedTop + d.loadedRows - row);
    PlaceRows(d.layout, d.planes, d.planeRowBytes, row - d.loadedTop, firstRow + done, n, picture);
    done += static_cast<int>(n);
    d.nextRow += static_cast<int>(n);
  }
  return count;
}

void TTiffBandDecoder::NextPage() {
  TImpl& d = *impl_;
  if (d.page + 1 >= d.pages)
    throw ImageError(d.session.Name() + ": the TIFF file has no further page");
  d.session.Check(TIFFReadDirectory(d.session.Tiff()) == 1, "the next TIFF page could not be read");
  ++d.page;
  d.OpenPage();
}

TWholePicture DecodeTiff(std::unique_ptr<TTiffFile> file, const std::string& name) {
  TTiffBandDecoder decoder(std::move(file), name);
  TWholePicture whole;
  for (int page = 0; page < decoder.Pages(); ++page) {
    if (page > 0) decoder.NextPage();
    TBitmap picture = decoder.NewBand(decoder.Header().Height);
    decoder.ReadRows(picture, 0, decoder.Header().Height);
    if (page == 0) {
      whole.Picture = std::move(picture);
      whole.Metadata = decoder.Metadata();
    } else {
      whole.MorePages.push_back(TurnUpright(std::move(picture), decoder.Metadata().Orientation));
    }
  }
  whole.Warnings = decoder.Warnings();
  return whole;
}

TWholePicture DecodeTiff(std::span<const std::byte> file, const std::string& name) {
  return DecodeTiff(TiffFileOf(file), name);
}

}  // namespace sigilon
