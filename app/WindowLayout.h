#pragma once
/// The main window's layout maths: pure functions over sizes, so that the
/// window only applies what they give.

#include <QRect>

namespace sigilon {

/// Width of the status bar's empty right-hand panel; the message panel takes
/// the window width less 100.
inline constexpr int kStatusPanel1Width = 50;
inline constexpr int kStatusPanel0Margin = 100;
/// During a run panel 1 widens to its progress text; the bar stands beside it.
inline constexpr int kStatusPanelPadding = 8;
inline constexpr int kProgressBarWidth = 120;
/// On a narrow window the bar gives way, down to this width, so that panel 0
/// keeps two fifths of the window for the line it shows.
inline constexpr int kMinProgressBarWidth = 24;

/// `window` moved, and shrunk where it is larger, so that it lies wholly
/// within `available` (a screen's available area).
QRect ClampToScreen(const QRect& window, const QRect& available);

/// The message panel's width in a window `windowWidth` wide.
int StatusPanel0Width(int windowWidth);

/// Panel 1's width for a text of `textWidth` pixels, frame included: never
/// below its idle width.
int StatusPanel1Width(int textWidth);

/// The progress bar's width beside a panel 1 `panel1Width` wide.
int ProgressBarWidth(int windowWidth, int panel1Width);

}  // namespace sigilon
