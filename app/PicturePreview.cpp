#include "app/PicturePreview.h"

#include <QMouseEvent>
#include <QPaintEvent>
#include <QPainter>
#include <QScreen>
#include <algorithm>
#include <array>
#include <cstdint>
#include <vector>

namespace sigilon {

namespace {

using TScreenPalette = std::array<QRgb, 256>;

// Entries a pixel may index but the file did not give show black, as the
// bitmap's own GetPixel does.
TScreenPalette ScreenPalette(const TBitmap& picture) {
  TScreenPalette palette{};
  palette.fill(qRgb(0, 0, 0));
  const auto& entries = picture.Palette();
  for (std::size_t i = 0; i < std::min(entries.size(), palette.size()); ++i) {
    palette[i] = qRgb(entries[i].Red, entries[i].Green, entries[i].Blue);
  }
  return palette;
}

// Pixels x0 ... x0 + count - 1 of row y as screen colours.
void RowToScreen(const TBitmap& picture, const TScreenPalette& palette, int y, int x0, int count,
                 QRgb* out) {
  const std::uint8_t* row = picture.Row(y).data();
  switch (picture.PixelFormat()) {
    case TPixelFormat::pf24bit: {
      const std::uint8_t* p = row + 3 * static_cast<std::size_t>(x0);
      for (int i = 0; i < count; ++i, p += 3) out[i] = qRgb(p[2], p[1], p[0]);
      return;
    }
    case TPixelFormat::pf8bit:
      for (int i = 0; i < count; ++i) out[i] = palette[row[x0 + i]];
      return;
    case TPixelFormat::pf4bit:
      for (int i = 0; i < count; ++i) {
        const int x = x0 + i;
        out[i] = palette[(row[x / 2] >> (x % 2 == 0 ? 4 : 0)) & 0x0F];
      }
      return;
    case TPixelFormat::pf1bit:
      for (int i = 0; i < count; ++i) {
        const int x = x0 + i;
        out[i] = palette[(row[x / 8] >> (7 - x % 8)) & 1];
      }
      return;
    default:
      // 16 and 32 bits carry channel masks; rare in previews, so the general way.
      for (int i = 0; i < count; ++i) {
        const TRGBQuad c = picture.GetPixel(x0 + i, y);
        out[i] = qRgb(c.Red, c.Green, c.Blue);
      }
      return;
  }
}

}  // namespace

QImage PictureRegion(const TBitmap& picture, const QRect& area) {
  const QRect part = area & QRect(0, 0, picture.Width(), picture.Height());
  if (part.isEmpty()) return QImage();
  QImage image(part.size(), QImage::Format_RGB32);
  if (image.isNull()) return image;
  const TScreenPalette palette = ScreenPalette(picture);
  for (int y = 0; y < part.height(); ++y) {
    RowToScreen(picture, palette, part.y() + y, part.x(), part.width(),
                reinterpret_cast<QRgb*>(image.scanLine(y)));
  }
  return image;
}

QImage FittedPicture(const TBitmap& picture, const QSize& bounds) {
  const QSize own(picture.Width(), picture.Height());
  if (own.isEmpty() || bounds.isEmpty()) return QImage();
  const QSize target = own.scaled(bounds, Qt::KeepAspectRatio).boundedTo(own).expandedTo({1, 1});
  // First an exact box average by a whole factor, reading each row once; the
  // smooth scaling of what is left is then cheap and never sees the full size.
  const int factor =
      std::max(1, std::min(own.width() / target.width(), own.height() / target.height()));
  const int width = own.width() / factor;
  const int height = own.height() / factor;
  QImage reduced(width, height, QImage::Format_RGB32);
  if (reduced.isNull()) return reduced;
  const TScreenPalette palette = ScreenPalette(picture);
  std::vector<QRgb> row(static_cast<std::size_t>(width) * factor);
  std::vector<std::uint32_t> sums(static_cast<std::size_t>(width) * 3);
  const std::uint32_t area = static_cast<std::uint32_t>(factor) * factor;
  for (int oy = 0; oy < height; ++oy) {
    std::fill(sums.begin(), sums.end(), 0u);
    for (int dy = 0; dy < factor; ++dy) {
      RowToScreen(picture, palette, oy * factor + dy, 0, width * factor, row.data());
      for (int x = 0; x < width * factor; ++x) {
        std::uint32_t* sum = &sums[static_cast<std::size_t>(x / factor) * 3];
        sum[0] += qRed(row[static_cast<std::size_t>(x)]);
        sum[1] += qGreen(row[static_cast<std::size_t>(x)]);
        sum[2] += qBlue(row[static_cast<std::size_t>(x)]);
      }
    }
    auto* out = reinterpret_cast<QRgb*>(reduced.scanLine(oy));
    for (int x = 0; x < width; ++x) {
      const std::uint32_t* sum = &sums[static_cast<std::size_t>(x) * 3];
      out[x] = qRgb(static_cast<int>((sum[0] + area / 2) / area),
                    static_cast<int>((sum[1] + area / 2) / area),
                    static_cast<int>((sum[2] + area / 2) / area));
    }
  }
  if (reduced.size() == target) return reduced;
  return reduced.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
}

TPicturePreview::TPicturePreview(QWidget* parent) : QWidget(parent) {
  setAttribute(Qt::WA_OpaquePaintEvent, false);
}

void TPicturePreview::SetPicture(std::shared_ptr<const TBitmap> picture) {
  FPicture = std::move(picture);
  FFitted = QImage();
  FScreenSized = QImage();
  FLargestScreenImage = QSize();
  if (!FFit) resize(sizeHint());
  updateGeometry();
  update();
}

void TPicturePreview::SetFit(bool fit) {
  if (FFit == fit) return;
  FFit = fit;
  FFitted = QImage();
  if (!FFit) resize(sizeHint());
  updateGeometry();
  update();
}

QSize TPicturePreview::sizeHint() const {
  if (FFit || !FPicture) return QSize(0, 0);
  return QSize(FPicture->Width(), FPicture->Height());
}

void TPicturePreview::NoteScreenImage(const QSize& size) {
  FLargestScreenImage = FLargestScreenImage.expandedTo(size);
}

const QImage& TPicturePreview::Fitted() {
  // Made again only for a new picture or a new control size. The picture is
  // read once, into a copy no larger than the screen; resizing the page then
  // scales that copy, not the full picture again.
  if (FFitted.isNull()) {
    if (FScreenSized.isNull()) {
      const QScreen* shown = screen();
      const QSize bounds = shown != nullptr ? shown->size() : QSize(2048, 2048);
      FScreenSized = FittedPicture(*FPicture, bounds);
      NoteScreenImage(FScreenSized.size());
    }
    const QSize target =
        FScreenSized.size().scaled(size(), Qt::KeepAspectRatio).boundedTo(FScreenSized.size());
    FFitted = target == FScreenSized.size() || target.isEmpty()
                  ? FScreenSized
                  : FScreenSized.scaled(target, Qt::IgnoreAspectRatio, Qt::SmoothTransformation);
    NoteScreenImage(FFitted.size());
  }
  return FFitted;
}

QImage TPicturePreview::Region(const QRect& area) const { return PictureRegion(*FPicture, area); }

void TPicturePreview::paintEvent(QPaintEvent* event) {
  if (!FPicture) return;
  QPainter painter(this);
  if (FFit) {
    painter.drawImage(QPoint(0, 0), Fitted());
    return;
  }
  // Only what is exposed is converted: the scroll area shows a window-sized
  // part of a picture that may be far larger than the screen.
  const QRect area = event->rect() & QRect(0, 0, FPicture->Width(), FPicture->Height());
  if (area.isEmpty()) return;
  const QImage part = Region(area);
  NoteScreenImage(part.size());
  painter.drawImage(area.topLeft(), part);
}

void TPicturePreview::mouseDoubleClickEvent(QMouseEvent* event) {
  if (event->button() == Qt::LeftButton) {
    emit DoubleClicked();
    event->accept();
    return;
  }
  QWidget::mouseDoubleClickEvent(event);
}

void TPicturePreview::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  if (FFit) FFitted = QImage();
}

}  // namespace sigilon
