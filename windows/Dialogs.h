#pragma once
/// The one seam between the windows and the user's answers: message boxes and
/// the standard dialogs go through TDialogs, so window tests can install a
/// scripted implementation and answer them without a person.

#include <QColor>
#include <QString>
#include <optional>

class QDialog;
class QWidget;

namespace sigilon {

class TDialogs {
 public:
  virtual ~TDialogs() = default;
  /// Modal message box: caption = application title, the text, no icon, OK.
  virtual void ShowMessage(QWidget* parent, const QString& text);
  /// Runs a dialog that a window built and filled (the brand font dialog)
  /// modally; its result code.
  virtual int RunDialog(QDialog& dialog);
  /// Colour dialog preset with `color`; the chosen colour, or nothing.
  virtual std::optional<QColor> ChooseColor(QWidget* parent, const QColor& color);
  /// Folder dialog with an instruction text, opened at `startFolder` (an
  /// existing folder); the chosen folder, or nothing.
  virtual std::optional<QString> BrowseForFolder(QWidget* parent, const QString& instruction,
                                                 const QString& startFolder);
  /// Save-file dialog opened in `folder`; the chosen file path, or nothing.
  virtual std::optional<QString> SaveFileName(QWidget* parent, const QString& title,
                                              const QString& folder, const QString& defaultName,
                                              const QStringList& filters,
                                              const QString& defaultSuffix);
  /// Starts a command line (the About box's web address).
  virtual void RunProgram(const QString& commandLine);
};

/// The dialogs in force (the real ones unless a test installed others).
TDialogs& Dialogs();
/// Installs `dialogs` (not owned); nullptr restores the real ones.
void SetDialogs(TDialogs* dialogs);

/// Shorthand for Dialogs().ShowMessage(nullptr-or-active-window, text).
void ShowMessage(const QString& text);

/// Places a top-level window at the centre of the primary screen's available
/// area (half the size difference; an odd pixel goes to the right and bottom).
void CentreOnScreen(QWidget& window);

}  // namespace sigilon
