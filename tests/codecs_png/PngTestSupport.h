#pragma once
// PNG files made and read with libpng directly, as an oracle independent of
// the engine's PNG module: samples as stored (no scaling, no expansion).

#include <png.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <span>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace sigilon::test {

struct TPngFile {
  int Width = 0;
  int Height = 0;
  int Depth = 8;
  int ColorType = PNG_COLOR_TYPE_RGB;
  bool Interlaced = false;
  /// Width * Height * channels samples, rows from the top.
  std::vector<std::uint16_t> Samples;
  std::vector<png_color> Palette;
  /// Palette opacities, or the one transparent colour's samples (grey or R, G, B).
  std::vector<std::uint8_t> PaletteAlpha;
  std::vector<std::uint16_t> TransparentColor;
  std::vector<std::byte> IccProfile;
  std::vector<std::byte> Exif;
  std::string Xmp;
  /// Text entries besides XMP, keyword and text (written as zTXt).
  std::vector<std::pair<std::string, std::string>> Texts;
  int SrgbIntent = -1;
  png_fixed_point Gamma = 0;
  static TPngFile Of(int width, int height, int depth, int colorType, bool interlaced = false) {
    TPngFile file;
    file.Width = width;
    file.Height = height;
    file.Depth = depth;
    file.ColorType = colorType;
    file.Interlaced = interlaced;
    return file;
  }
  int Channels() const {
    switch (ColorType) {
      case PNG_COLOR_TYPE_RGB:
        return 3;
      case PNG_COLOR_TYPE_RGB_ALPHA:
        return 4;
      case PNG_COLOR_TYPE_GRAY_ALPHA:
        return 2;
      default:
        return 1;
    }
  }
  std::uint16_t& At(int x, int y, int c) {
    return Samples[(static_cast<std::size_t>(y) * Width + x) * Channels() + c];
  }
  std::uint16_t At(int x, int y, int c) const {
    return Samples[(static_cast<std::size_t>(y) * Width + x) * Channels() + c];
  }
};

inline void Fail(png_structp, png_const_charp message) { throw std::runtime_error(message); }
inline void Ignore(png_structp, png_const_charp) {}

// A small profile libpng accepts for RGB: a header and one tag, whose bytes
// do not compress (libpng wants some dozens of compressed bytes).
inline std::vector<std::byte> IccProfile() {
  std::vector<std::byte> profile(400);
  const auto put = [&](std::size_t at, std::string_view text) {
    std::memcpy(profile.data() + at, text.data(), text.size());
  };
  const auto put32 = [&](std::size_t at, std::uint32_t v) {
    for (int i = 0; i < 4; ++i) profile[at + i] = static_cast<std::byte>(v >> (24 - 8 * i));
  };
  put32(0, 400);
  put32(128, 1);  // one tag: its data at 144
  put(132, "cprt");
  put32(136, 144);
  put32(140, 256);
  put(144, "text");
  for (std::size_t i = 152; i < 400; ++i)
    profile[i] = static_cast<std::byte>(i * i * 2654435761u >> 13);
  put32(8, 0x02100000);
  put(12, "mntr");
  put(16, "RGB ");
  put(20, "XYZ ");
  put(36, "acsp");
  put32(68, 0x0000F6D6);  // D50
  put32(72, 0x00010000);
  put32(76, 0x0000D32D);
  return profile;
}

inline std::vector<std::byte> WritePng(const TPngFile& file) {
  std::vector<std::byte> out;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Ignore);
  png_infop info = png_create_info_struct(png);
  png_set_write_fn(
      png, &out,
      [](png_structp p, png_bytep data, png_size_t n) {
        auto* bytes = static_cast<std::vector<std::byte>*>(png_get_io_ptr(p));
        bytes->insert(bytes->end(), reinterpret_cast<std::byte*>(data),
                      reinterpret_cast<std::byte*>(data) + n);
      },
      nullptr);
  png_set_IHDR(png, info, file.Width, file.Height, file.Depth, file.ColorType,
               file.Interlaced ? PNG_INTERLACE_ADAM7 : PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (!file.Palette.empty()) {
    png_set_PLTE(png, info, file.Palette.data(), static_cast<int>(file.Palette.size()));
  }
  if (!file.PaletteAlpha.empty()) {
    png_set_tRNS(png, info, file.PaletteAlpha.data(), static_cast<int>(file.PaletteAlpha.size()),
                 nullptr);
  }
  if (!file.TransparentColor.empty()) {
    png_color_16 color{};
    color.gray = file.TransparentColor[0];
    if (file.TransparentColor.size() == 3) {
      color.red = file.TransparentColor[0];
      color.green = file.TransparentColor[1];
      color.blue = file.TransparentColor[2];
    }
    png_set_tRNS(png, info, nullptr, 0, &color);
  }
  if (!file.IccProfile.empty()) {
    png_set_iCCP(png, info, "test", 0, reinterpret_cast<png_const_bytep>(file.IccProfile.data()),
                 static_cast<png_uint_32>(file.IccProfile.size()));
  }
  if (!file.Exif.empty()) {
    png_set_eXIf_1(png, info, static_cast<png_uint_32>(file.Exif.size()),
                   reinterpret_cast<png_bytep>(const_cast<std::byte*>(file.Exif.data())));
  }
  std::string xmp = file.Xmp;
  png_text text{PNG_ITXT_COMPRESSION_NONE,
                const_cast<char*>("XML:com.adobe.xmp"),
                xmp.data(),
                0,
                xmp.size(),
                nullptr,
                nullptr};
  if (!xmp.empty()) png_set_text(png, info, &text, 1);
  std::vector<png_text> others;
  for (const auto& [key, value] : file.Texts) {
    others.push_back({PNG_TEXT_COMPRESSION_zTXt, const_cast<char*>(key.c_str()),
                      const_cast<char*>(value.c_str()), value.size(), 0, nullptr, nullptr});
  }
  if (!others.empty()) png_set_text(png, info, others.data(), static_cast<int>(others.size()));
  if (file.SrgbIntent >= 0) png_set_sRGB(png, info, file.SrgbIntent);
  if (file.Gamma > 0) png_set_gAMA_fixed(png, info, file.Gamma);
  png_write_info(png, info);
  const int channels = file.Channels();
  const std::size_t perRow = static_cast<std::size_t>(file.Width) * channels;
  std::vector<png_byte> row(perRow * 2 + 1);
  std::vector<std::vector<png_byte>> rows;
  for (int y = 0; y < file.Height; ++y) {
    std::fill(row.begin(), row.end(), 0);
    for (std::size_t i = 0; i < perRow; ++i) {
      const std::uint16_t v = file.Samples[y * perRow + i];
      if (file.Depth == 16) {
        row[2 * i] = static_cast<png_byte>(v >> 8);
        row[2 * i + 1] = static_cast<png_byte>(v);
      } else {
        const std::size_t bit = i * file.Depth;
        row[bit / 8] |= static_cast<png_byte>(v << (8 - file.Depth - bit % 8));
      }
    }
    rows.push_back(row);
  }
  std::vector<png_bytep> pointers;
  for (auto& r : rows) pointers.push_back(r.data());
  png_write_image(png, pointers.data());
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return out;
}

