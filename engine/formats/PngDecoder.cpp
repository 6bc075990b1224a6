#include <algorithm>
#include <bit>
#include <cstring>
#include <string_view>

#include "engine/Errors.h"
#include "engine/formats/PngCodec.h"
#include "engine/formats/PngMetadata.h"
#include "engine/formats/PngSession.h"

namespace sigilon {

namespace {

std::vector<std::byte> BytesOf(const void* data, std::size_t size) {
  const auto* p = static_cast<const std::byte*>(data);
  return {p, p + size};
}

// sRGB, gAMA and cHRM as libpng found them valid.
void ReadColourChunks(png_structp png, png_infop info, TPictureMetadata::TPngColour& colour) {
  int intent = 0;
  if (png_get_sRGB(png, info, &intent) != 0) colour.SrgbIntent = intent;
  png_fixed_point gamma = 0;
  if (png_get_gAMA_fixed(png, info, &gamma) != 0 && gamma > 0) colour.Gamma = gamma;
  png_fixed_point c[8] = {};
  if (png_get_cHRM_fixed(png, info, &c[0], &c[1], &c[2], &c[3], &c[4], &c[5], &c[6], &c[7]) != 0) {
    colour.Chromaticities.assign(std::begin(c), std::end(c));
  }
}

}  // namespace

struct TPngBandDecoder::TImpl {
  TImpl(TRead readFn, const std::string& name)
      : read(std::move(readFn)), session(TPngSession::TKind::Read, name) {}

  // libpng's input, from inside its C frames: a failure or a short read
  // stops libpng through its error callback, outside any handler.
  static void OnRead(png_structp png, png_bytep data, png_size_t length) {
    auto& self = *static_cast<TImpl*>(png_get_io_ptr(png));
    std::size_t got = 0;
    const bool clean = CalledCleanly(self.session.Errors(), [&] {
      while (got < length) {
        const std::size_t n =
            self.read(std::span<std::byte>(reinterpret_cast<std::byte*>(data) + got, length - got));
        if (n == 0) break;
        got += n;
      }
    });
    if (!clean) png_error(png, "the file cannot be read");
    if (got < length) png_error(png, "the file ends early");
  }

  void ChooseFormat();
  void ReadMetadata();
  void ReadRow(std::uint8_t* row);
  void DecodeInterlaced();

