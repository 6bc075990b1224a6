#include "windows/AboutBox.h"

#include <QEvent>
#include <QMouseEvent>
#include <QPixmap>
#include <QUrl>

#include "windows/Dialogs.h"

namespace sigilon {

TAbout_Form::TAbout_Form(QWidget* parent) : QDialog(parent) {
  ui_.setupUi(this);
  // A fixed-size dialog: no resize grip, no minimise or maximise box.
  setWindowFlags(Qt::Dialog | Qt::WindowTitleHint | Qt::WindowCloseButtonHint |
                 Qt::MSWindowsFixedSizeDialogHint);
  setBackgroundRole(QPalette::Button);
  connect(ui_.Close_Button, &QPushButton::clicked, this, &QDialog::accept);
  ui_.Message1_Label->installEventFilter(this);
  ui_.Message2_Label->installEventFilter(this);
  FormCreate();
  CentreOnScreen(*this);
  ui_.Close_Button->setFocus();
}

void TAbout_Form::FormCreate() {
  ui_.ProgramIcon_Image->setPixmap(QPixmap(QStringLiteral(":/APP_BITMAP")));
  ui_.ProductName_Label->setText(QString::fromUtf8(kProductName));
  // Replaces the whole placeholder "Version N/A": no "Version" in front.
  ui_.ProductVersion_Label->setText(QString::fromUtf8(kProductVersion));
  ui_.Copyright_Label->setText(QString::fromUtf8(kCopyright));
  const QString host = QUrl(QString::fromUtf8(kMakerWebAddress)).host();
  ui_.Message1_Label->setText(QStringLiteral("Visit %1 for updates").arg(host));
  for (QLabel* label : {ui_.ProductName_Label, ui_.ProductVersion_Label, ui_.Copyright_Label}) {
    label->adjustSize();
  }
}

bool TAbout_Form::eventFilter(QObject* watched, QEvent* event) {
  if ((watched == ui_.Message1_Label || watched == ui_.Message2_Label) &&
      event->type() == QEvent::MouseButtonRelease &&
      static_cast<QMouseEvent*>(event)->button() == Qt::LeftButton) {
    Message2_LabelClick();
    return true;
  }
  return QDialog::eventFilter(watched, event);
}

void TAbout_Form::Message2_LabelClick() {
  // Whether the browser starts is not reported; the box stays open.
  Dialogs().RunProgram(QString::fromUtf8(kMakerWebAddress));
}

void ShowAboutBox() {
  TAbout_Form form;
  form.exec();
}

}  // namespace sigilon
