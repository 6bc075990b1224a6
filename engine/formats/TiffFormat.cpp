#include "engine/formats/TiffFormat.h"

#include <array>

#include "engine/formats/TiffCodec.h"

namespace sigilon {

namespace {

class TTiffReader final : public TBandReader {
 public:
  explicit TTiffReader(const TReadSpec& request)
      : decoder_(TiffFileAt(request.Path), request.Path) {}

  const TPictureHeader& Header() const override { return decoder_.Header(); }
  const TPictureMetadata& Metadata() const override { return decoder_.Metadata(); }
  int NextRow() const override { return decoder_.NextRow(); }
  TBitmap NewBand(int rows) const override { return decoder_.NewBand(rows); }
  int ReadBand(TBitmap& band) override { return decoder_.ReadRows(band, 0, band.Height()); }
  int ReadRows(TBitmap& picture, int firstRow, int rows) override {
    return decoder_.ReadRows(picture, firstRow, rows);
  }
  // Nothing follows a page's rows that needs reading.
  void Finish() override {}
  std::vector<std::string> Warnings() const override { return decoder_.Warnings(); }
  int Pages() const override { return decoder_.Pages(); }
  void NextPage() override { decoder_.NextPage(); }

 private:
  TTiffBandDecoder decoder_;
};

class TTiffWriter final : public TBandWriter {
 public:
  TTiffWriter(const TWriteSpec& request, TPictureSink sink)
      : encoder_(request, TiffFileTo(std::move(sink), request.Revisit, request.Name)) {}
  void WriteBand(const TBitmap& band, int rows) override { encoder_.WriteRows(band, 0, rows); }
  void WriteRows(const TBitmap& picture, int firstRow, int rows) override {
    encoder_.WriteRows(picture, firstRow, rows);
  }
  void NextPage(int width, int height) override { encoder_.NextPage(width, height); }
  void Finish() override { encoder_.Finish(); }

 private:
  TTiffBandEncoder encoder_;
};

class TTiff final : public TPictureFormat {
 public:
  std::string_view Name() const override { return "TIFF"; }
  std::span<const std::string_view> Extensions() const override { return kExtensions; }
  bool Streams() const override { return true; }
  // The preview shows bitmap files, which hold no grey, alpha or 16-bit
  // samples.
  bool Previews() const override { return false; }
  bool HoldsPages() const override { return true; }
  bool Writes(TPixelFormat pixelFormat) const override { return TiffWrites(pixelFormat); }
  std::unique_ptr<TBandReader> OpenBandReader(const TReadSpec& request) const override {
    return std::make_unique<TTiffReader>(request);
  }
  std::unique_ptr<TBandWriter> OpenBandWriter(const TWriteSpec& request,
                                              TPictureSink sink) const override {
    return std::make_unique<TTiffWriter>(request, std::move(sink));
  }
  TWholePicture ReadWhole(const TReadSpec& request) const override {
    return DecodeTiff(TiffFileAt(request.Path), request.Path);
  }
  std::vector<std::byte> EncodeWhole(const TBitmap& picture,
                                     const TWriteSpec& request) const override {
    return EncodeTiff(picture, request);
  }

 private:
  static constexpr std::array<std::string_view, 2> kExtensions{".TIF", ".TIFF"};
};

}  // namespace

const TPictureFormat& TiffFormat() {
  static const TTiff format;
  return format;
}

}  // namespace sigilon
