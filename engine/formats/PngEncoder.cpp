#include <algorithm>
#include <bit>
#include <optional>

#include "engine/Errors.h"
#include "engine/formats/PngCodec.h"
#include "engine/formats/PngMetadata.h"
#include "engine/formats/PngSegments.h"
#include "engine/formats/PngSession.h"

namespace sigilon {

namespace {

// How rows of a pixel format are written.
struct TPngKind {
  int ColorType = PNG_COLOR_TYPE_RGB;
  int Depth = 8;
  bool Bgr = false;
  bool Swap = false;
  // Rows are converted first: low-depth grey packed, masked formats as RGB.
  bool Convert = false;
};

bool DepthFits(int depth) { return depth == 1 || depth == 2 || depth == 4 || depth == 8; }

TPngKind KindOf(const TBitmap& picture, int bitsPerSample) {
  const bool swap = std::endian::native == std::endian::little;
  switch (picture.PixelFormat()) {
    case TPixelFormat::pf1bit:
      return {PNG_COLOR_TYPE_PALETTE, 1};
    case TPixelFormat::pf4bit:
      return {PNG_COLOR_TYPE_PALETTE, 4};
    case TPixelFormat::pf8bit: {
      const int depth =
          DepthFits(bitsPerSample) && picture.Palette().size() <= (std::size_t{1} << bitsPerSample)
              ? bitsPerSample
              : 8;
      return {PNG_COLOR_TYPE_PALETTE, depth, false, false, depth < 8};
    }
    case TPixelFormat::pfGray8: {
      const int depth = DepthFits(bitsPerSample) ? bitsPerSample : 8;
      return {PNG_COLOR_TYPE_GRAY, depth, false, false, depth < 8};
    }
    case TPixelFormat::pfGray16:
      return {PNG_COLOR_TYPE_GRAY, 16, false, swap};
    case TPixelFormat::pfGrayAlpha8:
      return {PNG_COLOR_TYPE_GRAY_ALPHA, 8};
    case TPixelFormat::pfGrayAlpha16:
      return {PNG_COLOR_TYPE_GRAY_ALPHA, 16, false, swap};
    case TPixelFormat::pf24bit:
      return {PNG_COLOR_TYPE_RGB, 8, true};
    case TPixelFormat::pfBGRA32:
      return {PNG_COLOR_TYPE_RGB_ALPHA, 8, true};
    case TPixelFormat::pf48bit:
      return {PNG_COLOR_TYPE_RGB, 16, true, swap};
    case TPixelFormat::pf64bit:
      return {PNG_COLOR_TYPE_RGB_ALPHA, 16, true, swap};
    case TPixelFormat::pf16bit:
    case TPixelFormat::pf32bit:
      return {PNG_COLOR_TYPE_RGB, 8, false, false, true};
  }
  return {};
}

// A band's rows made into picture data on any thread.
class TPngEncodedBand final : public TEncodedBand {
 public:
  TPngSegment Segment;
  int PictureRow = 0;
  int Rows = 0;
  // What the file's header takes from the rows: their format, resolution.
  TBitmap Like;
};

}  // namespace

struct TPngBandEncoder::TImpl {
  TImpl(const TWriteSpec& writeSpec, TPictureSink sinkFn)
      : request(writeSpec),
        sink(std::move(sinkFn)),
        session(TPngSession::TKind::Write, request.Name) {
    if (request.Metadata) metadata = PngMetadataOf(*request.Metadata, request.KeepMetadata);
    request.Metadata = nullptr;  // not ours to keep
  }

  static void OnWrite(png_structp png, png_bytep data, png_size_t length) {
    auto& self = *static_cast<TImpl*>(png_get_io_ptr(png));
    const bool clean = CalledCleanly(self.session.Errors(), [&] {
      self.sink(std::span<const std::byte>(reinterpret_cast<const std::byte*>(data), length));
    });
    if (!clean) png_error(png, "the file cannot be written");
  }
  static void OnFlush(png_structp) {}

