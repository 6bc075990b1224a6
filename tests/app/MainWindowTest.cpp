// The main window driven as a user drives it: clicks, typed keys, menu
// commands, with every dialog answered from a script.

#include <QApplication>
#include <QBuffer>
#include <QComboBox>
#include <QCryptographicHash>
#include <QDialog>
#include <QDir>
#include <QImage>
#include <QInputDialog>
#include <QLabel>
#include <QMenu>
#include <QProgressBar>
#include <QScreen>
#include <QScrollArea>
#include <QScrollBar>
#include <QSet>
#include <QSpinBox>
#include <QTemporaryDir>
#include <QTimer>
#include <QtTest>
#include <algorithm>
#include <functional>
#include <map>
#include <memory>
#include <sstream>

#include "app/BrandFontDialog.h"
#include "app/MainWindow.h"
#include "app/MarkDialog.h"
#include "app/PresetsDialog.h"
#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"
#include "settings/PresetStore.h"
#include "tests/support/PixelCount.h"
#include "tests/support/RefusalCases.h"
#include "tests/support/WindowTestSupport.h"
#include "tools/sigilon-brand/BrandCommand.h"
#include "windows/SplashScreen.h"

using namespace sigilon;
using namespace sigilon::test;
using namespace Qt::StringLiterals;

namespace {

const QString kNoImages = u"There were no images to process in the Source Directory."_s;
const QString kSameDirectory =
    u"You cannot save the Target images into the same directory as the Source images because "
    "they would overwrite the Source images!"_s;

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

// Every file of a directory with a digest of its bytes, to show that nothing
// changed.
QMap<QString, QByteArray> Snapshot(const QString& directory) {
  QMap<QString, QByteArray> files;
  const QDir dir(directory);
  for (const QString& name : dir.entryList(QDir::Files | QDir::Hidden | QDir::System)) {
    files.insert(
        name,
        QCryptographicHash::hash(ReadFile(dir.filePath(name)), QCryptographicHash::Sha1).toHex());
  }
  return files;
}

int FileCount(const QString& directory) { return QDir(directory).entryList(QDir::Files).size(); }

int Bottom(const QWidget* widget) { return widget->y() + widget->height(); }

// Calls `step` at every event pump until it returns true (a zero timer runs
// inside the batch run's processEvents calls).
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

// Counts the events of one type that reach an object.
class TEventCounter : public QObject {
 public:
  TEventCounter(QObject& watched, QEvent::Type type, int& count) : type_(type), count_(count) {
    watched.installEventFilter(this);
  }
  bool eventFilter(QObject*, QEvent* event) override {
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
  std::unique_ptr<ScratchStartDirectory> start_;
  std::unique_ptr<QTemporaryDir> work_;  // source and target directories
  std::unique_ptr<TScriptedDialogs> dialogs_;
  std::unique_ptr<TMain_Form> form_;
  QString source_, target_;
  std::vector<TBrandLook> fontPresets_;  // what each brand font dialog opened on

  const Ui::TMain_Form& ui() const { return form_->Form(); }
  QString Work(const QString& name) const { return work_->filePath(name); }
  QString Config() const { return start_->FilePath(u"Sigilon.cfg"_s); }

  QStringList Log() const {
    QStringList list;
    for (const std::string& line : form_->LogLines()) list << QString::fromStdString(line);
    return list;
  }

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

  // Stores the values as a previous session would have, and opens the window.
  void OpenWithStored(const std::map<std::string, std::string>& values) {
    form_.reset();
    TConfigurationFile store;
    store.Load();
    for (const auto& [name, value] : values) store.WriteValue(name, value);
    QVERIFY(store.Save());
    OpenForm();
  }

  // Answers the next brand font dialog: `work` sets its controls as a user
  // would, then the dialog is confirmed (or cancelled).
  void ScriptFontDialog(std::function<void(TBrandFont_Form&)> work, bool confirm = true) {
    dialogs_->DialogScripts.push_back([this, work, confirm](QDialog& dialog) {
      auto& form = dynamic_cast<TBrandFont_Form&>(dialog);
      fontPresets_.push_back(form.Look());
      if (work) work(form);
      return confirm ? QDialog::Accepted : QDialog::Rejected;
    });
  }

  void ChooseFolder(QAction* menuItem, const QString& folder) {
    dialogs_->FolderAnswers.push_back(folder);
    menuItem->trigger();
  }

  void SetUpSettings(const QString& source, const QString& target) {
    QTest::keyClicks(ui().BrandText_Edit, u"Kestro Studio"_s);
    ChooseFolder(ui().SourceDirectory_MenuItem, source);
    ChooseFolder(ui().TargetDirectory_MenuItem, target);
  }

  // A source of `count` pictures p1.jpg... and an empty target, set up.
  void SetUpRun(int count) {
    QVERIFY(QDir().mkpath(source_) && QDir().mkpath(target_));
    for (int i = 1; i <= count; ++i) {
      QVERIFY(WritePicture(source_ + u"/p%1.jpg"_s.arg(i), "JPG", QColor(i * 40, 60, 0)));
    }
    SetUpSettings(source_, target_);
  }

  // A source of one white bitmap, white.bmp, and an empty target, set up.
  QImage SetUpWhiteRun(QSize size) {
    QImage white(size, QImage::Format_RGB888);
    white.fill(Qt::white);
    if (!QDir().mkpath(source_) || !QDir().mkpath(target_) ||
        !white.save(source_ + u"/white.bmp"_s, "BMP")) {
      QTest::qFail("cannot write the white source", __FILE__, __LINE__);
    }
    SetUpSettings(source_, target_);
    return white;
  }

  void Process() { QTest::mouseClick(ui().Process_Button, Qt::LeftButton); }

  void CheckIdle() {
    QVERIFY(!form_->Busy());
    QVERIFY(ui().Process_Button->isEnabled());
    QVERIFY(!ui().Cancel_Button->isEnabled());
  }

 private slots:
  void initTestCase() {
    ApplyApplicationTitle();
    QApplication::setQuitOnLastWindowClosed(false);
  }

  void init() {
    fontPresets_.clear();
    start_ = std::make_unique<ScratchStartDirectory>();
    work_ = std::make_unique<QTemporaryDir>();
    QVERIFY(start_->IsValid() && work_->isValid());
    source_ = Work(u"source"_s);
    target_ = Work(u"target"_s);
    dialogs_ = std::make_unique<TScriptedDialogs>();
    OpenForm();
  }

  void cleanup() {
    form_.reset();
    dialogs_.reset();
    QFile::setPermissions(Config(), QFile::ReadOwner | QFile::WriteOwner);
    work_.reset();
    start_.reset();
  }

  // ---- Start-up and layout ---------------------------------------------

  void firstStartIsIdleOnTheSettingsPage() {
    QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    CheckIdle();
    QVERIFY(ui().Exit_Button->isEnabled());
    for (const QLineEdit* edit :
         {ui().BrandText_Edit, ui().SourceDirectory_Edit, ui().TargetDirectory_Edit}) {
      QVERIFY(edit->text().isEmpty());
    }
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QCOMPARE(form_->BrandTextFont().Color, 0);
    QVERIFY(dialogs_->Messages.isEmpty());
    QCOMPARE(form_->minimumSize(), QSize(259, 250));
  }

  void layoutFollowsTheWindowSize() {
    form_->resize(640, 420);
    QTRY_COMPARE(form_->width(), 640);
    QTRY_COMPARE(form_->StatusPanel(0).width(), form_->width() - 100);
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
    QTRY_COMPARE(form_->StatusPanel(0).width(), 259 - 100);
    // There the buttons stand inside the window, left to right, captions whole.
    const QPushButton* left = nullptr;
    for (const QPushButton* button : {ui().Process_Button, ui().Cancel_Button, ui().Exit_Button}) {
      QVERIFY(form_->rect().contains(QRect(button->mapTo(form_.get(), QPoint()), button->size())));
      QVERIFY(button->width() > button->fontMetrics().horizontalAdvance(button->text()));
      if (left != nullptr) QVERIFY(button->x() >= left->x() + left->width());
      left = button;
    }

    // A long log line must not widen the window or its panel.
    QVERIFY(QDir().mkpath(source_));
    QVERIFY(WriteFile(source_ + u'/' + QString(200, u'n'), "x"));
    SetUpSettings(source_, target_);
    Process();
    QCOMPARE(Log().size(), 3);
    QCoreApplication::processEvents();  // what the line set off, handled
    QCOMPARE(form_->size(), QSize(259, 250));
    QCOMPARE(form_->StatusPanel(0).width(), 259 - 100);
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

    // The last field stays above the buttons even at the smallest size.
    const auto checkLastFieldShows = [this] {
      form_->resize(10, 10);
      QTRY_COMPARE(form_->size(), form_->minimumSize());
      QTRY_VERIFY(Bottom(ui().TargetDirectory_Edit) <= ui().Settings_TabSheet->height());
    };
    ScriptFontDialog([](TBrandFont_Form& dialog) { dialog.Form().Size_SpinBox->setValue(40); });
    QTest::mouseDClick(ui().BrandText_Edit, Qt::LeftButton);
    QCOMPARE(fontPresets_.size(), std::size_t{1});
    QVERIFY(fontPresets_[0].Font == laidOut);
    QCOMPARE(form_->BrandTextFont().Font.pointSize(), 40);
    QVERIFY(ui().BrandText_Edit->height() > laidOutHeight + 20);
    QCOMPARE(ui().BrandText_Edit->y(), 20);
    checkStack();
    QVERIFY(form_->minimumHeight() > 250);
    checkLastFieldShows();

    // A cancelled dialog keeps the font.
    ScriptFontDialog([](TBrandFont_Form& dialog) { dialog.Form().Size_SpinBox->setValue(9); },
                     false);
    ui().SelectBrandTextFont_MenuItem->trigger();
    QCOMPARE(fontPresets_.size(), std::size_t{2});
    QCOMPARE(form_->BrandTextFont().Font.pointSize(), 40);
    checkStack();

    ui().ResetBrandTextFont_MenuItem->trigger();
    QVERIFY(form_->BrandTextFont() == laidOut);
    QCOMPARE(ui().BrandText_Edit->height(), laidOutHeight);
    checkStack();
    QCOMPARE(form_->minimumSize(), QSize(259, 250));
    checkLastFieldShows();

    // A large window font thickens the bars and the labels: no label is cut
    // off, and the last field still stands above the buttons.
    QFont large = form_->font();
    large.setPointSize(20);
    form_->setFont(large);
    for (const QLabel* label :
         {ui().BrandText_Label, ui().SourceDirectory_Label, ui().TargetDirectory_Label}) {
      const QFontMetrics metrics(label->font());
      QVERIFY(label->width() >= metrics.horizontalAdvance(label->text()));
      QVERIFY(label->height() >= metrics.height());
    }
    QVERIFY(ui().WorkingImage_Label->height() >= QFontMetrics(large).height());
    QTRY_VERIFY(form_->StatusPanel(0).height() >= QFontMetrics(large).height());
    QVERIFY(form_->BrandTextFont() == laidOut);
    checkStack();
    checkLastFieldShows();
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
    const QString folder = Work(u"photos"_s);
    dialogs_->FolderAnswers.push_back(folder);
    QTest::keyClicks(ui().SourceDirectory_Edit, u"q"_s);
    QCOMPARE(dialogs_->FolderInstructions, QStringList{u"Images Directory"_s});
    // One slash is added; the typed key never reaches the text.
    QCOMPARE(ui().SourceDirectory_Edit->text(), folder + u'/');

    // Tab moves on without a dialog.
    QTest::keyClick(ui().SourceDirectory_Edit, Qt::Key_Tab);
    QCOMPARE(dialogs_->FolderInstructions.size(), 1);

    // A cancelled dialog keeps the setting.
    QTest::mouseClick(ui().SourceDirectory_Edit, Qt::LeftButton);
    QCOMPARE(dialogs_->FolderInstructions.size(), 2);
    QCOMPARE(ui().SourceDirectory_Edit->text(), folder + u'/');

    // The root keeps its single slash.
    dialogs_->FolderAnswers.push_back(u"/"_s);
    QTest::keyClick(ui().TargetDirectory_Edit, Qt::Key_Return);
    QCOMPARE(dialogs_->FolderInstructions.last(), u"Save Directory"_s);
    QCOMPARE(ui().TargetDirectory_Edit->text(), u"/"_s);
  }

  // ---- The five refusals -----------------------------------------------

  void processRefusesIncompleteSettings() {
    QVERIFY(QDir().mkpath(source_) && QDir().mkpath(target_));
    QVERIFY(WritePicture(source_ + u"/a.jpg"_s, "JPG"));
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));

