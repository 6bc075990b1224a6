#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QDialog>
#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFormLayout>
#include <QScreen>
#include <QSpinBox>
#include <algorithm>
#include <exception>
#include <optional>

#include "app/BrandFontDialog.h"
#include "app/MainWindow.h"
#include "app/MarkDialog.h"
#include "app/PresetsDialog.h"
#include "app/WindowLayout.h"
#include "app/WindowSettings.h"
#include "engine/formats/FormatRegistry.h"
#include "platform/PathText.h"
#include "platform/Platform.h"
#include "settings/ConfigurationFile.h"
#include "windows/Dialogs.h"

// The main window's settings: their accessors, the commands that change
// them, and their loading and saving through TWindowSettings.

namespace sigilon {

namespace {

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

}  // namespace

// ---- Settings ---------------------------------------------------------------

std::string TMain_Form::BrandText() const { return ui_.BrandText_Edit->text().toStdString(); }

void TMain_Form::SetBrandText(const std::string& value) {
  ui_.BrandText_Edit->setText(QString::fromStdString(value));
}

TWindowFont TMain_Form::BrandTextFont() const {
  return TWindowFont{ui_.BrandText_Edit->font(), FBrandTextColor};
}

void TMain_Form::SetBrandTextFont(const TWindowFont& font) {
  ScheduleMarkPreview();
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

bool TMain_Form::SetBrandTextFontText(const std::string& text) {
  // Read over the font as it stands; a text that fails half-way is undone whole.
  try {
    TWindowFont font = BrandTextFont();
    TextToFont(text, font);
    SetBrandTextFont(font);
    return true;
  } catch (const std::exception&) {
    return false;
  }
}

const TWindowFont& TMain_Form::OriginalBrandTextFont() const { return *FOriginalBrandTextFont; }

void TMain_Form::SetOriginalBrandTextFont(const TWindowFont& font) {
  *FOriginalBrandTextFont = font;
}

std::string TMain_Form::SourceDirectory() const {
  return ui_.SourceDirectory_Edit->text().toStdString();
}

void TMain_Form::SetSourceDirectory(const std::string& value) {
  ui_.SourceDirectory_Edit->setText(QString::fromStdString(WithTrailingSlash(value)));
}

std::string TMain_Form::TargetDirectory() const {
  return ui_.TargetDirectory_Edit->text().toStdString();
}

void TMain_Form::SetTargetDirectory(const std::string& value) {
  ui_.TargetDirectory_Edit->setText(QString::fromStdString(WithTrailingSlash(value)));
}

// ---- Settings commands ----------------------------------------------------

void TMain_Form::SelectBrandTextFont() {
  TBrandFont_Form dialog(TBrandLook{BrandTextFont(), FBrandLook},
                         QString::fromStdString(BrandText()), this);
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
  // The font's own look goes back; where the marks go is the Mark dialog's.
  const TStampLook laidOut;
  FBrandLook.RelativeSize = laidOut.RelativeSize;
  FBrandLook.Opacity = laidOut.Opacity;
  FBrandLook.Outline = laidOut.Outline;
  ArrangeSettingsControls();
}

void TMain_Form::SelectMark() {
  TMark_Form dialog(FBrandLook, FFillInFields, this);
  if (Dialogs().RunDialog(dialog) == QDialog::Accepted) {
    FBrandLook = dialog.Look();
    FFillInFields = dialog.FillInFields();
  }
  ScheduleMarkPreview();
}

TMarkPreset TMain_Form::CurrentMarkPreset() const {
  return {.BrandText = BrandText(),
          .FontText = FontToText(BrandTextFont()),
          .Look = FBrandLook,
          .Fields = FFillInFields};
}

void TMain_Form::SelectPreset() {
  TPresets_Form dialog(CurrentMarkPreset(), this);
  if (Dialogs().RunDialog(dialog) != QDialog::Accepted || !dialog.Chosen()) return;
  const TMarkPreset& preset = *dialog.Chosen();
  SetBrandText(preset.BrandText);
  if (!SetBrandTextFontText(preset.FontText)) {
    Message("The preset's font cannot be read; the brand font stays as it was.");
  }
  FBrandLook = preset.Look;
  FFillInFields = preset.Fields;
  ArrangeSettingsControls();
  ScheduleMarkPreview();
}

void TMain_Form::SelectSourceDirectory() {
  if (const auto folder = Dialogs().BrowseForFolder(this, QStringLiteral("Images Directory"),
                                                    FolderToBrowse(SourceDirectory()))) {
    SetSourceDirectory(folder->toStdString());
  }
}

void TMain_Form::SelectTargetDirectory() {
  if (const auto folder = Dialogs().BrowseForFolder(this, QStringLiteral("Save Directory"),
                                                    FolderToBrowse(TargetDirectory()))) {
    SetTargetDirectory(folder->toStdString());
  }
}

void TMain_Form::SelectCopies() {
  QDialog dialog(this);
  dialog.setWindowTitle(QStringLiteral("Copies"));
  auto* quality = new QSpinBox(&dialog);
  quality->setObjectName(QStringLiteral("PictureQuality_SpinEdit"));
  // The lowest step is no number but each type's own quality.
  quality->setRange(kDefaultQuality, kMaxQuality);
  quality->setSpecialValueText(QStringLiteral("Default (JPEG 100, others 90)"));
  quality->setValue(FPictureQuality);
  auto* optimize =
      new QCheckBox(QStringLiteral("Optimize JPEG copies (smaller, the same pixels)"), &dialog);
  optimize->setObjectName(QStringLiteral("OptimizeJpegCopies_CheckBox"));
  optimize->setChecked(FOptimizeJpegCopies);
  auto* convert = new QComboBox(&dialog);
  convert->setObjectName(QStringLiteral("ConvertCopiesTo_ComboBox"));
  convert->addItem(QStringLiteral("Each in its own type"), QString());
  // Only the types this build can write are offered.
  for (const QString& name : QString::fromStdString(ConversionTypeNames()).split(u'|')) {
    const std::optional<TConversionType> type = ConversionTypeNamed(name.toStdString());
    if (!type || ConversionFormat(*type) == nullptr) continue;
    convert->addItem(QString::fromUtf8(type->Title.data(), qsizetype(type->Title.size())), name);
  }
  convert->setCurrentIndex(
      std::max(0, convert->findData(QString::fromStdString(FConvertCopiesTo))));
  auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, &dialog);
  connect(buttons, &QDialogButtonBox::accepted, &dialog, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, &dialog, &QDialog::reject);
  auto* layout = new QFormLayout(&dialog);
  layout->addRow(QStringLiteral("Quality of lossy copies:"), quality);
  layout->addRow(QString(), optimize);
  layout->addRow(QStringLiteral("Write copies as:"), convert);
  layout->addRow(buttons);
  if (Dialogs().RunDialog(dialog) != QDialog::Accepted) return;
  FPictureQuality = quality->value();
  FOptimizeJpegCopies = optimize->isChecked();
  FConvertCopiesTo = convert->currentData().toString().toStdString();
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
    WriteWholeFile(fileName->toStdString(), std::as_bytes(std::span(text.data(), text.size())));
    FLogDirectory = QFileInfo(*fileName).absolutePath().toStdString();
  } catch (const std::exception&) {
    Message("I cannot save the log file!");
  }
}

