#include "engine/JpegEncoder.h"

#include "engine/JpegSession.h"

// The encoder's module interfaces: blocks made apart are fed to libjpeg's own
// entropy coder (see MakeBlocks). Only this file reaches into them.
#include <jpegint.h>

#include <algorithm>
#include <cstring>
#include <exception>
#include <optional>
#include <type_traits>
#include <utility>

#include "engine/Errors.h"

namespace sigilon {

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
  const bool written = CalledCleanly(*dest.Pending, [&] {
    (*dest.Write)(
        std::span<const std::byte>(reinterpret_cast<const std::byte*>(dest.Buffer), count));
  });
  if (!written) StopLibjpeg(reinterpret_cast<j_common_ptr>(info));
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
                                   TInput input, bool optimizeCoding)
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
  // Made blocks go straight to the entropy coder, which has no second pass
  // to take them to.
  if (optimizeCoding && input == TInput::Blocks) {
    throw ImageError(name + ": expected rows to encode with optimised tables, found blocks");
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
    // Only the entropy coding changes: the blocks, and so the pixels, do not.
    info.optimize_coding = optimizeCoding ? TRUE : FALSE;
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
