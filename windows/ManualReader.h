#pragma once
/// The manual viewer: "Manual.html" in a rich-text browser, from the start
/// directory, or else beside the program, or else where it is installed.

#include <QDialog>
#include <QString>
#include <vector>

#include "ui_ManualReader.h"

namespace sigilon {

/// The manual's file name.
inline constexpr const char* kManualFileName = "Manual.html";

/// Where the manual is looked for, in this order: the start directory, the
/// program's directory, and the documentation folder of an installed program
/// (<prefix>/share/doc/sigilon/ for a program in <prefix>/bin/).
std::vector<QString> ManualLocations();

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