// ---- Settings persistence ---------------------------------------------------

void TMain_Form::LoadSettings() {
  try {
    TConfigurationFile store;
    store.Load();
    TWindowSettings settings;
    settings.Load(store);
    ApplySettings(settings);
    RestorePlace(settings);
  } catch (const std::exception&) {
    Message("I am not able to load your configuration.");
  }
}

void TMain_Form::SaveSettings() {
  const bool saved =
      ChangeStoredSettings([this](TConfigurationFile& store) { CurrentSettings().Save(store); });
  if (!saved) Message(kSaveSettingsFailedText);
}

TWindowSettings TMain_Form::CurrentSettings() const {
  const bool maximized = isMaximized();
  return {.BrandText = BrandText(),
          .BrandTextFont = FontToText(BrandTextFont()),
          .SourceDirectory = SourceDirectory(),
          .TargetDirectory = TargetDirectory(),
          .BrandLook = FBrandLook,
          .FillInFields = FFillInFields,
          // A maximised window keeps the place it goes back to.
          .WindowPlace = maximized ? normalGeometry() : QRect(pos(), size()),
          .WindowMaximized = maximized,
          .ActivePage = ui_.Main_PageControl->currentIndex(),
          .FitImage = ui_.Working_Image->Fit(),
          .LogDirectory = FLogDirectory,
          .KeepPictureInformation = ui_.KeepPictureInformation_MenuItem->isChecked(),
          .RefuseDamagedPictures = ui_.RefuseDamagedPictures_MenuItem->isChecked(),
          .BrandAllPictureTypes = ui_.BrandAllPictureTypes_MenuItem->isChecked(),
          .IncludeSubfolders = ui_.IncludeSubfolders_MenuItem->isChecked(),
          .PictureQuality = FPictureQuality,
          .OptimizeJpegCopies = FOptimizeJpegCopies,
          .ConvertCopiesTo = FConvertCopiesTo};
}

