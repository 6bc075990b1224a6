#include "engine/JpegDecoder.h"

#include "engine/JpegSession.h"

#include <jerror.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <utility>

#include "engine/Errors.h"

namespace sigilon {

namespace {

// Called by libjpeg before each chunk of input while it buffers a multi-scan
// file; stops files with absurd numbers of scans.
void CheckScanCount(j_common_ptr info) {
  if (!info->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxJpegScans) {
    ErrorsOf(info).ScanLimitExceeded = true;
    StopLibjpeg(info);
  }
}

// libjpeg's input from a TByteSource, a buffer at a time. At the end of the
// data it behaves as libjpeg's own sources do (a warning and a fake end
// marker), so a short file decodes the same whichever way it arrives.
struct TStreamSource {
  jpeg_source_mgr Pub;
  TByteSource* Read;
  JOCTET* Buffer;
  std::size_t Capacity;
  bool StartOfFile;
  std::exception_ptr* Pending;
};

constexpr std::size_t kInputChunk = 64 * 1024;
constexpr JOCTET kFakeEndOfImage[2] = {0xFF, JPEG_EOI};

TStreamSource& SourceOf(j_decompress_ptr info) {
  return *reinterpret_cast<TStreamSource*>(info->src);
}

void InitSource(j_decompress_ptr info) { SourceOf(info).StartOfFile = true; }

boolean FillInput(j_decompress_ptr info) {
  TStreamSource& source = SourceOf(info);
  std::size_t count = 0;
  const bool read = CalledCleanly(*source.Pending, [&] {
    count = (*source.Read)(
        std::span<std::byte>(reinterpret_cast<std::byte*>(source.Buffer), source.Capacity));
  });
  if (!read) StopLibjpeg(reinterpret_cast<j_common_ptr>(info));
  if (count == 0) {
    if (source.StartOfFile) ERREXIT(info, JERR_INPUT_EMPTY);
    WARNMS(info, JWRN_JPEG_EOF);
    source.Pub.next_input_byte = kFakeEndOfImage;
    source.Pub.bytes_in_buffer = sizeof kFakeEndOfImage;
    return TRUE;
  }
  source.StartOfFile = false;
  source.Pub.next_input_byte = source.Buffer;
  source.Pub.bytes_in_buffer = std::min(count, source.Capacity);
  return TRUE;
}

void SkipInput(j_decompress_ptr info, long count) {
  jpeg_source_mgr& pub = SourceOf(info).Pub;
  if (count <= 0) return;
  auto remaining = static_cast<std::size_t>(count);
  while (remaining > pub.bytes_in_buffer) {
    remaining -= pub.bytes_in_buffer;
    FillInput(info);
  }
  pub.next_input_byte += remaining;
  pub.bytes_in_buffer -= remaining;
}

void TermSource(j_decompress_ptr) {}

TJpegHeader HeaderOf(const jpeg_decompress_struct& info) {
  TJpegHeader header;
  header.Width = static_cast<int>(info.image_width);
  header.Height = static_cast<int>(info.image_height);
  header.Components = info.num_components;
  header.Grayscale = info.jpeg_color_space == JCS_GRAYSCALE;
  header.Progressive = info.progressive_mode != 0;
  return header;
}

std::uint8_t Scale255(unsigned a, unsigned b) {
  return static_cast<std::uint8_t>((a * b + 127) / 255);
}

// C, M, Y, K samples to the bitmap's B, G, R.
void CmykToBgr(const std::uint8_t* cmyk, std::uint8_t* row, int width, bool inverted) noexcept {
  for (std::size_t x = 0; x < static_cast<std::size_t>(width); ++x) {
    const std::uint8_t* s = cmyk + 4 * x;
    // Work with "paper left": 255 where there is no ink.
    unsigned c = s[0], m = s[1], y = s[2], k = s[3];
    if (!inverted) {
      c = 255 - c;
      m = 255 - m;
      y = 255 - y;
      k = 255 - k;
    }
    row[3 * x] = Scale255(y, k);
    row[3 * x + 1] = Scale255(m, k);
    row[3 * x + 2] = Scale255(c, k);
  }
}

}  // namespace

TJpegDecodeOptions DecodeOptionsForDisplay(int displayColorDepth) {
  return TJpegDecodeOptions{.ToPalette = displayColorDepth <= 8};
}

TJpegHeader ReadJpegHeader(std::span<const std::byte> data, const std::string& name) {
  TDecompressor session(name);
  jpeg_decompress_struct& info = session.info();
  session.Run([&] {
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()),
                 static_cast<unsigned long>(data.size()));
    jpeg_read_header(&info, TRUE);
  });
  return HeaderOf(info);
}

struct TJpegBandDecoder::Impl {
  Impl(const std::string& name) : session(name) {}

  void Start(const TJpegDecodeOptions& options);

