// The main window's parts that need no widget: its settings against a
// configuration store in memory, the screen clamp and the progress text.

#include <QtTest>
#include <initializer_list>
#include <string>

#include "app/ProgressText.h"
#include "app/WindowLayout.h"
#include "app/WindowSettings.h"
#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"

using namespace sigilon;
using namespace Qt::StringLiterals;

namespace {

// A store holding the "name=value" entries, in memory.
TConfigurationFile StoreWith(std::initializer_list<std::string> entries) {
  TConfigurationFile store;
  for (const std::string& entry : entries) {
    const std::size_t equals = entry.find('=');
    store.WriteValue(entry.substr(0, equals), entry.substr(equals + 1));
  }
  return store;
}

// The current user's entries as "name=value", in the store's order.
QStringList Entries(const TConfigurationFile& store) {
  const std::string prefix = CurrentUserName() + ".";
  QStringList entries;
  for (const std::string& line : store.Lines()) {
    if (line.starts_with(prefix)) entries << QString::fromStdString(line.substr(prefix.size()));
  }
  return entries;
}

TWindowSettings Loaded(const TConfigurationFile& store) {
  TWindowSettings settings;
  settings.Load(store);
  return settings;
}

}  // namespace

class WindowLogicTest : public QObject {
  Q_OBJECT

 private slots:
  void settingsAreStoredAsEveryEarlierVersionStoredThem() {
    const TWindowSettings settings{.BrandText = " Kestro = Studio ",
                                   .BrandTextFont = "\"DejaVu Sans\", 14, [Bold|Italic], [clRed]",
                                   .SourceDirectory = "/photos/",
                                   .TargetDirectory = "",
                                   .BrandLook = {.RelativeSize = 12.5,
                                                 .Opacity = 60,
                                                 .Outline = 0x000000,
                                                 .Layout = TMarkLayout::Single,
                                                 .Spacing = 0.75,
                                                 .Angle = -22.5,
                                                 .Anchor = TMarkAnchor::Left,
                                                 .Margin = 7.5,
                                                 .Shadow = true,
                                                 .LogoFile = "/logos/Studio = 1.svg"},
                                   .FillInFields = true,
                                   .WindowPlace = QRect(-20, 30, 500, 400),
                                   .WindowMaximized = true,
                                   .ActivePage = 2,
                                   .FitImage = true,
                                   .LogDirectory = "/logs",
                                   .KeepPictureInformation = false,
                                   .RefuseDamagedPictures = true,
                                   .BrandAllPictureTypes = true,
                                   .IncludeSubfolders = false,
                                   .PictureQuality = 85,
                                   .OptimizeJpegCopies = true,
                                   .ConvertCopiesTo = "webp"};
    // Other entries stay; those written move to the end, in this order.
    TConfigurationFile store = StoreWith({"BrandText=old", "FLastSplashScreen=kept"});
    settings.Save(store);
    QCOMPARE(Entries(store).mid(0, 18),
             (QStringList{u"FLastSplashScreen=kept"_s, u"BrandText= Kestro = Studio "_s,
                          u"BrandTextFont=\"DejaVu Sans\", 14, [Bold|Italic], [clRed]"_s,
                          u"BrandRelativeSize=12.5"_s, u"BrandOpacity=60"_s,
                          u"BrandOutline=clBlack"_s, u"SourceDirectory=/photos/"_s,
                          u"TargetDirectory="_s, u"WindowLeft=-20"_s, u"WindowTop=30"_s,
                          u"WindowWidth=500"_s, u"WindowHeight=400"_s, u"WindowMaximized=1"_s,
                          u"ActivePage=2"_s, u"FitImage=1"_s, u"LogDirectory=/logs"_s,
                          u"KeepPictureInformation=0"_s, u"RefuseDamagedPictures=1"_s}));
    QCOMPARE(
        Entries(store).mid(18),
        (QStringList{u"BrandAllPictureTypes=1"_s, u"IncludeSubfolders=0"_s, u"PictureQuality=85"_s,
                     u"OptimizeJpegCopies=1"_s, u"ConvertCopiesTo=webp"_s, u"BrandLayout=single"_s,
                     u"BrandSpacing=0.75"_s, u"BrandAngle=-22.5"_s, u"BrandAnchor=left"_s,
                     u"BrandMargin=7.5"_s, u"BrandShadow=1"_s, u"BrandLogo=/logos/Studio = 1.svg"_s,
                     u"FillInFields=1"_s}));
    QVERIFY(Loaded(store) == settings);
    // Nothing stored is the window as laid out; what is none is not written.
    QVERIFY(Loaded(TConfigurationFile()) == TWindowSettings{});
    TConfigurationFile kept = StoreWith({"WindowLeft=7", "BrandTextFont=x"});
    TWindowSettings{}.Save(kept);
    QCOMPARE(Entries(kept).mid(0, 2), (QStringList{u"WindowLeft=7"_s, u"BrandTextFont=x"_s}));
  }

