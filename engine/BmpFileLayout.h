#pragma once
/// The fields of a bitmap file that its reading and its writing share.

#include <cstddef>
#include <cstdint>

namespace sigilon::bmpfile {

inline constexpr std::size_t kFileHeaderSize = 14;

// Info header sizes this reader knows. OS/2 2.x headers may in theory be any
// length from 16 to 64; only the two that occur in practice are accepted.
inline constexpr std::uint32_t kCoreHeaderSize = 12;      // OS/2 1.x: 16-bit sizes, 3-byte palette
inline constexpr std::uint32_t kOs2ShortHeaderSize = 16;  // OS/2 2.x cut after the bit count
inline constexpr std::uint32_t kInfoHeaderSize = 40;
inline constexpr std::uint32_t kV2HeaderSize = 52;  // info + R, G, B masks
inline constexpr std::uint32_t kV3HeaderSize = 56;  // + alpha mask
inline constexpr std::uint32_t kOs2HeaderSize = 64;
inline constexpr std::uint32_t kV4HeaderSize = 108;
inline constexpr std::uint32_t kV5HeaderSize = 124;

inline constexpr std::uint16_t kSignatureBM = 0x4D42;  // "BM"
inline constexpr std::uint16_t kSignatureBA = 0x4142;  // "BA": OS/2 bitmap array

inline constexpr std::uint32_t kBiRgb = 0;
inline constexpr std::uint32_t kBiRle8 = 1;
inline constexpr std::uint32_t kBiRle4 = 2;
inline constexpr std::uint32_t kBiBitfields = 3;
inline constexpr std::uint32_t kBiJpeg = 4;
inline constexpr std::uint32_t kBiPng = 5;
inline constexpr std::uint32_t kBiAlphaBitfields = 6;
// OS/2 2.x gives 3 and 4 other meanings.
inline constexpr std::uint32_t kOs2Huffman1D = 3;
inline constexpr std::uint32_t kOs2Rle24 = 4;

inline constexpr std::uint32_t kLcsSrgb = 0x73524742;       // 'sRGB', the V4 colour space we write
inline constexpr std::size_t kV4ColorSpaceBytes = 36 + 12;  // endpoints + gamma, written as zero

}  // namespace sigilon::bmpfile