  TDecompressor session;
  std::string name;
  // Size of the whole stream, for the pixels-per-byte gate.
  std::uint64_t sourceBytes = 0;
  TByteSource read;
  std::vector<JOCTET> inputBuffer;
  TStreamSource source{};
  jpeg_progress_mgr progress{};
  TPixelFormat format = TPixelFormat::pf24bit;
  std::vector<TRGBQuad> palette;
  // Four-component files decode to C, M, Y, K here and are converted by row.
  bool cmyk = false;
  bool invertedCmyk = false;
  std::vector<std::uint8_t> scratch;
  std::vector<JSAMPROW> rowPointers;
  // Rows handed out, black ones included.
  int rowsOut = 0;
  // Set when libjpeg delivered no more rows: the rest of the picture is black.
  bool exhausted = false;
  std::vector<std::string> warnings;
};

void TJpegBandDecoder::Impl::Start(const TJpegDecodeOptions& options) {
  session.CollectWarnings(&warnings);
  jpeg_decompress_struct& info = session.info();
  session.Run([&] { jpeg_read_header(&info, TRUE); });

  // The header's size decides every buffer libjpeg and we allocate: check it
  // before anything of that size exists.
  CheckedImageBytes(info.image_width, info.image_height, 24, name.c_str());
  CheckPixelsPerByte(info.image_width, info.image_height, sourceBytes, kMaxJpegPixelsPerByte, name);

  cmyk = info.num_components == 4 &&
         (info.jpeg_color_space == JCS_CMYK || info.jpeg_color_space == JCS_YCCK);
  bool toPalette = false;
  if (cmyk) {
    // libjpeg has no CMYK to RGB conversion: take the inks and convert here.
    info.out_color_space = JCS_CMYK;
  } else {
    const bool gray = info.jpeg_color_space == JCS_GRAYSCALE;
    toPalette = gray || options.ToPalette;
    // Colour lands in the bitmap's own B, G, R order, so rows need no second
    // pass; the quantiser wants plain RGB.
    info.out_color_space = gray ? JCS_GRAYSCALE : (toPalette ? JCS_RGB : JCS_EXT_BGR);
  }
  if (toPalette) {
    info.quantize_colors = TRUE;
    info.desired_number_of_colors = kJpegPaletteColors;
    info.two_pass_quantize = TRUE;
    info.dither_mode = JDITHER_FS;
  }
  const int denominator = options.ScaleDenominator;
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) {
    throw ImageError(name + ": expected a JPEG scale of 1/1, 1/2, 1/4 or 1/8, found 1/" +
                     std::to_string(denominator));
  }
  info.scale_num = 1;
  info.scale_denom = static_cast<unsigned>(denominator);
  info.dct_method = JDCT_FLOAT;
  info.do_fancy_upsampling = TRUE;
  info.do_block_smoothing = TRUE;

  progress.progress_monitor = CheckScanCount;
  info.progress = &progress;

  session.Run([&] { jpeg_calc_output_dimensions(&info); });
  const JDIMENSION width = info.output_width;
  const JDIMENSION height = info.output_height;
  CheckedImageBytes(width, height, 24, name.c_str());
  session.Run([&] { jpeg_start_decompress(&info); });

  const int expectedComponents = toPalette ? 1 : (cmyk ? 4 : 3);
  if (info.output_components != expectedComponents || info.output_width != width ||
      info.output_height != height) {
    throw ImageError(name + ": expected " + std::to_string(expectedComponents) +
                     " decoded components of " + std::to_string(width) + " x " +
                     std::to_string(height) + ", found " + std::to_string(info.output_components) +
                     " of " + std::to_string(info.output_width) + " x " +
                     std::to_string(info.output_height));
  }

  if (toPalette) {
    format = TPixelFormat::pf8bit;
    const int colors = info.actual_number_of_colors;
    if (colors < 1 || colors > kJpegPaletteColors || info.colormap == nullptr) {
      throw ImageError(name + ": expected 1 to " + std::to_string(kJpegPaletteColors) +
                       " palette colours, found " + std::to_string(colors));
    }
    const bool grayMap = info.out_color_components == 1;
    // Only the colours in use: drawing picks the nearest entry, and unused
    // black entries would attract dark text colours.
    palette.assign(static_cast<std::size_t>(colors), TRGBQuad{});
    for (int i = 0; i < colors; ++i) {
      const auto red = static_cast<std::uint8_t>(info.colormap[0][i]);
      palette[i].Red = red;
      palette[i].Green = grayMap ? red : static_cast<std::uint8_t>(info.colormap[1][i]);
      palette[i].Blue = grayMap ? red : static_cast<std::uint8_t>(info.colormap[2][i]);
    }
  }
  if (cmyk) {
    invertedCmyk = info.saw_Adobe_marker != 0;
    scratch.resize(4 * static_cast<std::size_t>(width));
  }
}

TJpegBandDecoder::TJpegBandDecoder(std::span<const std::byte> data, const std::string& name,
                                   const TJpegDecodeOptions& options)
    : impl_(std::make_unique<Impl>(name)) {
  impl_->name = name;
  impl_->sourceBytes = data.size();
  jpeg_decompress_struct& info = impl_->session.info();
  impl_->session.Run([&] {
    jpeg_mem_src(&info, reinterpret_cast<const unsigned char*>(data.data()),
                 static_cast<unsigned long>(data.size()));
  });
  impl_->Start(options);
}