  void eachGarbledEntryFallsBackOnItsOwn() {
    // Out of range, no number or no colour: that entry alone is its default.
    const TWindowSettings one = Loaded(StoreWith(
        {"BrandRelativeSize= 0.5 ", "BrandOpacity=half", "BrandOutline=clPuce", "WindowLeft=10",
         "WindowTop=20", "WindowWidth= 300 ", "WindowHeight=200", "ActivePage=x", "FitImage=-1"}));
    QVERIFY(one.BrandLook == TStampLook{.RelativeSize = 0.5});
    QCOMPARE(one.WindowPlace, QRect(10, 20, 300, 200));
    QVERIFY(!one.ActivePage && one.FitImage);
    // An older file without the run options' entries, or one out of range.
    QVERIFY(!one.BrandAllPictureTypes && !one.IncludeSubfolders);
    QCOMPARE(one.PictureQuality, kDefaultQuality);
    for (const char* quality : {"PictureQuality=101", "PictureQuality=-5", "PictureQuality=x"}) {
      QCOMPARE(Loaded(StoreWith({quality})).PictureQuality, kDefaultQuality);
    }
    QCOMPARE(Loaded(StoreWith({"ConvertCopiesTo=gif"})).ConvertCopiesTo, std::string());
    QCOMPARE(Loaded(StoreWith({"ConvertCopiesTo=HEIC"})).ConvertCopiesTo, std::string("heic"));
    const TWindowSettings other =
        Loaded(StoreWith({"BrandRelativeSize=50.5", "BrandOpacity=1", "BrandOutline=$00FF0000",
                          "WindowLeft=10", "WindowTop=20", "WindowWidth=300",
                          "WindowHeight=not a number", "ActivePage=1", "FitImage=yes"}));
    QVERIFY(other.BrandLook == (TStampLook{.Opacity = 1, .Outline = 0xFF0000}));
    QVERIFY(!other.WindowPlace && !other.FitImage);
    QCOMPARE(other.ActivePage, 1);
  }

  void markEntriesOfAnOlderFileOrOutOfRangeAreTheDefaults() {
    // A file from before the mark's entries brands as it always did.
    const TWindowSettings old = Loaded(StoreWith({"BrandText=a", "BrandOpacity=50"}));
    QVERIFY(old.BrandLook == TStampLook{.Opacity = 50});
    QVERIFY(!old.FillInFields);
    // Each entry out of range, unreadable or empty falls back on its own.
    const TWindowSettings bad = Loaded(
        StoreWith({"BrandLayout=grid", "BrandSpacing=10.5", "BrandAngle=", "BrandAnchor=middle",
                   "BrandMargin=-1", "BrandShadow=x", "FillInFields=yes"}));
    QVERIFY(bad.BrandLook == TStampLook{});
    QVERIFY(!bad.FillInFields);
    const TWindowSettings edges =
        Loaded(StoreWith({"BrandLayout=single", "BrandSpacing= 0.5 ", "BrandAngle=90",
                          "BrandAnchor=centre", "BrandMargin=50", "BrandShadow=1"}));
    QVERIFY(edges.BrandLook == (TStampLook{.Layout = TMarkLayout::Single,
                                           .Spacing = 0.5,
                                           .Angle = 90,
                                           .Anchor = TMarkAnchor::Centre,
                                           .Margin = 50,
                                           .Shadow = true}));
    QCOMPARE(Loaded(StoreWith({"BrandAngle=90.5"})).BrandLook.Angle, std::nullopt);
  }

  void windowIsClampedOntoTheScreen() {
    const QRect screen(0, 0, 800, 600);
    QCOMPARE(ClampToScreen(QRect(-50, 10, 100, 100), screen), QRect(0, 10, 100, 100));
    QCOMPARE(ClampToScreen(QRect(790, 590, 100, 100), screen), QRect(700, 500, 100, 100));
    QCOMPARE(ClampToScreen(QRect(5, 5, 900, 700), screen), screen);
  }

  void timeLeftShowsOnceTheGuessHasSettled() {
    QCOMPARE(ProgressText(0, 4, 0), std::string("0 / 4"));
    // Three files and a second first; rounded up to whole seconds; none at the end.
    QCOMPARE(ProgressText(2, 10, 5000), std::string("2 / 10"));
    QCOMPARE(ProgressText(3, 10, 999), std::string("3 / 10"));
    QCOMPARE(ProgressText(3, 10, 1500), std::string("3 / 10, 0:04 left"));
    QCOMPARE(ProgressText(3, 10000, 3000), std::string("3 / 10000, 2:46:37 left"));
    QCOMPARE(ProgressText(10, 10, 9000), std::string("10 / 10"));
  }
};

QTEST_GUILESS_MAIN(WindowLogicTest)
#include "WindowLogicTest.moc"
