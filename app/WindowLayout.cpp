#include "app/WindowLayout.h"

#include <algorithm>

namespace sigilon {

QRect ClampToScreen(const QRect& window, const QRect& available) {
  if (available.isEmpty()) return window;
  QRect placed(window.topLeft(), window.size().boundedTo(available.size()));
  placed.moveLeft(
      std::clamp(placed.left(), available.left(), available.right() - placed.width() + 1));
  placed.moveTop(
      std::clamp(placed.top(), available.top(), available.bottom() - placed.height() + 1));
  return placed;
}

int StatusPanel0Width(int windowWidth) { return std::max(0, windowWidth - kStatusPanel0Margin); }

int StatusPanel1Width(int textWidth) {
  return std::max(kStatusPanel1Width, textWidth + kStatusPanelPadding);
}

int ProgressBarWidth(int windowWidth, int panel1Width) {
  // Three fifths of the window for the bar and panel 1, less the gaps
  // between the panels and the size grip (about five paddings).
  const int room = windowWidth * 3 / 5 - panel1Width - 5 * kStatusPanelPadding;
  return std::clamp(room, kMinProgressBarWidth, kProgressBarWidth);
}

}  // namespace sigilon
