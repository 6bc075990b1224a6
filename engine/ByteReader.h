#pragma once
/// A bounds-checked reader over the bytes of a file in memory, little-endian
/// unless a read says otherwise. Every read is checked against the end of the
/// data, so a header that lies about its sizes cannot make a codec read past
/// what the file holds.

#include <cstddef>
#include <cstdint>
#include <span>
#include <string>
#include <utility>

#include "engine/Errors.h"

namespace sigilon {

class ByteReader {
 public:
  /// `name` is the file's name as it appears in error messages.
  ByteReader(std::span<const std::byte> data, std::string name)
      : data_(data), name_(std::move(name)) {}

  const std::string& Name() const { return name_; }
  std::size_t Size() const { return data_.size(); }
  std::size_t Position() const { return pos_; }
  std::size_t Remaining() const { return data_.size() - pos_; }
  bool AtEnd() const { return pos_ == data_.size(); }

  /// Moves to an absolute offset; the end of the data is a valid position.
  void Seek(std::uint64_t offset, const char* what) {
    if (offset > data_.size()) {
      Fail(std::string(what) + ": expected an offset within the " + std::to_string(data_.size()) +
           "-byte file, found " + std::to_string(offset));
    }
    pos_ = static_cast<std::size_t>(offset);
  }

  void Skip(std::uint64_t count, const char* what) {
    Require(count, what);
    pos_ += static_cast<std::size_t>(count);
  }

  std::uint8_t U8(const char* what) {
    Require(1, what);
    return static_cast<std::uint8_t>(data_[pos_++]);
  }

  std::uint16_t U16(const char* what) {
    Require(2, what);
    const auto v = static_cast<std::uint16_t>(Byte(0) | (Byte(1) << 8));
    pos_ += 2;
    return v;
  }

  std::uint32_t U32(const char* what) {
    Require(4, what);
    const std::uint32_t v = Byte(0) | (Byte(1) << 8) | (Byte(2) << 16) | (Byte(3) << 24);
    pos_ += 4;
    return v;
  }

  std::int32_t I32(const char* what) { return static_cast<std::int32_t>(U32(what)); }

  /// Big-endian reads (JPEG marker segments, Motorola-order TIFF).
  std::uint16_t U16BE(const char* what) {
    Require(2, what);
    const auto v = static_cast<std::uint16_t>((Byte(0) << 8) | Byte(1));
    pos_ += 2;
    return v;
  }

  std::uint32_t U32BE(const char* what) {
    Require(4, what);
    const std::uint32_t v = (Byte(0) << 24) | (Byte(1) << 16) | (Byte(2) << 8) | Byte(3);
    pos_ += 4;
    return v;
  }

  /// The next `count` bytes, consumed.
  std::span<const std::byte> Bytes(std::uint64_t count, const char* what) {
    Require(count, what);
    const auto out = data_.subspan(pos_, static_cast<std::size_t>(count));
    pos_ += static_cast<std::size_t>(count);
    return out;
  }

  /// Throws ImageError with the file's name in front of `message`.
  [[noreturn]] void Fail(const std::string& message) const {
    throw ImageError(name_ + ": " + message);
  }

 private:
  void Require(std::uint64_t count, const char* what) const {
    if (count > Remaining()) {
      Fail(std::string(what) + ": expected " + std::to_string(count) + " bytes at offset " +
           std::to_string(pos_) + ", found " + std::to_string(Remaining()));
    }
  }

  std::uint32_t Byte(std::size_t i) const {
    return static_cast<std::uint32_t>(static_cast<std::uint8_t>(data_[pos_ + i]));
  }

  std::span<const std::byte> data_;
  std::string name_;
  std::size_t pos_ = 0;
};

}  // namespace sigilon
