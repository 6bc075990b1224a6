#include "engine/JpegCodec.h"

// jpeglib.h needs FILE and size_t declared before it, jerror.h its types.
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>
// The encoder's module interfaces: blocks made apart are fed to libjpeg's own
// entropy coder (see MakeBlocks).
#include <jpegint.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <exception>
#include <new>
#include <optional>
#include <type_traits>
#include <utility>

#include "engine/Errors.h"

namespace sigilon {

namespace {

// libjpeg sees the first member; the rest is ours. Standard layout, so the
// jpeg_error_mgr* that libjpeg hands back converts to the whole record.
struct TErrorManager {
  jpeg_error_mgr Pub;
  std::jmp_buf Jump;
  int MessageCode;
  char Message[JMSG_LENGTH_MAX];
  // Set when one of our own limits stopped the decoder, not libjpeg.
  bool ScanLimitExceeded;
  // Where warning texts go; null when nobody asked.
  std::vector<std::string>* Warnings;
};

TErrorManager& ErrorsOf(j_common_ptr info) { return *reinterpret_cast<TErrorManager*>(info->err); }

// libjpeg must not continue after an error, and a C++ exception must not pass
// through its C frames: remember the message and jump back to the guard.
[[noreturn]] void ErrorExit(j_common_ptr info) {
  TErrorManager& errors = ErrorsOf(info);
  errors.MessageCode = errors.Pub.msg_code;
  (*errors.Pub.format_message)(info, errors.Message);
  std::longjmp(errors.Jump, 1);
}

// Warnings (level -1: corrupt or missing data) and trace messages are not
// failures: the picture is used as far as it decodes. Warnings are noted for
// callers that report them; called from libjpeg's C frames, so nothing throws.
void EmitMessage(j_common_ptr info, int level) noexcept {
  if (level >= 0) return;
  ++info->err->num_warnings;
  std::vector<std::string>* warnings = ErrorsOf(info).Warnings;
  if (warnings == nullptr || warnings->size() >= kMaxJpegWarnings) return;
  char text[JMSG_LENGTH_MAX];
  (*info->err->format_message)(info, text);
  try {
    if (std::find(warnings->begin(), warnings->end(), text) == warnings->end()) {
      warnings->emplace_back(text);
    }
  } catch (const std::exception&) {
    // Out of memory for a message: the count above still says it happened.
  }
}

void OutputMessage(j_common_ptr) {}

// Called by libjpeg before each chunk of input while it buffers a multi-scan
// file; stops files with absurd numbers of scans.
void CheckScanCount(j_common_ptr info) {
  if (!info->is_decompressor) return;
  if (reinterpret_cast<j_decompress_ptr>(info)->input_scan_number > kMaxJpegScans) {
    ErrorsOf(info).ScanLimitExceeded = true;
    (*info->err->error_exit)(info);
  }
}

// Runs one libjpeg step with the error jump armed. setjmp lives only here;
// the steps hold nothing that needs destroying, so a jump back skips no
// destructor.
template <typename Step>
bool RunGuarded(TErrorManager& errors, const Step& step) {
  if (setjmp(errors.Jump) != 0) return false;
  step();
  return true;
}

// Owns the error manager and one libjpeg object (decompress or compress) and
// turns a failed step into an ImageError naming the source.
template <typename Info>
class TJpegSession {
 public:
  explicit TJpegSession(const std::string& name) : name_(name) {
    std::memset(&errors_, 0, sizeof errors_);
    info_.err = jpeg_std_error(&errors_.Pub);
    errors_.Pub.error_exit = ErrorExit;
    errors_.Pub.emit_message = EmitMessage;
    errors_.Pub.output_message = OutputMessage;
    const bool created = RunGuarded(errors_, [this] {
      if constexpr (std::is_same_v<Info, jpeg_decompress_struct>) {
        jpeg_create_decompress(&info_);
      } else {
        jpeg_create_compress(&info_);
      }
    });
    if (!created) {
      // The destructor will not run for a constructor that throws.
      Destroy();
      Fail();
    }
    // Everything libjpeg buffers for one picture stays within this budget;
    // beyond it libjpeg fails (it has no backing store) instead of swapping.
    info_.mem->max_memory_to_use = static_cast<long>(kMaxJpegDecoderMemory);
  }
  ~TJpegSession() { Destroy(); }
  TJpegSession(const TJpegSession&) = delete;
  TJpegSession& operator=(const TJpegSession&) = delete;

