// The manual viewer: "Manual.html" looked up in the start directory at every
// call, the message when it is missing, and no viewer left behind.

#include <QApplication>
#include <QDir>
#include <QFile>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

#include "settings/PlatformDependence_Unit.h"
#include "tests/windows/WindowTestSupport.h"
#include "windows/ManualReader_Unit.h"

using namespace sigilon;

namespace {

void WriteManual(const QString& path, const QByteArray& html) {
  QFile file(path);
  QVERIFY(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
  file.write(html);
}

int ViewersAlive() {
  QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  int count = 0;
  for (QWidget* w : QApplication::allWidgets())
    if (qobject_cast<TManualReader_Form*>(w)) ++count;
  return count;
}

// Runs ShowManual, closing a viewer as soon as it is shown; the text the
// viewer showed, or nothing when no viewer came up.
std::optional<QString> ShowManualAndClose() {
  std::optional<QString> shown;
  // A timer of this call only: when no viewer comes up it must not fire later.
  QTimer closer;
  closer.setSingleShot(true);
  QObject::connect(&closer, &QTimer::timeout, [&] {
    if (auto* viewer = qobject_cast<TManualReader_Form*>(QApplication::activeModalWidget())) {
      shown = viewer->Form().Manual_TextBrowser->toPlainText();
      viewer->Form().Close_Button->click();
    }
  });
  closer.start(0);
  ShowManual();
  return shown;
}

}  // namespace

class ManualReaderTest : public QObject {
  Q_OBJECT

 private slots:
  void init() {
    dir_ = std::make_unique<ScratchStartDirectory>();
    QVERIFY(dir_->IsValid());
  }
  void cleanup() { dir_.reset(); }

  void missingManualIsReportedAtEveryCall() {
    FakeDialogs dialogs;
    QVERIFY(!ShowManualAndClose());
    QVERIFY(!ShowManualAndClose());
    QCOMPARE(dialogs.messages, QStringList({"The manual is missing!", "The manual is missing!"}));
    QCOMPARE(ViewersAlive(), 0);
  }

  void presentManualIsShown() {
    WriteManual(dir_->FilePath("Manual.html"), "<html><body><h1>Hello manual</h1></body></html>");
    TManualReader_Form viewer;
    QVERIFY(viewer.ManualExists());
    QCOMPARE(viewer.windowTitle(), QString("Manual"));
    QVERIFY(viewer.Form().Manual_TextBrowser->toPlainText().contains("Hello manual"));
    QVERIFY(!viewer.Form().Close_Button->isDefault());
    viewer.show();
    QVERIFY(QTest::qWaitForWindowActive(&viewer));
    QCOMPARE(viewer.size(), QSize(696, 480));
    QCOMPARE(QApplication::focusWidget(), viewer.Form().Close_Button);
    // Resizable, and the browser takes the room above the button panel.
    viewer.resize(800, 600);
    QTRY_COMPARE(viewer.Form().Manual_TextBrowser->height(), 600 - 41);
    QCOMPARE(viewer.Form().Manual_TextBrowser->width(), 800);
    // Close is not the default button: Enter elsewhere leaves the viewer open.
    viewer.Form().Manual_TextBrowser->setFocus();
    QTest::keyClick(viewer.Form().Manual_TextBrowser, Qt::Key_Return);
    QVERIFY(viewer.isVisible());
    QTest::mouseClick(viewer.Form().Close_Button, Qt::LeftButton);
    QVERIFY(!viewer.isVisible());
  }

  void manualAddedWhileRunningIsFoundNextTime() {
    FakeDialogs dialogs;
    QVERIFY(!ShowManualAndClose());
    WriteManual(dir_->FilePath("Manual.html"), "<p>Added later</p>");
    const auto shown = ShowManualAndClose();
    QVERIFY(shown.has_value());
    QVERIFY(shown->contains("Added later"));
    QCOMPARE(dialogs.messages.size(), 1);
    // A fresh viewer each call: a changed manual shows its new text.
    WriteManual(dir_->FilePath("Manual.html"), "<p>Changed</p>");
    QVERIFY(ShowManualAndClose().value_or("").contains("Changed"));
    QCOMPARE(ViewersAlive(), 0);
  }

  void onlyTheStartDirectoryCounts() {
    FakeDialogs dialogs;
    // A manual in another directory (beside the executable, say) is not found.
    QTemporaryDir elsewhere;
    WriteManual(elsewhere.filePath("Manual.html"), "<p>Elsewhere</p>");
    QVERIFY(!ShowManualAndClose());
    // Nor is a directory of that name.
    QVERIFY(QDir(dir_->Path()).mkdir("Manual.html"));
    QVERIFY(!ShowManualAndClose());
    QCOMPARE(dialogs.messages.size(), 2);
  }

  void unreadableManualCountsAsMissing() {
    if (::geteuid() == 0) QSKIP("root reads every file");
    const QString path = dir_->FilePath("Manual.html");
    WriteManual(path, "<p>Secret</p>");
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    FakeDialogs dialogs;
    QVERIFY(!ShowManualAndClose());
    QCOMPARE(dialogs.messages, QStringList({"The manual is missing!"}));
  }

  // The browser renders whatever the file holds; broken HTML is not missing.
  void invalidHtmlIsStillShown() {
    WriteManual(dir_->FilePath("Manual.html"), "<p>unclosed <b>bold <table><tr>");
    FakeDialogs dialogs;
    QVERIFY(ShowManualAndClose().value_or("").contains("unclosed"));
    QVERIFY(dialogs.messages.isEmpty());
  }

 private:
  std::unique_ptr<ScratchStartDirectory> dir_;
};

QTEST_MAIN(ManualReaderTest)
#include "ManualReaderTest.moc"
