#pragma once
/// The main window: the four settings, the batch run over the source
/// directory, the results log, and the loading and saving of the settings.
/// Its members are defined by job: MainWindow.cpp (controls, events,
/// handlers, the batch run), MainWindowLayout.cpp (busy state, status bar,
/// Settings page layout), MainWindowSettings.cpp (the settings, their
/// commands and their storage through TWindowSettings).

#include <QElapsedTimer>
#include <QMainWindow>
#include <cstddef>
#include <memory>
#include <span>
#include <string>
#include <vector>

#include "app/WindowFont.h"
#include "engine/BatchRun.h"
#include "engine/BrandFile.h"
#include "engine/Logo.h"
#include "engine/MarkPreset.h"
#include "engine/MarkPreview.h"
#include "ui_MainWindow.h"

class QLabel;
class QProgressBar;
class QTimer;

namespace sigilon {

struct TWindowSettings;

/// The application title: caption of every message box, stem of the
/// configuration file name.
inline constexpr const char* kApplicationTitle = "Sigilon";

/// Sets the application title everywhere it is read: Qt's application name
/// and display name, and the settings storage.
void ApplyApplicationTitle();

/// The file name the save-log dialog proposes.
inline constexpr const char* kDefaultLogFileName = "Results.log";

class TMain_Form : public QMainWindow {
  Q_OBJECT

 public:
  explicit TMain_Form(QWidget* parent = nullptr);
  ~TMain_Form() override;

  // ---- Settings --------------------------------------------------------

  std::string BrandText() const;
  void SetBrandText(const std::string& value);
  /// The font of the Brand Text field with its colour.
  TWindowFont BrandTextFont() const;
  /// Copies `font` into the Brand Text field; the field's height follows it.
  void SetBrandTextFont(const TWindowFont& font);
  /// Reads a font description text over the brand font; false, the font
  /// unchanged, when the text cannot be read.
  bool SetBrandTextFontText(const std::string& text);
  /// The field's font as laid out, taken before the settings were loaded.
  const TWindowFont& OriginalBrandTextFont() const;
  void SetOriginalBrandTextFont(const TWindowFont& font);
  /// How the brand looks on the pictures beyond its font: size relative to
  /// the picture, opacity, outline. Reset with the font.
  const TStampLook& BrandLook() const { return FBrandLook; }
  /// Whether the brand text's fields are filled in per file.
  bool FillInFields() const { return FFillInFields; }
  std::string SourceDirectory() const;
  /// Appends "/" to a non-empty value that does not end with one.
  void SetSourceDirectory(const std::string& value);
  std::string TargetDirectory() const;
  void SetTargetDirectory(const std::string& value);

  // ---- Inspection (for tests) -----------------------------------------

  const Ui::TMain_Form& Form() const { return ui_; }
  /// Panel 0 (the last log line) and panel 1 (empty) of the status bar.
  QLabel& StatusPanel(int index) const;
  /// The run's progress bar (hidden while idle).
  QProgressBar& ProgressBar() const { return *FProgressBar; }
  /// The results log, line by line, exactly as it will be saved.
  const std::vector<std::string>& LogLines() const { return FLogLines; }
  bool Busy() const { return FBusy; }
  /// What the display reported at start-up, handed to every BrandFile.
  const TDisplayInfo& DisplayInfo() const { return FDisplayInfo; }

  // ---- Event handlers -------------------------------------------------

  void Process_ButtonClick();
  void Cancel_ButtonClick();
  void Exit_MenuItemClick();
  void About_MenuItemClick();
  void Manual_MenuItemClick();
  void SaveLog_MenuItemClick();
  void SelectBrandTextFont_MenuItemClick();
  void ResetBrandTextFont_MenuItemClick();
  void SourceDirectory_MenuItemClick();
  void TargetDirectory_MenuItemClick();
  /// A small dialog for the quality of lossy copies.
  void Copies_MenuItemClick();
  /// The Mark dialog: layout, spacing, angle, anchor, margin, shadow, fields.
  void Mark_MenuItemClick();
  /// The Presets dialog: the whole mark saved under a name, used, deleted.
  void Presets_MenuItemClick();
  /// The Preview page's button: a picture of the user's to preview the mark on.
  void SampleFile_ButtonClick();
  /// The Preview page's Actual Size button: the sample at its own size,
  /// scrolled, or whole.
  void ActualSize_ButtonClick();
  /// Draws the preview once a burst of changes has ended.
  void Preview_TimerTimer();
  /// Any typed character opens the folder dialog; the key itself is ignored.
  void SourceDirectory_EditKeyPress(int key);
  void TargetDirectory_EditKeyPress(int key);
  void Settings_TabSheetResize();
  /// Double-click on the picture or the Image page's context menu: the
  /// picture at its own size or scaled to fit the page.
  void FitImage_MenuItemClick();

