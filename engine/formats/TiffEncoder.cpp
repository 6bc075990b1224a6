// TIFF files written strip by strip: each page in its own pixel format and
// depth, with the source's compression; JPEG-in-TIFF again as JPEG at the
// chosen quality.

#include <algorithm>
#include <cstring>

#include "engine/Errors.h"
#include "engine/MetadataSignatures.h"
#include "engine/formats/TiffCodec.h"

namespace sigilon {

namespace {

/// Quality of JPEG-in-TIFF copies when none is chosen.
constexpr int kDefaultTiffJpegQuality = 90;
/// Bytes of one strip the writer aims at.
constexpr std::uint64_t kStripBytes = 256 * 1024;

/// How a page's pixels lie: a palette as one 8-bit sample, 24 bits as B, G, R.
TSampleLayout StoredLayout(TPixelFormat format) {
  if (format == TPixelFormat::pf8bit) return {1, 1, true, false};
  if (format == TPixelFormat::pf24bit) return {3, 1, false, false};
  return SampleLayout(format);
}

std::uint16_t CompressionCode(const std::string& name, const TSampleLayout& layout, bool palette) {
  if (name == "none") return COMPRESSION_NONE;
  if (name == "lzw") return COMPRESSION_LZW;
  if (name == "packbits") return COMPRESSION_PACKBITS;
  // JPEG holds 8-bit grey and colour only; the others fall back to Deflate.
  if (name == "jpeg" && !palette && layout.SampleBytes == 1) return COMPRESSION_JPEG;
  return COMPRESSION_ADOBE_DEFLATE;
}

/// Tags of a page `width` x `height` whose rows are like those of `like`
/// (pixel format and palette).
void SetTags(TTiffSession& session, int width, int height, const TBitmap& like,
             const TWriteSpec& request, int index) {
  TIFF* tiff = session.Tiff();
  const bool palette = like.PixelFormat() == TPixelFormat::pf8bit;
  const TSampleLayout layout = StoredLayout(like.PixelFormat());
  const TPictureMetadata* metadata = request.Metadata;
  const int pages = request.Pages;
  const std::uint16_t compression =
      CompressionCode(metadata != nullptr ? metadata->Compression : std::string{}, layout, palette);
  const bool ycbcr = compression == COMPRESSION_JPEG && layout.Channels == 3;
  std::uint16_t photometric = layout.Gray ? PHOTOMETRIC_MINISBLACK : PHOTOMETRIC_RGB;
  if (palette) photometric = PHOTOMETRIC_PALETTE;
  if (ycbcr) photometric = PHOTOMETRIC_YCBCR;
  bool ok =
      TIFFSetField(tiff, TIFFTAG_IMAGEWIDTH, static_cast<std::uint32_t>(width)) &&
      TIFFSetField(tiff, TIFFTAG_IMAGELENGTH, static_cast<std::uint32_t>(height)) &&
      TIFFSetField(tiff, TIFFTAG_SAMPLESPERPIXEL, static_cast<std::uint16_t>(layout.Channels)) &&
      TIFFSetField(tiff, TIFFTAG_BITSPERSAMPLE,
                   static_cast<std::uint16_t>(8 * layout.SampleBytes)) &&
      TIFFSetField(tiff, TIFFTAG_PLANARCONFIG, PLANARCONFIG_CONTIG) &&
      TIFFSetField(tiff, TIFFTAG_PHOTOMETRIC, photometric) &&
      TIFFSetField(tiff, TIFFTAG_ORIENTATION, ORIENTATION_TOPLEFT) &&
      TIFFSetField(tiff, TIFFTAG_COMPRESSION, compression);
  if (layout.Alpha) {
    const std::uint16_t kind = EXTRASAMPLE_UNASSALPHA;
    ok = ok && TIFFSetField(tiff, TIFFTAG_EXTRASAMPLES, 1, &kind);
  }
  if (compression == COMPRESSION_JPEG) {
    const int quality =
        request.Quality == kDefaultQuality ? kDefaultTiffJpegQuality : request.Quality;
    ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGQUALITY, quality);
    if (ycbcr) ok = ok && TIFFSetField(tiff, TIFFTAG_JPEGCOLORMODE, JPEGCOLORMODE_RGB);
  }
  if (pages > 1) {
    ok = ok && TIFFSetField(tiff, TIFFTAG_SUBFILETYPE, FILETYPE_PAGE) &&
         TIFFSetField(tiff, TIFFTAG_PAGENUMBER, static_cast<std::uint16_t>(index),
                      static_cast<std::uint16_t>(pages));
  }
  if (palette) {
    std::vector<std::uint16_t> red(256), green(256), blue(256);
    const auto& entries = like.Palette();
    for (std::size_t i = 0; i < std::min<std::size_t>(entries.size(), 256); ++i) {
      red[i] = static_cast<std::uint16_t>(entries[i].Red * 257);
      green[i] = static_cast<std::uint16_t>(entries[i].Green * 257);
      blue[i] = static_cast<std::uint16_t>(entries[i].Blue * 257);
    }
    ok = ok && TIFFSetField(tiff, TIFFTAG_COLORMAP, red.data(), green.data(), blue.data());
  }
  const std::uint64_t rowBytes = std::uint64_t(width) * layout.Channels * layout.SampleBytes;
  // JPEG strips hold whole blocks of 16 rows.
  std::uint64_t rows =
      std::max<std::uint64_t>(16, kStripBytes / std::max<std::uint64_t>(rowBytes, 1));
  rows -= rows % 16;
  ok = ok && TIFFSetField(tiff, TIFFTAG_ROWSPERSTRIP, static_cast<std::uint32_t>(rows));
  if (metadata != nullptr) {
    const auto& icc = metadata->IccProfile;
    if (!icc.empty())
      ok = ok && TIFFSetField(tiff, TIFFTAG_ICCPROFILE, static_cast<std::uint32_t>(icc.size()),
                              icc.data());
    for (const auto& item :
         request.KeepMetadata ? metadata->Information : std::vector<TPictureMetadata::TItem>{}) {
      using enum TPictureMetadata::TKind;
      // The EXIF directory is not written: its offsets would need rewriting.
      const std::string_view signature = item.Kind == Xmp ? kXmpSignature : kPhotoshopSignature;
      if (item.Kind == Exif || !StartsWithSignature(item.Payload, signature)) continue;
      const auto size = static_cast<std::uint32_t>(item.Payload.size() - signature.size());
      const std::byte* data = item.Payload.data() + signature.size();
      ok = ok &&
           TIFFSetField(tiff, item.Kind == Xmp ? TIFFTAG_XMLPACKET : TIFFTAG_PHOTOSHOP, size, data);
    }
  }
  session.Check(ok, "the TIFF page could not be described");
}

/// A row of `page` as TIFF stores it: R, G, B order, samples in host order.
void StoredRow(const TBitmap& page, int y, std::vector<std::uint8_t>& row) {
  const auto source = page.Row(y);
  if (page.PixelFormat() == TPixelFormat::pf8bit) {
    std::memcpy(row.data(), source.data(), static_cast<std::size_t>(page.Width()));
    return;
  }
  const TSampleLayout layout = StoredLayout(page.PixelFormat());
  const std::size_t bytes = static_cast<std::size_t>(layout.SampleBytes);
  const auto width = static_cast<std::size_t>(page.Width());
  if (layout.Gray) {
    std::memcpy(row.data(), source.data(), width * layout.Channels * bytes);
    return;
  }
  if (bytes == 1) {
    // The common case by itself: a plain loop the compiler makes fast.
    const std::size_t channels = layout.Channels;
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* in = source.data() + x * channels;
      std::uint8_t* out = row.data() + x * channels;
      out[0] = in[2];
      out[1] = in[1];
      out[2] = in[0];
      if (channels == 4) out[3] = in[3];
    }
    return;
  }
  for (std::size_t x = 0; x < width; ++x) {
    const std::size_t first = x * layout.Channels * bytes;
    for (int c = 0; c < layout.Channels; ++c) {
      const int from = !layout.Gray && c < 3 ? 2 - c : c;
      std::memcpy(row.data() + first + c * bytes, source.data() + first + from * bytes, bytes);
    }
  }
}

}  // namespace

