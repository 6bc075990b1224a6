#include "windows/ManualReader.h"

#include <QDir>
#include <QFileInfo>
#include <QUrl>

#include "SigilonVersion.h"
#include "platform/Platform.h"
#include "windows/Dialogs.h"

namespace sigilon {

TManualReader_Form::TManualReader_Form(QWidget* parent) : QDialog(parent) {
  ui_.setupUi(this);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint |
                 Qt::WindowMinMaxButtonsHint | Qt::WindowCloseButtonHint);
  setBackgroundRole(QPalette::Window);
  connect(ui_.Close_Button, &QPushButton::clicked, this, &QDialog::accept);
  FormCreate();
  CentreOnScreen(*this);
  ui_.Close_Button->setFocus();
}

std::vector<QString> ManualLocations() {
  const QString name = QString::fromUtf8(kManualFileName);
  std::vector<QString> locations{QString::fromStdString(StartDirectory()) + name};
  const QString program = QString::fromStdString(ProgramDirectory());
  if (!program.isEmpty()) {
    locations.push_back(program + name);
    locations.push_back(QDir::cleanPath(
        program + QString::fromUtf8(kInstalledDocDirFromProgramDir) + QLatin1Char('/') + name));
  }
  return locations;
}

void TManualReader_Form::FormCreate() {
  FManualExists = false;
  try {
    // A directory or an unreadable file of that name is no manual either.
    for (const QString& path : ManualLocations()) {
      const QFileInfo info(path);
      if (!info.isFile() || !info.isReadable()) continue;
      // The browser reads the file itself, so links and pictures relative to
      // the manual resolve against its directory.
      ui_.Manual_TextBrowser->setSource(QUrl::fromLocalFile(info.absoluteFilePath()),
                                        QTextDocument::HtmlResource);
      // An unreadable file leaves the browser empty; a file with no text at
      // all is shown as it is.
      FManualExists = !(ui_.Manual_TextBrowser->document()->isEmpty() && info.size() > 0);
      if (FManualExists) return;
    }
  } catch (...) {
    // Whatever went wrong, the user is told only that the manual is missing.
    FManualExists = false;
  }
}

void ShowManual() {
  bool exists = false;
  {
    TManualReader_Form form;
    exists = form.ManualExists();
    if (exists) form.exec();
  }
  if (!exists) ShowMessage(QStringLiteral("The manual is missing!"));
}

}  // namespace sigilon
