// The manual viewer: "Manual.html" looked up in the start directory at every
// call, the message when it is missing, and no viewer left behind.

#include <QApplication>
#include <QDir>
#include <QFileInfo>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>

#include <unistd.h>

#include "platform/Platform.h"
#include "tests/support/WindowTestSupport.h"
#include "windows/ManualReader.h"

using namespace sigilon;
using namespace sigilon::test;

namespace {

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

  void manualIsLookedUpAtEveryCall() {
    TScriptedDialogs dialogs;
    const QString manual = dir_->FilePath("Manual.html");
    // Missing at every call, also when one lies in an unrelated directory or
    // a directory has its name.
    QVERIFY(!ShowManualAndClose());
    QTemporaryDir elsewhere;
    QVERIFY(WriteFile(elsewhere.filePath("Manual.html"), "<p>Elsewhere</p>"));
    QVERIFY(!ShowManualAndClose());
    QVERIFY(QDir().mkdir(manual));
    QVERIFY(!ShowManualAndClose());
    QCOMPARE(dialogs.Messages, QStringList(3, "The manual is missing!"));

    // Added while running, it is found at the next call; a fresh viewer each
    // call shows a changed text, and broken HTML is not missing.
    QVERIFY(QDir().rmdir(manual));
    QVERIFY(WriteFile(manual, "<p>Added later</p>"));
    QVERIFY(ShowManualAndClose().value_or("").contains("Added later"));
    QVERIFY(WriteFile(manual, "<p>unclosed <b>bold <table><tr>"));
    QVERIFY(ShowManualAndClose().value_or("").contains("unclosed"));
    QCOMPARE(dialogs.Messages.size(), 3);
    QCOMPARE(WindowsAlive<TManualReader_Form>(), 0);
  }

  void manualFallsBackToTheProgramsPlaces() {
    // Start directory first, then beside the program, then the installed
    // documentation folder of <prefix>/bin/.
    TScriptedDialogs dialogs;
    const QString installed = dir_->FilePath("prefix/share/doc/sigilon/Manual.html");
    const QString beside = dir_->FilePath("prefix/bin/Manual.html");
    QVERIFY(QDir().mkpath(QFileInfo(installed).path()) && QDir().mkpath(QFileInfo(beside).path()));
    QVERIFY(WriteFile(installed, "<p>Installed</p>"));
    QVERIFY(ShowManualAndClose().value_or("").contains("Installed"));
    QVERIFY(WriteFile(beside, "<p>Beside</p>"));
    QVERIFY(ShowManualAndClose().value_or("").contains("Beside"));
    QVERIFY(WriteFile(dir_->FilePath("Manual.html"), "<p>Started here</p>"));
    QVERIFY(ShowManualAndClose().value_or("").contains("Started here"));
    QVERIFY(dialogs.Messages.isEmpty());
  }

  void presentManualIsShown() {
    QVERIFY(WriteFile(dir_->FilePath("Manual.html"),
                      "<html><body><h1>Hello manual</h1></body></html>"));
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

  void unreadableManualCountsAsMissing() {
    if (::geteuid() == 0) QSKIP("root reads every file");
    const QString path = dir_->FilePath("Manual.html");
    QVERIFY(WriteFile(path, "<p>Secret</p>"));
    QVERIFY(QFile::setPermissions(path, QFileDevice::WriteOwner));
    TScriptedDialogs dialogs;
    QVERIFY(!ShowManualAndClose());
    QCOMPARE(dialogs.Messages, QStringList({"The manual is missing!"}));
  }

 private:
  std::unique_ptr<ScratchStartDirectory> dir_;
};

QTEST_MAIN(ManualReaderTest)
#include "ManualReaderTest.moc"
