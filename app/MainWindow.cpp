#include "app/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QTextCursor>
#include <exception>

#include "app/WindowLayout.h"
#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "engine/formats/FormatRegistry.h"
#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"
#include "windows/AboutBox.h"
#include "windows/Dialogs.h"
#include "windows/ManualReader.h"
#include "windows/SplashScreen.h"

namespace sigilon {

namespace {

constexpr int kSettingsPageIndex = 0;

QString FromText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

void ApplyApplicationTitle() {
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  QApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
  SetApplicationTitle(kApplicationTitle);
}

TMain_Form::TMain_Form(QWidget* parent) : QMainWindow(parent) {
  ui_.setupUi(this);
  CreateStatusBar();
  CreateActions();
  WatchControls();
  CreateMarkPreview();

  // The Brand Text field's height follows its font, the laid-out font too.
  FitBrandTextEditHeight();
  FitControlsToWindowFont();
  ArrangeSettingsControls();
  CentreOnScreen(*this);
  ui_.Main_PageControl->setFocus();

  // Read once: every run brands with the display as it was at start-up.
  if (const QScreen* screen = QGuiApplication::primaryScreen()) {
    FDisplayInfo.PixelsPerInch = qRound(screen->logicalDotsPerInchY());
    FDisplayInfo.ColorDepth = screen->depth();
  }

  FormCreate();
}

TMain_Form::~TMain_Form() { FormDestroy(); }

void TMain_Form::CreateStatusBar() {
  // The status bar's two panels: the last log line, and an empty one.
  FStatusPanel0 = new QLabel(ui_.Main_StatusBar);
  FStatusPanel0->setObjectName(QStringLiteral("StatusPanel0"));
  // Ignored: a long log line must not widen the window; the panel gets its
  // width from the maximum set by FormResize.
  FStatusPanel0->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  ui_.Main_StatusBar->addWidget(FStatusPanel0, 1);
  // A run's progress bar stands left of panel 1 and shows only during runs.
  FProgressBar = new QProgressBar(ui_.Main_StatusBar);
  FProgressBar->setObjectName(QStringLiteral("Run_ProgressBar"));
  FProgressBar->setFixedWidth(kProgressBarWidth);
  FProgressBar->setTextVisible(false);
  FProgressBar->hide();
  ui_.Main_StatusBar->addPermanentWidget(FProgressBar);
  FStatusPanel1 = new QLabel(ui_.Main_StatusBar);
  FStatusPanel1->setObjectName(QStringLiteral("StatusPanel1"));
  FStatusPanel1->setFixedWidth(kStatusPanel1Width);
  ui_.Main_StatusBar->addPermanentWidget(FStatusPanel1);
  for (QLabel* panel : {FStatusPanel0, FStatusPanel1}) {
    panel->setFrameShape(QFrame::Panel);
    panel->setFrameShadow(QFrame::Sunken);
  }
}

void TMain_Form::CreateActions() {
  connect(ui_.Process_Button, &QPushButton::clicked, this, &TMain_Form::Process_ButtonClick);
  connect(ui_.Cancel_Button, &QPushButton::clicked, this, &TMain_Form::Cancel_ButtonClick);
  // Escape cancels a run at once, as the Cancel button does; idle, the key
  // does nothing.
  auto* cancelKey = new QShortcut(QKeySequence(Qt::Key_Escape), this);
  connect(cancelKey, &QShortcut::activated, this, [this] {
    if (FBusy) Cancel_ButtonClick();
  });
  connect(ui_.Exit_Button, &QPushButton::clicked, this, &TMain_Form::Exit_MenuItemClick);
  connect(ui_.Exit_MenuItem, &QAction::triggered, this, &TMain_Form::Exit_MenuItemClick);
  connect(ui_.SaveLog_MenuItem, &QAction::triggered, this, &TMain_Form::SaveLog_MenuItemClick);
  connect(ui_.SelectBrandTextFont_MenuItem, &QAction::triggered, this,
          &TMain_Form::SelectBrandTextFont_MenuItemClick);
  connect(ui_.ResetBrandTextFont_MenuItem, &QAction::triggered, this,
          &TMain_Form::ResetBrandTextFont_MenuItemClick);
  connect(ui_.SourceDirectory_MenuItem, &QAction::triggered, this,
          &TMain_Form::SourceDirectory_MenuItemClick);
  connect(ui_.TargetDirectory_MenuItem, &QAction::triggered, this,
          &TMain_Form::TargetDirectory_MenuItemClick);
  connect(ui_.Copies_MenuItem, &QAction::triggered, this, &TMain_Form::Copies_MenuItemClick);
  connect(ui_.Mark_MenuItem, &QAction::triggered, this, &TMain_Form::Mark_MenuItemClick);
  connect(ui_.Presets_MenuItem, &QAction::triggered, this, &TMain_Form::Presets_MenuItemClick);
  connect(ui_.About_MenuItem, &QAction::triggered, this, &TMain_Form::About_MenuItemClick);
  connect(ui_.Manual_MenuItem, &QAction::triggered, this, &TMain_Form::Manual_MenuItemClick);
  connect(ui_.FitImage_MenuItem, &QAction::triggered, this, &TMain_Form::FitImage_MenuItemClick);
  connect(ui_.Working_Image, &TPicturePreview::DoubleClicked, this,
          &TMain_Form::FitImage_MenuItemClick);
  // The Fit item is the Image page's context menu, wherever on the page.
  for (QWidget* widget :
       {static_cast<QWidget*>(ui_.WorkingImage_ScrollBox), ui_.WorkingImage_ScrollBox->viewport(),
        static_cast<QWidget*>(ui_.Working_Image)}) {
    widget->setContextMenuPolicy(Qt::ActionsContextMenu);
    widget->addAction(ui_.FitImage_MenuItem);
  }
}

void TMain_Form::WatchControls() {
  ui_.BrandText_Edit->installEventFilter(this);
  ui_.SourceDirectory_Edit->installEventFilter(this);
  ui_.TargetDirectory_Edit->installEventFilter(this);
  ui_.Log_Memo->viewport()->installEventFilter(this);
  ui_.Settings_TabSheet->installEventFilter(this);
  ui_.MarkImage_ScrollBox->viewport()->installEventFilter(this);
}

// ---- Life cycle -------------------------------------------------------------

void TMain_Form::FormCreate() {
  FBusy = false;
  ui_.Main_PageControl->setCurrentIndex(kSettingsPageIndex);
  FOriginalBrandTextFont = std::make_unique<TWindowFont>(BrandTextFont());
  KeepLaidOutSize();
  ShowSplashScreen();
  LoadSettings();
  SetBusy(false);
}

void TMain_Form::FormDestroy() { FOriginalBrandTextFont.reset(); }

void TMain_Form::FormActivate() {
  // While an auxiliary window of the program is open, it keeps the input.
  for (QWidget* window : QApplication::topLevelWidgets()) {
    if (window == this || !window->isVisible()) continue;
    const Qt::WindowType type = window->windowType();
    if (type != Qt::Window && type != Qt::Dialog && type != Qt::Sheet && type != Qt::SplashScreen) {
      continue;
    }
    window->activateWindow();
    window->setFocus();
  }
}

void TMain_Form::FormCloseQuery(bool& canClose) {
  SaveSettings();
  canClose = true;
}

void TMain_Form::resizeEvent(QResizeEvent* event) {
  QMainWindow::resizeEvent(event);
  FormResize();
}

void TMain_Form::changeEvent(QEvent* event) {
  QMainWindow::changeEvent(event);
  if (event->type() == QEvent::ActivationChange && isActiveWindow()) FormActivate();
  // The laid-out font arrives while the controls are still being made.
  if (event->type() == QEvent::FontChange && FLaidOutMinimumHeight != 0) {
    FitControlsToWindowFont();
    ArrangeSettingsControls();
  }
}

void TMain_Form::closeEvent(QCloseEvent* event) {
  bool canClose = true;
  FormCloseQuery(canClose);
  if (canClose) {
    event->accept();
  } else {
    event->ignore();
  }
}

bool TMain_Form::eventFilter(QObject* watched, QEvent* event) {
  const QEvent::Type type = event->type();
  if (watched == ui_.MarkImage_ScrollBox->viewport()) {
    // Whole, the picture follows the view's size; at its own size it scrolls.
    if (type == QEvent::Resize && ui_.Mark_Image->Fit()) ScheduleMarkPreview();
    return false;
  }
  if (watched == ui_.Settings_TabSheet) {
    if (type == QEvent::Resize) {
      Settings_TabSheetResize();
      FitMinimumHeight();
    }
    return false;
  }

  if (type == QEvent::MouseButtonDblClick) {
    FReleaseAfterDoubleClick = watched;
    if (watched == ui_.BrandText_Edit) {
      SelectBrandTextFont_MenuItemClick();
    } else if (watched == ui_.SourceDirectory_Edit) {
      SourceDirectory_MenuItemClick();
    } else if (watched == ui_.TargetDirectory_Edit) {
      TargetDirectory_MenuItemClick();
    } else if (watched == ui_.Log_Memo->viewport()) {
      SaveLog_MenuItemClick();
    }
    return true;
  }

  if (type == QEvent::MouseButtonRelease) {
    const auto* mouse = static_cast<QMouseEvent*>(event);
    if (FReleaseAfterDoubleClick == watched) {
      FReleaseAfterDoubleClick = nullptr;
      return false;
    }
    if (mouse->button() != Qt::LeftButton) return false;
    if (watched == ui_.SourceDirectory_Edit) SourceDirectory_MenuItemClick();
    if (watched == ui_.TargetDirectory_Edit) TargetDirectory_MenuItemClick();
    return false;
  }

  if (type == QEvent::KeyPress &&
      (watched == ui_.SourceDirectory_Edit || watched == ui_.TargetDirectory_Edit)) {
    const auto* key = static_cast<QKeyEvent*>(event);
    // Only typed characters count; Tab still moves on, arrows still move.
    if (key->text().isEmpty() || key->key() == Qt::Key_Tab || key->key() == Qt::Key_Backtab) {
      return false;
    }
    if (watched == ui_.SourceDirectory_Edit) {
      SourceDirectory_EditKeyPress(key->key());
    } else {
      TargetDirectory_EditKeyPress(key->key());
    }
    return true;
  }
  return QMainWindow::eventFilter(watched, event);
}

// ---- Menu and button handlers ---------------------------------------------

void TMain_Form::SelectBrandTextFont_MenuItemClick() { SelectBrandTextFont(); }

void TMain_Form::ResetBrandTextFont_MenuItemClick() {
  ResetBrandTextFont();
  ShowAndRaise();
}

void TMain_Form::SourceDirectory_MenuItemClick() {
  SelectSourceDirectory();
  ShowAndRaise();
}

void TMain_Form::TargetDirectory_MenuItemClick() {
  SelectTargetDirectory();
  ShowAndRaise();
}

void TMain_Form::Copies_MenuItemClick() { SelectCopies(); }

void TMain_Form::Mark_MenuItemClick() { SelectMark(); }

void TMain_Form::Presets_MenuItemClick() {
  SelectPreset();
  ShowAndRaise();
}

void TMain_Form::SourceDirectory_EditKeyPress(int /*key*/) { SourceDirectory_MenuItemClick(); }

void TMain_Form::TargetDirectory_EditKeyPress(int /*key*/) { TargetDirectory_MenuItemClick(); }

void TMain_Form::SaveLog_MenuItemClick() { SaveLog(); }

void TMain_Form::Exit_MenuItemClick() { close(); }

void TMain_Form::About_MenuItemClick() { ShowAboutBox(); }

void TMain_Form::Manual_MenuItemClick() { ShowManual(); }

void TMain_Form::SetFitImage(bool fit) {
  ui_.FitImage_MenuItem->setChecked(fit);
  // Fitted, the picture takes the page; at its own size it scrolls.
  ui_.WorkingImage_ScrollBox->setWidgetResizable(fit);
  ui_.Working_Image->SetFit(fit);
}

void TMain_Form::FitImage_MenuItemClick() { SetFitImage(!ui_.Working_Image->Fit()); }

void TMain_Form::Message(const char* text) { Dialogs().ShowMessage(this, QString::fromUtf8(text)); }

void TMain_Form::ShowAndRaise() {
  show();
  raise();
}

// ---- Batch run --------------------------------------------------------------

void TMain_Form::Process_ButtonClick() {
  ClearLog();
  const TBatchRefusal refusal = CheckBatchSettings(CurrentBatchSettings(), StartDirectory(),
                                                   ui_.IncludeSubfolders_MenuItem->isChecked());
  if (refusal != TBatchRefusal::None) {
    Message(RefusalMessage(refusal, ApplicationTitle()).c_str());
    ui_.Main_PageControl->setCurrentIndex(kSettingsPageIndex);
  }
  switch (refusal) {
    case TBatchRefusal::None:
      break;
    case TBatchRefusal::NoBrandText:
      if (ui_.BrandText_Edit->isEnabled()) ui_.BrandText_Edit->setFocus();
      return;
    case TBatchRefusal::NoSourceDirectory:
      SelectSourceDirectory();
      ShowAndRaise();
      return;
    case TBatchRefusal::NoTargetDirectory:
    case TBatchRefusal::StartDirectory:
      SelectTargetDirectory();
      ShowAndRaise();
      return;
    case TBatchRefusal::SameDirectory:
    case TBatchRefusal::NestedDirectory:
      return;
  }

  FCancelled = false;
  SetBusy(true);
  try {
    ProcessImages();
  } catch (const std::exception& error) {
    SetBusy(false);
    Dialogs().ShowMessage(this, QString::fromUtf8(error.what()));
    return;
  }
  SetBusy(false);
}

TBatchSettings TMain_Form::CurrentBatchSettings() const {
  return {.BrandText = BrandText(),
          .FontText = FontToText(BrandTextFont()),
          .SourceDirectory = SourceDirectory(),
          .TargetDirectory = TargetDirectory(),
          .HasLogo = !FBrandLook.LogoFile.empty()};
}

TBrandOptions TMain_Form::CurrentBrandOptions() const {
  TBrandOptions options;
  options.Display = FDisplayInfo;
  // The photographer's EXIF, IPTC and XMP go into the copies when asked for.
  options.KeepMetadata = ui_.KeepPictureInformation_MenuItem->isChecked();
  // A damaged picture fails instead of being branded as far as it decodes.
  options.Strict = ui_.RefuseDamagedPictures_MenuItem->isChecked();
  options.Look = FBrandLook;
  if (!FBrandLook.LogoFile.empty()) {
    try {
      options.Look.Logo = FBrandLogos.Logo(FBrandLook.LogoFile);
    } catch (const std::exception& error) {
      throw ImageError("The logo cannot be read: " + std::string(error.what()));
    }
  }
  options.Fields = FFillInFields;
  options.AllTypes = ui_.BrandAllPictureTypes_MenuItem->isChecked();
  options.Quality = FPictureQuality;
  options.Optimize = FOptimizeJpegCopies;
  return options;
}

void TMain_Form::ProcessImages() {
  // The count is cheap (no file is opened) and the walk stays live: the total
  // only drives the progress shown; the busy state is drawn before the first
  // file keeps the window frozen.
  const bool recursive = ui_.IncludeSubfolders_MenuItem->isChecked();
  StartProgress(CountBatchEntries(SourceDirectory(), recursive));
  QCoreApplication::processEvents();
  // One file at a time on this thread; the window stays alive through the
  // event pumps after each log line, each preview and each listing step.
  TBatchHooks hooks;
  hooks.ReadSettings = [this] { return CurrentBatchSettings(); };
  hooks.FileDone = [this](const TFileOutcome& file) {
    ShowProgress(file.Index);
    WriteLog(file.ResultLine);
  };
  hooks.ListingAdvanced = [] { QCoreApplication::processEvents(); };
  hooks.Cancelled = [this] { return FCancelled; };
  hooks.WriteLine = [this](const std::string& line) { WriteLog(line); };
  hooks.ShowMessage = [this](const std::string& text) { Message(text.c_str()); };
  // The preview takes the stamped pixels themselves: writing them as a
  // bitmap file only to read it back cost as much as a tenth of the run.
  TBatchOptions options;
  options.Brand = CurrentBrandOptions();
  options.Recursive = recursive;
  ConvertCopies(options, ConversionTypeNamed(FConvertCopiesTo));
  options.Brand.PicturePreview = [this](std::shared_ptr<const TBitmap> picture) {
    ShowWorkingImage(std::move(picture));
  };
  // The window brands one file at a time; the engine may give that file a
  // second core, encoding while the next rows are decoded and while the
  // preview is shown.
  options.Brand.Threads = OnlineProcessors();
  RunBatch(CurrentBatchSettings(), hooks, options);
}

void TMain_Form::Cancel_ButtonClick() {
  FCancelled = true;
  WriteLog(std::string());
  WriteLog(kCanceledMessage);
  WriteLog(std::string());
}

void TMain_Form::WriteLog(const std::string& line) {
  FLogLines.push_back(line);
  // The memo shows the lines; a first empty line is a line too.
  QTextCursor cursor(ui_.Log_Memo->document());
  cursor.movePosition(QTextCursor::End);
  if (FLogLines.size() > 1) cursor.insertBlock();
  cursor.insertText(FromText(line));
  QScrollBar* bar = ui_.Log_Memo->verticalScrollBar();
  bar->setValue(bar->maximum());
  FStatusPanel0->setText(FromText(line));
  QCoreApplication::processEvents();
}

void TMain_Form::ClearLog() {
  FLogLines.clear();
  ui_.Log_Memo->clear();
  FStatusPanel0->clear();
}

void TMain_Form::ShowWorkingImage(std::span<const std::byte> picture) {
  // A picture that cannot be shown is not worth stopping the run for; the
  // control then keeps the picture it holds.
  std::shared_ptr<const TBitmap> bitmap;
  try {
    bitmap = std::make_shared<const TBitmap>(LoadBitmapFromBytes(picture, "preview"));
  } catch (...) {
  }
  if (bitmap) ShowWorkingImage(std::move(bitmap));
}

void TMain_Form::ShowWorkingImage(std::shared_ptr<const TBitmap> picture) {
  try {
    // The control paints from the engine's own pixels, converting only what
    // the screen shows; no full-size copy is ever made.
    ui_.Working_Image->SetPicture(std::move(picture));
  } catch (...) {
  }
  try {
    QCoreApplication::processEvents();
  } catch (...) {
  }
}

}  // namespace sigilon
