// The splash decision at fixed times, the per-user record, and the splash
// window itself (offscreen).

#include <pwd.h>
#include <sys/stat.h>
#include <unistd.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QFile>
#include <QImage>
#include <QtTest>
#include <optional>
#include <utility>
#include <vector>

#include "settings/ConfigurationFile.h"
#include "settings/DateTimeText.h"
#include "platform/Platform.h"
#include "tests/support/WindowTestSupport.h"
#include "windows/SplashScreen.h"

using namespace sigilon;
using namespace sigilon::test;

namespace {

constexpr TDateTime kMinute = 1.0 / (24 * 60);
constexpr TDateTime kHour = 1.0 / 24;
// 1 January 2024, 12:00.
constexpr TDateTime kStart = 45292.5;

// The current user's stored start record, or nothing.
std::optional<std::string> Record() {
  TConfigurationFile store;
  store.Load();
  if (!store.HasValue("FLastSplashScreen")) return std::nullopt;
  return store.ReadValue("FLastSplashScreen");
}

void StoreRecord(const std::string& text) {
  TConfigurationFile store;
  store.Load();
  store.WriteValue("FLastSplashScreen", text);
  QVERIFY(store.Save());
}

// Starts at each time in turn: whether the splash is due, and the record
// renewed to that start every time.
void CheckStarts(const std::vector<std::pair<TDateTime, bool>>& starts) {
  for (const auto& [at, due] : starts) {
    QVERIFY2(SplashScreenDue(at) == due, qPrintable(QString("start at day %1").arg(at - kStart)));
    QCOMPARE(Record().value_or("<none>"), DateTimeToText(at));
  }
}

// Acts as another operating-system user until destroyed (root only).
class ActAsUser {
 public:
  explicit ActAsUser(uid_t uid) : saved_(::geteuid()) { ok_ = ::seteuid(uid) == 0; }
  ~ActAsUser() {
    if (ok_) QVERIFY(::seteuid(saved_) == 0);
  }
  bool Ok() const { return ok_; }

 private:
  uid_t saved_;
  bool ok_ = false;
};

}  // namespace

class SplashTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<ScratchStartDirectory>();
    QVERIFY(dir_->IsValid());
  }
  void cleanup() { dir_.reset(); }

  // Each start renews the record, so only a gap of more than 0.1 day since
  // the previous start (not the last splash) brings the splash back.
  void gapsBetweenStarts() {
    QVERIFY(!Record());
    std::vector<std::pair<TDateTime, bool>> starts{{kStart, true}, {kStart + 10 * kMinute, false}};
    for (int i = 0; i < 6; ++i) starts.push_back({starts.back().first + 2 * kHour, false});
    starts.push_back({starts.back().first + 2 * kHour + 25 * kMinute, true});
    CheckStarts(starts);
  }

  void exactlyATenthOfADayIsNotEnough() {
    // The third start is exactly 0.1 after the second; one second more is enough.
    CheckStarts({{kStart, true},
                 {kStart + 0.1, false},
                 {kStart + 0.2, false},
                 {kStart + 0.3 + 1.0 / 86400, true}});
  }

  // A clock set back leaves a record in the future: no splash, and the record
  // is replaced by the current time so the next start compares against that.
  void recordInTheFuture() {
    StoreRecord(DateTimeToText(kStart + 1));
    CheckStarts({{kStart, false}, {kStart + 0.05, false}, {kStart + 0.05 + 0.11, true}});
  }

  void unreadableRecordCountsAsLongAgo() {
    for (const char* stored : {"garbage", "", "99/99/9999 99:99:99"}) {
      StoreRecord(stored);
      CheckStarts({{kStart, true}, {kStart + kMinute, false}});
    }
  }

  void unreadableFileIsReplaced() {
    QVERIFY(WriteFile(dir_->FilePath("Sigilon.cfg"), "this is not a configuration file\r\n"));
    QVERIFY(SplashScreenDue(kStart));
    TConfigurationFile store;
    QVERIFY(store.Load());
    QCOMPARE(store.ReadValue("FLastSplashScreen"), DateTimeToText(kStart));
  }

  // Another user's start never counts as a start of this user, and each
  // user's save keeps the other's record.
  void twoUsersKeepTheirOwnRecords() {
    if (::geteuid() != 0) QSKIP("acting as a second user needs root");
    const passwd* other = ::getpwnam("nobody");
    if (other == nullptr) QSKIP("no user 'nobody' on this system");
    const uid_t otherUid = other->pw_uid;
    QVERIFY(::chmod(dir_->Path().toLocal8Bit().constData(), 0777) == 0);
    const QByteArray cfg = dir_->FilePath("Sigilon.cfg").toLocal8Bit();
    const auto asOther = [&](TDateTime now) {
      ::chmod(cfg.constData(), 0666);
      ActAsUser user(otherUid);
      if (!user.Ok()) return std::optional<bool>();
      const bool due = SplashScreenDue(now);
      if (Record() != DateTimeToText(now)) return std::optional<bool>();
      return std::optional<bool>(due);
    };

    QVERIFY(SplashScreenDue(kStart));
    QCOMPARE(asOther(kStart + 10 * kMinute), std::optional<bool>(true));
    QVERIFY(!SplashScreenDue(kStart + 20 * kMinute));
    QCOMPARE(Record().value_or("<none>"), DateTimeToText(kStart + 20 * kMinute));
    QCOMPARE(asOther(kStart + 30 * kMinute), std::optional<bool>(false));
    // The other user started an hour ago, this one three hours ago.
    QCOMPARE(asOther(kStart + 2 * kHour + 20 * kMinute), std::optional<bool>(false));
    QVERIFY(SplashScreenDue(kStart + 3 * kHour + 20 * kMinute));
  }

  // The real clock end to end: the first start shows the splash for about a
  // second and releases it; an immediate second start shows nothing.
  void showSplashScreenWithTheRealClock() {
    QElapsedTimer clock;
    clock.start();
    ShowSplashScreen();
    const qint64 shown = clock.elapsed();
    QVERIFY2(shown >= 900 && shown < 5000, qPrintable(QString::number(shown)));
    QCOMPARE(WindowsAlive<TSplash_Form>(), 0);
    const TDateTime first = TextToDateTime(Record().value_or(""));
    QVERIFY(first > 0);

    clock.restart();
    ShowSplashScreen();
    QVERIFY2(clock.elapsed() < 500, qPrintable(QString::number(clock.elapsed())));
    QVERIFY(TextToDateTime(Record().value_or("")) >= first);
  }

  // Black window of 390 x 126 with the picture unscaled at (33, 27).
  void pictureCentredUnscaledOnBlack() {
    TSplash_Form form;
    QVERIFY(form.windowFlags() & Qt::FramelessWindowHint);
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QCOMPARE(form.size(), QSize(390, 126));
    const QImage picture = QImage(":/Splash.bmp").convertToFormat(QImage::Format_RGB32);
    QCOMPARE(picture.size(), QSize(324, 71));
    const QImage shot = form.grab().toImage().convertToFormat(QImage::Format_RGB32);
    QCOMPARE(shot.size(), QSize(390, 126));
    const QRect place(33, 27, 324, 71);
    int wrong = 0;
    for (int y = 0; y < shot.height(); ++y)
      for (int x = 0; x < shot.width(); ++x) {
        const QRgb expected = place.contains(x, y) ? picture.pixel(x - 33, y - 27) : qRgb(0, 0, 0);
        if (shot.pixel(x, y) != expected) ++wrong;
      }
    QCOMPARE(wrong, 0);
  }

  void onlyTheTimerClosesTheWindow() {
    TSplash_Form form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    QTest::keyClick(&form, Qt::Key_Escape);
    QTest::keyClick(&form, Qt::Key_Return);
    QTest::mouseClick(&form, Qt::LeftButton);
    QVERIFY(!form.close());
    QVERIFY(form.isVisible());
    QTRY_VERIFY_WITH_TIMEOUT(!form.isVisible(), 3000);
  }

 private:
  std::unique_ptr<ScratchStartDirectory> dir_;
};

QTEST_MAIN(SplashTest)
#include "SplashTest.moc"
