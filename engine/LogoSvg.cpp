// SVG logos: librsvg draws the document into a cairo image surface, whose
// premultiplied pixels become straight BGRA.

#include "engine/LogoSvg.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/Errors.h"
#include "platform/Files.h"

#ifdef SIGILON_HAVE_RSVG
#include <cairo.h>
#include <librsvg/rsvg.h>
#endif

namespace sigilon {

// A logo file is small; a bigger one is not a logo.
constexpr std::uint64_t kMaxSvgBytes = std::uint64_t{64} << 20;

#ifdef SIGILON_HAVE_RSVG

bool SvgSupported() { return true; }

TBitmap RasterizeSvg(const std::string& path, int height) {
  const std::vector<std::byte> bytes = ReadWholeFile(path, kMaxSvgBytes);
  GError* error = nullptr;
  std::unique_ptr<RsvgHandle, decltype(&g_object_unref)> handle(
      rsvg_handle_new_from_data(reinterpret_cast<const guint8*>(bytes.data()), bytes.size(),
                                &error),
      &g_object_unref);
  if (!handle) {
    const std::string reason = error ? error->message : "not an SVG document";
    if (error) g_error_free(error);
    throw ImageError(path + ": " + reason);
  }
  gdouble w = 0, h = 0;
  if (!rsvg_handle_get_intrinsic_size_in_pixels(handle.get(), &w, &h) || w <= 0 || h <= 0) {
    // No size of its own: its view box gives the proportions.
    gboolean hasViewBox = FALSE;
    RsvgRectangle viewBox{};
    rsvg_handle_get_intrinsic_dimensions(handle.get(), nullptr, nullptr, nullptr, nullptr,
                                         &hasViewBox, &viewBox);
    if (!hasViewBox || viewBox.width <= 0 || viewBox.height <= 0) {
      throw ImageError(path + ": the SVG document has neither a size nor a view box");
    }
    w = viewBox.width;
    h = viewBox.height;
  }
  const int width = std::clamp(static_cast<int>(std::lround(height * w / h)), 1, 16 * height);
  std::unique_ptr<cairo_surface_t, decltype(&cairo_surface_destroy)> surface(
      cairo_image_surface_create(CAIRO_FORMAT_ARGB32, width, height), &cairo_surface_destroy);
  if (cairo_surface_status(surface.get()) != CAIRO_STATUS_SUCCESS) {
    throw ImageError(path + ": no room to draw the SVG logo");
  }
  std::unique_ptr<cairo_t, decltype(&cairo_destroy)> cr(cairo_create(surface.get()),
                                                        &cairo_destroy);
  const RsvgRectangle viewport{0, 0, static_cast<double>(width), static_cast<double>(height)};
  if (!rsvg_handle_render_document(handle.get(), cr.get(), &viewport, &error)) {
    const std::string reason = error ? error->message : "cannot be drawn";
    if (error) g_error_free(error);
    throw ImageError(path + ": " + reason);
  }
  cairo_surface_flush(surface.get());
  // Cairo's ARGB32 is a native-endian word: B, G, R, A bytes on this
  // little-endian machine, premultiplied.
  TBitmap out(width, height, TPixelFormat::pfBGRA32);
  const unsigned char* data = cairo_image_surface_get_data(surface.get());
  const int stride = cairo_image_surface_get_stride(surface.get());
  for (int y = 0; y < height; ++y) {
    std::uint8_t* to = out.Row(y).data();
    for (int x = 0; x < width; ++x) {
      std::uint32_t word;
      std::memcpy(&word, data + static_cast<std::size_t>(y) * stride + 4 * x, 4);
      const unsigned a = word >> 24;
      const unsigned channels[3] = {word & 0xFF, (word >> 8) & 0xFF, (word >> 16) & 0xFF};
      for (int c = 0; c < 3; ++c) {
        to[4 * x + c] =
            a == 0 ? 0 : static_cast<std::uint8_t>(std::min(255u, (channels[c] * 255 + a / 2) / a));
      }
      to[4 * x + 3] = static_cast<std::uint8_t>(a);
    }
  }
  return out;
}

#else

bool SvgSupported() { return false; }

TBitmap RasterizeSvg(const std::string& path, int /*height*/) {
  throw ImageError(path + ": this build reads no SVG logos (it was made without librsvg)");
}

#endif

}  // namespace sigilon
