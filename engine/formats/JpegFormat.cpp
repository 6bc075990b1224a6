#include "engine/formats/JpegFormat.h"

#include <algorithm>
#include <array>

#include "engine/Errors.h"
#include "engine/JpegCodec.h"
#include "engine/JpegDecoder.h"
#include "engine/JpegMarkers.h"
#include "engine/JpegMetadata.h"
#include "engine/MetadataSignatures.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

// Branded JPEGs are written at the highest quality unless asked otherwise: a
// proof must not lose detail to the brand.
constexpr int kBrandQuality = 100;

// Picture information between the seam's form and JPEG's segments.
TPictureMetadata::TItem ItemOf(const TJpegSegment& segment) {
  using TKind = TPictureMetadata::TKind;
  const bool exif = StartsWithSignature(segment.Payload, kExifSignature);
  const TKind kind = segment.Marker == kJpegApp13 ? TKind::Iptc : exif ? TKind::Exif : TKind::Xmp;
  return {kind, segment.Payload};
}

TJpegSegment SegmentOf(const TPictureMetadata::TItem& item) {
  return {item.Kind == TPictureMetadata::TKind::Iptc ? kJpegApp13 : kJpegApp1, item.Payload};
}

class TJpegReader final : public TBandReader {
 public:
  explicit TJpegReader(const TReadSpec& request)
      : source_(request.Path),
        header_(CheckedHeader(request.Path)),
        decoder_([this](std::span<std::byte> buffer) { return Serve(buffer); }, source_.Size(),
                 request.Path, DecodeOptionsForDisplay(request.Display.ColorDepth)) {
    const TJpegMetadata read = ReadJpegMetadata(header_);
    metadata_.Orientation = read.Orientation;
    metadata_.IccProfile = read.IccProfile;
    for (const TJpegSegment& segment : read.PictureInformation) {
      metadata_.Information.push_back(ItemOf(segment));
    }
    size_ = {decoder_.Width(), decoder_.Height()};
  }

  const TPictureHeader& Header() const override { return size_; }
  const TPictureMetadata& Metadata() const override { return metadata_; }
  int NextRow() const override { return decoder_.NextRow(); }
  TBitmap NewBand(int rows) const override { return decoder_.NewBand(rows); }
  int ReadBand(TBitmap& band) override { return decoder_.ReadBand(band); }
  int ReadRows(TBitmap& picture, int firstRow, int rows) override {
    return decoder_.ReadRows(picture, firstRow, rows);
  }
  void Finish() override { decoder_.Finish(); }
  std::vector<std::string> Warnings() const override { return decoder_.Warnings(); }

 private:
  // The bound a whole-file read puts on a JPEG file, so both ways agree;
  // then the segments up to the first scan, which the decoder reads again.
  std::vector<std::byte> CheckedHeader(const std::string& path) {
    if (source_.Size() > kMaxJpegFileBytes) {
      throw ImageError(path + ": expected a JPEG file of at most " +
                       std::to_string(kMaxJpegFileBytes) + " bytes, found " +
                       std::to_string(source_.Size()));
    }
    return ReadJpegHeaderBytes(
        [this](std::span<std::byte> buffer) { return source_.Read(buffer); });
  }

  std::size_t Serve(std::span<std::byte> buffer) {
    if (served_ == header_.size()) return source_.Read(buffer);
    const std::size_t n = std::min(buffer.size(), header_.size() - served_);
    std::copy_n(header_.begin() + static_cast<std::ptrdiff_t>(served_), n, buffer.begin());
    served_ += n;
    return n;
  }

  TFileReader source_;
  std::vector<std::byte> header_;
  std::size_t served_ = 0;
  TJpegBandDecoder decoder_;
  TPictureHeader size_;
  TPictureMetadata metadata_;
};

class TJpegEncodedBand final : public TEncodedBand {
 public:
  TJpegBlocks Blocks;
};

class TJpegWriter final : public TBandWriter {
 public:
  TJpegWriter(const TWriteSpec& request, TPictureSink sink)
      // Optimised tables need all blocks before the first is coded: no split.
      : split_(request.SplitEncoding && !request.Optimize),
        encoder_(request.Width, request.Height,
                 request.Quality == kDefaultQuality ? kBrandQuality : request.Quality, request.Name,
                 std::move(sink), Segments(request),
                 split_ ? TJpegBandEncoder::TInput::Blocks : TJpegBandEncoder::TInput::Rows,
                 request.Optimize) {}

  void WriteBand(const TBitmap& band, int rows) override { encoder_.WriteBand(band, rows); }
  void WriteRows(const TBitmap& picture, int firstRow, int rows) override {
    encoder_.WriteRows(picture, firstRow, rows);
  }
  void Finish() override { encoder_.Finish(); }
  bool SplitsEncoding() const override { return split_; }
  std::unique_ptr<TEncodedBand> NewEncodedBand() const override {
    return std::make_unique<TJpegEncodedBand>();
  }
  void EncodeBand(const TBitmap& band, int rows, int pictureRow,
                  TEncodedBand& encoded) const override {
    encoder_.MakeBlocks(band, 0, rows, pictureRow, static_cast<TJpegEncodedBand&>(encoded).Blocks);
  }
  void WriteEncoded(const TEncodedBand& encoded) override {
    encoder_.WriteBlocks(static_cast<const TJpegEncodedBand&>(encoded).Blocks);
  }

 private:
  // The copy's segments: its picture information when asked, then its
  // colour profile.
  static std::vector<TJpegSegment> Segments(const TWriteSpec& request) {
    if (!request.Metadata) return {};
    TJpegMetadata metadata{
        .Orientation = 1, .IccProfile = request.Metadata->IccProfile, .PictureInformation = {}};
    for (const TPictureMetadata::TItem& item : request.Metadata->Information) {
      metadata.PictureInformation.push_back(SegmentOf(item));
    }
    return BrandedCopySegments(metadata, request.KeepMetadata);
  }

  const bool split_;
  TJpegBandEncoder encoder_;
};

class TJpeg final : public TPictureFormat {
 public:
  std::string_view Name() const override { return "JPEG"; }
  std::span<const std::string_view> Extensions() const override { return kExtensions; }
  bool Streams() const override { return true; }
  bool Previews() const override { return true; }
  std::unique_ptr<TBandReader> OpenBandReader(const TReadSpec& request) const override {
    return std::make_unique<TJpegReader>(request);
  }
  std::unique_ptr<TBandWriter> OpenBandWriter(const TWriteSpec& request,
                                              TPictureSink sink) const override {
    return std::make_unique<TJpegWriter>(request, std::move(sink));
  }

 private:
  static constexpr std::array<std::string_view, 1> kExtensions{".JPG"};
};

}  // namespace

const TPictureFormat& JpegFormat() {
  static const TJpeg format;
  return format;
}

}  // namespace sigilon