  TRead read;
  TPngSession session;
  TPictureHeader header;
  TPictureMetadata metadata;
  std::vector<std::string> warnings;
  TPixelFormat format = TPixelFormat::pf24bit;
  std::vector<TRGBQuad> palette;
  bool paletteAlpha = false;
  int pelsX = 0, pelsY = 0;
  int passes = 1;
  int nextRow = 0;
  // The failure that ended decoding early: later rows are zero.
  bool broken = false;
  std::unique_ptr<TBitmap> whole;  // an interlaced picture, decoded at once
};

void TPngBandDecoder::TImpl::ChooseFormat() {
  png_structp png = session.Png();
  png_infop info = session.Info();
  const int depth = png_get_bit_depth(png, info);
  const int type = png_get_color_type(png, info);
  const bool transparentColor =
      type != PNG_COLOR_TYPE_PALETTE && png_get_valid(png, info, PNG_INFO_tRNS) != 0;
  const bool deep = depth == 16;
  header.BitsPerSample = depth;
  if (deep && std::endian::native == std::endian::little) png_set_swap(png);
  if (transparentColor) {
    // A colour marked transparent becomes an alpha channel that says so.
    png_set_tRNS_to_alpha(png);
    header.BitsPerSample = std::max(depth, 8);
  }
  switch (type) {
    case PNG_COLOR_TYPE_PALETTE: {
      png_set_packing(png);
      format = TPixelFormat::pf8bit;
      png_colorp entries = nullptr;
      int count = 0;
      png_get_PLTE(png, info, &entries, &count);
      png_bytep alpha = nullptr;
      int alphaCount = 0;
      // A table that makes every entry opaque says nothing.
      if (png_get_tRNS(png, info, &alpha, &alphaCount, nullptr) != 0 && alpha != nullptr) {
        paletteAlpha = std::any_of(alpha, alpha + std::min(alphaCount, count),
                                   [](png_byte a) { return a != 255; });
      }
      for (int i = 0; i < count; ++i) {
        const std::uint8_t a = paletteAlpha ? (i < alphaCount ? alpha[i] : 255) : 0;
        palette.push_back({entries[i].blue, entries[i].green, entries[i].red, a});
      }
      return;
    }
    case PNG_COLOR_TYPE_GRAY:
      if (depth < 8) png_set_expand_gray_1_2_4_to_8(png);
      format = transparentColor ? (deep ? TPixelFormat::pfGrayAlpha16 : TPixelFormat::pfGrayAlpha8)
                                : (deep ? TPixelFormat::pfGray16 : TPixelFormat::pfGray8);
      return;
    case PNG_COLOR_TYPE_GRAY_ALPHA:
      format = deep ? TPixelFormat::pfGrayAlpha16 : TPixelFormat::pfGrayAlpha8;
      return;
    case PNG_COLOR_TYPE_RGB:
      png_set_bgr(png);
      format = transparentColor ? (deep ? TPixelFormat::pf64bit : TPixelFormat::pfBGRA32)
                                : (deep ? TPixelFormat::pf48bit : TPixelFormat::pf24bit);
      return;
    default:  // RGB with alpha
      png_set_bgr(png);
      format = deep ? TPixelFormat::pf64bit : TPixelFormat::pfBGRA32;
      return;
  }
}

void TPngBandDecoder::TImpl::ReadMetadata() {
  png_structp png = session.Png();
  png_infop info = session.Info();
  TPngMetadata chunks;
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 profileSize = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &profileSize) != 0) {
    chunks.IccProfile = BytesOf(profile, profileSize);
  }
  png_uint_32 exifSize = 0;
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &exifSize, &exif) != 0) chunks.Exif = BytesOf(exif, exifSize);
  png_textp texts = nullptr;
  const int count = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < count; ++i) {
    const std::string_view key = texts[i].key;
    const std::size_t length = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE
                                   ? texts[i].itxt_length
                                   : texts[i].text_length;
    const std::string_view text(texts[i].text, length);
    if (key == kPngXmpKeyword && chunks.Xmp.empty()) {
      chunks.Xmp = BytesOf(text.data(), text.size());
    } else if ((key == kPngPhotoshopKeyword || key == kPngIptcKeyword) &&
               chunks.Photoshop.empty()) {
      chunks.Photoshop = PhotoshopResourcesOf(DecodeRawProfile(text));
    } else if (key != kPngXmpKeyword && !key.starts_with(kPngRawProfilePrefix)) {
      const bool international = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE;
      chunks.Texts.push_back(
          {.Key = std::string(key),
           .Text = std::string(text),
           .Compressed = texts[i].compression == PNG_TEXT_COMPRESSION_zTXt ||
                         texts[i].compression == PNG_ITXT_COMPRESSION_zTXt,
           .International = international,
           .Language = international && texts[i].lang ? texts[i].lang : "",
           .TranslatedKey = international && texts[i].lang_key ? texts[i].lang_key : ""});
    }
  }
  ReadColourChunks(png, info, chunks.Colour);
  metadata = PictureMetadataOf(chunks);
  png_uint_32 x = 0, y = 0;
  int unit = 0;
  if (png_get_pHYs(png, info, &x, &y, &unit) != 0 && unit == PNG_RESOLUTION_METER &&
      x <= 0x7FFFFFFF && y <= 0x7FFFFFFF) {
    pelsX = static_cast<int>(x);
    pelsY = static_cast<int>(y);
  }
}

// One row in order; once the data fails, the rest are zero and a warning says
// why: the picture is used as far as it decodes.
void TPngBandDecoder::TImpl::ReadRow(std::uint8_t* row) {
  if (!broken) {
    png_structp png = session.Png();
    if (RunPngGuarded(session.Errors(), [&] { png_read_row(png, row, nullptr); })) return;
    if (session.Errors().Pending) session.Fail();  // the file itself failed
    broken = true;
    warnings.push_back(std::string(session.Errors().Message) + " (rows from " +
                       std::to_string(nextRow) + " on are blank)");
  }
}