TJpegBandDecoder::TJpegBandDecoder(TByteSource source, std::uint64_t sourceBytes,
                                   const std::string& name, const TJpegDecodeOptions& options)
    : impl_(std::make_unique<Impl>(name)) {
  Impl& d = *impl_;
  d.name = name;
  d.sourceBytes = sourceBytes;
  d.read = std::move(source);
  d.inputBuffer.resize(kInputChunk);
  d.source.Pub.init_source = InitSource;
  d.source.Pub.fill_input_buffer = FillInput;
  d.source.Pub.skip_input_data = SkipInput;
  d.source.Pub.resync_to_restart = jpeg_resync_to_restart;
  d.source.Pub.term_source = TermSource;
  d.source.Read = &d.read;
  d.source.Buffer = d.inputBuffer.data();
  d.source.Capacity = d.inputBuffer.size();
  d.source.Pending = d.session.PendingSlot();
  d.session.info().src = &d.source.Pub;
  d.Start(options);
}

TJpegBandDecoder::~TJpegBandDecoder() = default;

int TJpegBandDecoder::Width() const { return static_cast<int>(impl_->session.info().output_width); }

int TJpegBandDecoder::Height() const {
  return static_cast<int>(impl_->session.info().output_height);
}

int TJpegBandDecoder::NextRow() const { return impl_->rowsOut; }

TBitmap TJpegBandDecoder::NewBand(int rows) const {
  TBitmap band(Width(), std::max(rows, 1), impl_->format);
  if (!impl_->palette.empty()) band.Palette() = impl_->palette;
  return band;
}

int TJpegBandDecoder::ReadBand(TBitmap& band) { return ReadRows(band, 0, band.Height()); }

int TJpegBandDecoder::ReadRows(TBitmap& band, int firstRow, int rows) {
  Impl& d = *impl_;
  jpeg_decompress_struct& info = d.session.info();
  if (band.Width() != Width() || band.PixelFormat() != d.format || firstRow < 0 || rows < 0 ||
      rows > band.Height() - firstRow) {
    throw ImageError(d.name + ": expected a band of " + std::to_string(Width()) +
                     " pixels per row in the decoded format, found " +
                     std::to_string(band.Width()) + " by " + std::to_string(band.Height()) +
                     " for rows " + std::to_string(firstRow) + " to " +
                     std::to_string(firstRow + rows));
  }
  const int wanted = std::min(rows, Height() - d.rowsOut);
  const std::size_t stride = band.Stride();
  std::uint8_t* const pixels = band.Pixels().data() + static_cast<std::size_t>(firstRow) * stride;
  int done = 0;
  if (d.cmyk) {
    JSAMPROW sample = d.scratch.data();
    d.session.Run([&] {
      while (done < wanted && !d.exhausted) {
        // Only a suspending source returns no row; ours never suspends.
        if (jpeg_read_scanlines(&info, &sample, 1) != 1) {
          d.exhausted = true;
          break;
        }
        CmykToBgr(d.scratch.data(), pixels + static_cast<std::size_t>(done) * stride, Width(),
                  d.invertedCmyk);
        ++done;
      }
    });
  } else {
    // The rows go straight into the band, as many per call as libjpeg takes.
    d.rowPointers.resize(static_cast<std::size_t>(std::max(wanted, 1)));
    for (int i = 0; i < wanted; ++i)
      d.rowPointers[i] = pixels + static_cast<std::size_t>(i) * stride;
    d.session.Run([&] {
      while (done < wanted && !d.exhausted) {
        const JDIMENSION got = jpeg_read_scanlines(&info, d.rowPointers.data() + done,
                                                   static_cast<JDIMENSION>(wanted - done));
        if (got == 0) {
          d.exhausted = true;
          break;
        }
        done += static_cast<int>(got);
      }
    });
  }
  // A band is reused: what it held before must not show through where the
  // file gave nothing.
  for (int i = done; i < rows; ++i) {
    std::memset(pixels + static_cast<std::size_t>(i) * stride, 0, stride);
  }
  d.rowsOut += wanted;
  return wanted;
}

void TJpegBandDecoder::Finish() {
  jpeg_decompress_struct& info = impl_->session.info();
  impl_->session.Run([&] { jpeg_finish_decompress(&info); });
}

const std::vector<std::string>& TJpegBandDecoder::Warnings() const { return impl_->warnings; }

TBitmap DecodeJpeg(std::span<const std::byte> data, const std::string& name,
                   const TJpegDecodeOptions& options, std::vector<std::string>* warnings) {
  TJpegBandDecoder decoder(data, name, options);
  // Zero-filled, so rows a short file never delivers are black, not garbage.
  TBitmap bitmap = decoder.NewBand(decoder.Height());
  decoder.ReadBand(bitmap);
  decoder.Finish();
  if (warnings != nullptr) *warnings = decoder.Warnings();
  return bitmap;
}

}  // namespace sigilon
