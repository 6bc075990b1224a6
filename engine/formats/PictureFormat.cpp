#include "engine/formats/PictureFormat.h"

#include <algorithm>

#include "engine/Errors.h"

namespace sigilon {

namespace {

// About this many pixel bytes per band: large enough that the per-band work
// (a few library calls, the stamp's row arithmetic) vanishes, small enough
// that a handful of bands of even a 100-megapixel picture cost little.
constexpr std::size_t kBandBytes = 1 << 20;
// The JPEG encoder takes rows in groups of 16 (two 8-row blocks of
// subsampled luminance); bands of whole groups keep it from waiting on
// partial ones.
constexpr int kRowGroup = 16;

[[noreturn]] void NotSplit() { throw ImageError("encoding of this picture type is not split"); }

// Hands a writer 24-bit copies of the rows it is given.
class TBits24Writer final : public TBandWriter {
 public:
  explicit TBits24Writer(std::unique_ptr<TBandWriter> writer) : writer_(std::move(writer)) {}
  void WriteBand(const TBitmap& band, int rows) override {
    writer_->WriteBand(band.RowsToBits24(0, rows), rows);
  }
  void WriteRows(const TBitmap& picture, int firstRow, int rows) override {
    writer_->WriteRows(picture.RowsToBits24(firstRow, rows), 0, rows);
  }
  void Finish() override { writer_->Finish(); }
  void NextPage(int width, int height) override { writer_->NextPage(width, height); }
  bool SplitsEncoding() const override { return writer_->SplitsEncoding(); }
  std::unique_ptr<TEncodedBand> NewEncodedBand() const override {
    return writer_->NewEncodedBand();
  }
  void EncodeBand(const TBitmap& band, int rows, int pictureRow,
                  TEncodedBand& encoded) const override {
    writer_->EncodeBand(band.RowsToBits24(0, rows), rows, pictureRow, encoded);
  }
  void WriteEncoded(const TEncodedBand& encoded) override { writer_->WriteEncoded(encoded); }

 private:
  const std::unique_ptr<TBandWriter> writer_;
};

}  // namespace

TPictureSink MemorySink(std::vector<std::byte>& file) {
  return [&file](std::span<const std::byte> bytes) {
    file.insert(file.end(), bytes.begin(), bytes.end());
  };
}

TPictureRevisit MemoryRevisit(std::vector<std::byte>& file) {
  return {.WriteAt =
              [&file](std::uint64_t offset, std::span<const std::byte> bytes) {
                if (offset > file.size() || bytes.size() > file.size() - offset) {
                  throw ImageError("rewriting bytes beyond the end of a file in memory");
                }
                std::ranges::copy(bytes, file.begin() + static_cast<std::ptrdiff_t>(offset));
              },
          .ReadAt = [&file](std::uint64_t offset, std::span<std::byte> buffer) -> std::size_t {
            if (offset >= file.size()) return 0;
            const std::size_t n = std::min<std::size_t>(buffer.size(), file.size() - offset);
            std::copy_n(file.begin() + static_cast<std::ptrdiff_t>(offset), n, buffer.begin());
            return n;
          }};
}

int BandRows(int width, int height) {
  const std::size_t stride = 3 * static_cast<std::size_t>(width);
  const auto rows = static_cast<int>(std::max<std::size_t>(1, kBandBytes / stride));
  return std::min(std::max(kRowGroup, rows / kRowGroup * kRowGroup), height);
}

bool TPictureFormat::Writes(TPixelFormat) const { return true; }

void TBandReader::NextPage() { throw ImageError("the picture has no further page"); }

void TBandWriter::NextPage(int, int) { throw ImageError("this picture type holds one page"); }

std::unique_ptr<TBandWriter> OpenBandWriterFor(const TPictureFormat& format,
                                               TPixelFormat pixelFormat, const TWriteSpec& request,
                                               TPictureSink sink) {
  TWriteSpec rowsKnown = request;
  rowsKnown.RowFormat = format.Writes(pixelFormat) ? pixelFormat : TPixelFormat::pf24bit;
  std::unique_ptr<TBandWriter> writer = format.OpenBandWriter(rowsKnown, std::move(sink));
  if (format.Writes(pixelFormat)) return writer;
  return std::make_unique<TBits24Writer>(std::move(writer));
}

std::vector<std::byte> EncodeWholeFor(const TPictureFormat& format, const TBitmap& picture,
                                      const TWriteSpec& request) {
  if (format.Writes(picture.PixelFormat())) return format.EncodeWhole(picture, request);
  return format.EncodeWhole(picture.ToBits24(), request);
}

std::unique_ptr<TEncodedBand> TBandWriter::NewEncodedBand() const { NotSplit(); }

void TBandWriter::EncodeBand(const TBitmap&, int, int, TEncodedBand&) const { NotSplit(); }

void TBandWriter::WriteEncoded(const TEncodedBand&) { NotSplit(); }

std::unique_ptr<TBandReader> TPictureFormat::OpenBandReader(const TReadSpec& request) const {
  throw ImageError(request.Path + ": " + std::string(Name()) + " pictures are read whole");
}

std::unique_ptr<TBandWriter> TPictureFormat::OpenBandWriter(const TWriteSpec& request,
                                                            TPictureSink) const {
  throw ImageError(request.Name + ": " + std::string(Name()) + " pictures are written whole");
}

TWholePicture TPictureFormat::ReadWhole(const TReadSpec& request) const {
  const std::unique_ptr<TBandReader> reader = OpenBandReader(request);
  TWholePicture whole{reader->NewBand(reader->Header().Height), reader->Metadata()};
  reader->ReadRows(whole.Picture, 0, reader->Header().Height);
  reader->Finish();
  whole.Warnings = reader->Warnings();
  return whole;
}

std::vector<std::byte> TPictureFormat::EncodeWhole(const TBitmap& picture,
                                                   const TWriteSpec& request) const {
  std::vector<std::byte> file;
  TWriteSpec inMemory = request;
  inMemory.Revisit = MemoryRevisit(file);
  const std::unique_ptr<TBandWriter> writer = OpenBandWriter(inMemory, MemorySink(file));
  writer->WriteRows(picture, 0, picture.Height());
  writer->Finish();
  return file;
}

}  // namespace sigilon
