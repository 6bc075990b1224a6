// The main window driven as a user drives it: clicks, typed keys, menu
// commands, with every dialog answered from a script.

#include <QApplication>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QFile>
#include <QImage>
#include <QLabel>
#include <QSet>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <functional>
#include <memory>

#include "app/Main_Unit.h"
#include "settings/ConfigurationFile_Unit.h"
#include "settings/PlatformDependence_Unit.h"
#include "tests/app/ScriptedDialogs.h"
#include "windows/Splash_Unit.h"

using namespace sigilon;
using sigilon::test::TScriptedDialogs;

namespace {

const QString kNoImages =
    QStringLiteral("There were no images to process in the Source Directory.");
const QString kSaveFailed = QStringLiteral(
    "I was not able to save your configuration.\rMaybe the file has been made read only?");

QByteArray ReadBytes(const QString& path) {
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return QByteArray("<unreadable>");
  return file.readAll();
}

// A busy pattern, so that decoding and encoding again never gives the same bytes.
bool WritePicture(const QString& path, const char* format, QColor color = QColor(200, 120, 40)) {
  QImage image(40, 30, QImage::Format_RGB32);
  for (int y = 0; y < image.height(); ++y) {
    for (int x = 0; x < image.width(); ++x) {
      const int wobble = (x * 37 + y * 91 + x * y) % 97;
      image.setPixel(x, y,
                     qRgb((color.red() + wobble) % 256, (color.green() + 3 * wobble) % 256,
                          (color.blue() + 5 * wobble) % 256));
    }
  }
  return image.save(path, format);
}

bool WriteBytes(const QString& path, const QByteArray& bytes) {
  QFile file(path);
  return file.open(QIODevice::WriteOnly) && file.write(bytes) == bytes.size();
}

/// Every file of a directory with a digest of its bytes, to show that
/// nothing changed.
QMap<QString, QByteArray> Snapshot(const QString& directory) {
  QMap<QString, QByteArray> files;
  const QDir dir(directory);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    files.insert(
        name,
        QCryptographicHash::hash(ReadBytes(dir.filePath(name)), QCryptographicHash::Sha1).toHex());
  }
  return files;
}

QStringList ToStringList(const std::vector<std::string>& lines) {
  QStringList list;
  for (const std::string& line : lines) list << QString::fromStdString(line);
  return list;
}

int Bottom(const QWidget* widget) { return widget->y() + widget->height(); }

/// Calls `step` at every event pump until it returns true (a zero timer runs
/// inside the batch run's processEvents calls).
class TPumpHook {
 public:
  explicit TPumpHook(std::function<bool()> step) : step_(std::move(step)) {
    timer_.setInterval(0);
    QObject::connect(&timer_, &QTimer::timeout, [this] {
      if (step_()) timer_.stop();
    });
    timer_.start();
  }
  bool Finished() const { return !timer_.isActive(); }

 private:
  std::function<bool()> step_;
  QTimer timer_;
};

/// Counts the events of one type that reach an object.
class TEventCounter : public QObject {
 public:
  TEventCounter(QObject& watched, QEvent::Type type, int& count) : type_(type), count_(count) {
    watched.installEventFilter(this);
  }
  bool eventFilter(QObject* /*watched*/, QEvent* event) override {
    if (event->type() == type_) ++count_;
    return false;
  }

 private:
  QEvent::Type type_;
  int& count_;
};

}  // namespace

class MainWindowTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<QTemporaryDir> home_;  // the start directory
  std::unique_ptr<QTemporaryDir> work_;  // source and target directories
  std::unique_ptr<TScriptedDialogs> dialogs_;
  std::unique_ptr<TMain_Form> form_;

  const Ui::TMain_Form& ui() const { return form_->Form(); }
  QString Work(const QString& name) const { return work_->filePath(name); }

  void OpenForm() {
    // Renews the start record, so the splash is not due while the window opens.
    SplashScreenDue();
    form_ = std::make_unique<TMain_Form>();
    form_->show();
    QVERIFY(QTest::qWaitForWindowExposed(form_.get()));
  }

  // Closes the window as the user does and opens a new one, as a restart.
  void Restart() {
    QTest::mouseClick(ui().Exit_Button, Qt::LeftButton);
    QVERIFY(!form_->isVisible());
    form_.reset();
    OpenForm();
  }

  void ChooseFolder(QAction* menuItem, const QString& folder) {
    dialogs_->FolderAnswers.push_back(folder);
    menuItem->trigger();
  }

  void SetUpSettings(const QString& source, const QString& target) {
    QTest::keyClicks(ui().BrandText_Edit, QStringLiteral("Kestro Studio"));
    ChooseFolder(ui().SourceDirectory_MenuItem, source);
    ChooseFolder(ui().TargetDirectory_MenuItem, target);
  }

  void Process() { QTest::mouseClick(ui().Process_Button, Qt::LeftButton); }

  QString Config() const { return home_->filePath(QStringLiteral("Sigilon.cfg")); }

 private slots:
  void initTestCase() {
    ApplyApplicationTitle();
    QApplication::setQuitOnLastWindowClosed(false);
  }

  void init() {
    home_ = std::make_unique<QTemporaryDir>(QDir::tempPath() + QStringLiteral("/StartDir-XXXXXX"));
    work_ = std::make_unique<QTemporaryDir>();
    QVERIFY(home_->isValid() && work_->isValid());
    SetStartDirectoryForTesting(home_->path().toStdString() + "/");
    dialogs_ = std::make_unique<TScriptedDialogs>();
    OpenForm();
  }

  void cleanup() {
    form_.reset();
    dialogs_.reset();
    if (home_) QFile::setPermissions(Config(), QFile::ReadOwner | QFile::WriteOwner);
    work_.reset();
    home_.reset();
  }

  // ---- Start-up and layout ---------------------------------------------

  void firstStartIsIdleOnTheSettingsPage() {
    QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    QVERIFY(!ui().Cancel_Button->isEnabled());
    QVERIFY(ui().Process_Button->isEnabled());
    QVERIFY(ui().Exit_Button->isEnabled());
    QVERIFY(ui().BrandText_Edit->text().isEmpty());
    QVERIFY(ui().SourceDirectory_Edit->text().isEmpty());
    QVERIFY(ui().TargetDirectory_Edit->text().isEmpty());
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QCOMPARE(form_->BrandTextFont().Color, 0);
    QVERIFY(dialogs_->Messages.isEmpty());
    QCOMPARE(form_->minimumSize(), QSize(259, 250));
  }

  void layoutFollowsTheWindowSize() {
    form_->resize(640, 420);
    QTRY_COMPARE(form_->width(), 640);
    QTRY_COMPARE(form_->StatusPanel(0).width(), 540);
    QCOMPARE(form_->StatusPanel(1).width(), 50);
    const int page = ui().Settings_TabSheet->width();
    QVERIFY(page > 600);
    for (const QLineEdit* edit :
         {ui().BrandText_Edit, ui().SourceDirectory_Edit, ui().TargetDirectory_Edit}) {
      QCOMPARE(edit->x(), 4);
      QCOMPARE(edit->x() + edit->width(), page - 4);
    }

    // Not smaller than laid out; the panel follows back down.
    form_->resize(120, 90);
    QTRY_COMPARE(form_->size(), QSize(259, 250));
    QTRY_COMPARE(form_->StatusPanel(0).width(), 159);

    // A long log line must not widen the window or its panel.
    const QString source = Work(QStringLiteral("source"));
    QVERIFY(QDir().mkpath(source));
    QVERIFY(WriteBytes(source + QLatin1Char('/') + QString(200, QLatin1Char('n')), "x"));
    SetUpSettings(source, Work(QStringLiteral("target")));
    Process();
    QCOMPARE(form_->LogLines().size(), std::size_t{3});
    QTest::qWait(10);
    QCOMPARE(form_->size(), QSize(259, 250));
    QCOMPARE(form_->StatusPanel(0).width(), 159);
  }

  void fontChangesRestackTheSettingsPage() {
    const auto checkStack = [this] {
      QCOMPARE(ui().SourceDirectory_Label->y(), Bottom(ui().BrandText_Edit) + 7);
      QCOMPARE(ui().SourceDirectory_Edit->y(), Bottom(ui().SourceDirectory_Label) + 3);
      QCOMPARE(ui().TargetDirectory_Label->y(), Bottom(ui().SourceDirectory_Edit) + 7);
      QCOMPARE(ui().TargetDirectory_Edit->y(), Bottom(ui().TargetDirectory_Label) + 3);
    };
    const TWindowFont laidOut = form_->BrandTextFont();
    const int laidOutHeight = ui().BrandText_Edit->height();
    checkStack();

    QFont big = laidOut.Font;
    big.setPointSize(40);
    dialogs_->FontAnswers.push_back(big);
    QTest::mouseDClick(ui().BrandText_Edit, Qt::LeftButton);
    QCOMPARE(dialogs_->FontPresets.size(), std::size_t{1});
    QCOMPARE(dialogs_->FontPresets[0], laidOut.Font);
    QCOMPARE(form_->BrandTextFont().Font.pointSize(), 40);
    QVERIFY(ui().BrandText_Edit->height() > laidOutHeight + 20);
    QCOMPARE(ui().BrandText_Edit->y(), 20);
    checkStack();

    // A cancelled dialog keeps the font.
    ui().SelectBrandTextFont_MenuItem->trigger();
    QCOMPARE(dialogs_->FontPresets.size(), std::size_t{2});
    QCOMPARE(form_->BrandTextFont().Font.pointSize(), 40);
    checkStack();

    ui().ResetBrandTextFont_MenuItem->trigger();
    QVERIFY(form_->BrandTextFont() == laidOut);
    QCOMPARE(ui().BrandText_Edit->height(), laidOutHeight);
    checkStack();
  }

  void activatingTheMainWindowHandsTheFocusToAnOpenAuxiliaryWindow() {
    QDialog auxiliary;
    auxiliary.show();
    QVERIFY(QTest::qWaitForWindowExposed(&auxiliary));
    QTRY_COMPARE(QApplication::activeWindow(), &auxiliary);

    int mainActivations = 0;
    TEventCounter counter(*form_, QEvent::WindowActivate, mainActivations);
    form_->activateWindow();
    QTRY_VERIFY(mainActivations > 0);
    QTRY_COMPARE(QApplication::activeWindow(), &auxiliary);

    auxiliary.hide();
    form_->activateWindow();
    QTRY_COMPARE(QApplication::activeWindow(), form_.get());
  }

  void directoryFieldsOpenTheFolderDialog() {
    const QString folder = Work(QStringLiteral("photos"));
    dialogs_->FolderAnswers.push_back(folder);
    QTest::keyClicks(ui().SourceDirectory_Edit, QStringLiteral("q"));
    QCOMPARE(dialogs_->FolderInstructions, QStringList{QStringLiteral("Images Directory")});
    // One slash is added; the typed key never reaches the text.
    QCOMPARE(ui().SourceDirectory_Edit->text(), folder + QLatin1Char('/'));

    // Tab moves on without a dialog.
    QTest::keyClick(ui().SourceDirectory_Edit, Qt::Key_Tab);
    QCOMPARE(dialogs_->FolderInstructions.size(), 1);

    // A cancelled dialog keeps the setting.
    QTest::mouseClick(ui().SourceDirectory_Edit, Qt::LeftButton);
    QCOMPARE(dialogs_->FolderInstructions.size(), 2);
    QCOMPARE(ui().SourceDirectory_Edit->text(), folder + QLatin1Char('/'));

    // The root keeps its single slash.
    dialogs_->FolderAnswers.push_back(QStringLiteral("/"));
    QTest::keyClick(ui().TargetDirectory_Edit, Qt::Key_Return);
    QCOMPARE(dialogs_->FolderInstructions.last(), QStringLiteral("Save Directory"));
    QCOMPARE(ui().TargetDirectory_Edit->text(), QStringLiteral("/"));
  }

  // ---- The five refusals -----------------------------------------------

  void processRefusesIncompleteSettings() {
    const QString source = Work(QStringLiteral("source"));
    const QString target = Work(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(source) && QDir().mkpath(target));
    QVERIFY(WritePicture(source + QStringLiteral("/a.jpg"), "JPG"));
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));

    // Empty brand text: message, Settings page, focus on the field, no dialog.
    ui().Main_PageControl->setCurrentIndex(2);
    Process();
    QCOMPARE(dialogs_->Messages,
             QStringList{QStringLiteral("You must enter the Brand Text setting.")});
    QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    QCOMPARE(QApplication::focusWidget(), ui().BrandText_Edit);
    QVERIFY(dialogs_->FolderInstructions.isEmpty());

    // No source: its message and dialog only; choosing a folder starts nothing.
    QTest::keyClicks(ui().BrandText_Edit, QStringLiteral("   "));
    ui().Main_PageControl->setCurrentIndex(1);
    dialogs_->FolderAnswers.push_back(source);
    Process();
    QCOMPARE(dialogs_->Messages.last(), QStringLiteral("You must set the Source Path setting."));
    QCOMPARE(dialogs_->FolderInstructions, QStringList{QStringLiteral("Images Directory")});
    QCOMPARE(form_->SourceDirectory(), source.toStdString() + "/");
    QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    QVERIFY(form_->LogLines().empty());

    // No target: its message and dialog; cancelled, the target stays empty.
    Process();
    QCOMPARE(dialogs_->Messages.last(), QStringLiteral("You must set the Target Path setting."));
    QCOMPARE(dialogs_->FolderInstructions.last(), QStringLiteral("Save Directory"));
    QVERIFY(form_->TargetDirectory().empty());

    // The same directory: by text, and by identity under another spelling.
    const QString sameDirectory = QStringLiteral(
        "You cannot save the Target images into the same directory as the Source images because "
        "they would overwrite the Source images!");
    for (const QString& spelling : {source, source + QStringLiteral("/.")}) {
      ChooseFolder(ui().TargetDirectory_MenuItem, spelling);
      const qsizetype dialogsBefore = dialogs_->FolderInstructions.size();
      ui().Main_PageControl->setCurrentIndex(2);
      Process();
      QCOMPARE(dialogs_->Messages.last(), sameDirectory);
      QCOMPARE(dialogs_->FolderInstructions.size(), dialogsBefore);
      QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    }

    // The start directory in other letter case: message with the title, and
    // the target dialog.
    ChooseFolder(ui().TargetDirectory_MenuItem, home_->path().toLower());
    Process();
    QCOMPARE(dialogs_->Messages.last(),
             QStringLiteral("You cannot save the Target images into Sigilon's directory!"));
    QCOMPARE(dialogs_->FolderInstructions.last(), QStringLiteral("Save Directory"));

    // None of it touched a file or left the idle state.
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), 0);
    QCOMPARE(Snapshot(home_->path()).keys(), QStringList{QStringLiteral("Sigilon.cfg")});
    QVERIFY(!form_->Busy());
    QVERIFY(ui().Process_Button->isEnabled());
  }

  void processClearsTheLogEvenWhenItRefuses() {
    const QString empty = Work(QStringLiteral("empty"));
    QVERIFY(QDir().mkpath(empty + QStringLiteral("/only-a-subdirectory")));
    SetUpSettings(empty, Work(QStringLiteral("target")));
    Process();
    QCOMPARE(dialogs_->Messages, QStringList{kNoImages});
    QCOMPARE(ToStringList(form_->LogLines()), QStringList{kNoImages});
    QCOMPARE(form_->StatusPanel(0).text(), kNoImages);

    ui().BrandText_Edit->clear();
    Process();
    QVERIFY(form_->LogLines().empty());
    QVERIFY(ui().Log_Memo->toPlainText().isEmpty());
    QVERIFY(form_->StatusPanel(0).text().isEmpty());
  }

  // ---- Runs --------------------------------------------------------------

  void runBrandsEveryFileOfTheSourceDirectory() {
    const QString source = Work(QStringLiteral("source"));
    const QString target = Work(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(source + QStringLiteral("/sub")) && QDir().mkpath(target));
    QVERIFY(WritePicture(source + QStringLiteral("/a.jpg"), "JPG"));
    QVERIFY(WriteBytes(source + QStringLiteral("/b.txt"), "not a picture"));
    QVERIFY(WritePicture(source + QStringLiteral("/c.BMP"), "BMP"));
    QVERIFY(WritePicture(source + QStringLiteral("/.hidden.jpg"), "JPG"));
    QVERIFY(WritePicture(source + QStringLiteral("/sub/deeper.jpg"), "JPG"));
    QVERIFY(QFile::link(source + QStringLiteral("/sub"), source + QStringLiteral("/linked-sub")));
    const auto before = Snapshot(source);

    SetUpSettings(source, target);
    Process();

    const QStringList log = ToStringList(form_->LogLines());
    QCOMPARE(log.size(), 6);
    const QString prefix = source + QLatin1Char('/');
    const QSet<QString> results(log.begin(), log.begin() + 4);
    QCOMPARE(results,
             (QSet<QString>{
                 QStringLiteral("Processed file: ") + prefix + QStringLiteral("a.jpg"),
                 QStringLiteral("File type not processable: ") + prefix + QStringLiteral("b.txt"),
                 QStringLiteral("Processed file: ") + prefix + QStringLiteral("c.BMP"),
                 QStringLiteral("Processed file: ") + prefix + QStringLiteral(".hidden.jpg"),
             }));
    QCOMPARE(log[4], QString());
    QCOMPARE(log[5], QStringLiteral("4 files processed."));
    QCOMPARE(form_->StatusPanel(0).text(), log[5]);
    QCOMPARE(ui().Log_Memo->toPlainText(), log.join(QLatin1Char('\n')));

    const auto written = Snapshot(target);
    QCOMPARE(QSet<QString>(written.keyBegin(), written.keyEnd()),
             (QSet<QString>{QStringLiteral("a.jpg"), QStringLiteral("c.BMP"),
                            QStringLiteral(".hidden.jpg")}));
    QCOMPARE(QImage(target + QStringLiteral("/a.jpg")).size(), QSize(40, 30));
    QCOMPARE(Snapshot(source), before);

    // The last JPEG preview stays on the Image page.
    QCOMPARE(ui().Working_Image->pixmap().size(), QSize(40, 30));
    QVERIFY(!form_->Busy());
    QVERIFY(!ui().Cancel_Button->isEnabled());
    QVERIFY(ui().Process_Button->isEnabled());
    QVERIFY(ui().BrandText_Edit->isEnabled());
    QVERIFY(dialogs_->Messages.isEmpty());

    // The saved log: CR LF between lines, none after the last.
    const QString logFile = Work(QStringLiteral("run.log"));
    dialogs_->SaveAnswers.push_back(logFile);
    QTest::mouseDClick(ui().Log_Memo->viewport(), Qt::LeftButton);
    QCOMPARE(dialogs_->SaveTitle, QStringLiteral("Save As"));
    QCOMPARE(dialogs_->SaveDefaultSuffix, QStringLiteral("log"));
    QCOMPARE(dialogs_->SaveFilters.size(), 3);
    QCOMPARE(ReadBytes(logFile), log.join(QStringLiteral("\r\n")).toUtf8());

    // Process again works and empties the log first.
    Process();
    QCOMPARE(form_->LogLines().size(), std::size_t{6});
  }

  void unreadableBrandFontEndsTheRunWithItsMessage() {
    const QString source = Work(QStringLiteral("source"));
    const QString target = Work(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(source) && QDir().mkpath(target));
    QVERIFY(WritePicture(source + QStringLiteral("/a.jpg"), "JPG"));
    QVERIFY(WritePicture(source + QStringLiteral("/b.jpg"), "JPG"));
    SetUpSettings(source, target);
    // A face name with a comma does not survive the font description text.
    QFont odd = ui().BrandText_Edit->font();
    odd.setFamily(QStringLiteral("Odd, Face"));
    dialogs_->FontAnswers.push_back(odd);
    ui().SelectBrandTextFont_MenuItem->trigger();

    Process();
    QCOMPARE(dialogs_->Messages,
             QStringList{QStringLiteral("'Face\"' is not a valid integer value")});
    QVERIFY(form_->LogLines().empty());
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), 0);
    QVERIFY(!form_->Busy());
    QVERIFY(ui().Process_Button->isEnabled());
    QVERIFY(!ui().Cancel_Button->isEnabled());
  }

  void cancelStopsBeforeTheNextFile() {
    const QString source = Work(QStringLiteral("source"));
    const QString target = Work(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(source) && QDir().mkpath(target));
    for (int i = 1; i <= 5; ++i) {
      QVERIFY(
          WritePicture(source + QStringLiteral("/p%1.jpg").arg(i), "JPG", QColor(i * 40, 0, 0)));
    }
    SetUpSettings(source, target);

    // Press Cancel at the preview of the second file, that is while it is
    // being branded.
    qint64 firstPreview = 0;
    bool cancelWasEnabled = false;
    TPumpHook hook([&] {
      if (!form_->Busy()) return false;
      const qint64 key = ui().Working_Image->pixmap().cacheKey();
      if (form_->LogLines().size() == 1 && firstPreview == 0) firstPreview = key;
      if (firstPreview != 0 && key != firstPreview) {
        cancelWasEnabled = ui().Cancel_Button->isEnabled();
        QTest::mouseClick(ui().Cancel_Button, Qt::LeftButton);
        return true;
      }
      return false;
    });
    Process();
    QVERIFY(hook.Finished());
    QVERIFY(cancelWasEnabled);

    const QStringList log = ToStringList(form_->LogLines());
    QCOMPARE(log.size(), 7);
    QVERIFY(log[0].startsWith(QStringLiteral("Processed file: ")));
    QCOMPARE(log.mid(1, 3),
             (QStringList{QString(), QStringLiteral("Operation Canceled by User."), QString()}));
    QVERIFY(log[4].startsWith(QStringLiteral("Processed file: ")));
    QCOMPARE(log[5], QString());
    QCOMPARE(log[6], QStringLiteral("2 files processed."));
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), 2);
    QVERIFY(!ui().Cancel_Button->isEnabled());
  }

  void targetTurnedToTheSourceDuringARunWritesNothingThere() {
    const QString source = Work(QStringLiteral("source"));
    const QString target = Work(QStringLiteral("target"));
    const QString link = Work(QStringLiteral("link-to-source"));
    QVERIFY(QDir().mkpath(source) && QDir().mkpath(target));
    QVERIFY(QFile::link(source, link));
    for (int i = 1; i <= 3; ++i) {
      QVERIFY(
          WritePicture(source + QStringLiteral("/p%1.jpg").arg(i), "JPG", QColor(0, i * 60, 0)));
    }
    const auto before = Snapshot(source);
    SetUpSettings(source, target);

    // At the first pump of the run the user points the target at the source
    // through a symbolic link, with the menu.
    TPumpHook hook([&] {
      if (!form_->Busy()) return false;
      ChooseFolder(ui().TargetDirectory_MenuItem, link);
      return true;
    });
    Process();
    QVERIFY(hook.Finished());

    QCOMPARE(Snapshot(source), before);
    const QStringList log = ToStringList(form_->LogLines());
    QCOMPARE(log.size(), 5);
    QCOMPARE(log.last(), QStringLiteral("3 files processed."));
    // The file being branded when the target changed still went to the old
    // target; every later one was refused.
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), 1);
    QCOMPARE(log.filter(QStringLiteral("Failed to process file: ") + source).size(), 2);

    // Afterwards the link is refused before the run starts.
    Process();
    QVERIFY(dialogs_->Messages.last().startsWith(
        QStringLiteral("You cannot save the Target images into the same directory")));
    QCOMPARE(Snapshot(source), before);
  }

  void closingDuringARunSavesAtOnceAndLetsTheRunEnd() {
    const QString source = Work(QStringLiteral("source"));
    const QString target = Work(QStringLiteral("target"));
    QVERIFY(QDir().mkpath(source) && QDir().mkpath(target));
    for (int i = 1; i <= 3; ++i) {
      QVERIFY(WritePicture(source + QStringLiteral("/p%1.jpg").arg(i), "JPG"));
    }
    SetUpSettings(source, target);

    bool savedAtClose = false;
    TPumpHook hook([&] {
      if (!form_->Busy()) return false;
      ui().Exit_MenuItem->trigger();
      TConfigurationFile store;
      store.Load();
      savedAtClose = store.ReadValue("BrandText") == "Kestro Studio" &&
                     store.ReadValue("TargetDirectory") == target.toStdString() + "/";
      return true;
    });
    Process();
    QVERIFY(hook.Finished());
    QVERIFY(savedAtClose);
    QVERIFY(!form_->isVisible());
    QCOMPARE(QDir(target).entryList(QDir::Files).size(), 3);
    QCOMPARE(ToStringList(form_->LogLines()).last(), QStringLiteral("3 files processed."));
    QVERIFY(dialogs_->Messages.isEmpty());
  }

  // ---- Settings persistence ------------------------------------------------

  void settingsSurviveARestart() {
    const QString source = Work(QStringLiteral("in"));
    const QString target = Work(QStringLiteral("out"));
    SetUpSettings(source, target);
    QFont chosen = ui().BrandText_Edit->font();
    chosen.setPointSize(17);
    chosen.setBold(true);
    chosen.setItalic(true);
    dialogs_->FontAnswers.push_back(chosen);
    ui().SelectBrandTextFont_MenuItem->trigger();
    const TWindowFont font = form_->BrandTextFont();
    const int fieldHeight = ui().BrandText_Edit->height();

    Restart();
    QCOMPARE(ui().BrandText_Edit->text(), QStringLiteral("Kestro Studio"));
    QCOMPARE(ui().SourceDirectory_Edit->text(), source + QLatin1Char('/'));
    QCOMPARE(ui().TargetDirectory_Edit->text(), target + QLatin1Char('/'));
    QCOMPARE(form_->BrandTextFont().Font.family(), font.Font.family());
    QCOMPARE(form_->BrandTextFont().Font.pointSize(), 17);
    QVERIFY(form_->BrandTextFont().Font.bold() && form_->BrandTextFont().Font.italic());
    QCOMPARE(form_->BrandTextFont().Color, 0);
    QCOMPARE(ui().BrandText_Edit->height(), fieldHeight);
    QCOMPARE(ui().SourceDirectory_Label->y(), Bottom(ui().BrandText_Edit) + 7);
    // The reset goes to the font as laid out, not the loaded one.
    ui().ResetBrandTextFont_MenuItem->trigger();
    QVERIFY(form_->BrandTextFont().Font.pointSize() != 17);
    QVERIFY(dialogs_->Messages.isEmpty());
  }

  void storedValuesAreNormalisedAndBadFontsIgnored() {
    form_.reset();
    {
      TConfigurationFile store;
      store.Load();
      store.WriteValue("BrandText", " spaced = text ");
      store.WriteValue("BrandTextFont", "garbage without commas");
      store.WriteValue("SourceDirectory", "/no/slash");
      store.WriteValue("TargetDirectory", "");
      QVERIFY(store.Save());
    }
    OpenForm();
    QCOMPARE(form_->BrandText(), std::string(" spaced = text "));
    QCOMPARE(form_->SourceDirectory(), std::string("/no/slash/"));
    QCOMPARE(form_->TargetDirectory(), std::string());
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QVERIFY(dialogs_->Messages.isEmpty());

    // A font text that fails half-way (face read, size not) is undone whole.
    form_.reset();
    {
      TConfigurationFile store;
      store.Load();
      store.WriteValue("BrandTextFont", "\"Some Other Face\", huge, [Bold], [clRed]");
      QVERIFY(store.Save());
    }
    OpenForm();
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QCOMPARE(form_->BrandText(), std::string(" spaced = text "));
  }

  void anotherUsersSettingsAreNeverShown() {
    form_.reset();
    {
      // A value with line breaks becomes lines of their own once saved: here
      // the settings of a user with another name.
      TConfigurationFile store;
      store.Load();
      store.WriteValue("Note",
                       "x\r\nsomeone-else.KESTRO CONFIGURATION FILE=YES\r\n"
                       "someone-else.BrandText=Their Studio\r\n"
                       "someone-else.SourceDirectory=/their/photos/\r\n"
                       "someone-else.BrandTextFont=\"Their Face\", 30, [Bold], [clRed]");
      QVERIFY(store.Save());
      TConfigurationFile check;
      check.Load();
      QVERIFY(std::count(check.Lines().begin(), check.Lines().end(),
                         "someone-else.BrandText=Their Studio") == 1);
    }
    OpenForm();
    QVERIFY(form_->BrandText().empty());
    QVERIFY(form_->SourceDirectory().empty());
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QVERIFY(dialogs_->Messages.isEmpty());
  }

  void readOnlyConfigurationGivesOneMessageAndStillCloses() {
    QTest::keyClicks(ui().BrandText_Edit, QStringLiteral("First"));
    Restart();
    const QByteArray saved = ReadBytes(Config());
    QVERIFY(!saved.isEmpty());
    QVERIFY(QFile::setPermissions(Config(), QFile::ReadOwner | QFile::ReadGroup));

    QTest::keyClicks(ui().BrandText_Edit, QStringLiteral(" and second"));
    ui().Exit_MenuItem->trigger();
    QCOMPARE(dialogs_->Messages, QStringList{kSaveFailed});
    QVERIFY(!form_->isVisible());
    QCOMPARE(ReadBytes(Config()), saved);
  }

  // ---- Saving the log --------------------------------------------------------

  void savingTheLog() {
    // An empty log gives an empty file; the user's cancel writes nothing.
    const QString emptyLog = Work(QStringLiteral("empty.log"));
    dialogs_->SaveAnswers.push_back(emptyLog);
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(dialogs_->SaveDefaultName, QString::fromUtf8(kDefaultLogFileName));
    QVERIFY(QFile::exists(emptyLog));
    QCOMPARE(ReadBytes(emptyLog), QByteArray());
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(dialogs_->SaveRequests, 2);
    QVERIFY(dialogs_->Messages.isEmpty());

    // A log with empty lines and non-ASCII text, written as UTF-8 bytes.
    const QString source = Work(QStringLiteral("Bilder \u00e4"));
    QVERIFY(QDir().mkpath(source));
    QVERIFY(WriteBytes(source + QStringLiteral("/\u00fcber.txt"), "x"));
    SetUpSettings(source, Work(QStringLiteral("target")));
    Process();
    const QString logFile = Work(QStringLiteral("saved.log"));
    QVERIFY(WriteBytes(logFile, QByteArray(1000, 'z')));  // replaced whole
    dialogs_->SaveAnswers.push_back(logFile);
    ui().SaveLog_MenuItem->trigger();
    const QByteArray expected = (QStringLiteral("File type not processable: ") + source +
                                 QStringLiteral("/\u00fcber.txt\r\n\r\n1 files processed."))
                                    .toUtf8();
    QCOMPARE(ReadBytes(logFile), expected);

    // A file that cannot be written: the message, and the log stays.
    dialogs_->SaveAnswers.push_back(Work(QStringLiteral("missing-folder/x.log")));
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(dialogs_->Messages, QStringList{QStringLiteral("I cannot save the log file!")});
    QCOMPARE(form_->LogLines().size(), std::size_t{3});
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