void TMain_Form::ApplySettings(const TWindowSettings& settings) {
  SetBrandText(settings.BrandText);
  if (settings.BrandTextFont && !SetBrandTextFontText(*settings.BrandTextFont)) {
    ResetBrandTextFont();
  }
  FBrandLook = settings.BrandLook;
  FFillInFields = settings.FillInFields;
  ArrangeSettingsControls();
  SetSourceDirectory(settings.SourceDirectory);
  SetTargetDirectory(settings.TargetDirectory);
  SetFitImage(settings.FitImage);
  ui_.KeepPictureInformation_MenuItem->setChecked(settings.KeepPictureInformation);
  ui_.RefuseDamagedPictures_MenuItem->setChecked(settings.RefuseDamagedPictures);
  ui_.BrandAllPictureTypes_MenuItem->setChecked(settings.BrandAllPictureTypes);
  ui_.IncludeSubfolders_MenuItem->setChecked(settings.IncludeSubfolders);
  FPictureQuality = settings.PictureQuality;
  FOptimizeJpegCopies = settings.OptimizeJpegCopies;
  FConvertCopiesTo = settings.ConvertCopiesTo;
  FLogDirectory = settings.LogDirectory;
}

void TMain_Form::RestorePlace(const TWindowSettings& settings) {
  if (settings.WindowPlace) {
    // Screens change between sessions: what was stored is moved and shrunk
    // onto the screen it is now nearest to, never below the minimum size.
    const QRect wanted(settings.WindowPlace->topLeft(),
                       settings.WindowPlace->size().expandedTo(minimumSize()));
    const QScreen* screen = QGuiApplication::screenAt(wanted.center());
    if (screen == nullptr) screen = QGuiApplication::primaryScreen();
    const QRect placed =
        screen != nullptr ? ClampToScreen(wanted, screen->availableGeometry()) : wanted;
    resize(placed.size().expandedTo(minimumSize()));
    move(placed.topLeft());
  }
  if (settings.WindowMaximized) setWindowState(windowState() | Qt::WindowMaximized);
  if (settings.ActivePage && *settings.ActivePage >= 0 &&
      *settings.ActivePage < ui_.Main_PageControl->count()) {
    ui_.Main_PageControl->setCurrentIndex(*settings.ActivePage);
  }
}

}  // namespace sigilon