    // Empty brand text: message, Settings page, focus on the field, no dialog.
    ui().Main_PageControl->setCurrentIndex(2);
    Process();
    QCOMPARE(dialogs_->Messages, QStringList{u"You must enter the Brand Text setting."_s});
    QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    QCOMPARE(QApplication::focusWidget(), ui().BrandText_Edit);
    QVERIFY(dialogs_->FolderInstructions.isEmpty());

    // No source: its message and dialog only; choosing a folder starts nothing.
    QTest::keyClicks(ui().BrandText_Edit, u"   "_s);
    ui().Main_PageControl->setCurrentIndex(1);
    dialogs_->FolderAnswers.push_back(source_);
    Process();
    QCOMPARE(dialogs_->Messages.last(), u"You must set the Source Path setting."_s);
    QCOMPARE(dialogs_->FolderInstructions, QStringList{u"Images Directory"_s});
    QCOMPARE(form_->SourceDirectory(), source_.toStdString() + "/");
    QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    QVERIFY(Log().isEmpty());

    // No target: its message and dialog; cancelled, the target stays empty.
    Process();
    QCOMPARE(dialogs_->Messages.last(), u"You must set the Target Path setting."_s);
    QCOMPARE(dialogs_->FolderInstructions.last(), u"Save Directory"_s);
    QVERIFY(form_->TargetDirectory().empty());

    // The same directory: by text, and by identity under another spelling.
    for (const QString& spelling : {source_, source_ + u"/."_s}) {
      ChooseFolder(ui().TargetDirectory_MenuItem, spelling);
      const qsizetype dialogsBefore = dialogs_->FolderInstructions.size();
      ui().Main_PageControl->setCurrentIndex(2);
      Process();
      QCOMPARE(dialogs_->Messages.last(), kSameDirectory);
      QCOMPARE(dialogs_->FolderInstructions.size(), dialogsBefore);
      QCOMPARE(ui().Main_PageControl->currentIndex(), 0);
    }

    // The start directory in other letter case: message with the title, and
    // the target dialog.
    ChooseFolder(ui().TargetDirectory_MenuItem, start_->Path().toLower());
    Process();
    QCOMPARE(dialogs_->Messages.last(),
             u"You cannot save the Target images into Sigilon's directory!"_s);
    QCOMPARE(dialogs_->FolderInstructions.last(), u"Save Directory"_s);

    // None of it touched a file or left the idle state.
    QCOMPARE(FileCount(target_), 0);
    QCOMPARE(Snapshot(start_->Path()).keys(), QStringList{u"Sigilon.cfg"_s});
    CheckIdle();
  }

