#pragma once
/// The picture control of the Image page: shows a stamped picture either at
/// its own size from the top-left corner (inside a scroll area) or scaled
/// down to fit. It paints from the picture's own pixels: only the visible part
/// is converted for the screen, and the fitted view is a screen-sized copy, so
/// even a 256-megapixel preview needs no second full-size image.

#include <QImage>
#include <QWidget>
#include <memory>

#include "engine/Bitmap.h"

namespace sigilon {

class TPicturePreview : public QWidget {
  Q_OBJECT

 public:
  explicit TPicturePreview(QWidget* parent = nullptr);

  /// Shows `picture` (nullptr: nothing); the control keeps it alive.
  void SetPicture(std::shared_ptr<const TBitmap> picture);
  const TBitmap* Picture() const { return FPicture.get(); }

  /// Scaled down to the control's size (true) or at its own size (false).
  void SetFit(bool fit);
  bool Fit() const { return FFit; }

  /// Size of the largest image converted for the screen since the picture
  /// was set: the visible part, or the fitted copies.
  QSize LargestScreenImage() const { return FLargestScreenImage; }

  QSize sizeHint() const override;

 signals:
  void DoubleClicked();

 protected:
  void paintEvent(QPaintEvent* event) override;
  void mouseDoubleClickEvent(QMouseEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QImage Region(const QRect& area) const;
  const QImage& Fitted();
  void NoteScreenImage(const QSize& size);

  std::shared_ptr<const TBitmap> FPicture;
  bool FFit = false;
  QImage FScreenSized;  // the whole picture at most screen-sized
  QImage FFitted;       // cached for the current picture and control size
  QSize FLargestScreenImage;
};

/// Part of a picture as a 32-bit screen image (any pixel format).
QImage PictureRegion(const TBitmap& picture, const QRect& area);

/// The whole picture scaled smoothly to fit `bounds` keeping its aspect,
/// never enlarged; reads the picture once, row by row.
QImage FittedPicture(const TBitmap& picture, const QSize& bounds);

}  // namespace sigilon