inline TPngFile ReadPng(std::span<const std::byte> bytes) {
  TPngFile file;
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, Fail, Ignore);
  png_infop info = png_create_info_struct(png);
  struct TSource {
    std::span<const std::byte> Bytes;
    std::size_t At = 0;
  } source{bytes};
  png_set_read_fn(png, &source, [](png_structp p, png_bytep data, png_size_t n) {
    auto* s = static_cast<TSource*>(png_get_io_ptr(p));
    if (s->At + n > s->Bytes.size()) png_error(p, "short");
    std::memcpy(data, s->Bytes.data() + s->At, n);
    s->At += n;
  });
  png_read_info(png, info);
  file.Width = static_cast<int>(png_get_image_width(png, info));
  file.Height = static_cast<int>(png_get_image_height(png, info));
  file.Depth = png_get_bit_depth(png, info);
  file.ColorType = png_get_color_type(png, info);
  file.Interlaced = png_get_interlace_type(png, info) != PNG_INTERLACE_NONE;
  png_colorp palette = nullptr;
  int count = 0;
  if (png_get_PLTE(png, info, &palette, &count)) file.Palette.assign(palette, palette + count);
  png_bytep alpha = nullptr;
  png_color_16p color = nullptr;
  if (png_get_tRNS(png, info, &alpha, &count, &color)) {
    if (file.ColorType == PNG_COLOR_TYPE_PALETTE) {
      file.PaletteAlpha.assign(alpha, alpha + count);
    } else if (file.ColorType == PNG_COLOR_TYPE_GRAY) {
      file.TransparentColor = {color->gray};
    } else {
      file.TransparentColor = {color->red, color->green, color->blue};
    }
  }
  png_charp name = nullptr;
  int compression = 0;
  png_bytep profile = nullptr;
  png_uint_32 size = 0;
  if (png_get_iCCP(png, info, &name, &compression, &profile, &size)) {
    file.IccProfile.assign(reinterpret_cast<std::byte*>(profile),
                           reinterpret_cast<std::byte*>(profile) + size);
  }
  png_bytep exif = nullptr;
  if (png_get_eXIf_1(png, info, &size, &exif)) {
    file.Exif.assign(reinterpret_cast<std::byte*>(exif), reinterpret_cast<std::byte*>(exif) + size);
  }
  png_textp texts = nullptr;
  const int textCount = png_get_text(png, info, &texts, nullptr);
  for (int i = 0; i < textCount; ++i) {
    if (std::string(texts[i].key) == "XML:com.adobe.xmp") {
      file.Xmp.assign(texts[i].text, texts[i].itxt_length);
    } else {
      const bool international = texts[i].compression >= PNG_ITXT_COMPRESSION_NONE;
      file.Texts.emplace_back(
          texts[i].key,
          std::string(texts[i].text, international ? texts[i].itxt_length : texts[i].text_length));
    }
  }
  png_get_sRGB(png, info, &file.SrgbIntent);
  png_get_gAMA_fixed(png, info, &file.Gamma);
  if (file.Depth < 8) png_set_packing(png);
  png_set_interlace_handling(png);
  png_read_update_info(png, info);
  const std::size_t rowBytes = png_get_rowbytes(png, info);
  std::vector<png_byte> image(rowBytes * file.Height);
  std::vector<png_bytep> pointers;
  for (int y = 0; y < file.Height; ++y) pointers.push_back(image.data() + y * rowBytes);
  png_read_image(png, pointers.data());
  png_read_end(png, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  const std::size_t perRow = static_cast<std::size_t>(file.Width) * file.Channels();
  for (int y = 0; y < file.Height; ++y) {
    for (std::size_t i = 0; i < perRow; ++i) {
      const png_byte* p = pointers[y];
      file.Samples.push_back(
          file.Depth == 16 ? static_cast<std::uint16_t>(p[2 * i] << 8 | p[2 * i + 1]) : p[i]);
    }
  }
  return file;
}

}  // namespace sigilon::test