  void processRefusesTheSharedRefusalCases() {
    QVERIFY(QDir().mkpath(source_) && QDir().mkpath(target_));
    QVERIFY(WritePicture(source_ + u"/a.jpg"_s, "JPG"));
    for (const test::RefusalCase& c : test::RefusalCases(
             source_.toStdString(), target_.toStdString(), start_->Path().toStdString())) {
      form_->SetBrandText(c.BrandText);
      form_->SetSourceDirectory(c.SourceDirectory);
      form_->SetTargetDirectory(c.TargetDirectory);
      dialogs_->Messages.clear();
      Process();
      QVERIFY2(dialogs_->Messages == QStringList{QString::fromStdString(c.Message)},
               c.Name.c_str());
      QVERIFY(Log().isEmpty());
    }
    QCOMPARE(FileCount(target_), 0);
    CheckIdle();
  }

  void processClearsTheLogEvenWhenItRefuses() {
    QVERIFY(QDir().mkpath(source_ + u"/only-a-subdirectory"_s));
    SetUpSettings(source_, target_);
    Process();
    QCOMPARE(dialogs_->Messages, QStringList{kNoImages});
    QCOMPARE(Log(), QStringList{kNoImages});
    QCOMPARE(form_->StatusPanel(0).text(), kNoImages);

    ui().BrandText_Edit->clear();
    Process();
    QVERIFY(Log().isEmpty());
    QVERIFY(ui().Log_Memo->toPlainText().isEmpty());
    QVERIFY(form_->StatusPanel(0).text().isEmpty());
  }

  // ---- Runs --------------------------------------------------------------

  void runBrandsEveryFileOfTheSourceDirectory() {
    QVERIFY(QDir().mkpath(source_ + u"/sub"_s) && QDir().mkpath(target_));
    QVERIFY(WritePicture(source_ + u"/a.jpg"_s, "JPG"));
    QVERIFY(WriteFile(source_ + u"/b.txt"_s, "not a picture"));
    QVERIFY(WritePicture(source_ + u"/c.BMP"_s, "BMP"));
    QVERIFY(WritePicture(source_ + u"/.hidden.jpg"_s, "JPG"));
    QVERIFY(WritePicture(source_ + u"/sub/deeper.jpg"_s, "JPG"));
    QVERIFY(QFile::link(source_ + u"/sub"_s, source_ + u"/linked-sub"_s));
    const auto before = Snapshot(source_);

    SetUpSettings(source_, target_);
    Process();

    const QStringList log = Log();
    QCOMPARE(log.size(), 6);
    const QString prefix = source_ + u'/';
    QCOMPARE(QSet<QString>(log.begin(), log.begin() + 4),
             (QSet<QString>{u"Processed file: "_s + prefix + u"a.jpg"_s,
                            u"File type not processable: "_s + prefix + u"b.txt"_s,
                            u"Processed file: "_s + prefix + u"c.BMP"_s,
                            u"Processed file: "_s + prefix + u".hidden.jpg"_s}));
    QCOMPARE(log.mid(4), (QStringList{QString(), u"4 files processed."_s}));
    QCOMPARE(form_->StatusPanel(0).text(), log[5]);
    QCOMPARE(ui().Log_Memo->toPlainText(), log.join(u'\n'));

    const auto written = Snapshot(target_);
    QCOMPARE(QSet<QString>(written.keyBegin(), written.keyEnd()),
             (QSet<QString>{u"a.jpg"_s, u"c.BMP"_s, u".hidden.jpg"_s}));
    QCOMPARE(QImage(target_ + u"/a.jpg"_s).size(), QSize(40, 30));
    QCOMPARE(Snapshot(source_), before);

    // The last JPEG preview stays on the Image page.
    QVERIFY(ui().Working_Image->Picture() != nullptr);
    QCOMPARE(ui().Working_Image->Picture()->Width(), 40);
    QCOMPARE(ui().Working_Image->Picture()->Height(), 30);
    CheckIdle();
    QVERIFY(ui().BrandText_Edit->isEnabled());
    QVERIFY(dialogs_->Messages.isEmpty());

    // The saved log: CR LF between lines, none after the last.
    const QString logFile = Work(u"run.log"_s);
    dialogs_->SaveAnswers.push_back(logFile);
    QTest::mouseDClick(ui().Log_Memo->viewport(), Qt::LeftButton);
    QCOMPARE(dialogs_->Saves.size(), std::size_t{1});
    QCOMPARE(dialogs_->Saves[0].size(), 6);  // three filters
    QCOMPARE(dialogs_->Saves[0].mid(0, 3),
             (QStringList{u"Save As"_s, QString::fromUtf8(kDefaultLogFileName), u"log"_s}));
    QCOMPARE(ReadFile(logFile), log.join(u"\r\n"_s).toUtf8());

    // Process again works and empties the log first.
    Process();
    QCOMPARE(Log().size(), 6);
  }

  void unreadableBrandFontEndsTheRunWithItsMessage() {
    SetUpRun(2);
    // A face name with a comma does not survive the font description text.
    QFont odd = ui().BrandText_Edit->font();
    odd.setFamily(u"Odd, Face"_s);
    form_->SetBrandTextFont(TWindowFont{odd, 0});

    Process();
    QCOMPARE(dialogs_->Messages, QStringList{u"'Face\"' is not a valid integer value"_s});
    QVERIFY(Log().isEmpty());
    QCOMPARE(FileCount(target_), 0);
    CheckIdle();
  }

  void cancelStopsBeforeTheNextFile() {
    SetUpRun(5);
    // Press Cancel at the preview of the second file, that is while it is
    // being branded.
    const TBitmap* firstPreview = nullptr;
    bool cancelWasEnabled = false;
    TPumpHook hook([&] {
      if (!form_->Busy()) return false;
      const TBitmap* key = ui().Working_Image->Picture();
      if (form_->LogLines().size() == 1 && firstPreview == nullptr) firstPreview = key;
      if (firstPreview == nullptr || key == firstPreview) return false;
      cancelWasEnabled = ui().Cancel_Button->isEnabled();
      QTest::mouseClick(ui().Cancel_Button, Qt::LeftButton);
      return true;
    });
    Process();
    QVERIFY(hook.Finished());
    QVERIFY(cancelWasEnabled);

    const QStringList log = Log();
    QCOMPARE(log.size(), 7);
    QVERIFY(log[0].startsWith(u"Processed file: "_s));
    QCOMPARE(log.mid(1, 3), (QStringList{QString(), u"Operation Canceled by User."_s, QString()}));
    QVERIFY(log[4].startsWith(u"Processed file: "_s));
    QCOMPARE(log.mid(5), (QStringList{QString(), u"2 files processed."_s}));
    QCOMPARE(FileCount(target_), 2);
    QVERIFY(!ui().Cancel_Button->isEnabled());
  }

  void runShowsItsProgressAndEscapeCancels() {
    SetUpRun(4);
    form_->activateWindow();
    QVERIFY(QTest::qWaitForWindowActive(form_.get()));
    // At every pump: the busy state and the count, from before the first file.
    bool busyBeforeFirstFile = false;
    QStringList progress;
    int messageRoom = INT_MAX;  // fifths of the window
    form_->resize(form_->minimumSize());
    TPumpHook hook([&] {
      if (!form_->Busy()) return false;
      const std::size_t done = form_->LogLines().size();
      if (done == 0) {
        busyBeforeFirstFile = ui().Cancel_Button->isEnabled() &&
                              !ui().Process_Button->isEnabled() && !ui().Exit_Button->isEnabled() &&
                              form_->ProgressBar().isVisible();
      }
      const QString shown = u"%1 of %2: %3"_s.arg(form_->ProgressBar().value())
                                .arg(form_->ProgressBar().maximum())
                                .arg(form_->StatusPanel(1).text());
      if (progress.isEmpty() || progress.last() != shown) progress << shown;
      // At the window's smallest the line in panel 0 keeps its share beside the bar.
      messageRoom = std::min(messageRoom, form_->StatusPanel(0).width() * 5 / form_->width());
      if (done < 2) return false;
      QTest::keyClick(form_.get(), Qt::Key_Escape);
      return true;
    });
    Process();
    QVERIFY(hook.Finished());
    QVERIFY(busyBeforeFirstFile);
    QCOMPARE(progress, (QStringList{u"0 of 4: 0 / 4"_s, u"1 of 4: 1 / 4"_s, u"2 of 4: 2 / 4"_s}));
    QCOMPARE_GE(messageRoom, 2);
    QVERIFY(Log().contains(u"Operation Canceled by User."_s));
    QCOMPARE(Log().last(), u"2 files processed."_s);
    QCOMPARE(FileCount(target_), 2);
    // Idle again: no bar, an empty panel of its own width, Escape does nothing.
    CheckIdle();
    QVERIFY(!form_->ProgressBar().isVisible());
    QVERIFY(form_->StatusPanel(1).text().isEmpty());
    QCOMPARE(form_->StatusPanel(1).width(), 50);
    QTest::keyClick(form_.get(), Qt::Key_Escape);
    QCOMPARE(Log().last(), u"2 files processed."_s);
  }

