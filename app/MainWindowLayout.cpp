#include <QLabel>
#include <QProgressBar>
#include <QStatusBar>
#include <QStyle>
#include <QTabBar>
#include <algorithm>
#include <climits>

#include "app/MainWindow.h"
#include "app/ProgressText.h"
#include "app/WindowLayout.h"

// The main window's layout: the busy state, the status bar with the run's
// progress, and the Settings page, which follows the brand font and the
// window font.

namespace sigilon {

namespace {

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

int Bottom(const QWidget* widget) { return widget->y() + widget->height(); }

}  // namespace

void TMain_Form::KeepLaidOutSize() {
  setMinimumSize(width(), height());
  FLaidOutMinimumHeight = height();
  FLaidOutSettingsBottom = Bottom(ui_.TargetDirectory_Edit);
  FStatusPanel0->setMaximumWidth(StatusPanel0Width(width()));
}

void TMain_Form::FormResize() {
  FStatusPanel0->setMaximumWidth(StatusPanel0Width(width()));
  FitProgressBar();
}

void TMain_Form::FitProgressBar() {
  FProgressBar->setFixedWidth(ProgressBarWidth(width(), FStatusPanel1->width()));
}

QLabel& TMain_Form::StatusPanel(int index) const {
  return index == 0 ? *FStatusPanel0 : *FStatusPanel1;
}

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
  FStatusPanel1->setText(
      QString::fromStdString(ProgressText(done, FProgressTotal, FProgressClock.elapsed())));
  FStatusPanel1->setFixedWidth(
      StatusPanel1Width(FStatusPanel1->fontMetrics().horizontalAdvance(FStatusPanel1->text()) +
                        2 * FStatusPanel1->frameWidth()));
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

void TMain_Form::FitBrandTextEditHeight() {
  QLineEdit* edit = ui_.BrandText_Edit;
  edit->resize(edit->width(), edit->sizeHint().height());
}

}  // namespace sigilon
