// The window font's text form: the adapters over the shared reader and
// writer, and how colour values become colours on screen.

#include <QApplication>
#include <QPalette>
#include <QtTest>
#include <climits>

#include "app/WindowFont.h"
#include "engine/Errors.h"

using namespace sigilon;
using namespace Qt::StringLiterals;

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

  void readsBackWhatItWrites() {
    // Styles as letters: Bold, Italic, Underline, Strike-out.
    struct Case {
      QString family;
      int size;
      QString styles;
      int color;
    };
    const Case cases[] = {
        {u"DejaVu Sans"_s, 10, u""_s, 0},
        {u"Serif"_s, 24, u"BU"_s, 0xFF},
        {u"A \"quoted\" face"_s, 7, u"BIUS"_s, 0x123456},    // hex colour
        {u"Mono"_s, 12, u"I"_s, -7},                         // palette role
        {u"X"_s, 9, u"S"_s, static_cast<int>(0x80000005u)},  // negative pattern
    };
    for (const Case& c : cases) {
      TWindowFont written;
      written.Font.setFamily(c.family);
      written.Font.setPointSize(c.size);
      written.Font.setBold(c.styles.contains(u'B'));
      written.Font.setItalic(c.styles.contains(u'I'));
      written.Font.setUnderline(c.styles.contains(u'U'));
      written.Font.setStrikeOut(c.styles.contains(u'S'));
      written.Color = c.color;

      TWindowFont read;
      TextToFont(FontToText(written), read);
      // The font's own text form names every property, so a lost one shows.
      QCOMPARE(read.Font.toString(), written.Font.toString());
      QCOMPARE(read.Color, c.color);
      QCOMPARE(FontToText(read), FontToText(written));
    }
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