  void targetTurnedToTheSourceDuringARunWritesNothingThere() {
    const QString link = Work(u"link-to-source"_s);
    SetUpRun(3);
    QVERIFY(QFile::link(source_, link));
    const auto before = Snapshot(source_);

    // Once the first file is done the user points the target at the source
    // through a symbolic link, with the menu.
    TPumpHook hook([&] {
      if (!form_->Busy() || form_->LogLines().empty()) return false;
      ChooseFolder(ui().TargetDirectory_MenuItem, link);
      return true;
    });
    Process();
    QVERIFY(hook.Finished());

    QCOMPARE(Snapshot(source_), before);
    const QStringList log = Log();
    QCOMPARE(log.size(), 5);
    QCOMPARE(log.last(), u"3 files processed."_s);
    // The file branded before the target changed went to the old target;
    // every later one was refused.
    QCOMPARE(FileCount(target_), 1);
    QCOMPARE(log.filter(u"Failed to process file: "_s + source_).size(), 2);

    // Afterwards the link is refused before the run starts.
    Process();
    QCOMPARE(dialogs_->Messages.last(), kSameDirectory);
    QCOMPARE(Snapshot(source_), before);
  }

  void closingDuringARunSavesAtOnceAndLetsTheRunEnd() {
    SetUpRun(3);
    bool savedAtClose = false;
    TPumpHook hook([&] {
      if (!form_->Busy()) return false;
      ui().Exit_MenuItem->trigger();
      TConfigurationFile store;
      store.Load();
      savedAtClose = store.ReadValue("BrandText") == "Kestro Studio" &&
                     store.ReadValue("TargetDirectory") == target_.toStdString() + "/";
      return true;
    });
    Process();
    QVERIFY(hook.Finished());
    QVERIFY(savedAtClose);
    QVERIFY(!form_->isVisible());
    QCOMPARE(FileCount(target_), 3);
    QCOMPARE(Log().last(), u"3 files processed."_s);
    QVERIFY(dialogs_->Messages.isEmpty());
  }

  // ---- Settings persistence ------------------------------------------------

  void settingsSurviveARestart() {
    SetUpSettings(source_, target_);
    ScriptFontDialog([](TBrandFont_Form& dialog) {
      dialog.Form().Size_SpinBox->setValue(17);
      dialog.Form().Bold_CheckBox->setChecked(true);
      dialog.Form().Italic_CheckBox->setChecked(true);
    });
    ui().SelectBrandTextFont_MenuItem->trigger();
    const QString family = form_->BrandTextFont().Font.family();
    const int fieldHeight = ui().BrandText_Edit->height();

    Restart();
    QCOMPARE(ui().BrandText_Edit->text(), u"Kestro Studio"_s);
    QCOMPARE(ui().SourceDirectory_Edit->text(), source_ + u'/');
    QCOMPARE(ui().TargetDirectory_Edit->text(), target_ + u'/');
    const TWindowFont& font = form_->BrandTextFont();
    QCOMPARE(font.Font.family(), family);
    QCOMPARE(font.Font.pointSize(), 17);
    QVERIFY(font.Font.bold() && font.Font.italic());
    QCOMPARE(font.Color, 0);
    QCOMPARE(ui().BrandText_Edit->height(), fieldHeight);
    QCOMPARE(ui().SourceDirectory_Label->y(), Bottom(ui().BrandText_Edit) + 7);
    // The reset goes to the font as laid out, not the loaded one.
    ui().ResetBrandTextFont_MenuItem->trigger();
    QVERIFY(form_->BrandTextFont().Font.pointSize() != 17);
    QVERIFY(dialogs_->Messages.isEmpty());
  }

  void storedValuesAreNormalisedAndBadFontsIgnored() {
    OpenWithStored({{"BrandText", " spaced = text "},
                    {"BrandTextFont", "garbage without commas"},
                    {"SourceDirectory", "/no/slash"},
                    {"TargetDirectory", ""}});
    QCOMPARE(form_->BrandText(), std::string(" spaced = text "));
    QCOMPARE(form_->SourceDirectory(), std::string("/no/slash/"));
    QCOMPARE(form_->TargetDirectory(), std::string());
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QVERIFY(dialogs_->Messages.isEmpty());

    // A font text that fails half-way (face read, size not) is undone whole.
    OpenWithStored({{"BrandTextFont", "\"Some Other Face\", huge, [Bold], [clRed]"}});
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QCOMPARE(form_->BrandText(), std::string(" spaced = text "));
  }

  void anotherUsersSettingsAreNeverShown() {
    // A value with line breaks becomes lines of their own once saved: here
    // the settings of a user with another name.
    OpenWithStored({{"Note",
                     "x\r\nsomeone-else.KESTRO CONFIGURATION FILE=YES\r\n"
                     "someone-else.BrandText=Their Studio\r\n"
                     "someone-else.SourceDirectory=/their/photos/\r\n"
                     "someone-else.BrandTextFont=\"Their Face\", 30, [Bold], [clRed]"}});
    TConfigurationFile check;
    check.Load();
    QCOMPARE(std::count(check.Lines().begin(), check.Lines().end(),
                        "someone-else.BrandText=Their Studio"),
             1);
    QVERIFY(form_->BrandText().empty());
    QVERIFY(form_->SourceDirectory().empty());
    QVERIFY(form_->BrandTextFont() == form_->OriginalBrandTextFont());
    QVERIFY(dialogs_->Messages.isEmpty());
  }

  void readOnlyConfigurationGivesOneMessageAndStillCloses() {
    QTest::keyClicks(ui().BrandText_Edit, u"First"_s);
    Restart();
    const QByteArray saved = ReadFile(Config());
    QVERIFY(!saved.isEmpty());
    QVERIFY(QFile::setPermissions(Config(), QFile::ReadOwner | QFile::ReadGroup));

    QTest::keyClicks(ui().BrandText_Edit, u" and second"_s);
    ui().Exit_MenuItem->trigger();
    QCOMPARE(dialogs_->Messages, QStringList{u"I was not able to save your configuration.\r"
                                             "Maybe the file has been made read only?"_s});
    QVERIFY(!form_->isVisible());
    QCOMPARE(ReadFile(Config()), saved);
  }

  // ---- Brand colour, preview, remembered places -------------------------

