#include "engine/JpegCodec.h"

// jpeglib.h needs FILE and size_t declared before it, jerror.h its types.
#include <cstdio>

#include <jpeglib.h>

#include <jerror.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
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
// failures: the picture is used as far as it decodes.
void EmitMessage(j_common_ptr info, int level) {
  if (level < 0) ++info->err->num_warnings;
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

  template <typename Step>
  void Run(const Step& step) {
    if (!RunGuarded(errors_, step)) Fail();
  }

  [[noreturn]] void Fail() const {
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
  Info info_{};
};

using TDecompressor = TJpegSession<jpeg_decompress_struct>;
using TCompressor = TJpegSession<jpeg_compress_struct>;

void ReadHeader(TDecompressor& session, std::span<const std::byte> data) {
  jpeg_decompress_struct& info = session.info();
  const auto* bytes = reinterpret_cast<const unsigned char*>(data.data());
  const auto size = static_cast<unsigned long>(data.size());
  session.Run([&] {
    jpeg_mem_src(&info, bytes, size);
    jpeg_read_header(&info, TRUE);
  });
}

TJpegHeader HeaderOf(const jpeg_decompress_struct& info) {
  TJpegHeader header;
  header.Width = static_cast<int>(info.image_width);
  header.Height = static_cast<int>(info.image_height);
  header.Components = info.num_components;
  header.Grayscale = info.jpeg_color_space == JCS_GRAYSCALE;
  header.Progressive = info.progressive_mode != 0;
  return header;
}

// How decoded rows reach the bitmap.
enum class TRowLayout {
  kDirect,  // palette indexes, or B, G, R as the bitmap stores them, straight into the row
  kCmyk,    // C, M, Y, K into a scratch row, then converted
};

struct TRowTarget {
  std::uint8_t* Pixels;
  std::size_t Stride;
  std::uint8_t* Scratch;
  TRowLayout Layout;
  // Adobe's convention: stored values are 255 minus the ink.
  bool InvertedCmyk;
  int Width;
};

std::uint8_t Scale255(unsigned a, unsigned b) {
  return static_cast<std::uint8_t>((a * b + 127) / 255);
}

void FinishRow(const TRowTarget& target, std::uint8_t* row) noexcept {
  const auto width = static_cast<std::size_t>(target.Width);
  if (target.Layout == TRowLayout::kCmyk) {
    for (std::size_t x = 0; x < width; ++x) {
      const std::uint8_t* s = target.Scratch + 4 * x;
      // Work with "paper left": 255 where there is no ink.
      unsigned c = s[0], m = s[1], y = s[2], k = s[3];
      if (!target.InvertedCmyk) {
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
}

void ReadRows(TDecompressor& session, const TRowTarget& target) {
  jpeg_decompress_struct& info = session.info();
  session.Run([&] {
    while (info.output_scanline < info.output_height) {
      std::uint8_t* row = target.Pixels + info.output_scanline * target.Stride;
      JSAMPROW sample = target.Layout == TRowLayout::kCmyk ? target.Scratch : row;
      // Only a suspending source returns no row; ours never suspends.
      if (jpeg_read_scanlines(&info, &sample, 1) != 1) break;
      FinishRow(target, row);
    }
  });
}

}  // namespace

TJpegHeader ReadJpegHeader(std::span<const std::byte> data, const std::string& name) {
  TDecompressor session(name);
  ReadHeader(session, data);
  return HeaderOf(session.info());
}

TBitmap DecodeJpeg(std::span<const std::byte> data, const std::string& name,
                   const TJpegDecodeOptions& options) {
  TDecompressor session(name);
  ReadHeader(session, data);
  jpeg_decompress_struct& info = session.info();

  // The header's size decides every buffer libjpeg and we allocate: check it
  // before anything of that size exists.
  CheckedImageBytes(info.image_width, info.image_height, 24, name.c_str());

  const bool fourComponents = info.num_components == 4 && (info.jpeg_color_space == JCS_CMYK ||
                                                           info.jpeg_color_space == JCS_YCCK);
  bool palette = false;
  if (fourComponents) {
    // libjpeg has no CMYK to RGB conversion: take the inks and convert here.
    info.out_color_space = JCS_CMYK;
  } else {
    const bool gray = info.jpeg_color_space == JCS_GRAYSCALE || options.Grayscale;
    palette = gray || options.ToPalette;
    // Colour lands in the bitmap's own B, G, R order, so rows need no second
    // pass; the quantiser wants plain RGB.
    info.out_color_space = gray ? JCS_GRAYSCALE : (palette ? JCS_RGB : JCS_EXT_BGR);
  }
  if (palette) {
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

  jpeg_progress_mgr progress{};
  progress.progress_monitor = CheckScanCount;
  info.progress = &progress;

  session.Run([&] { jpeg_calc_output_dimensions(&info); });
  // Zero-filled, so rows a short file never delivers are black, not garbage.
  TBitmap bitmap(static_cast<int>(info.output_width), static_cast<int>(info.output_height),
                 palette ? TPixelFormat::pf8bit : TPixelFormat::pf24bit);

  session.Run([&] { jpeg_start_decompress(&info); });

  const int expectedComponents = palette ? 1 : (fourComponents ? 4 : 3);
  if (info.output_components != expectedComponents ||
      info.output_width != static_cast<JDIMENSION>(bitmap.Width()) ||
      info.output_height != static_cast<JDIMENSION>(bitmap.Height())) {
    throw ImageError(
        name + ": expected " + std::to_string(expectedComponents) + " decoded components of " +
        std::to_string(bitmap.Width()) + " x " + std::to_string(bitmap.Height()) + ", found " +
        std::to_string(info.output_components) + " of " + std::to_string(info.output_width) +
        " x " + std::to_string(info.output_height));
  }

  if (palette) {
    const int colors = info.actual_number_of_colors;
    if (colors < 1 || colors > kJpegPaletteColors || info.colormap == nullptr) {
      throw ImageError(name + ": expected 1 to " + std::to_string(kJpegPaletteColors) +
                       " palette colours, found " + std::to_string(colors));
    }
    const bool grayMap = info.out_color_components == 1;
    // Only the colours in use: drawing picks the nearest entry, and unused
    // black entries would attract dark text colours.
    auto& entries = bitmap.Palette();
    entries.assign(static_cast<std::size_t>(colors), TRGBQuad{});
    for (int i = 0; i < colors; ++i) {
      const auto red = static_cast<std::uint8_t>(info.colormap[0][i]);
      entries[i].Red = red;
      entries[i].Green = grayMap ? red : static_cast<std::uint8_t>(info.colormap[1][i]);
      entries[i].Blue = grayMap ? red : static_cast<std::uint8_t>(info.colormap[2][i]);
    }
  }

  std::vector<std::uint8_t> scratch;
  if (fourComponents) scratch.resize(4 * static_cast<std::size_t>(bitmap.Width()));
  const TRowTarget target{bitmap.Pixels().data(),
                          bitmap.Stride(),
                          scratch.data(),
                          fourComponents ? TRowLayout::kCmyk : TRowLayout::kDirect,
                          info.saw_Adobe_marker != 0,
                          bitmap.Width()};
  ReadRows(session, target);
  session.Run([&] { jpeg_finish_decompress(&info); });
  return bitmap;
}

namespace {

// Collects the encoder's output in a vector. (libjpeg's own memory
// destination leaves its buffer half-owned when an error stops the encoder.)
struct TVectorDestination {
  jpeg_destination_mgr Pub;
  std::vector<std::byte>* Out;
  // Room reserved up front: one reallocation-free buffer for the common case.
  std::size_t Expected;
};

constexpr std::size_t kInitialOutputSize = 64 * 1024;

TVectorDestination& DestinationOf(j_compress_ptr info) {
  return *reinterpret_cast<TVectorDestination*>(info->dest);
}

// Makes room for at least `size` bytes; false when memory runs out. Keeps the
// exception on this side of libjpeg.
bool ResizeOutput(TVectorDestination& dest, std::size_t size) noexcept {
  try {
    dest.Out->resize(size);
  } catch (const std::bad_alloc&) {
    return false;
  } catch (const std::length_error&) {
    return false;
  }
  return true;
}

void FailOutOfMemory(j_compress_ptr info) {
  info->err->msg_code = JERR_OUT_OF_MEMORY;
  (*info->err->error_exit)(reinterpret_cast<j_common_ptr>(info));
}

void InitDestination(j_compress_ptr info) {
  TVectorDestination& dest = DestinationOf(info);
  // Reserving costs only address space until bytes are written, and spares
  // copying a big photo's stream at every doubling.
  try {
    dest.Out->reserve(dest.Expected);
  } catch (const std::exception&) {
    // Growing by doubling still works, only slower.
  }
  if (!ResizeOutput(dest, kInitialOutputSize)) FailOutOfMemory(info);
  dest.Pub.next_output_byte = reinterpret_cast<JOCTET*>(dest.Out->data());
  dest.Pub.free_in_buffer = dest.Out->size();
}

boolean GrowDestination(j_compress_ptr info) {
  TVectorDestination& dest = DestinationOf(info);
  // Called when the whole buffer is full.
  const std::size_t used = dest.Out->size();
  if (!ResizeOutput(dest, used * 2)) FailOutOfMemory(info);
  dest.Pub.next_output_byte = reinterpret_cast<JOCTET*>(dest.Out->data()) + used;
  dest.Pub.free_in_buffer = dest.Out->size() - used;
  return TRUE;
}

void TermDestination(j_compress_ptr info) {
  TVectorDestination& dest = DestinationOf(info);
  dest.Out->resize(dest.Out->size() - dest.Pub.free_in_buffer);
}

void WriteRows(TCompressor& session, const TBitmap& bgr) {
  jpeg_compress_struct& info = session.info();
  session.Run([&] {
    while (info.next_scanline < info.image_height) {
      // libjpeg only reads the rows it is given; its interface lacks const.
      JSAMPROW row = const_cast<std::uint8_t*>(bgr.Pixels().data()) +
                     static_cast<std::size_t>(info.next_scanline) * bgr.Stride();
      jpeg_write_scanlines(&info, &row, 1);
    }
  });
}

}  // namespace

std::vector<std::byte> EncodeJpeg(const TBitmap& bitmap, int quality, const std::string& name) {
  if (bitmap.Empty()) throw ImageError(name + ": expected a picture to encode, found none");
  if (quality < 1 || quality > 100) {
    throw ImageError(name + ": expected a JPEG quality of 1 to 100, found " +
                     std::to_string(quality));
  }
  std::optional<TBitmap> converted;
  if (bitmap.PixelFormat() != TPixelFormat::pf24bit) converted = bitmap.ToBits24();
  const TBitmap& bgr = converted ? *converted : bitmap;

  std::vector<std::byte> out;
  TVectorDestination destination{};
  destination.Pub.init_destination = InitDestination;
  destination.Pub.empty_output_buffer = GrowDestination;
  destination.Pub.term_destination = TermDestination;
  destination.Out = &out;
  // A quality-100 stream of a photo takes about one byte per pixel; the raw
  // pixels are a bound it rarely passes.
  destination.Expected =
      std::max(kInitialOutputSize, 3 * static_cast<std::size_t>(bitmap.Width()) *
                                       static_cast<std::size_t>(bitmap.Height()));

  TCompressor session(name);
  jpeg_compress_struct& info = session.info();
  info.dest = &destination.Pub;
  info.image_width = static_cast<JDIMENSION>(bgr.Width());
  info.image_height = static_cast<JDIMENSION>(bgr.Height());
  info.input_components = 3;
  // The bitmap's B, G, R rows go to the encoder as they are.
  info.in_color_space = JCS_EXT_BGR;
  session.Run([&] {
    jpeg_set_defaults(&info);
    // A branded copy carries only pixels: plain JFIF, default density.
    info.write_JFIF_header = TRUE;
    info.density_unit = 0;
    info.X_density = 1;
    info.Y_density = 1;
    info.write_Adobe_marker = FALSE;
    info.dct_method = JDCT_FLOAT;
    jpeg_set_quality(&info, quality, TRUE);
    jpeg_start_compress(&info, TRUE);
  });
  WriteRows(session, bgr);
  session.Run([&] { jpeg_finish_compress(&info); });
  return out;
}

}  // namespace sigilon
