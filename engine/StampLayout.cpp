#include "engine/StampLayout.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <numbers>

namespace sigilon {

namespace {

std::int64_t FloorDiv(std::int64_t a, std::int64_t b) {
  const std::int64_t q = a / b;
  return (a % b != 0 && (a < 0) != (b < 0)) ? q - 1 : q;
}

std::int64_t CeilDiv(std::int64_t a, std::int64_t b) { return -FloorDiv(-a, b); }

struct TSpan {
  std::int64_t First;
  std::int64_t Last;  // included
};

// The whole k with low <= k * step + offset <= high.
TSpan Solve(std::int64_t low, std::int64_t high, std::int64_t step, std::int64_t offset) {
  constexpr std::int64_t kAll = std::numeric_limits<std::int32_t>::max();
  if (step == 0) return offset >= low && offset <= high ? TSpan{-kAll, kAll} : TSpan{1, 0};
  if (step < 0) return Solve(-high, -low, -step, -offset);
  return {CeilDiv(low - offset, step), FloorDiv(high - offset, step)};
}

}  // namespace

TStampLattice TileLattice(std::int64_t width, std::int64_t height, double angle, double spacing) {
  // The 45-degree pattern turned by the difference, counter-clockwise as seen.
  const double turn = (angle - 45.0) * std::numbers::pi / 180.0;
  const double c = std::cos(turn);
  const double s = std::sin(turn);
  const double a = static_cast<double>(width) * spacing;
  const double b = 2.0 * static_cast<double>(height) * spacing;
  TStampLattice lattice{{std::llround(a * c), std::llround(-a * s)},
                        {std::llround(b * s), std::llround(b * c)}};
  if (lattice.A.X * lattice.B.Y - lattice.B.X * lattice.A.Y == 0) {
    // A text of a pixel or two: the unturned pattern at least advances.
    lattice = {{std::max<std::int64_t>(1, std::llround(a)), 0},
               {0, std::max<std::int64_t>(1, std::llround(b))}};
  }
  return lattice;
}

void ForEachCopy(const TStampLattice& lattice, const TRect& box, std::int64_t left,
                 std::int64_t top, std::int64_t right, std::int64_t bottom,
                 const std::function<void(std::int64_t, std::int64_t)>& copy) {
  // The reference points whose box reaches into the area.
  const std::int64_t xLow = left - box.Right + 1;
  const std::int64_t xHigh = right - box.Left - 1;
  const std::int64_t yLow = top - box.Bottom + 1;
  const std::int64_t yHigh = bottom - box.Top - 1;
  if (xLow > xHigh || yLow > yHigh) return;
  const TPixelPoint a = lattice.A;
  const TPixelPoint b = lattice.B;
  const double det = static_cast<double>(a.X) * static_cast<double>(b.Y) -
                     static_cast<double>(b.X) * static_cast<double>(a.Y);
  // The rows of copies J that can reach the area: J at its corners.
  double jMin = std::numeric_limits<double>::max();
  double jMax = std::numeric_limits<double>::lowest();
  for (const std::int64_t x : {xLow, xHigh}) {
    for (const std::int64_t y : {yLow, yHigh}) {
      const double j = (static_cast<double>(a.X) * static_cast<double>(y) -
                        static_cast<double>(a.Y) * static_cast<double>(x)) /
                       det;
      jMin = std::min(jMin, j);
      jMax = std::max(jMax, j);
    }
  }
  const auto jFirst = static_cast<std::int64_t>(std::floor(jMin));
  const auto jLast = static_cast<std::int64_t>(std::ceil(jMax));
  for (std::int64_t j = jFirst; j <= jLast; ++j) {
    const TSpan byX = Solve(xLow, xHigh, a.X, j * b.X);
    const TSpan byY = Solve(yLow, yHigh, a.Y, j * b.Y);
    const std::int64_t first = std::max(byX.First, byY.First);
    const std::int64_t last = std::min(byX.Last, byY.Last);
    for (std::int64_t i = first; i <= last; ++i) copy(i * a.X + j * b.X, i * a.Y + j * b.Y);
  }
}

TPixelPoint AnchorPoint(TMarkAnchor anchor, double margin, const TRect& box, int width,
                        int height) {
  const auto gap = static_cast<std::int64_t>(
      std::llround(std::clamp(margin, kMinMargin, kMaxMargin) / 100.0 * std::min(width, height)));
  // -1 at the left or top edge, 0 in the middle, 1 at the right or bottom.
  const auto place = [&](int side, std::int64_t length, int low, int high) -> std::int64_t {
    if (side < 0) return gap - low;
    if (side > 0) return length - gap - high;
    return FloorDiv(length - (high - low), 2) - low;
  };
  const int index = static_cast<int>(anchor);
  const int column = index % 3 - 1;
  const int row = index / 3 - 1;
  return {place(column, width, box.Left, box.Right), place(row, height, box.Top, box.Bottom)};
}

}  // namespace sigilon