bool TiffWrites(TPixelFormat format) {
  using enum TPixelFormat;
  switch (format) {
    case pf8bit:
    case pf24bit:
    case pfGray8:
    case pfGray16:
    case pfGrayAlpha8:
    case pfGrayAlpha16:
    case pfBGRA32:
    case pf48bit:
    case pf64bit:
      return true;
    default:
      return false;
  }
}

struct TTiffBandEncoder::TImpl {
  TImpl(const TWriteSpec& writeSpec, std::unique_ptr<TTiffFile> file)
      : request(writeSpec), session(std::move(file), TTiffSession::TMode::Write, writeSpec.Name) {
    // Every page gets the first page's compression and profile; the source's
    // metadata is not ours to keep.
    if (request.Metadata) metadata = *request.Metadata;
    request.Metadata = &metadata;
    request.MorePages = {};
    request.Revisit = {};
  }
  void EndPage();

  TWriteSpec request;
  TPictureMetadata metadata;
  TTiffSession session;
  int page = 0;
  int width = 0, height = 0;
  // The page's tags are set, for rows of `format`.
  bool started = false;
  TPixelFormat format = TPixelFormat::pf24bit;
  std::vector<std::uint8_t> row;
  int rowsWritten = 0;
};

void TTiffBandEncoder::TImpl::EndPage() {
  if (!started || rowsWritten != height) {
    throw ImageError(request.Name + ": expected " + std::to_string(height) +
                     " rows of TIFF page, found " + std::to_string(rowsWritten));
  }
  session.Check(TIFFWriteDirectory(session.Tiff()) == 1, "the TIFF page could not be written");
}

