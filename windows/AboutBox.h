#pragma once
/// The About box: the program's picture, name, version and copyright, and two
/// lines that start the maker's web site.

#include <QDialog>

#include "SigilonVersion.h"
#include "ui_AboutBox.h"

namespace sigilon {

/// The maker's web address, started by a click on either link line. Kept under
/// a reserved example domain: there is no real maker site.
inline constexpr const char* kMakerWebAddress = "https://www.example.com/sigilon";

/// The texts the box shows.
inline constexpr const char* kProductName = "Sigilon";
/// The programs' version with the build placeholder "X" in the fourth place.
inline constexpr const char* kProductVersion = SIGILON_VERSION ".X";
inline constexpr const char* kCopyright = "Copyright \u00a9 2024 Kestro";

class TAbout_Form : public QDialog {
  Q_OBJECT

 public:
  explicit TAbout_Form(QWidget* parent = nullptr);

  /// The form's controls (for tests).
  const Ui::TAbout_Form& Form() const { return ui_; }

 protected:
  /// Turns a mouse click on either link line into Message2_LabelClick.
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void FormCreate();
  void Message2_LabelClick();

  Ui::TAbout_Form ui_;
};

/// Shows the About box modally and releases it when it is closed.
void ShowAboutBox();

}  // namespace sigilon
