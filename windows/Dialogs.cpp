#include "windows/Dialogs.h"

#include <QApplication>
#include <QColorDialog>
#include <QDir>
#include <QFileDialog>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

#include "platform/Platform.h"

namespace sigilon {

namespace {
TDialogs* gInstalled = nullptr;
}

void TDialogs::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                  parent);
  box.exec();
}

int TDialogs::RunDialog(QDialog& dialog) { return dialog.exec(); }

std::optional<QColor> TDialogs::ChooseColor(QWidget* parent, const QColor& color) {
  const QColor chosen = QColorDialog::getColor(color, parent);
  if (!chosen.isValid()) return std::nullopt;
  return chosen;
}

std::optional<QString> TDialogs::BrowseForFolder(QWidget* parent, const QString& instruction,
                                                 const QString& startFolder) {
  const QString dir = QFileDialog::getExistingDirectory(parent, instruction, startFolder);
  if (dir.isEmpty()) return std::nullopt;
  return dir;
}

std::optional<QString> TDialogs::SaveFileName(QWidget* parent, const QString& title,
                                              const QString& folder, const QString& defaultName,
                                              const QStringList& filters,
                                              const QString& defaultSuffix) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.value(0));
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.setDirectory(folder);
  dialog.selectFile(QDir(folder).filePath(defaultName));
  // Qt asks before overwriting an existing file unless told not to.
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return std::nullopt;
  return dialog.selectedFiles().constFirst();
}

void TDialogs::RunProgram(const QString& commandLine) {
  sigilon::RunProgram(commandLine.toStdString());
}

TDialogs& Dialogs() {
  static TDialogs real;
  return gInstalled ? *gInstalled : real;
}

void SetDialogs(TDialogs* dialogs) { gInstalled = dialogs; }

void ShowMessage(const QString& text) { Dialogs().ShowMessage(QApplication::activeWindow(), text); }

void CentreOnScreen(QWidget& window) {
  const QScreen* screen = QGuiApplication::primaryScreen();
  if (screen == nullptr) return;
  const QRect area = screen->availableGeometry();
  window.move(area.x() + (area.width() - window.width()) / 2,
              area.y() + (area.height() - window.height()) / 2);
}

}  // namespace sigilon