  void Start(const TBitmap& picture);
  const std::uint8_t* Converted(const TBitmap& picture, int y);
  void WriteSegments(const TBitmap& picture, int firstRow, int rows);

  TWriteSpec request;
  TPictureSink sink;
  TPngSession session;
  TPngMetadata metadata;
  std::optional<TPngKind> kind;
  TPixelFormat format = TPixelFormat::pf24bit;
  std::vector<png_color> palette;
  std::vector<png_byte> paletteAlpha;
  std::string xmp, photoshop;
  std::vector<png_text> texts;
  std::vector<std::uint8_t> row;
  int rowsWritten = 0;
  // 8-bit RGB and RGBA: picture data made by us in segments of
  // `segmentRows` rows, those of the band pipeline, gathered in `pending`.
  int segmentRows = 1;
  std::optional<TPngDataWriter> data;
  std::optional<TBitmap> pending;
  int pendingRows = 0;
  TPngSegment segment;
};

void TPngBandEncoder::TImpl::Start(const TBitmap& picture) {
  kind = KindOf(picture, request.BitsPerSample);
  format = picture.PixelFormat();
  if (kind->ColorType == PNG_COLOR_TYPE_PALETTE) {
    const std::size_t count =
        std::clamp<std::size_t>(picture.Palette().size(), 1, std::size_t{1} << kind->Depth);
    palette.resize(count, png_color{0, 0, 0});
    paletteAlpha.resize(count, 255);
    for (std::size_t i = 0; i < std::min(count, picture.Palette().size()); ++i) {
      const TRGBQuad c = picture.Palette()[i];
      palette[i] = {c.Red, c.Green, c.Blue};
      if (picture.PaletteAlpha) paletteAlpha[i] = c.Reserved;
    }
    // The table stops after its last entry that is not opaque.
    while (!paletteAlpha.empty() && paletteAlpha.back() == 255) paletteAlpha.pop_back();
  }
  if (!metadata.Xmp.empty()) {
    xmp.assign(reinterpret_cast<const char*>(metadata.Xmp.data()), metadata.Xmp.size());
    texts.push_back({PNG_ITXT_COMPRESSION_NONE, const_cast<char*>(kPngXmpKeyword.data()),
                     xmp.data(), 0, xmp.size(), nullptr, nullptr});
  }
  if (!metadata.Photoshop.empty()) {
    photoshop = EncodeRawProfile("8bim", metadata.Photoshop);
    texts.push_back({PNG_TEXT_COMPRESSION_zTXt, const_cast<char*>(kPngPhotoshopKeyword.data()),
                     photoshop.data(), photoshop.size(), 0, nullptr, nullptr});
  }
  for (TPictureMetadata::TText& text : metadata.Texts) {
    const int compression =
        text.International
            ? (text.Compressed ? PNG_ITXT_COMPRESSION_zTXt : PNG_ITXT_COMPRESSION_NONE)
            : (text.Compressed ? PNG_TEXT_COMPRESSION_zTXt : PNG_TEXT_COMPRESSION_NONE);
    texts.push_back({compression, text.Key.data(), text.Text.data(),
                     text.International ? 0 : text.Text.size(),
                     text.International ? text.Text.size() : 0,
                     text.International ? text.Language.data() : nullptr,
                     text.International ? text.TranslatedKey.data() : nullptr});
  }
  row.resize(static_cast<std::size_t>(request.Width) * 8 + 8);
  png_structp png = session.Png();
  png_infop info = session.Info();
  const TPngKind k = *kind;
  const int pelsX = picture.XPelsPerMeter, pelsY = picture.YPelsPerMeter;
  session.Run([&] {
    png_set_write_fn(png, this, OnWrite, OnFlush);
    // What the reader accepts, the writer writes (libpng's own limit is lower).
    png_set_user_limits(png, static_cast<png_uint_32>(kMaxPixels),
                        static_cast<png_uint_32>(kMaxPixels));
    png_set_benign_errors(png, 1);
    png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    png_set_IHDR(png, info, static_cast<png_uint_32>(request.Width),
                 static_cast<png_uint_32>(request.Height), k.Depth, k.ColorType, PNG_INTERLACE_NONE,
                 PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    if (!palette.empty()) png_set_PLTE(png, info, palette.data(), static_cast<int>(palette.size()));
    if (!paletteAlpha.empty()) {
      png_set_tRNS(png, info, paletteAlpha.data(), static_cast<int>(paletteAlpha.size()), nullptr);
    }
    if (!metadata.IccProfile.empty()) {
      png_set_iCCP(png, info, "ICC profile", PNG_COMPRESSION_TYPE_BASE,
                   reinterpret_cast<png_const_bytep>(metadata.IccProfile.data()),
                   static_cast<png_uint_32>(metadata.IccProfile.size()));
    }
    const TPictureMetadata::TPngColour& colour = metadata.Colour;
    // A profile says it all; sRGB beside one would contradict it.
    if (colour.SrgbIntent >= 0 && metadata.IccProfile.empty()) {
      png_set_sRGB(png, info, colour.SrgbIntent);
    }
    if (colour.Gamma > 0) png_set_gAMA_fixed(png, info, colour.Gamma);
    if (const std::vector<int>& c = colour.Chromaticities; c.size() == 8) {
      png_set_cHRM_fixed(png, info, c[0], c[1], c[2], c[3], c[4], c[5], c[6], c[7]);
    }
    if (!metadata.Exif.empty()) {
      png_set_eXIf_1(png, info, static_cast<png_uint_32>(metadata.Exif.size()),
                     reinterpret_cast<png_bytep>(metadata.Exif.data()));
    }
    if (!texts.empty()) png_set_text(png, info, texts.data(), static_cast<int>(texts.size()));
    if (pelsX > 0 && pelsY > 0) {
      png_set_pHYs(png, info, static_cast<png_uint_32>(pelsX), static_cast<png_uint_32>(pelsY),
                   PNG_RESOLUTION_METER);
    }
    png_write_info(png, info);
    if (k.Bgr) png_set_bgr(png);
    if (k.Swap) png_set_swap(png);
  });
  if (WrittenInSegments(format)) data.emplace(sink);
}

void TPngBandEncoder::TImpl::WriteSegments(const TBitmap& picture, int firstRow, int rows) {
  for (int done = 0; done < rows;) {
    const int due = std::min(segmentRows, request.Height - (rowsWritten - pendingRows));
    if (pendingRows == 0 && rows - done >= due) {
      // A whole segment at hand: made from the picture's own rows.
      segment.Make(picture, firstRow + done, due, rowsWritten + due == request.Height,
                   request.Name);
      data->Write(segment);
      done += due;
      rowsWritten += due;
      continue;
    }
    if (!pending) pending.emplace(request.Width, segmentRows, format);
    std::ranges::copy(picture.Row(firstRow + done), pending->Row(pendingRows).begin());
    ++done, ++pendingRows, ++rowsWritten;
    if (pendingRows == due) {
      segment.Make(*pending, 0, pendingRows, rowsWritten == request.Height, request.Name);
      data->Write(segment);
      pendingRows = 0;
    }
  }
}

// Row y packed to a low depth (palette indexes or grey scaled down) or, for
// masked formats, as R, G, B bytes.
const std::uint8_t* TPngBandEncoder::TImpl::Converted(const TBitmap& picture, int y) {
  const std::uint8_t* in = picture.Row(y).data();
  if (format == TPixelFormat::pf16bit || format == TPixelFormat::pf32bit) {
    for (int x = 0; x < request.Width; ++x) {
      const TRGBQuad c = picture.GetPixel(x, y);
      row[3 * x] = c.Red;
      row[3 * x + 1] = c.Green;
      row[3 * x + 2] = c.Blue;
    }
    return row.data();
  }
  const int depth = kind->Depth;
  const unsigned levels = (1u << depth) - 1;
  const bool gray = format == TPixelFormat::pfGray8;
  std::fill(row.begin(), row.end(), 0);
  for (int x = 0; x < request.Width; ++x) {
    const unsigned v = gray ? (in[x] * levels + 127) / 255 : in[x] & levels;
    const int bit = x * depth;
    row[bit / 8] |= static_cast<std::uint8_t>(v << (8 - depth - bit % 8));
  }
  return row.data();
}

TPngBandEncoder::TPngBandEncoder(const TWriteSpec& request, TPictureSink sink)
    : impl_(std::make_unique<TImpl>(request, std::move(sink))) {
  CheckedImageBytes(request.Width, request.Height, 64, request.Name.c_str());
  impl_->segmentRows = BandRows(request.Width, request.Height);
}

TPngBandEncoder::~TPngBandEncoder() = default;

void TPngBandEncoder::WriteRows(const TBitmap& picture, int firstRow, int rows) {
  TImpl& e = *impl_;
  if (!e.kind) e.Start(picture);
  if (picture.Width() != e.request.Width || picture.PixelFormat() != e.format || firstRow < 0 ||
      rows < 0 || rows > picture.Height() - firstRow || rows > e.request.Height - e.rowsWritten) {
    throw ImageError(e.request.Name + ": expected rows of the PNG picture being written");
  }
  if (e.data) {
    e.WriteSegments(picture, firstRow, rows);
    return;
  }
  png_structp png = e.session.Png();
  for (int i = 0; i < rows; ++i) {
    const std::uint8_t* in =
        e.kind->Convert ? e.Converted(picture, firstRow + i) : picture.Row(firstRow + i).data();
    e.session.Run([&] { png_write_row(png, in); });
  }
  e.rowsWritten += rows;
}

bool TPngBandEncoder::SplitsEncoding() const {
  const TWriteSpec& request = impl_->request;
  return request.SplitEncoding && request.RowFormat && WrittenInSegments(*request.RowFormat);
}

std::unique_ptr<TEncodedBand> TPngBandEncoder::NewEncodedBand() const {
  return std::make_unique<TPngEncodedBand>();
}

void TPngBandEncoder::EncodeBand(const TBitmap& band, int rows, int pictureRow,
                                 TEncodedBand& encoded) const {
  const TImpl& e = *impl_;
  const int segmentRows = e.segmentRows;
  if (!SplitsEncoding() || band.PixelFormat() != *e.request.RowFormat ||
      band.Width() != e.request.Width || pictureRow < 0 || pictureRow % segmentRows != 0 ||
      rows != std::min(segmentRows, e.request.Height - pictureRow) || rows > band.Height()) {
    throw ImageError(e.request.Name + ": expected a band of the PNG picture being written");
  }
  auto& out = static_cast<TPngEncodedBand&>(encoded);
  out.Segment.Make(band, 0, rows, pictureRow + rows == e.request.Height, e.request.Name);
  out.PictureRow = pictureRow;
  out.Rows = rows;
  out.Like = TBitmap(1, 1, band.PixelFormat());
  out.Like.XPelsPerMeter = band.XPelsPerMeter;
  out.Like.YPelsPerMeter = band.YPelsPerMeter;
}

void TPngBandEncoder::WriteEncoded(const TEncodedBand& encoded) {
  TImpl& e = *impl_;
  const auto& band = static_cast<const TPngEncodedBand&>(encoded);
  if (!e.kind) e.Start(band.Like);
  if (!e.data || band.PictureRow != e.rowsWritten) {
    throw ImageError(e.request.Name + ": expected the PNG picture's bands in order");
  }
  e.data->Write(band.Segment);
  e.rowsWritten += band.Rows;
}

void TPngBandEncoder::Finish() {
  TImpl& e = *impl_;
  if (!e.kind || e.rowsWritten != e.request.Height) {
    throw ImageError(e.request.Name + ": expected " + std::to_string(e.request.Height) +
                     " rows of PNG picture, found " + std::to_string(e.rowsWritten));
  }
  if (e.data) {
    e.data->End();
    return;
  }
  png_structp png = e.session.Png();
  e.session.Run([&] { png_write_end(png, nullptr); });
}

}  // namespace sigilon
