#include <QFileDialog>
#include <QFileInfo>
#include <QTimer>
#include <exception>

#include "app/MainWindow.h"
#include "engine/MarkPreview.h"
#include "engine/formats/FormatRegistry.h"
#include "platform/Directories.h"
#include "windows/Dialogs.h"

// The live preview of the mark: a sample picture with the mark as it stands,
// drawn again shortly after any change of text, font, look or layout, while
// the Preview page is shown.

namespace sigilon {

namespace {

constexpr int kPreviewPageIndex = 3;
/// Changes that come in a burst (typing, resizing) are drawn once, this long
/// after the last; a reduced sample then draws in well under the rest of the
/// 150 ms a user tolerates.
constexpr int kPreviewDelayMs = 60;

}  // namespace

void TMain_Form::CreateMarkPreview() {
  FPreviewTimer = new QTimer(this);
  FPreviewTimer->setSingleShot(true);
  FPreviewTimer->setInterval(kPreviewDelayMs);
  connect(FPreviewTimer, &QTimer::timeout, this, &TMain_Form::Preview_TimerTimer);
  connect(ui_.BrandText_Edit, &QLineEdit::textChanged, this, &TMain_Form::ScheduleMarkPreview);
  connect(ui_.SourceDirectory_Edit, &QLineEdit::textChanged, this,
          &TMain_Form::ScheduleMarkPreview);
  connect(ui_.Main_PageControl, &QTabWidget::currentChanged, this,
          &TMain_Form::ScheduleMarkPreview);
  connect(ui_.SampleFile_Button, &QPushButton::clicked, this, &TMain_Form::SampleFile_ButtonClick);
  connect(ui_.ActualSize_Button, &QPushButton::clicked, this, &TMain_Form::ActualSize_ButtonClick);
  connect(ui_.Mark_Image, &TPicturePreview::DoubleClicked, ui_.ActualSize_Button,
          &QPushButton::click);
  ui_.Mark_Image->SetFit(true);
}

void TMain_Form::ScheduleMarkPreview() {
  if (ui_.Main_PageControl->currentIndex() == kPreviewPageIndex) {
    FPreviewTimer->start();
  } else if (!ui_.Mark_Image->Fit()) {
    // A sample at its own size is big (72 MB for 24 MP): not held while
    // unseen; coming back decodes it again.
    FSample.reset();
    ui_.Mark_Image->SetPicture(nullptr);
  }
}

void TMain_Form::Preview_TimerTimer() { DrawMarkPreview(); }

void TMain_Form::ActualSize_ButtonClick() {
  const bool fit = !ui_.ActualSize_Button->isChecked();
  // Whole, the picture takes the view; at its own size it scrolls.
  ui_.MarkImage_ScrollBox->setWidgetResizable(fit);
  ui_.Mark_Image->SetFit(fit);
  DrawMarkPreview();
}

void TMain_Form::SampleFile_ButtonClick() {
  QFileDialog dialog(this, QStringLiteral("Sample Picture"),
                     QString::fromStdString(SourceDirectory()));
  dialog.setFileMode(QFileDialog::ExistingFile);
  if (Dialogs().RunDialog(dialog) != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  FSampleFile = dialog.selectedFiles().front().toStdString();
  DrawMarkPreview();
}

std::string TMain_Form::SamplePicture() const {
  if (!FSampleFile.empty()) return FSampleFile;
  const std::string source = SourceDirectory();
  if (source.empty()) return {};
  // The first picture a run would brand.
  TDirectoryListing listing(source);
  const bool allTypes = ui_.BrandAllPictureTypes_MenuItem->isChecked();
  while (listing.Valid()) {
    const std::optional<TDirectoryEntry> entry = listing.Next();
    if (!entry) break;
    if (!entry->IsDirectory && FormatForPath(entry->Name, allTypes)) return source + entry->Name;
  }
  return {};
}

void TMain_Form::DrawMarkPreview() {
  const std::string path = SamplePicture();
  if (path.empty()) {
    FSample.reset();
    ui_.Mark_Image->SetPicture(nullptr);
    ui_.Sample_Label->setText(QStringLiteral("No picture in the Source Directory"));
    return;
  }
  // At its own size the sample is decoded whole, so that the view shows
  // what the run writes; whole, as small as the view allows.
  const bool actual = !ui_.Mark_Image->Fit();
  const QSize box =
      actual ? QSize(kWholeSizeBox, kWholeSizeBox) : ui_.MarkImage_ScrollBox->viewport()->size();
  try {
    const TBrandOptions options = CurrentBrandOptions();
    // Decoded again only for another file, a view it no longer fills, or
    // back from its own size to a view it need not fill at that cost.
    const bool wasActual = FSampleBox.width() == kWholeSizeBox;
    if (!FSample || FSample->Path != path || actual != wasActual ||
        (FSample->Scale > 1 &&
         (box.width() > FSampleBox.width() || box.height() > FSampleBox.height()))) {
      FSample.reset();
      FSample =
          std::make_unique<TMarkSample>(LoadMarkSample(path, box.width(), box.height(), options));
      FSampleBox = box;
    }
    // At its own size the picture shown goes before the next is made, so
    // that two stamped copies are never held at once.
    if (actual) ui_.Mark_Image->SetPicture(nullptr);
    ui_.Mark_Image->SetPicture(std::make_shared<const TBitmap>(
        StampMarkSample(*FSample, BrandText(), FontToText(BrandTextFont()), options)));
    ui_.Sample_Label->setText(QFileInfo(QString::fromStdString(path)).fileName());
  } catch (const std::exception& error) {
    // A preview that cannot be drawn says why on its page; no message box
    // interrupts typing.
    ui_.Mark_Image->SetPicture(FSample ? FSample->Picture : nullptr);
    ui_.Sample_Label->setText(QString::fromUtf8(error.what()));
  }
}

}  // namespace sigilon
