#include "engine/JpegImage.h"

#include <utility>

#include "engine/Errors.h"
#include "platform/Platform.h"

namespace sigilon {

TJPEGImage::TJPEGImage(int displayColorDepth)
    : PixelFormat(displayColorDepth <= 8 ? TJPEGPixelFormat::jf8Bit : TJPEGPixelFormat::jf24Bit) {}

void TJPEGImage::LoadFromBytes(std::vector<std::byte> data, const std::string& name) {
  // Reading the header first keeps the old content when the data is no JPEG.
  const TJpegHeader header = ReadJpegHeader(data, name);
  data_ = std::move(data);
  header_ = header;
  name_ = name;
  bitmap_.reset();
  warnings_.clear();
}

void TJPEGImage::LoadFromFile(const std::string& path) {
  LoadFromBytes(ReadWholeFile(path, kMaxJpegFileBytes), path);
}

TJpegDecodeOptions TJPEGImage::DecodeOptions() const {
  TJpegDecodeOptions options;
  options.ToPalette = PixelFormat == TJPEGPixelFormat::jf8Bit;
  return options;
}

void TJPEGImage::Decode() const {
  const TJpegDecodeOptions options = DecodeOptions();
  if (bitmap_.has_value() && (data_.empty() || decodedWith_ == options)) return;
  if (data_.empty()) throw ImageError(name_ + ": expected a JPEG picture, found none");
  bitmap_ = DecodeJpeg(data_, name_, options, &warnings_);
  decodedWith_ = options;
}

const TBitmap& TJPEGImage::Bitmap() const {
  Decode();
  return *bitmap_;
}

void TJPEGImage::Assign(const TBitmap& bitmap) { Assign(TBitmap(bitmap)); }

void TJPEGImage::Assign(TBitmap&& bitmap) {
  bitmap_ = std::move(bitmap);
  data_.clear();
  warnings_.clear();
  header_ = {};
  decodedWith_ = DecodeOptions();
}

TBitmap TJPEGImage::TakeBitmap() {
  Decode();
  TBitmap taken = std::move(*bitmap_);
  bitmap_.reset();
  return taken;
}

void TJPEGImage::Compress(int quality) {
  if (!bitmap_.has_value())
    throw ImageError(name_ + ": expected a picture to compress, found none");
  std::vector<std::byte> encoded = EncodeJpeg(*bitmap_, quality, name_);
  CompressionQuality = quality;
  data_ = std::move(encoded);
  header_ = ReadJpegHeader(data_, name_);
  // The held bitmap stands for the new bytes under the current settings.
  decodedWith_ = DecodeOptions();
}

const std::vector<std::byte>& TJPEGImage::SaveToBytes() {
  if (data_.empty()) Compress(CompressionQuality);
  return data_;
}

void TJPEGImage::SaveToFile(const std::string& path) { WriteWholeFile(path, SaveToBytes()); }

int TJPEGImage::Width() const { return bitmap_ ? bitmap_->Width() : header_.Width; }

int TJPEGImage::Height() const { return bitmap_ ? bitmap_->Height() : header_.Height; }

std::unique_ptr<TBitmap> JpegToBitmap(const TJPEGImage& jpeg) {
  if (jpeg.Empty()) return nullptr;
  return std::make_unique<TBitmap>(jpeg.Bitmap());
}

std::unique_ptr<TBitmap> JpegToBitmap(const TJPEGImage* jpeg) {
  return jpeg ? JpegToBitmap(*jpeg) : nullptr;
}

std::unique_ptr<TBitmap> JpegToBitmap(TJPEGImage&& jpeg) {
  if (jpeg.Empty()) return nullptr;
  return std::make_unique<TBitmap>(jpeg.TakeBitmap());
}

std::unique_ptr<TJPEGImage> BitmapToJpeg(const TBitmap& bitmap, int quality) {
  return BitmapToJpeg(TBitmap(bitmap), quality);
}

std::unique_ptr<TJPEGImage> BitmapToJpeg(TBitmap&& bitmap, int quality) {
  if (bitmap.Empty()) return nullptr;
  auto jpeg = std::make_unique<TJPEGImage>();
  jpeg->Assign(std::move(bitmap));
  jpeg->Compress(quality);
  return jpeg;
}

std::unique_ptr<TJPEGImage> BitmapToJpeg(const TBitmap* bitmap, int quality) {
  return bitmap ? BitmapToJpeg(*bitmap, quality) : nullptr;
}

}  // namespace sigilon