  Info& info() { return info_; }
  void CollectWarnings(std::vector<std::string>* warnings) { errors_.Warnings = warnings; }

  template <typename Step>
  void Run(const Step& step) {
    if (!RunGuarded(errors_, step)) Fail();
  }

  /// Where a callback of ours (reading input, writing output) leaves the
  /// exception that stopped libjpeg, so that it reaches the caller unchanged.
  std::exception_ptr* PendingSlot() { return &pending_; }

  [[noreturn]] void Fail() const {
    if (pending_) std::rethrow_exception(pending_);
    if (errors_.ScanLimitExceeded) {
      throw ImageError(name_ + ": JPEG file has more than " + std::to_string(kMaxJpegScans) +
                       " scans; expected at most " + std::to_string(kMaxJpegScans));
    }
    throw ImageError(name_ + ": JPEG error #" + std::to_string(errors_.MessageCode) + ": " +
                     errors_.Message);
  }

 private:
  // Safe on a half-created object: libjpeg checks what it has set up.
  void Destroy() { jpeg_destroy(reinterpret_cast<j_common_ptr>(&info_)); }

  std::string name_;
  TErrorManager errors_;
  std::exception_ptr pending_;
  Info info_{};
};

using TDecompressor = TJpegSession<jpeg_decompress_struct>;
using TCompressor = TJpegSession<jpeg_compress_struct>;

// Stops libjpeg from inside one of our callbacks after it threw: the
// exception waits in the session's slot while libjpeg unwinds by its jump.
[[noreturn]] void AbortWith(j_common_ptr info, std::exception_ptr* slot) {
  *slot = std::current_exception();
  (*info->err->error_exit)(info);
  std::abort();  // error_exit never returns
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
  try {
    count = (*source.Read)(
        std::span<std::byte>(reinterpret_cast<std::byte*>(source.Buffer), source.Capacity));
  } catch (...) {
    AbortWith(reinterpret_cast<j_common_ptr>(info), source.Pending);
  }
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
    const bool gray = info.jpeg_color_space == JCS_GRAYSCALE || options.Grayscale;
    toPalette = gray || options.ToPalette;
    // Colour lands in the bitmap's own B, G, R order, so rows need no second
    // pass; the quantiser wants plain RGB.
    info.out_color_space = gray ? JCS_GRAYSCALE : (toPalette ? JCS_RGB : JCS_EXT_BGR);
  }
  if (toPalette) {
    info.quantize_colors = TRUE;
    info.desired_number_of_colors = kJpegPaletteColors;
    info.two_pass_quantize = options.BestSpeed ? FALSE : TRUE;
    info.dither_mode = JDITHER_FS;
  }
  const int denominator = options.ScaleDenominator;
  if (denominator != 1 && denominator != 2 && denominator != 4 && denominator != 8) {
    throw ImageError(name + ": expected a JPEG scale of 1/1, 1/2, 1/4 or 1/8, found 1/" +
                     std::to_string(denominator));
  }
  info.scale_num = 1;
  info.scale_denom = static_cast<unsigned>(denominator);
  info.dct_method = options.BestSpeed ? JDCT_IFAST : JDCT_FLOAT;
  info.do_fancy_upsampling = options.BestSpeed ? FALSE : TRUE;
  info.do_block_smoothing = options.Smoothing ? TRUE : FALSE;

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

namespace {

// libjpeg's output, a buffer at a time, to a TByteSink.
struct TSinkDestination {
  jpeg_destination_mgr Pub;
  TByteSink* Write;
  JOCTET* Buffer;
  std::size_t Capacity;
  std::exception_ptr* Pending;
};

constexpr std::size_t kOutputChunk = 256 * 1024;

TSinkDestination& DestinationOf(j_compress_ptr info) {
  return *reinterpret_cast<TSinkDestination*>(info->dest);
}

void HandOut(j_compress_ptr info, std::size_t count) {
  TSinkDestination& dest = DestinationOf(info);
  if (count == 0) return;
  try {
    (*dest.Write)(
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(dest.Buffer), count));
  } catch (...) {
    AbortWith(reinterpret_cast<j_common_ptr>(info), dest.Pending);
  }
}

void InitDestination(j_compress_ptr info) {
  TSinkDestination& dest = DestinationOf(info);
  dest.Pub.next_output_byte = dest.Buffer;
  dest.Pub.free_in_buffer = dest.Capacity;
}

// Called when the whole buffer is full.
boolean EmptyDestination(j_compress_ptr info) {
  TSinkDestination& dest = DestinationOf(info);
  HandOut(info, dest.Capacity);
  dest.Pub.next_output_byte = dest.Buffer;
  dest.Pub.free_in_buffer = dest.Capacity;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  TSinkDestination& dest = DestinationOf(info);
  HandOut(info, dest.Capacity - dest.Pub.free_in_buffer);
}

}  // namespace

namespace {

static_assert(std::is_same_v<JCOEF, std::int16_t> && sizeof(JBLOCK) == DCTSIZE2 * sizeof(JCOEF));

// Every encoder of ours, whole or making blocks, is set up alike: the blocks
// of one must be those of the other.
void SetUpCompressor(jpeg_compress_struct& info, int width, int height, int quality) {
  info.image_width = static_cast<JDIMENSION>(width);
  info.image_height = static_cast<JDIMENSION>(height);
  info.input_components = 3;
  // The bitmap's B, G, R rows go to the encoder as they are.
  info.in_color_space = JCS_EXT_BGR;
  jpeg_set_defaults(&info);
  // A branded copy carries only pixels: plain JFIF, default density.
  info.write_JFIF_header = TRUE;
  info.density_unit = 0;
  info.X_density = 1;
  info.Y_density = 1;
  info.write_Adobe_marker = FALSE;
  info.dct_method = JDCT_FLOAT;
  jpeg_set_quality(&info, quality, TRUE);
}

// The rows of a picture as libjpeg takes them: the bitmap's own rows when
// they are 24-bit, else a 24-bit copy held in `converted`.
std::vector<JSAMPROW> RowPointers(const TBitmap& band, int firstRow, int rows,
                                  std::optional<TBitmap>& converted) {
  if (band.PixelFormat() != TPixelFormat::pf24bit) {
    converted = band.RowsToBits24(firstRow, rows);
    firstRow = 0;
  }
  const TBitmap& bgr = converted ? *converted : band;
  // libjpeg only reads the rows it is given; its interface lacks const.
  auto* const pixels = const_cast<std::uint8_t*>(bgr.Pixels().data()) +
                       static_cast<std::size_t>(firstRow) * bgr.Stride();
  std::vector<JSAMPROW> pointers(static_cast<std::size_t>(rows));
  for (int i = 0; i < rows; ++i) pointers[i] = pixels + static_cast<std::size_t>(i) * bgr.Stride();
  return pointers;
}

// Output nobody wants: the headers of an encoder that only makes blocks.
struct TDiscardDestination {
  jpeg_destination_mgr Pub;
  JOCTET Buffer[512];
};

void ResetDiscard(j_compress_ptr info) {
  auto& dest = *reinterpret_cast<TDiscardDestination*>(info->dest);
  dest.Pub.next_output_byte = dest.Buffer;
  dest.Pub.free_in_buffer = sizeof dest.Buffer;
}

boolean DiscardFull(j_compress_ptr info) {
  ResetDiscard(info);
  return TRUE;
}

// Where an encoder making blocks puts them, in place of its entropy coder.
struct TBlockCapture {
  JCOEF* Next;
  JCOEF* End;
  bool Overflowed;
};

// Stands in for the entropy coder's step: keeps the MCU's blocks. Called from
// libjpeg's C frames; the room was counted beforehand, so nothing can fail.
boolean CaptureMcu(j_compress_ptr info, JBLOCKROW* mcu) {
  auto& capture = *static_cast<TBlockCapture*>(info->client_data);
  if (capture.End - capture.Next < static_cast<std::ptrdiff_t>(info->blocks_in_MCU) * DCTSIZE2) {
    capture.Overflowed = true;  // cannot happen; MakeBlocks refuses the blocks
    return TRUE;
  }
  for (int b = 0; b < info->blocks_in_MCU; ++b, capture.Next += DCTSIZE2) {
    std::memcpy(capture.Next, mcu[b][0], sizeof(JBLOCK));
  }
  return TRUE;
}

// The next row of MCUs for the entropy coder, set before each call of
// jpeg_write_raw_data.
struct TBlockFeed {
  const JCOEF* Next = nullptr;
};

// Stands in for the encoder's coefficient step when blocks come made: hands
// one row of MCUs to libjpeg's own entropy coder, which keeps the DC
// predictions and bit buffer across rows exactly as in a whole encoding.
boolean EncodeMcuRow(j_compress_ptr info, JSAMPIMAGE) {
  auto& feed = *static_cast<TBlockFeed*>(info->client_data);
  JBLOCKROW mcu[C_MAX_BLOCKS_IN_MCU];
  for (JDIMENSION m = 0; m < info->MCUs_per_row; ++m) {
    for (int b = 0; b < info->blocks_in_MCU; ++b, feed.Next += DCTSIZE2) {
      // The entropy coder only reads the blocks; its interface lacks const.
      mcu[b] = reinterpret_cast<JBLOCKROW>(const_cast<JCOEF*>(feed.Next));
    }
    if (!(*info->entropy->encode_mcu)(info, mcu)) return FALSE;
  }
  return TRUE;
}

}  // namespace

struct TJpegBandEncoder::Impl {
  Impl(const std::string& name) : session(name) {}
  TCompressor session;
  std::string name;
  int width = 0;
  int height = 0;
  int quality = 0;
  int rowGroup = 0;
  TInput input = TInput::Rows;
  TByteSink write;
  std::vector<JOCTET> outputBuffer;
  TSinkDestination destination{};
  TBlockFeed feed;
};

TJpegBandEncoder::TJpegBandEncoder(int width, int height, int quality, const std::string& name,
                                   TByteSink sink, std::span<const TJpegSegment> markers,
                                   TInput input)
    : impl_(std::make_unique<Impl>(name)) {
  for (const TJpegSegment& marker : markers) {
    if (marker.Payload.size() > kMaxSegmentPayload) {
      throw ImageError(name + ": expected marker segments of at most " +
                       std::to_string(kMaxSegmentPayload) + " bytes, found " +
                       std::to_string(marker.Payload.size()));
    }
  }
  if (width < 1 || height < 1) {
    throw ImageError(name + ": expected a picture to encode, found none");
  }
  if (quality < 1 || quality > 100) {
    throw ImageError(name + ": expected a JPEG quality of 1 to 100, found " +
                     std::to_string(quality));
  }
  Impl& e = *impl_;
  e.name = name;
  e.width = width;
  e.height = height;
  e.quality = quality;
  e.input = input;
  e.write = std::move(sink);
  e.outputBuffer.resize(kOutputChunk);
  e.destination.Pub.init_destination = InitDestination;
  e.destination.Pub.empty_output_buffer = EmptyDestination;
  e.destination.Pub.term_destination = TermDestination;
  e.destination.Write = &e.write;
  e.destination.Buffer = e.outputBuffer.data();
  e.destination.Capacity = e.outputBuffer.size();
  e.destination.Pending = e.session.PendingSlot();

  jpeg_compress_struct& info = e.session.info();
  info.dest = &e.destination.Pub;
  e.session.Run([&] {
    SetUpCompressor(info, width, height, quality);
    // Blocks come made: libjpeg's colour conversion and sampling are skipped
    // (raw input), and its coefficient step is replaced below.
    info.raw_data_in = input == TInput::Blocks ? TRUE : FALSE;
    jpeg_start_compress(&info, TRUE);
    // Right after the JFIF header, before the frame.
    for (const TJpegSegment& marker : markers) {
      jpeg_write_marker(&info, marker.Marker,
                        reinterpret_cast<const JOCTET*>(marker.Payload.data()),
                        static_cast<unsigned>(marker.Payload.size()));
    }
  });
  e.rowGroup = info.max_v_samp_factor * DCTSIZE;
  if (input == TInput::Blocks) {
    // Starting the compression installed the coefficient step; from now on
    // each call of jpeg_write_raw_data entropy-codes one row of made MCUs.
    info.client_data = &e.feed;
    info.coef->compress_data = EncodeMcuRow;
  }
}

TJpegBandEncoder::~TJpegBandEncoder() = default;

void TJpegBandEncoder::WriteBand(const TBitmap& band, int rows) {
  WriteRows(band, 0, std::min(rows, band.Height()));
}

void TJpegBandEncoder::WriteRows(const TBitmap& band, int firstRow, int rows) {
  Impl& e = *impl_;
  jpeg_compress_struct& info = e.session.info();
  if (e.input != TInput::Rows) {
    throw ImageError(e.name + ": expected blocks to encode, found rows");
  }
  if (firstRow < 0 || rows > band.Height() - firstRow) {
    throw ImageError(e.name + ": expected rows within the " + std::to_string(band.Height()) +
                     " of the picture to encode, found rows " + std::to_string(firstRow) + " to " +
                     std::to_string(firstRow + rows));
  }
  if (band.Width() != static_cast<int>(info.image_width) ||
      static_cast<JDIMENSION>(rows) > info.image_height - info.next_scanline) {
    throw ImageError(e.name + ": expected at most " +
                     std::to_string(info.image_height - info.next_scanline) + " rows of " +
                     std::to_string(info.image_width) + " pixels to encode, found " +
                     std::to_string(rows) + " of " + std::to_string(band.Width()));
  }
  if (rows <= 0) return;
  std::optional<TBitmap> converted;
  std::vector<JSAMPROW> pointers = RowPointers(band, firstRow, rows, converted);
  e.session.Run([&] {
    JDIMENSION done = 0;
    while (done < static_cast<JDIMENSION>(rows)) {
      done +=
          jpeg_write_scanlines(&info, pointers.data() + done, static_cast<JDIMENSION>(rows) - done);
    }
  });
}

int TJpegBandEncoder::RowGroup() const { return impl_->rowGroup; }

void TJpegBandEncoder::MakeBlocks(const TBitmap& band, int firstRow, int rows, int pictureRow,
                                  TJpegBlocks& blocks) const {
  const Impl& e = *impl_;
  const int group = RowGroup();
  if (firstRow < 0 || rows < 1 || rows > band.Height() - firstRow || band.Width() != e.width) {
    throw ImageError(e.name + ": expected rows within the " + std::to_string(band.Height()) +
                     " of " + std::to_string(e.width) + " pixels to make blocks of, found rows " +
                     std::to_string(firstRow) + " to " + std::to_string(firstRow + rows) + " of " +
                     std::to_string(band.Width()));
  }
  // The blocks of a band equal those of the whole picture only when the band
  // starts a row of MCUs and no padding stands in for rows that follow.
  if (pictureRow < 0 || pictureRow % group != 0 || rows > e.height - pictureRow ||
      (rows % group != 0 && pictureRow + rows != e.height)) {
    throw ImageError(e.name + ": expected whole groups of " + std::to_string(group) +
                     " rows within the picture's " + std::to_string(e.height) +
                     " to make blocks of, found rows " + std::to_string(pictureRow) + " to " +
                     std::to_string(pictureRow + rows));
  }
  std::optional<TBitmap> converted;
  std::vector<JSAMPROW> pointers = RowPointers(band, firstRow, rows, converted);

  // A second encoder, set up as this one, for just these rows: its blocks are
  // kept where its entropy coder would have coded them.
  TCompressor maker(e.name);
  jpeg_compress_struct& info = maker.info();
  TDiscardDestination discard{};
  discard.Pub.init_destination = ResetDiscard;
  discard.Pub.empty_output_buffer = DiscardFull;
  discard.Pub.term_destination = ResetDiscard;
  info.dest = &discard.Pub;
  TBlockCapture capture{};
  maker.Run([&] {
    SetUpCompressor(info, e.width, rows, e.quality);
    jpeg_start_compress(&info, FALSE);
  });
  const std::size_t count = static_cast<std::size_t>(info.MCUs_per_row) * info.MCU_rows_in_scan *
                            static_cast<std::size_t>(info.blocks_in_MCU) * DCTSIZE2;
  blocks.coefficients_.resize(count);
  capture.Next = blocks.coefficients_.data();
  capture.End = capture.Next + count;
  info.client_data = &capture;
  info.entropy->encode_mcu = CaptureMcu;
  maker.Run([&] {
    JDIMENSION done = 0;
    while (done < static_cast<JDIMENSION>(rows)) {
      done +=
          jpeg_write_scanlines(&info, pointers.data() + done, static_cast<JDIMENSION>(rows) - done);
    }
  });
  if (capture.Overflowed || capture.Next != capture.End) {
    throw ImageError(e.name + ": expected " + std::to_string(count) +
                     " coefficients from the rows, found " +
                     std::to_string(capture.Next - blocks.coefficients_.data()));
  }
  blocks.width_ = e.width;
  blocks.top_ = pictureRow;
  blocks.rows_ = rows;
}

void TJpegBandEncoder::WriteBlocks(const TJpegBlocks& blocks) {
  Impl& e = *impl_;
  jpeg_compress_struct& info = e.session.info();
  const int group = RowGroup();
  const std::size_t perRow =
      static_cast<std::size_t>(info.MCUs_per_row) * info.blocks_in_MCU * DCTSIZE2;
  const std::size_t groups = (static_cast<std::size_t>(blocks.rows_) + group - 1) / group;
  if (e.input != TInput::Blocks || blocks.width_ != e.width ||
      blocks.top_ != static_cast<int>(info.next_scanline) ||
      blocks.coefficients_.size() != groups * perRow) {
    throw ImageError(e.name + ": expected the blocks of rows from " +
                     std::to_string(info.next_scanline) + " of " + std::to_string(e.width) +
                     " pixels to encode, found rows from " + std::to_string(blocks.top_) + " of " +
                     std::to_string(blocks.width_));
  }
  e.session.Run([&] {
    for (std::size_t g = 0; g < groups; ++g) {
      e.feed.Next = blocks.coefficients_.data() + g * perRow;
      // The raw rows are never read: the coefficient step is ours.
      jpeg_write_raw_data(&info, nullptr, static_cast<JDIMENSION>(group));
    }
  });
}

void TJpegBandEncoder::Finish() {
  jpeg_compress_struct& info = impl_->session.info();
  impl_->session.Run([&] { jpeg_finish_compress(&info); });
}

std::vector<std::byte> EncodeJpeg(const TBitmap& bitmap, int quality, const std::string& name,
                                  std::span<const TJpegSegment> markers) {
  std::vector<std::byte> out;
  // A quality-100 stream of a photo takes about one byte per pixel; reserving
  // the raw pixels' size costs only address space until bytes are written,
  // and spares copying a big photo's stream at every doubling.
  try {
    out.reserve(3 * static_cast<std::size_t>(bitmap.Width()) *
                static_cast<std::size_t>(bitmap.Height()));
  } catch (const std::exception&) {
    // Growing by doubling still works, only slower.
  }
  TJpegBandEncoder encoder(
      bitmap.Width(), bitmap.Height(), quality, name,
      [&out](std::span<const std::byte> bytes) {
        out.insert(out.end(), bytes.begin(), bytes.end());
      },
      markers);
  encoder.WriteBand(bitmap, bitmap.Height());
  encoder.Finish();
  return out;
}

}  // namespace sigilon
