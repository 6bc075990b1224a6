// The About box: its texts, its picture, and the link lines that start the
// maker's web address through the dialog seam while the box stays open.

#include <QApplication>
#include <QTimer>
#include <QtTest>

#include "tests/support/WindowTestSupport.h"
#include "windows/AboutBox.h"

using namespace sigilon;
using namespace sigilon::test;

class AboutTest : public QObject {
  Q_OBJECT

 private slots:
  void texts() {
    TAbout_Form form;
    const auto& ui = form.Form();
    QCOMPARE(form.windowTitle(), QString("About"));
    QCOMPARE(ui.ProductName_Label->text(), QString("Sigilon"));
    QCOMPARE(ui.ProductVersion_Label->text(), QString("1.0.0.X"));
    QVERIFY(ui.Copyright_Label->text().contains(QChar(0x00A9)));
    QVERIFY(ui.Message1_Label->text().contains("www.example.com"));
    QCOMPARE(ui.Message2_Label->text(), QString("and other useful software."));
    // Labels grow with their texts: nothing is cut off.
    for (const QLabel* label : {ui.ProductName_Label, ui.ProductVersion_Label, ui.Copyright_Label})
      QVERIFY2(label->width() >= label->sizeHint().width(), qPrintable(label->objectName()));
    // The program's picture came from the resources, stretched into its place.
    QCOMPARE(ui.ProgramIcon_Image->pixmap().size(), QSize(100, 100));
    QVERIFY(ui.ProgramIcon_Image->hasScaledContents());
    QCOMPARE(ui.ProgramIcon_Image->size(), QSize(65, 57));
  }

  void linkLinesStartTheWebAddressAndKeepTheBoxOpen() {
    TScriptedDialogs dialogs;
    TAbout_Form form;
    form.show();
    QVERIFY(QTest::qWaitForWindowExposed(&form));
    const auto& ui = form.Form();
    QTest::mouseClick(ui.Message1_Label, Qt::LeftButton);
    QTest::mouseClick(ui.Message2_Label, Qt::LeftButton);
    QCOMPARE(dialogs.Programs,
             QStringList({"https://www.example.com/sigilon", "https://www.example.com/sigilon"}));
    QVERIFY(form.isVisible());
    // Clicks anywhere else start nothing.
    QTest::mouseClick(ui.ProductName_Label, Qt::LeftButton);
    QTest::mouseClick(ui.ProgramIcon_Image, Qt::LeftButton);
    QTest::mouseClick(ui.Message1_Label, Qt::RightButton);
    QCOMPARE(dialogs.Programs.size(), 2);
    QVERIFY(dialogs.Messages.isEmpty());
  }

  void enterClosesThroughTheDefaultButton() {
    TAbout_Form form;
    form.show();
    QVERIFY(QTest::qWaitForWindowActive(&form));
    QCOMPARE(QApplication::focusWidget(), form.Form().Close_Button);
    QVERIFY(form.Form().Close_Button->isDefault());
    QTest::keyClick(&form, Qt::Key_Return);
    QVERIFY(!form.isVisible());
    QCOMPARE(form.result(), int(QDialog::Accepted));
  }

  // ShowAboutBox waits for the box and leaves no window behind.
  void showAboutBoxIsModalAndReleased() {
    bool seen = false;
    QTimer::singleShot(0, [&] {
      auto* box = qobject_cast<TAbout_Form*>(QApplication::activeModalWidget());
      seen = box != nullptr;
      if (box) box->Form().Close_Button->click();
    });
    ShowAboutBox();
    QVERIFY(seen);
    QCOMPARE(WindowsAlive<TAbout_Form>(), 0);
  }
};

QTEST_MAIN(AboutTest)
#include "AboutTest.moc"
