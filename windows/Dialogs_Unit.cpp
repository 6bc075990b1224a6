#include "windows/Dialogs_Unit.h"

#include <QApplication>
#include <QFileDialog>
#include <QFontDialog>
#include <QMessageBox>
#include <QScreen>
#include <QWidget>

#include "platform/PlatformDependence_Unit.h"

namespace sigilon {

namespace {
TDialogs* gInstalled = nullptr;
}

void TDialogs::ShowMessage(QWidget* parent, const QString& text) {
  QMessageBox box(QMessageBox::NoIcon, QApplication::applicationName(), text, QMessageBox::Ok,
                  parent);
  box.exec();
}

std::optional<QFont> TDialogs::ChooseFont(QWidget* parent, const QFont& font) {
  bool ok = false;
  const QFont chosen = QFontDialog::getFont(&ok, font, parent);
  if (!ok) return std::nullopt;
  return chosen;
}

std::optional<QString> TDialogs::BrowseForFolder(QWidget* parent, const QString& instruction) {
  // Nothing preselected: the dialog opens on the file system's root.
  const QString dir = QFileDialog::getExistingDirectory(parent, instruction, QStringLiteral("/"));
  if (dir.isEmpty()) return std::nullopt;
  return dir;
}

std::optional<QString> TDialogs::SaveFileName(QWidget* parent, const QString& title,
                                              const QString& defaultName,
                                              const QStringList& filters,
                                              const QString& defaultSuffix) {
  QFileDialog dialog(parent, title);
  dialog.setAcceptMode(QFileDialog::AcceptSave);
  dialog.setFileMode(QFileDialog::AnyFile);
  dialog.setNameFilters(filters);
  dialog.selectNameFilter(filters.value(0));
  dialog.setDefaultSuffix(defaultSuffix);
  dialog.selectFile(defaultName);
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
