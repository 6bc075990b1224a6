#include "windows/SplashScreen.h"

#include <QCloseEvent>
#include <QKeyEvent>
#include <cmath>

#include "settings/ConfigurationFile.h"
#include "windows/Dialogs.h"

namespace sigilon {

TSplash_Form::TSplash_Form(QWidget* parent) : QDialog(parent) {
  ui_.setupUi(this);
  // A picture window only: no title bar, no border, no border icons.
  setWindowFlags(Qt::SplashScreen | Qt::FramelessWindowHint);
  CentreOnScreen(*this);
  // The second counts from creation, so the timer starts here, not at show.
  Close_Timer.setInterval(kSplashScreenMilliseconds);
  connect(&Close_Timer, &QTimer::timeout, this, &TSplash_Form::Close_TimerTimer);
  Close_Timer.start();
}

void TSplash_Form::keyPressEvent(QKeyEvent* event) { event->accept(); }

void TSplash_Form::closeEvent(QCloseEvent* event) { event->ignore(); }

void TSplash_Form::Close_TimerTimer() {
  Close_Timer.stop();
  done(QDialog::Rejected);
}

bool SplashScreenDue(TDateTime now) {
  TConfigurationFile store;
  // A missing or unreadable file simply leaves no record: the splash is due.
  store.Load();
  bool due = true;
  if (store.HasValue(kLastSplashScreenEntry)) {
    // An unreadable record reads as the zero date, far in the past; a record
    // in the future (clock set back) gives a negative gap and no splash.
    const TDateTime last = TextToDateTime(store.ReadValue(kLastSplashScreenEntry));
    // Compared in whole milliseconds: day fractions are not exact in binary,
    // and a gap of exactly 0.1 day must not count as more than 0.1 day.
    const double millisecondsPerDay = 24.0 * 60 * 60 * 1000;
    due = std::round((now - last) * millisecondsPerDay) >
          std::round(kSplashScreenGapDays * millisecondsPerDay);
  }
  // Renewed at every start, so frequent restarts keep the splash away.
  store.WriteValue(kLastSplashScreenEntry, DateTimeToText(now));
  // A failed save is not the user's concern: the next start decides from
  // whatever the file held before.
  store.Save();
  return due;
}

bool SplashScreenDue() { return SplashScreenDue(Now()); }

void DisplaySplashScreen() {
  TSplash_Form form;
  form.exec();
}

void ShowSplashScreen() {
  if (SplashScreenDue()) DisplaySplashScreen();
}

}  // namespace sigilon
