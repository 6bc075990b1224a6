// The window font's text form: the adapters over the shared reader and
// writer, and how colour values become colours on screen.

#include <QApplication>
#include <QPalette>
#include <QtTest>
#include <climits>

#include "app/WindowFont_Unit.h"
#include "engine/Errors.h"

using namespace sigilon;

class WindowFontTest : public QObject {
  Q_OBJECT

 private slots:
  void neverChangedColourIsBlack() {
    TWindowFont font;
    font.Font.setFamily(QStringLiteral("DejaVu Sans"));
    font.Font.setPointSize(8);
    QCOMPARE(QString::fromStdString(FontToText(font)),
             QStringLiteral("\"DejaVu Sans\", 8, [], [clBlack]"));
  }

  void readsBackWhatItWrites_data() {
    QTest::addColumn<QString>("family");
    QTest::addColumn<int>("size");
    QTest::addColumn<bool>("bold");
    QTest::addColumn<bool>("italic");
    QTest::addColumn<bool>("underline");
    QTest::addColumn<bool>("strikeOut");
    QTest::addColumn<int>("color");
    QTest::newRow("plain") << "DejaVu Sans" << 10 << false << false << false << false << 0;
    QTest::newRow("bold underline red") << "Serif" << 24 << true << false << true << false << 0xFF;
    QTest::newRow("all styles, hex colour")
        << "A \"quoted\" face" << 7 << true << true << true << true << 0x123456;
    QTest::newRow("palette role") << "Mono" << 12 << false << true << false << false << -7;
    QTest::newRow("negative pattern")
        << "X" << 9 << false << false << false << true << static_cast<int>(0x80000005u);
  }

  void readsBackWhatItWrites() {
    QFETCH(QString, family);
    QFETCH(int, size);
    QFETCH(bool, bold);
    QFETCH(bool, italic);
    QFETCH(bool, underline);
    QFETCH(bool, strikeOut);
    QFETCH(int, color);

    TWindowFont written;
    written.Font.setFamily(family);
    written.Font.setPointSize(size);
    written.Font.setBold(bold);
    written.Font.setItalic(italic);
    written.Font.setUnderline(underline);
    written.Font.setStrikeOut(strikeOut);
    written.Color = color;

    TWindowFont read;
    TextToFont(FontToText(written), read);
    QCOMPARE(read.Font.family(), family);
    QCOMPARE(read.Font.pointSize(), size);
    QCOMPARE(read.Font.bold(), bold);
    QCOMPARE(read.Font.italic(), italic);
    QCOMPARE(read.Font.underline(), underline);
    QCOMPARE(read.Font.strikeOut(), strikeOut);
    QCOMPARE(read.Color, color);
    QCOMPARE(FontToText(read), FontToText(written));
  }

  void sizeIsNeverZeroOrNegative() {
    TWindowFont font;
    TextToFont("\"Sans\", -14, [], [clBlack]", font);
    QCOMPARE(font.Font.pointSize(), 14);
    TextToFont("\"Sans\", 0, [], [clBlack]", font);
    QCOMPARE(font.Font.pointSize(), 1);
    // The most negative size has no 32-bit absolute value; it must still land
    // as a usable size rather than overflow.
    TextToFont("\"Sans\", -2147483648, [], [clBlack]", font);
    QCOMPARE(font.Font.pointSize(), kMaxWindowFontPoints);
  }

  void windowOnlyIdentifiersAreAccepted() {
    TWindowFont font;
    TextToFont("\"Sans\", 9, [Italic|Bold], [clbuttontext]", font);
    QCOMPARE(font.Color, -9);
    QVERIFY(font.Font.bold() && font.Font.italic());
    TextToFont("\"Sans\", 9, [], [clInfoBk]", font);
    QCOMPARE(font.Color, 0x00E1FFFF);
  }

  void failedReadKeepsWhatWasAlreadySet() {
    TWindowFont font;
    font.Font.setFamily(QStringLiteral("Before"));
    font.Font.setPointSize(11);
    font.Font.setBold(true);
    QVERIFY_THROWS_EXCEPTION(ConvertError, TextToFont("\"After\", big, [], [clRed]", font));
    QCOMPARE(font.Font.family(), QStringLiteral("After"));
    QCOMPARE(font.Font.pointSize(), 11);
    QVERIFY(font.Font.bold());

    QVERIFY_THROWS_EXCEPTION(ConvertError, TextToFont("\"After\", 20, [], [clNoSuchColour]", font));
    QCOMPARE(font.Font.pointSize(), 20);
    QCOMPARE(font.Color, 0);
  }

  void colourValuesBecomeScreenColours() {
    QPalette palette;
    palette.setColor(QPalette::Active, QPalette::Text, QColor(1, 2, 3));
    palette.setColor(QPalette::Disabled, QPalette::Text, QColor(4, 5, 6));
    palette.setColor(QPalette::Active, QPalette::Window, QColor(7, 8, 9));
    palette.setColor(QPalette::Active, QPalette::HighlightedText, QColor(10, 11, 12));

    // $00BBGGRR: red in the lowest byte.
    QCOMPARE(WindowColorToQColor(0x000000FF, palette), QColor(255, 0, 0));
    QCOMPARE(WindowColorToQColor(0x00FF8000, palette), QColor(0, 128, 255));
    QCOMPARE(WindowColorToQColor(-7, palette), QColor(1, 2, 3));         // clText
    QCOMPARE(WindowColorToQColor(-11, palette), QColor(7, 8, 9));        // clBackground
    QCOMPARE(WindowColorToQColor(-14, palette), QColor(10, 11, 12));     // clHighlightText
    QCOMPARE(WindowColorToQColor(-(64 + 7), palette), QColor(4, 5, 6));  // clDisabledText
    QCOMPARE(WindowColorToQColor(-(96 + 7), palette), QColor(1, 2, 3));  // clActiveText
    // Values without a screen colour of their own draw as text does.
    QCOMPARE(WindowColorToQColor(clNone, palette), QColor(1, 2, 3));
    QCOMPARE(WindowColorToQColor(static_cast<TColor>(0x80000005u), palette), QColor(1, 2, 3));
    QCOMPARE(WindowColorToQColor(-20, palette), QColor(1, 2, 3));
  }
};

QTEST_MAIN(WindowFontTest)
#include "WindowFontTest.moc"
