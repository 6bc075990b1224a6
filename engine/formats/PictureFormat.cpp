#include "engine/formats/PictureFormat.h"

#include "engine/Errors.h"

namespace sigilon {

namespace {

[[noreturn]] void NotSplit() { throw ImageError("encoding of this picture type is not split"); }

}  // namespace

std::unique_ptr<TEncodedBand> TBandWriter::NewEncodedBand() const { NotSplit(); }

void TBandWriter::EncodeBand(const TBitmap&, int, int, TEncodedBand&) const { NotSplit(); }

void TBandWriter::WriteEncoded(const TEncodedBand&) { NotSplit(); }

std::unique_ptr<TBandReader> TPictureFormat::OpenBandReader(const TReadSpec& spec) const {
  throw ImageError(spec.Path + ": " + std::string(Name()) + " pictures are read whole");
}

std::unique_ptr<TBandWriter> TPictureFormat::OpenBandWriter(const TWriteSpec& spec,
                                                            TPictureSink) const {
  throw ImageError(spec.Name + ": " + std::string(Name()) + " pictures are written whole");
}

TWholePicture TPictureFormat::ReadWhole(const TReadSpec& spec) const {
  const std::unique_ptr<TBandReader> reader = OpenBandReader(spec);
  TWholePicture whole{reader->NewBand(reader->Header().Height), reader->Metadata()};
  reader->ReadRows(whole.Picture, 0, reader->Header().Height);
  reader->Finish();
  whole.Warnings = reader->Warnings();
  return whole;
}

std::vector<std::byte> TPictureFormat::EncodeWhole(const TBitmap& picture,
                                                   const TWriteSpec& spec) const {
  std::vector<std::byte> file;
  const std::unique_ptr<TBandWriter> writer =
      OpenBandWriter(spec, [&file](std::span<const std::byte> bytes) {
        file.insert(file.end(), bytes.begin(), bytes.end());
      });
  writer->WriteRows(picture, 0, picture.Height());
  writer->Finish();
  return file;
}

}  // namespace sigilon