  void colourChosenInTheDialogReachesTheStampedPixels() {
    const QImage white = SetUpWhiteRun(QSize(160, 120));

    // A custom colour first, then the red swatch; the samples follow each.
    dialogs_->ColorAnswers.push_back(QColor(10, 200, 30));
    ScriptFontDialog([](TBrandFont_Form& dialog) {
      dialog.Form().Size_SpinBox->setValue(20);
      dialog.Form().Bold_CheckBox->setChecked(true);
      dialog.Form().CustomColor_Button->click();
      QCOMPARE(dialog.Look().Font.Color, 0x1EC80A);
      QVERIFY(!dialog.Swatch(0)->isChecked());
      dialog.Swatch(9)->click();  // clRed
      QVERIFY(dialog.Swatch(9)->isChecked());
      for (const QLabel* sample :
           {dialog.Form().LightSample_Label, dialog.Form().DarkSample_Label}) {
        QCOMPARE(sample->palette().color(QPalette::WindowText), QColor(255, 0, 0));
      }
      QVERIFY(dialog.Form().LightSample_Label->palette().color(QPalette::Window).lightness() >
              dialog.Form().DarkSample_Label->palette().color(QPalette::Window).lightness() + 100);
    });
    ui().SelectBrandTextFont_MenuItem->trigger();
    QCOMPARE(dialogs_->ColorPresets.size(), std::size_t{1});
    QCOMPARE(form_->BrandTextFont().Color, 0x0000FF);
    QVERIFY(FontToText(form_->BrandTextFont()).ends_with(", [Bold], [clRed]"));
    QCOMPARE(ui().BrandText_Edit->palette().color(QPalette::Text), QColor(255, 0, 0));

    Process();
    const QImage branded(target_ + u"/white.bmp"_s);
    QCOMPARE(branded.size(), white.size());
    // Full red inside the letters; their smoothed edges lie between red and
    // white, never towards another colour.
    int red = 0, other = 0;
    for (int y = 0; y < branded.height(); ++y) {
      for (int x = 0; x < branded.width(); ++x) {
        const QColor pixel = branded.pixelColor(x, y);
        red += pixel == QColor(255, 0, 0);
        other += pixel.red() < 250 || std::abs(pixel.green() - pixel.blue()) > 2;
      }
    }
    QVERIFY(red > 200);
    QCOMPARE(other, 0);
  }

  void lookChosenInTheDialogReachesThePixelsAndIsRemembered() {
    SetUpWhiteRun(QSize(200, 150));

    // Red at half strength, outlined in black, a fifth of the picture high.
    ScriptFontDialog([](TBrandFont_Form& dialog) {
      dialog.Swatch(9)->click();  // clRed
      dialog.Form().Opacity_SpinBox->setValue(50);
      dialog.Form().RelativeSize_CheckBox->setChecked(true);
      dialog.Form().RelativeSize_SpinBox->setValue(20);
      QVERIFY(!dialog.Form().Outline_CheckBox->isChecked());
      dialog.OutlineColorMenu()->findChild<QAction*>(u"clBlack"_s)->trigger();
      QVERIFY(dialog.Form().Outline_CheckBox->isChecked());
      // The samples show the blend: no pixel of them is full red.
      const QImage sample = dialog.Form().LightSample_Label->pixmap().toImage();
      int blended = 0;
      for (int y = 0; y < sample.height(); ++y) {
        for (int x = 0; x < sample.width(); ++x) {
          const QColor pixel = sample.pixelColor(x, y);
          QVERIFY(pixel.alpha() <= 130);
          blended += pixel.alpha() > 120;
        }
      }
      QVERIFY(blended > 20);
    });
    ui().SelectBrandTextFont_MenuItem->trigger();
    const TStampLook chosen{.RelativeSize = 20, .Opacity = 50, .Outline = 0x000000};
    QVERIFY(form_->BrandLook() == chosen);

    Process();
    const QImage branded(target_ + u"/white.bmp"_s);
    // Half red over white is pink, half black over white is grey; nothing
    // comes out full strength.
    int pink = 0, grey = 0, dark = 0;
    for (int y = 0; y < branded.height(); ++y) {
      for (int x = 0; x < branded.width(); ++x) {
        const QColor pixel = branded.pixelColor(x, y);
        pink += pixel.red() > 250 && std::abs(pixel.green() - 128) < 6 &&
                std::abs(pixel.blue() - 128) < 6;
        grey += std::abs(pixel.red() - 128) < 6 && std::abs(pixel.green() - 128) < 6 &&
                std::abs(pixel.blue() - 128) < 6;
        dark += std::min({pixel.red(), pixel.green(), pixel.blue()}) < 118;
      }
    }
    QVERIFY(pink > 100);
    QVERIFY(grey > 50);
    QCOMPARE(dark, 0);

    // Remembered across a restart and shown by the dialog; resetting the
    // font resets the look.
    Restart();
    QVERIFY(form_->BrandLook() == chosen);
    ScriptFontDialog({}, false);
    ui().SelectBrandTextFont_MenuItem->trigger();
    QVERIFY(fontPresets_.back().Stamp == chosen);
    ui().ResetBrandTextFont_MenuItem->trigger();
    QVERIFY(form_->BrandLook() == TStampLook{});
  }