void TPngBandDecoder::TImpl::DecodeInterlaced() {
  whole = std::make_unique<TBitmap>(header.Width, header.Height, format);
  // Each pass lays its pixels over the rows the earlier ones filled.
  for (int pass = 0; pass < passes && !broken; ++pass) {
    for (int y = 0; y < header.Height && !broken; ++y) ReadRow(whole->Row(y).data());
  }
}

TPngBandDecoder::TPngBandDecoder(TRead read, std::uint64_t fileBytes, const std::string& name)
    : impl_(std::make_unique<TImpl>(std::move(read), name)) {
  TImpl& d = *impl_;
  png_structp png = d.session.Png();
  png_infop info = d.session.Info();
  d.session.Errors().Warnings = &d.warnings;
  d.session.Run([&] {
    png_set_read_fn(png, &d, TImpl::OnRead);
    png_set_user_limits(png, static_cast<png_uint_32>(kMaxPixels),
                        static_cast<png_uint_32>(kMaxPixels));
    png_set_chunk_malloc_max(png, static_cast<png_alloc_size_t>(kMaxPngChunkBytes));
    // Damage is reported and the picture used as far as it goes.
    png_set_crc_action(png, PNG_CRC_WARN_USE, PNG_CRC_WARN_DISCARD);
    png_set_benign_errors(png, 1);
    png_set_option(png, PNG_SKIP_sRGB_CHECK_PROFILE, PNG_OPTION_ON);
    png_read_info(png, info);
  });
  const png_uint_32 width = png_get_image_width(png, info);
  const png_uint_32 height = png_get_image_height(png, info);
  CheckedImageBytes(width, height, 64, name.c_str());
  CheckPixelsPerByte(width, height, fileBytes, kMaxPngPixelsPerByte, name);
  d.header.Width = static_cast<int>(width);
  d.header.Height = static_cast<int>(height);
  d.session.Run([&] {
    d.ChooseFormat();
    d.passes = png_set_interlace_handling(png);
    png_read_update_info(png, info);
  });
  d.ReadMetadata();
  if (png_get_rowbytes(png, info) > RowStride(width, BitsPerPixel(d.format))) {
    throw ImageError(name + ": PNG rows decode wider than expected");
  }
}

TPngBandDecoder::~TPngBandDecoder() = default;

const TPictureHeader& TPngBandDecoder::Header() const { return impl_->header; }
const TPictureMetadata& TPngBandDecoder::Metadata() const { return impl_->metadata; }
int TPngBandDecoder::NextRow() const { return impl_->nextRow; }
std::vector<std::string> TPngBandDecoder::Warnings() const { return impl_->warnings; }

TBitmap TPngBandDecoder::NewBand(int rows) const {
  TBitmap band(impl_->header.Width, std::max(rows, 1), impl_->format);
  if (!impl_->palette.empty()) band.Palette() = impl_->palette;
  band.PaletteAlpha = impl_->paletteAlpha;
  band.XPelsPerMeter = impl_->pelsX;
  band.YPelsPerMeter = impl_->pelsY;
  return band;
}

int TPngBandDecoder::ReadRows(TBitmap& picture, int firstRow, int rows) {
  TImpl& d = *impl_;
  if (picture.Width() != d.header.Width || picture.PixelFormat() != d.format || firstRow < 0 ||
      rows < 0 || rows > picture.Height() - firstRow) {
    throw ImageError(d.session.Name() + ": expected a band made for this PNG file");
  }
  if (d.passes > 1 && !d.whole) d.DecodeInterlaced();
  const int count = std::min(rows, d.header.Height - d.nextRow);
  for (int i = 0; i < count; ++i, ++d.nextRow) {
    const std::span<std::uint8_t> row = picture.Row(firstRow + i);
    if (d.whole) {
      std::ranges::copy(d.whole->Row(d.nextRow), row.begin());
    } else {
      std::ranges::fill(row, 0);
      d.ReadRow(row.data());
    }
  }
  return count;
}

void TPngBandDecoder::Finish() {
  TImpl& d = *impl_;
  d.whole.reset();
  if (d.broken || d.nextRow < d.header.Height) return;
  png_structp png = d.session.Png();
  if (!RunPngGuarded(d.session.Errors(), [&] { png_read_end(png, nullptr); })) {
    if (d.session.Errors().Pending) d.session.Fail();
    d.warnings.push_back(d.session.Errors().Message);
  }
}

}  // namespace sigilon
