#pragma once
/// The manual viewer: "Manual.html" from the start directory in a rich-text
/// browser.

#include <QDialog>
#include <QString>

#include "ui_ManualReader_Unit.h"

namespace sigilon {

/// The manual's file name, looked for in the start directory.
inline constexpr const char* kManualFileName = "Manual.html";

class TManualReader_Form : public QDialog {
  Q_OBJECT

 public:
  /// Looks for the manual afresh and hands it to the browser.
  explicit TManualReader_Form(QWidget* parent = nullptr);

  /// True when the manual was found and handed to the browser without error.
  bool ManualExists() const { return FManualExists; }

  /// The form's controls (for tests).
  const Ui::TManualReader_Form& Form() const { return ui_; }

 private:
  void FormCreate();

  Ui::TManualReader_Form ui_;
  bool FManualExists = false;
};

/// Shows the manual modally, or the message "The manual is missing!" when it
/// cannot be found or loaded.
void ShowManual();

}  // namespace sigilon
