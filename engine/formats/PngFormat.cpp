#include "engine/formats/PngFormat.h"

#include <array>

#include "engine/formats/PngCodec.h"
#include "platform/Platform.h"

namespace sigilon {

namespace {

class TPngReader final : public TBandReader {
 public:
  explicit TPngReader(const TReadSpec& request)
      : source_(request.Path),
        decoder_([this](std::span<std::byte> buffer) { return source_.Read(buffer); },
                 source_.Size(), request.Path) {}

  const TPictureHeader& Header() const override { return decoder_.Header(); }
  const TPictureMetadata& Metadata() const override { return decoder_.Metadata(); }
  int NextRow() const override { return decoder_.NextRow(); }
  TBitmap NewBand(int rows) const override { return decoder_.NewBand(rows); }
  int ReadBand(TBitmap& band) override { return decoder_.ReadBand(band); }
  int ReadRows(TBitmap& picture, int firstRow, int rows) override {
    return decoder_.ReadRows(picture, firstRow, rows);
  }
  void Finish() override { decoder_.Finish(); }
  std::vector<std::string> Warnings() const override { return decoder_.Warnings(); }

 private:
  TFileReader source_;
  TPngBandDecoder decoder_;
};

class TPngWriter final : public TBandWriter {
 public:
  TPngWriter(const TWriteSpec& request, TPictureSink sink) : encoder_(request, std::move(sink)) {}
  void WriteBand(const TBitmap& band, int rows) override { encoder_.WriteRows(band, 0, rows); }
  void WriteRows(const TBitmap& picture, int firstRow, int rows) override {
    encoder_.WriteRows(picture, firstRow, rows);
  }
  void Finish() override { encoder_.Finish(); }
  bool SplitsEncoding() const override { return encoder_.SplitsEncoding(); }
  std::unique_ptr<TEncodedBand> NewEncodedBand() const override {
    return encoder_.NewEncodedBand();
  }
  void EncodeBand(const TBitmap& band, int rows, int pictureRow,
                  TEncodedBand& encoded) const override {
    encoder_.EncodeBand(band, rows, pictureRow, encoded);
  }
  void WriteEncoded(const TEncodedBand& encoded) override { encoder_.WriteEncoded(encoded); }

 private:
  TPngBandEncoder encoder_;
};

class TPng final : public TPictureFormat {
 public:
  std::string_view Name() const override { return "PNG"; }
  std::span<const std::string_view> Extensions() const override { return kExtensions; }
  bool Streams() const override { return true; }
  // The preview shows bitmap files, which hold no grey, alpha or 16-bit
  // samples.
  bool Previews() const override { return false; }
  std::unique_ptr<TBandReader> OpenBandReader(const TReadSpec& request) const override {
    return std::make_unique<TPngReader>(request);
  }
  std::unique_ptr<TBandWriter> OpenBandWriter(const TWriteSpec& request,
                                              TPictureSink sink) const override {
    return std::make_unique<TPngWriter>(request, std::move(sink));
  }

 private:
  static constexpr std::array<std::string_view, 1> kExtensions{".PNG"};
};

}  // namespace

const TPictureFormat& PngFormat() {
  static const TPng format;
  return format;
}

}  // namespace sigilon