  void markAndPresetsReachTheRunAndTheCommandLineAlike() {
    SetUpRun(2);
    // A logo with transparent corners.
    QImage logoPicture(24, 16, QImage::Format_ARGB32);
    logoPicture.fill(Qt::transparent);
    for (int y = 4; y < 12; ++y) {
      for (int x = 4; x < 20; ++x) logoPicture.setPixelColor(x, y, QColor(200, 0, 0, 255));
    }
    const QString logo = Work(u"logo.png"_s);
    QVERIFY(logoPicture.save(logo, "PNG"));
    // The Mark dialog enables what applies to the layout: spacing, anchor and
    // margin, tiled and then single.
    std::vector<bool> enabled;
    dialogs_->DialogScripts.push_back([&enabled, &logo](QDialog& dialog) {
      auto& mark = dynamic_cast<TMark_Form&>(dialog);
      const Ui::TMark_Form& form = mark.Form();
      const auto record = [&] {
        enabled.insert(enabled.end(),
                       {form.Spacing_SpinBox->isEnabled(), form.Anchor_Panel->isEnabled(),
                        form.Margin_SpinBox->isEnabled()});
      };
      record();
      form.Layout_ComboBox->setCurrentIndex(1);
      record();
      mark.AnchorButton(TMarkAnchor::TopLeft)->click();
      form.Margin_SpinBox->setValue(5);
      form.Shadow_CheckBox->setChecked(true);
      form.FillInFields_CheckBox->setChecked(true);
      form.Logo_Edit->setText(logo);
      return static_cast<int>(QDialog::Accepted);
    });
    ui().Mark_MenuItem->trigger();
    QCOMPARE(enabled, (std::vector<bool>{true, false, false, false, true, true}));
    const TStampLook placed{.Layout = TMarkLayout::Single,
                            .Anchor = TMarkAnchor::TopLeft,
                            .Margin = 5,
                            .Shadow = true,
                            .LogoFile = logo.toStdString()};
    QVERIFY(form_->BrandLook() == placed);
    QVERIFY(form_->FillInFields());

    // The brand font dialog and its reset change only the font's own look.
    ScriptFontDialog([](TBrandFont_Form& dialog) { dialog.Form().Opacity_SpinBox->setValue(60); });
    ui().SelectBrandTextFont_MenuItem->trigger();
    TStampLook faded = placed;
    faded.Opacity = 60;
    QVERIFY(form_->BrandLook() == faded);
    ui().ResetBrandTextFont_MenuItem->trigger();
    QVERIFY(form_->BrandLook() == placed);

    // Saved under a name of any characters, straight into the file.
    ui().BrandText_Edit->setText(u"{stem} © Kestro"_s);
    const QString name = u"Studio ☀ = corner"_s;
    QStringList listed;
    dialogs_->DialogScripts.push_back([&listed](QDialog& dialog) {
      const Ui::TPresets_Form& form = dynamic_cast<TPresets_Form&>(dialog).Form();
      form.SaveAs_Button->click();
      for (int i = 0; i < form.Presets_ListBox->count(); ++i) {
        listed << form.Presets_ListBox->item(i)->text();
      }
      return static_cast<int>(QDialog::Rejected);
    });
    dialogs_->DialogScripts.push_back([&name](QDialog& dialog) {
      dynamic_cast<QInputDialog&>(dialog).setTextValue(name);
      return static_cast<int>(QDialog::Accepted);
    });
    ui().Presets_MenuItem->trigger();
    QCOMPARE(listed, QStringList{name});

    // The window, the command line with the preset and the command line with
    // the same options typed write the same bytes.
    Process();
    const std::string ppi = std::to_string(form_->DisplayInfo().PixelsPerInch);
    const auto brand = [&](std::vector<std::string> args, const QString& into) {
      QVERIFY(QDir().mkpath(into));
      args.insert(args.begin(), {"--jobs=1", "--ppi", ppi});
      args.insert(args.end(), {source_.toStdString(), into.toStdString()});
      std::ostringstream out, err;
      QCOMPARE(RunBrandCommand(args, BrandFile, out, err), kExitSuccess);
    };
    brand({"--preset", name.toStdString(), "--config", Config().toStdString()}, Work(u"preset"_s));
    brand(
        {"--font", FontToText(form_->BrandTextFont()), "--layout", "single", "--anchor", "top-left",
         "--margin", "5", "--shadow", "--fields", "--logo", logo.toStdString(), "{stem} © Kestro"},
        Work(u"typed"_s));
    // The logo is part of what all three write.
    brand({"--font", FontToText(form_->BrandTextFont()), "--layout", "single", "--anchor",
           "top-left", "--margin", "5", "--shadow", "--fields", "{stem} © Kestro"},
          Work(u"nologo"_s));
    for (const QString& picture : {u"/p1.jpg"_s, u"/p2.jpg"_s}) {
      const QByteArray typed = ReadFile(Work(u"typed"_s) + picture);
      QVERIFY(typed.size() > 100);
      QCOMPARE(ReadFile(Work(u"preset"_s) + picture), typed);
      QCOMPARE(ReadFile(target_ + picture), typed);
      QVERIFY(ReadFile(Work(u"nologo"_s) + picture) != typed);
    }

    // Used, the preset brings the whole mark back; deleted, it is gone.
    dialogs_->DialogScripts.push_back([](QDialog& dialog) {
      auto& mark = dynamic_cast<TMark_Form&>(dialog);
      mark.Form().Layout_ComboBox->setCurrentIndex(0);
      mark.Form().FillInFields_CheckBox->setChecked(false);
      return static_cast<int>(QDialog::Accepted);
    });
    ui().Mark_MenuItem->trigger();
    ui().BrandText_Edit->setText(u"other"_s);
    dialogs_->DialogScripts.push_back([](QDialog& dialog) {
      auto& presets = dynamic_cast<TPresets_Form&>(dialog);
      presets.Form().Presets_ListBox->setCurrentRow(0);
      presets.Form().Use_Button->click();
      return presets.result();
    });
    ui().Presets_MenuItem->trigger();
    QVERIFY(form_->BrandLook() == placed);
    QVERIFY(form_->FillInFields());
    QCOMPARE(ui().BrandText_Edit->text(), u"{stem} © Kestro"_s);
    dialogs_->DialogScripts.push_back([](QDialog& dialog) {
      dynamic_cast<TPresets_Form&>(dialog).Form().Delete_Button->click();
      return static_cast<int>(QDialog::Rejected);
    });
    ui().Presets_MenuItem->trigger();
    TConfigurationFile store;
    QVERIFY(store.Load());
    QVERIFY(PresetNames(store).empty());
  }

  void previewFollowsTheMarkBeforeTheRun() {
    SetUpRun(1);
    const auto shown = [this] { return ui().Mark_Image->Picture(); };
    QVERIFY(shown() == nullptr);
    // Drawn once its page is shown, from the first picture of the source.
    ui().Main_PageControl->setCurrentWidget(ui().Preview_TabSheet);
    QTRY_VERIFY(shown() != nullptr);
    QCOMPARE(ui().Sample_Label->text(), u"p1.jpg"_s);
    const TBitmap first = *shown();
    // Each change of the text or the layout draws it again.
    ui().BrandText_Edit->setText(u"WWW"_s);
    QTRY_VERIFY(test::DifferingPixels(*shown(), first) > 0);
    const TBitmap other = *shown();
    dialogs_->DialogScripts.push_back([](QDialog& dialog) {
      dynamic_cast<TMark_Form&>(dialog).Form().Layout_ComboBox->setCurrentIndex(1);
      return static_cast<int>(QDialog::Accepted);
    });
    ui().Mark_MenuItem->trigger();
    QTRY_VERIFY(test::DifferingPixels(*shown(), other) > 0);
    // Nothing to preview: the page says so.
    ChooseFolder(ui().SourceDirectory_MenuItem, Work(u"empty"_s));
    QTRY_VERIFY(shown() == nullptr);
    QCOMPARE(ui().Sample_Label->text(), u"No picture in the Source Directory"_s);
  }

  void processBrandsALogoWithoutBrandText() {
    QVERIFY(QDir().mkpath(source_) && QDir().mkpath(target_));
    QVERIFY(WritePicture(source_ + u"/a.jpg"_s, "JPG"));
    ChooseFolder(ui().SourceDirectory_MenuItem, source_);
    ChooseFolder(ui().TargetDirectory_MenuItem, target_);
    QImage logoPicture(16, 16, QImage::Format_ARGB32);
    logoPicture.fill(QColor(200, 0, 0, 255));
    const QString logo = Work(u"logo.png"_s);
    QVERIFY(logoPicture.save(logo, "PNG"));
    const auto useLogo = [this](const QString& file) {
      dialogs_->DialogScripts.push_back([file](QDialog& dialog) {
        dynamic_cast<TMark_Form&>(dialog).Form().Logo_Edit->setText(file);
        return static_cast<int>(QDialog::Accepted);
      });
      ui().Mark_MenuItem->trigger();
    };
    useLogo(logo);
    Process();
    QVERIFY(dialogs_->Messages.isEmpty());
    QTRY_VERIFY(QFile::exists(target_ + u"/a.jpg"_s));
    QCOMPARE(Log().last(), u"1 files processed."_s);
    // Without the logo the empty text is refused as before.
    useLogo(QString());
    Process();
    QCOMPARE(dialogs_->Messages, QStringList{u"You must enter the Brand Text setting."_s});
  }

  void previewShowsTheSampleAtItsOwnSizeOnRequest() {
    // A photo several times the view's size: whole, it is decoded reduced.
    QVERIFY(QDir().mkpath(source_) && QDir().mkpath(target_));
    QImage photo(2400, 1800, QImage::Format_RGB32);
    for (int y = 0; y < photo.height(); ++y) {
      for (int x = 0; x < photo.width(); ++x) photo.setPixel(x, y, qRgb(x % 256, y % 256, 120));
    }
    QVERIFY(photo.save(source_ + u"/big.jpg"_s, "JPG", 90));
    SetUpSettings(source_, target_);
    form_->resize(700, 500);
    const TPicturePreview& view = *ui().Mark_Image;
    const QScrollArea& box = *ui().MarkImage_ScrollBox;
    ui().Main_PageControl->setCurrentWidget(ui().Preview_TabSheet);
    QTRY_VERIFY(view.Picture() != nullptr);
    QVERIFY(view.Fit());
    QVERIFY(!ui().ActualSize_Button->isChecked());
    QVERIFY(view.Picture()->Width() <= 1200);
    QVERIFY(view.width() <= box.viewport()->width());

    // At its own size: the photo's pixels one to one, scrolled.
    ui().ActualSize_Button->click();
    QVERIFY(!view.Fit());
    QTRY_VERIFY(view.Picture() != nullptr && view.Picture()->Width() > 1200);
    QVERIFY(std::abs(view.Picture()->Width() - photo.width()) <= 1);
    QVERIFY(std::abs(view.Picture()->Height() - photo.height()) <= 1);
    QVERIFY(std::abs(view.width() - photo.width()) <= 1);
    QVERIFY(box.horizontalScrollBar()->maximum() > 0 && box.verticalScrollBar()->maximum() > 0);
    // Still live: a new text is drawn at that size.
    const TBitmap actual = *view.Picture();
    ui().BrandText_Edit->setText(u"WWW"_s);
    QTRY_VERIFY(view.Picture()->Width() == actual.Width() &&
                test::DifferingPixels(*view.Picture(), actual) > 0);
    // Not held while another page is shown; drawn again on coming back.
    ui().Main_PageControl->setCurrentIndex(0);
    QVERIFY(view.Picture() == nullptr);
    ui().Main_PageControl->setCurrentWidget(ui().Preview_TabSheet);
    QTRY_VERIFY(view.Picture() != nullptr && view.Picture()->Width() == actual.Width());

    // And whole again.
    ui().ActualSize_Button->click();
    QVERIFY(view.Fit());
    QTRY_VERIFY(view.Picture()->Width() <= 1200);
    QTRY_VERIFY(view.width() <= box.viewport()->width());
    QCOMPARE(box.horizontalScrollBar()->maximum(), 0);
  }

