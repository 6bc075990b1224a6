#include "app/MainWindow.h"

#include <QApplication>
#include <QCloseEvent>
#include <QDir>
#include <QFileInfo>
#include <QKeyEvent>
#include <QKeySequence>
#include <QLabel>
#include <QMouseEvent>
#include <QProgressBar>
#include <QScreen>
#include <QScrollBar>
#include <QShortcut>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <QTextCursor>
#include <QTime>
#include <climits>
#include <exception>
#include <optional>

#include "app/BrandFontDialog.h"
#include "engine/BmpCodec.h"
#include "engine/Errors.h"
#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"
#include "windows/AboutBox.h"
#include "windows/Dialogs.h"
#include "windows/ManualReader.h"
#include "windows/SplashScreen.h"

namespace sigilon {

namespace {

constexpr const char* kBrandTextEntry = "BrandText";
constexpr const char* kBrandTextFontEntry = "BrandTextFont";
constexpr const char* kSourceDirectoryEntry = "SourceDirectory";
constexpr const char* kTargetDirectoryEntry = "TargetDirectory";
// The brand's look on the pictures, beside its font.
constexpr const char* kBrandRelativeSizeEntry = "BrandRelativeSize";
constexpr const char* kBrandOpacityEntry = "BrandOpacity";
constexpr const char* kBrandOutlineEntry = "BrandOutline";
// Remembered places: the window's frame position, size and state, the page
// shown, how the picture is shown, and where the log was last saved.
constexpr const char* kWindowLeftEntry = "WindowLeft";
constexpr const char* kWindowTopEntry = "WindowTop";
constexpr const char* kWindowWidthEntry = "WindowWidth";
constexpr const char* kWindowHeightEntry = "WindowHeight";
constexpr const char* kWindowMaximizedEntry = "WindowMaximized";
constexpr const char* kActivePageEntry = "ActivePage";
constexpr const char* kFitImageEntry = "FitImage";
constexpr const char* kLogDirectoryEntry = "LogDirectory";
constexpr const char* kKeepPictureInformationEntry = "KeepPictureInformation";
constexpr const char* kRefuseDamagedPicturesEntry = "RefuseDamagedPictures";

// Gaps of the Settings page, from the laid-out positions: a label 7 pixels
// below the field above it, a field 3 pixels below its label.
constexpr int kLabelGap = 7;
constexpr int kFieldGap = 3;
// Laid-out heights of the labels and fields: a larger window font makes
// them taller, a smaller one never shorter.
constexpr int kLaidOutLabelHeight = 13;
constexpr int kLaidOutFieldHeight = 21;
constexpr int kLaidOutBrandTextTop = 20;
// The laid-out status bar: a line of text in a sunken panel, and 4 pixels
// around the panel.
constexpr int kLaidOutStatusBarHeight = 19;
constexpr int kStatusBarPadding = 4;
// Space kept below the last Settings field, as on its sides.
constexpr int kSettingsPageMargin = 4;

constexpr int kSettingsPageIndex = 0;

QString FromText(const std::string& text) { return QString::fromStdString(text); }
std::string ToText(const QString& text) { return text.toStdString(); }

std::string WithTrailingSlash(const std::string& value) {
  if (value.empty() || value.back() == '/') return value;
  return value + '/';
}

int Bottom(const QWidget* widget) { return widget->y() + widget->height(); }

/// A folder dialog's starting point: the nearest existing folder of the
/// setting, else the home directory.
QString FolderToBrowse(const std::string& setting) {
  if (!setting.empty()) {
    QString path = QDir::cleanPath(QString::fromStdString(setting));
    while (!path.isEmpty()) {
      if (QFileInfo(path).isDir()) return path;
      const QString parent = QFileInfo(path).path();
      if (parent == path) break;
      path = parent;
    }
  }
  const std::string home = HomeDirectory();
  return QString::fromStdString(home.empty() ? std::string("/") : home);
}

/// "m:ss", or "h:mm:ss" from an hour on.
std::string TimeLeftText(std::int64_t milliseconds) {
  const std::int64_t seconds = (milliseconds + 999) / 1000;
  const QTime time = QTime(0, 0).addSecs(static_cast<int>(std::min<std::int64_t>(seconds, 86399)));
  return time.toString(seconds >= 3600 ? QStringLiteral("h:mm:ss") : QStringLiteral("m:ss"))
      .toStdString();
}

/// A stored whole number, or nothing when the entry is missing or no number.
std::optional<int> StoredNumber(const TConfigurationFile& store, const char* name) {
  if (!store.HasValue(name)) return std::nullopt;
  bool ok = false;
  const int value = QString::fromStdString(store.ReadValue(name)).trimmed().toInt(&ok);
  if (!ok) return std::nullopt;
  return value;
}

}  // namespace

QRect ClampToScreen(const QRect& window, const QRect& available) {
  if (available.isEmpty()) return window;
  QRect placed(window.topLeft(), window.size().boundedTo(available.size()));
  placed.moveLeft(
      std::clamp(placed.left(), available.left(), available.right() - placed.width() + 1));
  placed.moveTop(
      std::clamp(placed.top(), available.top(), available.bottom() - placed.height() + 1));
  return placed;
}

void ApplyApplicationTitle() {
  QApplication::setApplicationName(QString::fromUtf8(kApplicationTitle));
  QApplication::setApplicationDisplayName(QString::fromUtf8(kApplicationTitle));
  SetApplicationTitle(kApplicationTitle);
}

TMain_Form::TMain_Form(QWidget* parent) : QMainWindow(parent) {
  ui_.setupUi(this);

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

  ui_.BrandText_Edit->installEventFilter(this);
  ui_.SourceDirectory_Edit->installEventFilter(this);
  ui_.TargetDirectory_Edit->installEventFilter(this);
  ui_.Log_Memo->viewport()->installEventFilter(this);
  ui_.Settings_TabSheet->installEventFilter(this);

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

// ---- Life cycle -------------------------------------------------------------

void TMain_Form::FormCreate() {
  FBusy = false;
  ui_.Main_PageControl->setCurrentIndex(kSettingsPageIndex);
  FOriginalBrandTextFont = std::make_unique<TWindowFont>(BrandTextFont());
  setMinimumSize(width(), height());
  FLaidOutMinimumHeight = height();
  FLaidOutSettingsBottom = Bottom(ui_.TargetDirectory_Edit);
  FStatusPanel0->setMaximumWidth(std::max(0, width() - kStatusPanel0Margin));
  ShowSplashScreen();
  LoadSettings();
  SetBusy(false);
}

void TMain_Form::FormDestroy() { FOriginalBrandTextFont.reset(); }

void TMain_Form::FormResize() {
  FStatusPanel0->setMaximumWidth(std::max(0, width() - kStatusPanel0Margin));
  FitProgressBar();
}

void TMain_Form::FitProgressBar() {
  // Three fifths of the window for the bar and panel 1, less the gaps
  // between the panels and the size grip (about five paddings).
  const int room = width() * 3 / 5 - FStatusPanel1->width() - 5 * kStatusPanelPadding;
  FProgressBar->setFixedWidth(std::clamp(room, kMinProgressBarWidth, kProgressBarWidth));
}

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

// ---- Busy state and layout ------------------------------------------------

void TMain_Form::SetBusy(bool busy) {
  FBusy = busy;
  ui_.BrandText_Edit->setEnabled(!busy);
  ui_.SourceDirectory_Edit->setEnabled(!busy);
  ui_.TargetDirectory_Edit->setEnabled(!busy);
  ui_.Process_Button->setEnabled(!busy);
  ui_.Exit_Button->setEnabled(!busy);
  ui_.Cancel_Button->setEnabled(busy);
  if (!busy) {
    FProgressBar->hide();
    FStatusPanel1->clear();
    FStatusPanel1->setFixedWidth(kStatusPanel1Width);
  }
}

void TMain_Form::StartProgress(std::int64_t total) {
  FProgressTotal = std::max<std::int64_t>(total, 0);
  FProgressClock.start();
  FProgressBar->setRange(0, static_cast<int>(std::min<std::int64_t>(FProgressTotal, INT_MAX)));
  FProgressBar->setValue(0);
  FProgressBar->show();
  ShowProgress(0);
}

void TMain_Form::ShowProgress(std::int64_t done) {
  // Entries added while the run goes on count too.
  FProgressTotal = std::max(FProgressTotal, done);
  if (FProgressBar->maximum() < FProgressTotal) {
    FProgressBar->setMaximum(static_cast<int>(std::min<std::int64_t>(FProgressTotal, INT_MAX)));
  }
  FProgressBar->setValue(static_cast<int>(std::min<std::int64_t>(done, INT_MAX)));
  std::string text = std::to_string(done) + " / " + std::to_string(FProgressTotal);
  const std::int64_t elapsed = FProgressClock.elapsed();
  // A guess from the first file or two would jump about; from a few files
  // and a second or so on it settles.
  if (done >= kFilesBeforeTimeLeft && done < FProgressTotal &&
      elapsed >= kMillisecondsBeforeTimeLeft) {
    text += ", " + TimeLeftText(elapsed * (FProgressTotal - done) / done) + " left";
  }
  FStatusPanel1->setText(FromText(text));
  const int needed = FStatusPanel1->fontMetrics().horizontalAdvance(FStatusPanel1->text()) +
                     2 * FStatusPanel1->frameWidth() + kStatusPanelPadding;
  FStatusPanel1->setFixedWidth(std::max(kStatusPanel1Width, needed));
  FitProgressBar();
}

void TMain_Form::Settings_TabSheetResize() {
  const int pageWidth = ui_.Settings_TabSheet->width();
  for (QLineEdit* edit : {ui_.BrandText_Edit, ui_.SourceDirectory_Edit, ui_.TargetDirectory_Edit}) {
    edit->resize(std::max(0, pageWidth - 2 * edit->x()), edit->height());
  }
}

void TMain_Form::ArrangeSettingsControls() {
  ui_.SourceDirectory_Label->move(ui_.SourceDirectory_Label->x(),
                                  Bottom(ui_.BrandText_Edit) + kLabelGap);
  ui_.SourceDirectory_Edit->move(ui_.SourceDirectory_Edit->x(),
                                 Bottom(ui_.SourceDirectory_Label) + kFieldGap);
  ui_.TargetDirectory_Label->move(ui_.TargetDirectory_Label->x(),
                                  Bottom(ui_.SourceDirectory_Edit) + kLabelGap);
  ui_.TargetDirectory_Edit->move(ui_.TargetDirectory_Edit->x(),
                                 Bottom(ui_.TargetDirectory_Label) + kFieldGap);
  FitMinimumHeight();
}

void TMain_Form::FitMinimumHeight() {
  if (FLaidOutMinimumHeight == 0) return;  // still being laid out
  // A taller Brand Text field must not push the last field behind the
  // buttons: the window may not get smaller than the page then needs.
  const int grown = std::max(0, Bottom(ui_.TargetDirectory_Edit) - FLaidOutSettingsBottom);
  int minimum = FLaidOutMinimumHeight + grown;
  // A large window font also thickens the bars around the page, so the
  // laid-out height may not hold even the laid-out fields: the page on
  // screen tells how much the window lacks.
  const QWidget* page = ui_.Settings_TabSheet;
  if (page->isVisible()) {
    minimum = std::max(minimum, height() - page->height() + Bottom(ui_.TargetDirectory_Edit) +
                                    kSettingsPageMargin);
  }
  if (minimum != minimumHeight()) setMinimumHeight(minimum);
}

void TMain_Form::FitControlsToWindowFont() {
  // Labels and the directory fields take the size of their text: a fixed
  // laid-out size would cut the letters off under a large window font.
  for (QLabel* label :
       {ui_.BrandText_Label, ui_.SourceDirectory_Label, ui_.TargetDirectory_Label}) {
    const QSize text = label->sizeHint();
    label->resize(text.width(), std::max(kLaidOutLabelHeight, text.height()));
  }
  // The Brand Text field stays where laid out unless its label has grown
  // into it.
  ui_.BrandText_Edit->move(ui_.BrandText_Edit->x(),
                           std::max(kLaidOutBrandTextTop, Bottom(ui_.BrandText_Label) + kFieldGap));
  for (QLineEdit* edit : {ui_.SourceDirectory_Edit, ui_.TargetDirectory_Edit}) {
    edit->resize(edit->width(), std::max(kLaidOutFieldHeight, edit->sizeHint().height()));
  }
  for (QLabel* label : {ui_.WorkingImage_Label, ui_.ResultsLog_Label}) {
    label->setFixedHeight(std::max(kLaidOutLabelHeight, label->sizeHint().height()));
  }
  const int panel = FStatusPanel0->fontMetrics().height() + 2 * FStatusPanel0->frameWidth();
  ui_.Main_StatusBar->setFixedHeight(std::max(kLaidOutStatusBarHeight, panel + kStatusBarPadding));
  // Every page's tab in sight, not behind the tab bar's scroll buttons.
  const int tabs = ui_.Main_PageControl->tabBar()->sizeHint().width() +
                   2 * style()->pixelMetric(QStyle::PM_DefaultFrameWidth);
  if (tabs > minimumWidth()) setMinimumWidth(tabs);
}

void TMain_Form::SetFitImage(bool fit) {
  ui_.FitImage_MenuItem->setChecked(fit);
  // Fitted, the picture takes the page; at its own size it scrolls.
  ui_.WorkingImage_ScrollBox->setWidgetResizable(fit);
  ui_.Working_Image->SetFit(fit);
}

void TMain_Form::FitImage_MenuItemClick() { SetFitImage(!ui_.Working_Image->Fit()); }

void TMain_Form::FitBrandTextEditHeight() {
  QLineEdit* edit = ui_.BrandText_Edit;
  edit->resize(edit->width(), edit->sizeHint().height());
}

void TMain_Form::Message(const char* text) { Dialogs().ShowMessage(this, QString::fromUtf8(text)); }

void TMain_Form::ShowAndRaise() {
  show();
  raise();
}

// ---- Settings ---------------------------------------------------------------

std::string TMain_Form::BrandText() const { return ToText(ui_.BrandText_Edit->text()); }

void TMain_Form::SetBrandText(const std::string& value) {
  ui_.BrandText_Edit->setText(FromText(value));
}

TWindowFont TMain_Form::BrandTextFont() const {
  return TWindowFont{ui_.BrandText_Edit->font(), FBrandTextColor};
}

void TMain_Form::SetBrandTextFont(const TWindowFont& font) {
  QLineEdit* edit = ui_.BrandText_Edit;
  edit->setFont(font.Font);
  FBrandTextColor = font.Color;
  // Palette roles resolve against the field's own, unmodified palette; the
  // disabled colour stays the style's so a busy window still looks busy.
  const QColor color = WindowColorToQColor(font.Color, QApplication::palette(edit));
  QPalette palette = edit->palette();
  palette.setColor(QPalette::Active, QPalette::Text, color);
  palette.setColor(QPalette::Inactive, QPalette::Text, color);
  edit->setPalette(palette);
  FitBrandTextEditHeight();
}

const TWindowFont& TMain_Form::OriginalBrandTextFont() const { return *FOriginalBrandTextFont; }

void TMain_Form::SetOriginalBrandTextFont(const TWindowFont& font) {
  *FOriginalBrandTextFont = font;
}

std::string TMain_Form::SourceDirectory() const { return ToText(ui_.SourceDirectory_Edit->text()); }

void TMain_Form::SetSourceDirectory(const std::string& value) {
  ui_.SourceDirectory_Edit->setText(FromText(WithTrailingSlash(value)));
}

std::string TMain_Form::TargetDirectory() const { return ToText(ui_.TargetDirectory_Edit->text()); }

void TMain_Form::SetTargetDirectory(const std::string& value) {
  ui_.TargetDirectory_Edit->setText(FromText(WithTrailingSlash(value)));
}

QLabel& TMain_Form::StatusPanel(int index) const {
  return index == 0 ? *FStatusPanel0 : *FStatusPanel1;
}

// ---- Settings commands ----------------------------------------------------

void TMain_Form::SelectBrandTextFont() {
  TBrandFont_Form dialog(TBrandLook{BrandTextFont(), FBrandLook}, FromText(BrandText()), this);
  if (Dialogs().RunDialog(dialog) == QDialog::Accepted) {
    const TBrandLook look = dialog.Look();
    SetBrandTextFont(look.Font);
    FBrandLook = look.Stamp;
  }
  ArrangeSettingsControls();
  ShowAndRaise();
}

void TMain_Form::ResetBrandTextFont() {
  SetBrandTextFont(OriginalBrandTextFont());
  FBrandLook = TStampLook{};
  ArrangeSettingsControls();
}

void TMain_Form::SelectSourceDirectory() {
  if (const auto folder = Dialogs().BrowseForFolder(this, QStringLiteral("Images Directory"),
                                                    FolderToBrowse(SourceDirectory()))) {
    SetSourceDirectory(ToText(*folder));
  }
}

void TMain_Form::SelectTargetDirectory() {
  if (const auto folder = Dialogs().BrowseForFolder(this, QStringLiteral("Save Directory"),
                                                    FolderToBrowse(TargetDirectory()))) {
    SetTargetDirectory(ToText(*folder));
  }
}

void TMain_Form::SaveLog() {
  const QStringList filters = {QStringLiteral("Log Files (*.log)"),
                               QStringLiteral("Text Files (*.txt)"),
                               QStringLiteral("All Files (*)")};
  const std::optional<QString> fileName = Dialogs().SaveFileName(
      this, QStringLiteral("Save As"), FolderToBrowse(FLogDirectory),
      QString::fromUtf8(kDefaultLogFileName), filters, QStringLiteral("log"));
  if (!fileName) return;

  std::string text;
  for (std::size_t i = 0; i < FLogLines.size(); ++i) {
    if (i > 0) text += "\r\n";
    text += FLogLines[i];
  }
  try {
    WriteWholeFile(ToText(*fileName), std::as_bytes(std::span(text.data(), text.size())));
    FLogDirectory = ToText(QFileInfo(*fileName).absolutePath());
  } catch (const std::exception&) {
    Message("I cannot save the log file!");
  }
}

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

void TMain_Form::SourceDirectory_EditKeyPress(int /*key*/) { SourceDirectory_MenuItemClick(); }

void TMain_Form::TargetDirectory_EditKeyPress(int /*key*/) { TargetDirectory_MenuItemClick(); }

void TMain_Form::SaveLog_MenuItemClick() { SaveLog(); }

void TMain_Form::Exit_MenuItemClick() { close(); }

void TMain_Form::About_MenuItemClick() { ShowAboutBox(); }

void TMain_Form::Manual_MenuItemClick() { ShowManual(); }

// ---- Settings persistence ---------------------------------------------------

void TMain_Form::LoadSettings() {
  // One entry's failure leaves that setting empty (the font: as laid out)
  // and does not stop the others.
  const auto loadText = [](const TConfigurationFile& store, const char* name, auto set) {
    try {
      set(store.HasValue(name) ? store.ReadValue(name) : std::string());
    } catch (const std::exception&) {
      set(std::string());
    }
  };
  try {
    TConfigurationFile store;
    store.Load();
    loadText(store, kBrandTextEntry, [this](const std::string& v) { SetBrandText(v); });
    try {
      if (store.HasValue(kBrandTextFontEntry)) {
        TWindowFont font = BrandTextFont();
        TextToFont(store.ReadValue(kBrandTextFontEntry), font);
        SetBrandTextFont(font);
      }
    } catch (const std::exception&) {
      ResetBrandTextFont();
    }
    LoadBrandLook(store);
    ArrangeSettingsControls();
    loadText(store, kSourceDirectoryEntry, [this](const std::string& v) { SetSourceDirectory(v); });
    loadText(store, kTargetDirectoryEntry, [this](const std::string& v) { SetTargetDirectory(v); });
    LoadPlaces(store);
  } catch (const std::exception&) {
    Message("I am not able to load your configuration.");
  }
}

void TMain_Form::SaveSettings() {
  bool saved = false;
  try {
    TConfigurationFile store;
    // Loaded first so that the user's other entries are written back.
    store.Load();
    store.WriteValue(kBrandTextEntry, BrandText());
    store.WriteValue(kBrandTextFontEntry, FontToText(BrandTextFont()));
    SaveBrandLook(store);
    store.WriteValue(kSourceDirectoryEntry, SourceDirectory());
    store.WriteValue(kTargetDirectoryEntry, TargetDirectory());
    SavePlaces(store);
    saved = store.Save();
  } catch (const std::exception&) {
    saved = false;
  }
  if (!saved) {
    Message("I was not able to save your configuration.\rMaybe the file has been made read only?");
  }
}

void TMain_Form::LoadBrandLook(const TConfigurationFile& store) {
  // A value that does not read, or lies out of range, is the default: the
  // brand as it looks without these settings.
  FBrandLook = TStampLook{};
  const auto read = [&store](const char* name) -> std::optional<std::string> {
    try {
      if (store.HasValue(name)) return store.ReadValue(name);
    } catch (const std::exception&) {
    }
    return std::nullopt;
  };
  if (const auto size = read(kBrandRelativeSizeEntry)) {
    bool ok = false;
    const double value = QString::fromStdString(*size).trimmed().toDouble(&ok);
    if (ok && value >= kMinRelativeSize && value <= kMaxRelativeSize)
      FBrandLook.RelativeSize = value;
  }
  if (const std::optional<int> opacity = StoredNumber(store, kBrandOpacityEntry)) {
    if (*opacity >= kMinOpacity && *opacity <= kMaxOpacity) FBrandLook.Opacity = *opacity;
  }
  if (const auto outline = read(kBrandOutlineEntry); outline && !outline->empty()) {
    try {
      const TColor color = TextToColor(*outline, DrawingColorTable());
      if (color != clNone) FBrandLook.Outline = color;
    } catch (const ConvertError&) {
    }
  }
}

void TMain_Form::SaveBrandLook(TConfigurationFile& store) const {
  store.WriteValue(kBrandRelativeSizeEntry,
                   ToText(QString::number(FBrandLook.RelativeSize, 'g', 4)));
  store.WriteValue(kBrandOpacityEntry, std::to_string(FBrandLook.Opacity));
  store.WriteValue(kBrandOutlineEntry,
                   FBrandLook.Outline ? ColorToText(*FBrandLook.Outline, DrawingColorTable()) : "");
}

void TMain_Form::LoadPlaces(const TConfigurationFile& store) {
  // Each entry on its own: a missing or garbled one keeps what was laid out.
  const std::optional<int> left = StoredNumber(store, kWindowLeftEntry);
  const std::optional<int> top = StoredNumber(store, kWindowTopEntry);
  const std::optional<int> storedWidth = StoredNumber(store, kWindowWidthEntry);
  const std::optional<int> storedHeight = StoredNumber(store, kWindowHeightEntry);
  if (left && top && storedWidth && storedHeight) {
    // Screens change between sessions: what was stored is moved and shrunk
    // onto the screen it is now nearest to, never below the minimum size.
    QRect wanted(*left, *top, std::max(*storedWidth, minimumWidth()),
                 std::max(*storedHeight, minimumHeight()));
    const QScreen* screen = QGuiApplication::screenAt(wanted.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    const QRect placed =
        screen != nullptr ? ClampToScreen(wanted, screen->availableGeometry()) : wanted;
    resize(placed.size().expandedTo(minimumSize()));
    move(placed.topLeft());
  }
  if (StoredNumber(store, kWindowMaximizedEntry).value_or(0) != 0) {
    setWindowState(windowState() | Qt::WindowMaximized);
  }
  if (const std::optional<int> page = StoredNumber(store, kActivePageEntry)) {
    if (*page >= 0 && *page < ui_.Main_PageControl->count()) {
      ui_.Main_PageControl->setCurrentIndex(*page);
    }
  }
  SetFitImage(StoredNumber(store, kFitImageEntry).value_or(0) != 0);
  ui_.KeepPictureInformation_MenuItem->setChecked(
      StoredNumber(store, kKeepPictureInformationEntry).value_or(0) != 0);
  ui_.RefuseDamagedPictures_MenuItem->setChecked(
      StoredNumber(store, kRefuseDamagedPicturesEntry).value_or(0) != 0);
  if (store.HasValue(kLogDirectoryEntry)) FLogDirectory = store.ReadValue(kLogDirectoryEntry);
}

void TMain_Form::SavePlaces(TConfigurationFile& store) const {
  const bool maximized = isMaximized();
  // A maximised window keeps the place it goes back to.
  const QRect normal = maximized ? normalGeometry() : QRect(pos(), size());
  store.WriteValue(kWindowLeftEntry, std::to_string(normal.x()));
  store.WriteValue(kWindowTopEntry, std::to_string(normal.y()));
  store.WriteValue(kWindowWidthEntry, std::to_string(normal.width()));
  store.WriteValue(kWindowHeightEntry, std::to_string(normal.height()));
  store.WriteValue(kWindowMaximizedEntry, maximized ? "1" : "0");
  store.WriteValue(kActivePageEntry, std::to_string(ui_.Main_PageControl->currentIndex()));
  store.WriteValue(kFitImageEntry, ui_.Working_Image->Fit() ? "1" : "0");
  store.WriteValue(kLogDirectoryEntry, FLogDirectory);
  store.WriteValue(kKeepPictureInformationEntry,
                   ui_.KeepPictureInformation_MenuItem->isChecked() ? "1" : "0");
  store.WriteValue(kRefuseDamagedPicturesEntry,
                   ui_.RefuseDamagedPictures_MenuItem->isChecked() ? "1" : "0");
}

// ---- Batch run --------------------------------------------------------------

void TMain_Form::Process_ButtonClick() {
  ClearLog();
  const TBatchRefusal refusal = CheckBatchSettings(CurrentBatchSettings(), StartDirectory());
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
          .TargetDirectory = TargetDirectory()};
}

void TMain_Form::ProcessImages() {
  // The count is cheap (no file is opened) and the walk stays live: the total
  // only drives the progress shown; the busy state is drawn before the first
  // file keeps the window frozen.
  StartProgress(CountBatchEntries(SourceDirectory()));
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
  options.Brand.Display = FDisplayInfo;
  // The photographer's EXIF, IPTC and XMP go into the copies when asked for.
  options.Brand.KeepMetadata = ui_.KeepPictureInformation_MenuItem->isChecked();
  // A damaged picture fails instead of being branded as far as it decodes.
  options.Brand.Strict = ui_.RefuseDamagedPictures_MenuItem->isChecked();
  options.Brand.Look = FBrandLook;
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
