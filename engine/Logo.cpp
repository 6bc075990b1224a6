// The logo of a mark: read once, then scaled, turned and laid over each
// picture pixel by pixel.

#include "engine/Logo.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

#include "engine/CanvasPaint.h"
#include "engine/CanvasShadow.h"
#include "engine/Errors.h"
#include "engine/LogoSvg.h"
#include "engine/formats/PngFormat.h"
#include "platform/PathText.h"

namespace sigilon {

namespace {

// The sample of a deep format's channel `c` at pixel `x`, as 8 bits.
std::uint8_t Sample8(const std::uint8_t* row, const TSampleLayout& layout, int x, int c) {
  const std::uint8_t* p = row + (static_cast<std::size_t>(x) * layout.Channels + c) *
                                    static_cast<std::size_t>(layout.SampleBytes);
  if (layout.SampleBytes == 1) return p[0];
  std::uint16_t v;
  std::memcpy(&v, p, 2);
  return static_cast<std::uint8_t>((v * 255u + 32767) / 65535);
}

// Any decoded picture as straight BGRA: its colours, and its alpha where it
// has one (a palette's transparency table, a deep format's alpha sample).
TBitmap StraightBgra(const TBitmap& picture) {
  if (picture.PixelFormat() == TPixelFormat::pfBGRA32) return picture;
  TBitmap out(picture.Width(), picture.Height(), TPixelFormat::pfBGRA32);
  const TSampleLayout layout = SampleLayout(picture.PixelFormat());
  const bool palette = IsPaletteFormat(picture.PixelFormat());
  for (int y = 0; y < picture.Height(); ++y) {
    const std::uint8_t* from = picture.Row(y).data();
    std::uint8_t* to = out.Row(y).data();
    for (int x = 0; x < picture.Width(); ++x) {
      const TRGBQuad colour = picture.GetPixel(x, y);
      std::uint8_t alpha = 255;
      if (layout.Alpha) {
        alpha = Sample8(from, layout, x, layout.Channels - 1);
      } else if (palette && picture.PaletteAlpha) {
        const int bits = picture.BitsPerPixel();
        const int index = (from[x * bits / 8] >> (8 - bits - (x * bits) % 8)) & ((1 << bits) - 1);
        if (static_cast<std::size_t>(index) < picture.Palette().size()) {
          alpha = picture.Palette()[static_cast<std::size_t>(index)].Reserved;
        }
      }
      to[4 * x] = colour.Blue;
      to[4 * x + 1] = colour.Green;
      to[4 * x + 2] = colour.Red;
      to[4 * x + 3] = alpha;
    }
  }
  return out;
}

// The taps of one output sample along a line: area weights when shrinking,
// the two nearest samples when enlarging.
struct TTaps {
  int First = 0;
  std::vector<float> Weights;
};

std::vector<TTaps> LineTaps(int from, int to) {
  std::vector<TTaps> taps(static_cast<std::size_t>(to));
  const double scale = static_cast<double>(from) / to;
  for (int i = 0; i < to; ++i) {
    TTaps& t = taps[static_cast<std::size_t>(i)];
    if (scale > 1.0) {
      const double start = i * scale;
      const double end = start + scale;
      t.First = static_cast<int>(std::floor(start));
      for (int s = t.First; s < from && s < end; ++s) {
        const double overlap = std::min<double>(end, s + 1) - std::max<double>(start, s);
        t.Weights.push_back(static_cast<float>(overlap / scale));
      }
    } else {
      const double centre = std::clamp((i + 0.5) * scale - 0.5, 0.0, from - 1.0);
      t.First = std::min(static_cast<int>(centre), from - 1);
      const double f = centre - t.First;
      t.Weights = {static_cast<float>(1.0 - f)};
      if (t.First + 1 < from) t.Weights.push_back(static_cast<float>(f));
    }
  }
  return taps;
}

std::uint8_t ToByte(float v) {
  return static_cast<std::uint8_t>(std::clamp(v + 0.5f, 0.0f, 255.0f));
}

}  // namespace

bool SvgLogosSupported() { return SvgSupported(); }

std::shared_ptr<const TBitmap> LoadLogo(const std::string& path) {
  const bool svg = path.size() > 4 && AsciiUpper(path.substr(path.size() - 4)) == ".SVG";
  TBitmap picture =
      svg ? RasterizeSvg(path, kSvgLogoHeight) : PngFormat().ReadWhole({.Path = path}).Picture;
  if (picture.Empty()) throw ImageError(path + ": the logo has no pixels");
  return std::make_shared<const TBitmap>(StraightBgra(picture));
}

std::shared_ptr<const TBitmap> TLogoCache::Logo(const std::string& path) {
  if (!logo_ || path != path_) {
    logo_.reset();
    logo_ = LoadLogo(path);
    path_ = path;
  }
  return logo_;
}

std::vector<std::uint8_t> ResampleLogo(const TBitmap& logo, int width, int height) {
  const int w0 = logo.Width();
  const int h0 = logo.Height();
  // Premultiplied, so that the colour of transparent pixels never bleeds in.
  std::vector<float> source(static_cast<std::size_t>(w0) * h0 * 4);
  for (int y = 0; y < h0; ++y) {
    const std::uint8_t* row = logo.Row(y).data();
    for (int x = 0; x < w0; ++x) {
      float* p = &source[(static_cast<std::size_t>(y) * w0 + x) * 4];
      const float a = row[4 * x + 3] / 255.0f;
      for (int c = 0; c < 3; ++c) p[c] = row[4 * x + c] * a;
      p[3] = row[4 * x + 3];
    }
  }
  const std::vector<TTaps> across = LineTaps(w0, width);
  const std::vector<TTaps> down = LineTaps(h0, height);
  std::vector<float> rows(static_cast<std::size_t>(width) * h0 * 4, 0.0f);
  for (int y = 0; y < h0; ++y) {
    for (int x = 0; x < width; ++x) {
      const TTaps& t = across[static_cast<std::size_t>(x)];
      float* out = &rows[(static_cast<std::size_t>(y) * width + x) * 4];
      for (std::size_t k = 0; k < t.Weights.size(); ++k) {
        const float* in = &source[(static_cast<std::size_t>(y) * w0 + t.First + k) * 4];
        for (int c = 0; c < 4; ++c) out[c] += in[c] * t.Weights[k];
      }
    }
  }
  std::vector<std::uint8_t> out(static_cast<std::size_t>(width) * height * 4);
  for (int y = 0; y < height; ++y) {
    const TTaps& t = down[static_cast<std::size_t>(y)];
    for (int x = 0; x < width; ++x) {
      float sum[4] = {0, 0, 0, 0};
      for (std::size_t k = 0; k < t.Weights.size(); ++k) {
        const float* in = &rows[((t.First + k) * width + x) * 4];
        for (int c = 0; c < 4; ++c) sum[c] += in[c] * t.Weights[k];
      }
      std::uint8_t* p = &out[(static_cast<std::size_t>(y) * width + x) * 4];
      p[3] = ToByte(sum[3]);
      for (int c = 0; c < 3; ++c) p[c] = std::min(p[3], ToByte(sum[c]));
    }
  }
  return out;
}

std::shared_ptr<const TBitmap> ReducedLogo(const TBitmap& logo, double reduction) {
  const int height = std::max(1, static_cast<int>(std::lround(logo.Height() / reduction)));
  const int width = LogoWidth(logo, height);
  const std::vector<std::uint8_t> scaled = ResampleLogo(logo, width, height);
  auto out = std::make_shared<TBitmap>(width, height, TPixelFormat::pfBGRA32);
  for (int y = 0; y < height; ++y) {
    const std::uint8_t* from = &scaled[static_cast<std::size_t>(y) * width * 4];
    std::uint8_t* to = out->Row(y).data();
    for (int i = 0; i < 4 * width; i += 4) {
      const unsigned a = from[i + 3];
      for (int c = 0; c < 3; ++c) {
        to[i + c] =
            a == 0 ? 0 : static_cast<std::uint8_t>(std::min(255u, (from[i + c] * 255 + a / 2) / a));
      }
      to[i + 3] = static_cast<std::uint8_t>(a);
    }
  }
  return out;
}

int LogoWidth(const TBitmap& logo, int height) {
  return std::max(1, static_cast<int>(std::lround(static_cast<double>(height) * logo.Width() /
                                                  std::max(1, logo.Height()))));
}

TLogoImage::TLogoImage(const TBitmap& logo, int height, double angle, TPixelPoint corner,
                       int opacity, bool shadow) {
  height = std::max(1, height);
  width_ = LogoWidth(logo, height);
  const std::vector<std::uint8_t> scaled = ResampleLogo(logo, width_, height);
  const double radians = angle * std::numbers::pi / 180.0;
  const double c = std::cos(radians);
  const double s = std::sin(radians);
  // The turned rectangle's reach about the corner (x = u c + v s, y = v c - u s).
  double left = 0, top = 0, right = 0, bottom = 0;
  for (const auto& [u, v] : {std::pair<double, double>{double(width_), 0.0},
                             {0.0, double(height)},
                             {double(width_), double(height)}}) {
    left = std::min(left, u * c + v * s);
    right = std::max(right, u * c + v * s);
    top = std::min(top, v * c - u * s);
    bottom = std::max(bottom, v * c - u * s);
  }
  const bool upright = std::abs(angle) < 1e-9;
  const TRect local =
      upright ? TRect{0, 0, width_, height}
              : TRect{static_cast<int>(std::floor(left)), static_cast<int>(std::floor(top)),
                      static_cast<int>(std::ceil(right)), static_cast<int>(std::ceil(bottom))};
  const int bw = local.Right - local.Left;
  const int bh = local.Bottom - local.Top;
  pixels_.assign(static_cast<std::size_t>(bw) * bh * 4, 0);
  const unsigned strength = static_cast<unsigned>(std::clamp(opacity, 1, 100) * 255 + 50) / 100;
  const auto at = [&](int x, int y, int ch) -> float {
    if (x < 0 || y < 0 || x >= width_ || y >= height) return 0.0f;
    return scaled[(static_cast<std::size_t>(y) * width_ + x) * 4 + ch];
  };
  for (int y = 0; y < bh; ++y) {
    for (int x = 0; x < bw; ++x) {
      std::uint8_t* p = &pixels_[(static_cast<std::size_t>(y) * bw + x) * 4];
      if (upright) {
        for (int ch = 0; ch < 4; ++ch)
          p[ch] = scaled[(static_cast<std::size_t>(y) * width_ + x) * 4 + ch];
      } else {
        // The pixel's centre turned back onto the logo, sampled bilinearly.
        const double px = local.Left + x + 0.5;
        const double py = local.Top + y + 0.5;
        const double u = px * c - py * s - 0.5;
        const double v = px * s + py * c - 0.5;
        const int u0 = static_cast<int>(std::floor(u));
        const int v0 = static_cast<int>(std::floor(v));
        const auto fu = static_cast<float>(u - u0);
        const auto fv = static_cast<float>(v - v0);
        for (int ch = 0; ch < 4; ++ch) {
          const float top0 = at(u0, v0, ch) * (1 - fu) + at(u0 + 1, v0, ch) * fu;
          const float bottom0 = at(u0, v0 + 1, ch) * (1 - fu) + at(u0 + 1, v0 + 1, ch) * fu;
          p[ch] = ToByte(top0 * (1 - fv) + bottom0 * fv);
        }
      }
      for (int ch = 0; ch < 4; ++ch)
        p[ch] = static_cast<std::uint8_t>((p[ch] * strength + 127) / 255);
    }
  }
  const auto cx = static_cast<int>(corner.X);
  const auto cy = static_cast<int>(corner.Y);
  bounds_ = {local.Left + cx, local.Top + cy, local.Right + cx, local.Bottom + cy};
  reach_ = bounds_;
  if (!shadow) return;
  const drawing::ShadowGeometry geometry = drawing::ShadowFor(static_cast<FT_Pos>(height) * 64);
  shadowBounds_ = {
      bounds_.Left + geometry.Dx - geometry.Reach, bounds_.Top + geometry.Dy - geometry.Reach,
      bounds_.Right + geometry.Dx + geometry.Reach, bounds_.Bottom + geometry.Dy + geometry.Reach};
  const TRect source = drawing::ShadowSource(shadowBounds_, geometry);
  const int sw = source.Right - source.Left;
  std::vector<std::uint8_t> coverage(static_cast<std::size_t>(sw) * (source.Bottom - source.Top),
                                     0);
  for (int y = 0; y < bh; ++y) {
    for (int x = 0; x < bw; ++x) {
      const auto i = static_cast<std::size_t>(bounds_.Top + y - source.Top) * sw +
                     (bounds_.Left + x - source.Left);
      coverage[i] = pixels_[(static_cast<std::size_t>(y) * bw + x) * 4 + 3];
    }
  }
  shadow_ = drawing::ShadowOfCoverage(coverage, shadowBounds_, geometry);
  reach_ = {std::min(bounds_.Left, shadowBounds_.Left), std::min(bounds_.Top, shadowBounds_.Top),
            std::max(bounds_.Right, shadowBounds_.Right),
            std::max(bounds_.Bottom, shadowBounds_.Bottom)};
}

void TLogoImage::Paint(TBitmap& target, int targetTop, std::int64_t firstRow, std::int64_t endRow,
                       std::int64_t x, std::int64_t y) const {
  const std::int64_t width = target.Width();
  const auto rowsOf = [&](const TRect& box) {
    return std::pair{std::max<std::int64_t>({firstRow, y + box.Top, targetTop}),
                     std::min<std::int64_t>(
                         {endRow, y + box.Bottom, std::int64_t{targetTop} + target.Height()})};
  };
  if (!shadow_.empty()) {
    drawing::ShadowPainter painter(target, 255);
    const int sw = shadowBounds_.Right - shadowBounds_.Left;
    const std::int64_t left = std::max<std::int64_t>(0, x + shadowBounds_.Left);
    const std::int64_t right = std::min<std::int64_t>(width, x + shadowBounds_.Right);
    const auto [from, to] = rowsOf(shadowBounds_);
    for (std::int64_t row = from; row < to && left < right; ++row) {
      const std::uint8_t* cover =
          &shadow_[static_cast<std::size_t>(row - y - shadowBounds_.Top) * sw +
                   (left - x - shadowBounds_.Left)];
      painter.SetRow(cover);
      painter.Load(0, static_cast<int>(right - left));
      painter.PaintRow(static_cast<int>(row - targetTop), static_cast<int>(left), 0,
                       static_cast<int>(right - left));
    }
  }
  const int bw = bounds_.Right - bounds_.Left;
  const std::int64_t left = std::max<std::int64_t>(0, x + bounds_.Left);
  const std::int64_t right = std::min<std::int64_t>(width, x + bounds_.Right);
  const auto [from, to] = rowsOf(bounds_);
  const TPixelFormat format = target.PixelFormat();
  const bool plain = format == TPixelFormat::pf24bit ||
                     (format == TPixelFormat::pf32bit && !target.HasCustomMasks());
  const int bytes = format == TPixelFormat::pf24bit ? 3 : 4;
  for (std::int64_t row = from; row < to && left < right; ++row) {
    const std::uint8_t* logo = &pixels_[(static_cast<std::size_t>(row - y - bounds_.Top) * bw +
                                         (left - x - bounds_.Left)) *
                                        4];
    const int ty = static_cast<int>(row - targetTop);
    std::uint8_t* p = target.Row(ty).data() + static_cast<std::size_t>(left) * bytes;
    for (std::int64_t px = left; px < right; ++px, logo += 4, p += bytes) {
      const unsigned a = logo[3];
      if (a == 0) continue;
      if (plain) {
        // Premultiplied "over": the logo's colour plus what its alpha leaves.
        for (int ch = 0; ch < 3; ++ch)
          p[ch] = static_cast<std::uint8_t>(logo[ch] + (p[ch] * (255 - a) + 127) / 255);
        continue;
      }
      // Other formats blend one colour at a time the way the text does.
      const auto straight = [&](int ch) {
        return static_cast<std::uint8_t>(std::min(255u, (logo[ch] * 255 + a / 2) / a));
      };
      const std::uint8_t cover = static_cast<std::uint8_t>(a);
      drawing::Painter(target, TRGBQuad{straight(0), straight(1), straight(2), 0})
          .PaintRow(ty, static_cast<int>(px), &cover, 1);
    }
  }
}

}  // namespace sigilon