  void fontDialogTextsShowWholeAtALargeFont() {
    TBrandFont_Form dialog(TBrandLook{form_->BrandTextFont()}, u"Kestro"_s);
    QFont large = dialog.font();
    large.setPointSize(16);
    dialog.setFont(large);
    dialog.show();
    QVERIFY(QTest::qWaitForWindowExposed(&dialog));
    // Squeezed to its smallest, no spin box cuts off its value or suffix.
    dialog.resize(1, 1);
    QTRY_COMPARE(dialog.size(), dialog.minimumSize());
    const auto& form = dialog.Form();
    form.RelativeSize_CheckBox->setChecked(true);
    form.Size_SpinBox->setValue(form.Size_SpinBox->maximum());
    form.RelativeSize_SpinBox->setValue(form.RelativeSize_SpinBox->maximum());
    form.Opacity_SpinBox->setValue(form.Opacity_SpinBox->maximum());
    for (QAbstractSpinBox* box : {static_cast<QAbstractSpinBox*>(form.Size_SpinBox),
                                  static_cast<QAbstractSpinBox*>(form.RelativeSize_SpinBox),
                                  static_cast<QAbstractSpinBox*>(form.Opacity_SpinBox)}) {
      QStyleOptionSpinBox option;
      option.initFrom(box);
      option.frame = box->hasFrame();
      option.buttonSymbols = box->buttonSymbols();
      option.subControls = QStyle::SC_SpinBoxFrame | QStyle::SC_SpinBoxEditField |
                           QStyle::SC_SpinBoxUp | QStyle::SC_SpinBoxDown;
      const QRect field = box->style()->subControlRect(QStyle::CC_SpinBox, &option,
                                                       QStyle::SC_SpinBoxEditField, box);
      QVERIFY2(field.width() >= box->fontMetrics().horizontalAdvance(box->text()),
               qPrintable(box->text()));
    }
    const QLabel* unit = form.RelativeSizeUnit_Label;
    QVERIFY(unit->isVisible() && unit->isEnabled());
    QVERIFY(unit->width() >= unit->fontMetrics().horizontalAdvance(unit->text()));
  }

  void refusingDamagedPicturesFailsATruncatedJpeg() {
    QVERIFY(QDir().mkpath(source_) && QDir().mkpath(target_));
    QImage photo(320, 240, QImage::Format_RGB888);
    photo.fill(QColor(90, 140, 200));
    QBuffer encoded;
    QVERIFY(encoded.open(QIODevice::WriteOnly) && photo.save(&encoded, "JPEG", 90));
    QFile cut(source_ + u"/cut.jpg"_s);
    QVERIFY(cut.open(QIODevice::WriteOnly));
    cut.write(encoded.data().left(encoded.data().size() / 2));
    cut.close();
    SetUpSettings(source_, target_);

    Process();
    QVERIFY(QFile::exists(target_ + u"/cut.jpg"_s));
    QVERIFY(QFile::remove(target_ + u"/cut.jpg"_s));

    QVERIFY(!ui().RefuseDamagedPictures_MenuItem->isChecked());
    ui().RefuseDamagedPictures_MenuItem->trigger();
    Restart();
    QVERIFY(ui().RefuseDamagedPictures_MenuItem->isChecked());
    Process();
    QVERIFY(Log().join(u'\n').contains(u"Failed to process file: "_s));
    QVERIFY(!QFile::exists(target_ + u"/cut.jpg"_s));
  }

  void runOptionsReachTheRunAndAreRemembered() {
    QVERIFY(QDir().mkpath(source_ + u"/2024/May"_s) && QDir().mkpath(target_));
    QVERIFY(WritePicture(source_ + u"/a.jpeg"_s, "JPG"));
    QVERIFY(WritePicture(source_ + u"/2024/May/b.jpg"_s, "JPG"));
    SetUpSettings(source_, target_);
    const auto chooseCopies = [this](int quality, bool confirm, const QString& type = {}) {
      dialogs_->DialogScripts.push_back([=](QDialog& dialog) {
        auto* spin = dialog.findChild<QSpinBox*>(u"PictureQuality_SpinEdit"_s);
        auto* convert = dialog.findChild<QComboBox*>(u"ConvertCopiesTo_ComboBox"_s);
        if (spin == nullptr || convert == nullptr || convert->findData(type) < 0) {
          return int(QDialog::Rejected);
        }
        spin->setValue(quality);
        convert->setCurrentIndex(convert->findData(type));
        return int(confirm ? QDialog::Accepted : QDialog::Rejected);
      });
      ui().Copies_MenuItem->trigger();
    };
    const auto chooseQuality = [&](int quality, bool confirm) { chooseCopies(quality, confirm); };
    chooseQuality(40, true);
    Process();
    // Off by default: the run is as it always was.
    QCOMPARE(Log().last(), u"1 files processed."_s);
    QVERIFY(!QFile::exists(target_ + u"/a.jpeg"_s));

    ui().BrandAllPictureTypes_MenuItem->trigger();
    ui().IncludeSubfolders_MenuItem->trigger();
    Restart();
    QVERIFY(ui().BrandAllPictureTypes_MenuItem->isChecked());
    QVERIFY(ui().IncludeSubfolders_MenuItem->isChecked());
    Process();
    QCOMPARE(Log().last(), u"2 files processed."_s);
    QVERIFY(QFile::exists(target_ + u"/a.jpeg"_s));
    QVERIFY(QFile::exists(target_ + u"/2024/May/b.jpg"_s));
    // At quality 40 the copy is smaller than the one at the default.
    const qint64 small = QFileInfo(target_ + u"/2024/May/b.jpg"_s).size();
    chooseQuality(90, false);  // a cancelled dialog keeps the quality
    Process();
    QCOMPARE(QFileInfo(target_ + u"/2024/May/b.jpg"_s).size(), small);
    chooseQuality(0, true);
    Process();
    QVERIFY(QFileInfo(target_ + u"/2024/May/b.jpg"_s).size() > small + small / 4);
    // Copies converted to another type take its extension, and it is remembered.
    chooseCopies(0, true, u"png"_s);
    Restart();
    Process();
    QVERIFY(QFile::exists(target_ + u"/2024/May/b.png"_s));
    QVERIFY(QFile::exists(target_ + u"/a.png"_s));
    chooseCopies(0, true, QString());

    // With subfolders, a target inside the source is refused with a message.
    const QString inside = source_ + u"/copies"_s;
    QVERIFY(QDir().mkpath(inside));
    ChooseFolder(ui().TargetDirectory_MenuItem, inside);
    dialogs_->Messages.clear();
    Process();
    QCOMPARE(dialogs_->Messages, QStringList{QString::fromUtf8(kNestedDirectoryMessage)});
    QVERIFY(QDir(inside).isEmpty());
    CheckIdle();
  }