TTiffBandEncoder::TTiffBandEncoder(const TWriteSpec& request, std::unique_ptr<TTiffFile> file)
    : impl_(std::make_unique<TImpl>(request, std::move(file))) {
  CheckedImageBytes(request.Width, request.Height, 64, request.Name.c_str());
  impl_->width = request.Width;
  impl_->height = request.Height;
}

TTiffBandEncoder::~TTiffBandEncoder() = default;

void TTiffBandEncoder::WriteRows(const TBitmap& picture, int firstRow, int rows) {
  TImpl& e = *impl_;
  if (!e.started) {
    SetTags(e.session, e.width, e.height, picture, e.request, e.page);
    e.format = picture.PixelFormat();
    e.row.resize(static_cast<std::size_t>(TIFFScanlineSize64(e.session.Tiff())) + 8);
    e.started = true;
  }
  if (picture.Width() != e.width || picture.PixelFormat() != e.format || firstRow < 0 || rows < 0 ||
      rows > picture.Height() - firstRow || rows > e.height - e.rowsWritten) {
    throw ImageError(e.request.Name + ": expected rows of the TIFF page being written");
  }
  for (int i = 0; i < rows; ++i, ++e.rowsWritten) {
    StoredRow(picture, firstRow + i, e.row);
    e.session.Check(TIFFWriteScanline(e.session.Tiff(), e.row.data(),
                                      static_cast<std::uint32_t>(e.rowsWritten), 0) == 1,
                    "a TIFF row could not be written");
  }
}

void TTiffBandEncoder::NextPage(int width, int height) {
  TImpl& e = *impl_;
  e.EndPage();
  if (e.page + 1 >= e.request.Pages) {
    throw ImageError(e.request.Name + ": expected " + std::to_string(e.request.Pages) +
                     " TIFF pages, found more");
  }
  CheckedImageBytes(width, height, 64, e.request.Name.c_str());
  ++e.page;
  e.width = width;
  e.height = height;
  e.started = false;
  e.rowsWritten = 0;
}

void TTiffBandEncoder::Finish() {
  TImpl& e = *impl_;
  e.EndPage();
  if (e.page + 1 != e.request.Pages) {
    throw ImageError(e.request.Name + ": expected " + std::to_string(e.request.Pages) +
                     " TIFF pages, found " + std::to_string(e.page + 1));
  }
  e.session.Close();
}

std::vector<std::byte> EncodeTiff(const TBitmap& picture, const TWriteSpec& request) {
  std::vector<std::byte> out;
  TWriteSpec pages = request;
  pages.Width = picture.Width();
  pages.Height = picture.Height();
  pages.Pages = 1 + static_cast<int>(request.MorePages.size());
  {
    TTiffBandEncoder encoder(pages, TiffFileTo(MemorySink(out), MemoryRevisit(out), request.Name));
    encoder.WriteRows(picture, 0, picture.Height());
    for (const TBitmap& page : request.MorePages) {
      encoder.NextPage(page.Width(), page.Height());
      encoder.WriteRows(page, 0, page.Height());
    }
    encoder.Finish();
  }
  return out;
}

}  // namespace sigilon
