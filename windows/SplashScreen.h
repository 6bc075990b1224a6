#pragma once
/// The splash screen: a borderless picture shown for about a second at start-up
/// when the current user has not started the program for a while.

#include <QDialog>
#include <QTimer>

#include "settings/DateTimeText.h"
#include "ui_SplashScreen.h"

namespace sigilon {

/// Configuration entry holding the local time of the user's most recent start.
inline constexpr const char* kLastSplashScreenEntry = "FLastSplashScreen";

/// A gap longer than this many days since the previous start brings the splash
/// back (0.1 day = 2 h 24 min).
inline constexpr double kSplashScreenGapDays = 0.1;

/// How long the splash stays on screen, counted from its creation.
inline constexpr int kSplashScreenMilliseconds = 1000;

/// The window: black, 390 x 126, centred on the screen, with the 324 x 71
/// picture at (33, 27), the centre with the odd pixel in the bottom margin.
/// The layout places the picture there itself; centring it in the whole
/// window would leave the odd pixel above.
class TSplash_Form : public QDialog {
  Q_OBJECT

 public:
  explicit TSplash_Form(QWidget* parent = nullptr);

 protected:
  /// Keys do nothing: only the timer closes the splash (Escape included).
  void keyPressEvent(QKeyEvent* event) override;
  /// Close requests from outside (the window manager) are refused likewise.
  void closeEvent(QCloseEvent* event) override;

 private:
  void Close_TimerTimer();

  Ui::TSplash_Form ui_;
  QTimer Close_Timer;
};

/// Records this start and shows the splash modally when it is due. Called once
/// while the main window is created, before the settings are loaded.
void ShowSplashScreen();

/// Decides whether the splash is due for the current user and renews the
/// user's start record, whatever the answer.
bool SplashScreenDue();
/// The same with the clock read by the caller (`now` = the current local
/// date-time), so the decision can be checked at fixed times.
bool SplashScreenDue(TDateTime now);

/// Shows the splash modally until its timer closes it, then releases it.
void DisplaySplashScreen();

}  // namespace sigilon