  void bigPreviewShowsWithoutAFullSizeCopy() {
    // 100 megapixels at one byte each; a marker colour in the last corner.
    constexpr int kSide = 10000;
    auto picture = std::make_shared<TBitmap>(kSide, kSide, TPixelFormat::pf8bit);
    picture->Palette()[0] = TRGBQuad{200, 200, 200, 0};
    picture->Palette()[1] = TRGBQuad{0, 0, 255, 0};  // red, as B, G, R
    for (int y = kSide - 50; y < kSide; ++y) {
      std::fill_n(picture->Row(y).data() + kSide - 50, 50, std::uint8_t{1});
    }
    form_->resize(640, 480);
    ui().Main_PageControl->setCurrentIndex(1);
    TPicturePreview& preview = *ui().Working_Image;
    preview.SetPicture(picture);
    QScrollArea& scroll = *ui().WorkingImage_ScrollBox;
    QCOMPARE(preview.size(), QSize(kSide, kSide));
    scroll.horizontalScrollBar()->setValue(scroll.horizontalScrollBar()->maximum());
    scroll.verticalScrollBar()->setValue(scroll.verticalScrollBar()->maximum());
    const QImage shown = scroll.viewport()->grab().toImage();
    QCOMPARE(shown.pixel(shown.width() - 10, shown.height() - 10), qRgb(255, 0, 0));
    QCOMPARE(shown.pixel(shown.width() - 60, shown.height() - 60), qRgb(200, 200, 200));
    const QSize screen = scroll.viewport()->size();
    QVERIFY(!preview.LargestScreenImage().isEmpty());
    QVERIFY(preview.LargestScreenImage().width() <= screen.width());
    QVERIFY(preview.LargestScreenImage().height() <= screen.height());

    // Fitted, the whole square shows within the page, the corner too.
    QTest::mouseDClick(&preview, Qt::LeftButton, {}, preview.rect().center());
    QVERIFY(preview.Fit());
    QTRY_COMPARE(preview.size(), scroll.viewport()->size());
    const QImage fitted = preview.grab().toImage();
    const int side = std::min(preview.width(), preview.height());
    const QColor corner = fitted.pixelColor(side - 1, side - 1);
    QVERIFY(corner.red() > 240 && corner.green() < 30);
    QCOMPARE(fitted.pixel(side / 2, side / 2), qRgb(200, 200, 200));
    const QSize screenSize = preview.screen()->size();
    QVERIFY(preview.LargestScreenImage().width() <= screenSize.width());
    QVERIFY(preview.LargestScreenImage().height() <= screenSize.height());
  }

  void fitIsToggledAndRemembered() {
    SetUpRun(1);
    Process();
    TPicturePreview& preview = *ui().Working_Image;
    QVERIFY(!preview.Fit());
    QCOMPARE(preview.size(), QSize(40, 30));
    // The page's context menu holds the Fit item.
    QVERIFY(ui().WorkingImage_ScrollBox->viewport()->actions().contains(ui().FitImage_MenuItem));
    ui().FitImage_MenuItem->trigger();
    QVERIFY(preview.Fit() && ui().FitImage_MenuItem->isChecked());
    ui().Main_PageControl->setCurrentIndex(1);
    Restart();
    QVERIFY(ui().Working_Image->Fit() && ui().FitImage_MenuItem->isChecked());
    QCOMPARE(ui().Main_PageControl->currentIndex(), 1);
    QTest::mouseDClick(ui().Working_Image, Qt::LeftButton);
    QVERIFY(!ui().Working_Image->Fit());

    // Keeping the picture information is off at first and remembered too.
    QVERIFY(!ui().KeepPictureInformation_MenuItem->isChecked());
    ui().KeepPictureInformation_MenuItem->trigger();
    Restart();
    QVERIFY(ui().KeepPictureInformation_MenuItem->isChecked());
  }

  void dialogsOpenAtRememberedPlaces() {
    const QString home = QString::fromStdString(HomeDirectory());
    ui().SourceDirectory_MenuItem->trigger();  // empty setting: home
    QCOMPARE(QDir(dialogs_->FolderStarts.last()), QDir(home));
    QVERIFY(QDir().mkpath(source_));
    ChooseFolder(ui().SourceDirectory_MenuItem, source_);
    ui().SourceDirectory_MenuItem->trigger();
    QCOMPARE(dialogs_->FolderStarts.last(), source_);
    // A folder that has gone: its nearest existing parent.
    ChooseFolder(ui().TargetDirectory_MenuItem, Work(u"gone/deeper"_s));
    ui().TargetDirectory_MenuItem->trigger();
    QCOMPARE(dialogs_->FolderStarts.last(), work_->path());

    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(QDir(dialogs_->SaveFolders.last()), QDir(home));
    QVERIFY(QDir().mkpath(Work(u"logs"_s)));
    dialogs_->SaveAnswers.push_back(Work(u"logs/run.log"_s));
    ui().SaveLog_MenuItem->trigger();
    Restart();
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(dialogs_->SaveFolders.last(), Work(u"logs"_s));
  }

  void windowPlaceIsRememberedAndKeptOnTheScreen() {
    const QRect area = QGuiApplication::primaryScreen()->availableGeometry();
    form_->resize(420, 330);
    form_->move(area.topLeft() + QPoint(30, 20));
    const QRect place(area.topLeft() + QPoint(30, 20), QSize(420, 330));
    QTRY_COMPARE(QRect(form_->pos(), form_->size()), place);
    Restart();
    QCOMPARE(QRect(form_->pos(), form_->size()), place);

    // Stored off the screen and larger than it: moved and shrunk onto it.
    OpenWithStored({{"WindowLeft", "-9000"},
                    {"WindowTop", "90000"},
                    {"WindowWidth", std::to_string(area.width() + 500)},
                    {"WindowHeight", std::to_string(area.height() + 500)}});
    QVERIFY(area.contains(QRect(form_->pos(), form_->size())));
    QCOMPARE(form_->size(), area.size());
  }

  // ---- Saving the log --------------------------------------------------------

  void savingTheLog() {
    // An empty log gives an empty file; the user's cancel writes nothing.
    const QString emptyLog = Work(u"empty.log"_s);
    dialogs_->SaveAnswers.push_back(emptyLog);
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(dialogs_->Saves[0][1], QString::fromUtf8(kDefaultLogFileName));
    QCOMPARE(ReadFile(emptyLog), QByteArray());
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(dialogs_->Saves.size(), std::size_t{2});
    QVERIFY(dialogs_->Messages.isEmpty());

    // A log with empty lines and non-ASCII text, written as UTF-8 bytes.
    const QString source = Work(u"Bilder \u00e4"_s);
    QVERIFY(QDir().mkpath(source));
    QVERIFY(WriteFile(source + u"/\u00fcber.txt"_s, "x"));
    SetUpSettings(source, target_);
    Process();
    const QString logFile = Work(u"saved.log"_s);
    QVERIFY(WriteFile(logFile, QByteArray(1000, 'z')));  // replaced whole
    dialogs_->SaveAnswers.push_back(logFile);
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(ReadFile(logFile), (u"File type not processable: "_s + source +
                                 u"/\u00fcber.txt\r\n\r\n1 files processed."_s)
                                    .toUtf8());

    // A file that cannot be written: the message, and the log stays.
    dialogs_->SaveAnswers.push_back(Work(u"missing-folder/x.log"_s));
    ui().SaveLog_MenuItem->trigger();
    QCOMPARE(dialogs_->Messages, QStringList{u"I cannot save the log file!"_s});
    QCOMPARE(Log().size(), 3);
  }
};

QTEST_MAIN(MainWindowTest)
#include "MainWindowTest.moc"