 protected:
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  /// Clicks, double-clicks and key presses of the fields, and the Settings
  /// page's resizing, which have no signals of their own.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  /// Panel 0, the run's progress bar and panel 1.
  void CreateStatusBar();
  /// Buttons, menu items, the Escape key and the Image page's context menu
  /// to their handlers.
  void CreateActions();
  /// Hands the fields' and the Settings page's events to eventFilter.
  void WatchControls();
  /// The Preview page's timer and what starts it.
  void CreateMarkPreview();

  void FormCreate();
  void FormDestroy();
  void FormResize();
  void FitProgressBar();
  /// The laid-out size becomes the smallest the window takes.
  void KeepLaidOutSize();
  void FormActivate();
  void FormCloseQuery(bool& canClose);

  void SetBusy(bool busy);
  void ArrangeSettingsControls();
  void FitBrandTextEditHeight();
  void FitMinimumHeight();
  void FitControlsToWindowFont();
  void SetFitImage(bool fit);
  void StartProgress(std::int64_t total);
  void ShowProgress(std::int64_t done);

  /// The four settings as they stand now, the font as its description text.
  TBatchSettings CurrentBatchSettings() const;
  void ProcessImages();
  void WriteLog(const std::string& line);
  void ClearLog();
  /// The preview: the bytes of a bitmap file, or the stamped pixels.
  void ShowWorkingImage(std::span<const std::byte> picture);
  void ShowWorkingImage(std::shared_ptr<const TBitmap> picture);

  void SelectBrandTextFont();
  void ResetBrandTextFont();
  void SelectSourceDirectory();
  void SelectTargetDirectory();
  /// Asks how copies are written: quality, JPEG tables, type.
  void SelectCopies();
  void SelectMark();
  void SelectPreset();
  /// The mark as it stands: text, font, look and fields.
  TMarkPreset CurrentMarkPreset() const;
  /// How a run brands each file, as the menus and dialogs stand.
  TBrandOptions CurrentBrandOptions() const;

  /// Draws the preview shortly, if its page is shown.
  void ScheduleMarkPreview();
  /// The picture chosen for the preview, else the first picture of the
  /// source directory; empty when there is none.
  std::string SamplePicture() const;
  void DrawMarkPreview();
  void SaveLog();

  void LoadSettings();
  void SaveSettings();
  /// What the controls show, as stored between sessions.
  TWindowSettings CurrentSettings() const;
  /// Shows stored settings in the controls; a brand font text that cannot be
  /// read leaves the font as laid out.
  void ApplySettings(const TWindowSettings& settings);
  /// The stored place, moved onto today's screens, the window state and the page.
  void RestorePlace(const TWindowSettings& settings);

  void Message(const char* text);
  void ShowAndRaise();

  Ui::TMain_Form ui_;
  QLabel* FStatusPanel0 = nullptr;
  QLabel* FStatusPanel1 = nullptr;
  QProgressBar* FProgressBar = nullptr;
  std::int64_t FProgressTotal = 0;
  QElapsedTimer FProgressClock;
  bool FCancelled = false;
  bool FBusy = false;
  std::unique_ptr<TWindowFont> FOriginalBrandTextFont;
  TColor FBrandTextColor = 0;
  TStampLook FBrandLook{};
  /// The mark's logo, read once for the preview and the runs that follow.
  mutable TLogoCache FBrandLogos;
  /// Fill in the brand text's fields per file.
  bool FFillInFields = false;
  /// Quality of lossy copies (kDefaultQuality: each type's own).
  int FPictureQuality = kDefaultQuality;
  bool FOptimizeJpegCopies = false;
  /// The conversion type every copy is written in ("jpeg"); empty: its own.
  std::string FConvertCopiesTo;
  TDisplayInfo FDisplayInfo;
  std::vector<std::string> FLogLines;
  /// Height of the window and bottom of the last Settings field as laid out:
  /// the minimum height grows by as much as a larger brand font pushes the
  /// field down.
  int FLaidOutMinimumHeight = 0;
  int FLaidOutSettingsBottom = 0;
  QTimer* FPreviewTimer = nullptr;
  /// The preview's picture as the user chose it; empty: the source's first.
  std::string FSampleFile;
  std::unique_ptr<TMarkSample> FSample;
  /// The size of the view the sample was decoded for (kWholeSizeBox each
  /// way: at its own size).
  QSize FSampleBox;
  /// Where the log was last saved; the save dialog opens there.
  std::string FLogDirectory;
  /// A double-click's trailing button release is not a click of its own.
  QObject* FReleaseAfterDoubleClick = nullptr;
};

}  // namespace sigilon
