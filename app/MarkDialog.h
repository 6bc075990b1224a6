#pragma once
/// The Mark dialog: where the copies of the brand go (tiled or one at an
/// anchor), their spacing, angle and margin, the shadow, whether the
/// brand text's fields are filled in, and the logo file. It changes only these parts of the
/// look; size, opacity and outline stay the brand font dialog's.

#include <QDialog>

#include "engine/BrandOptions.h"
#include "ui_MarkDialog.h"

class QAbstractButton;
class QButtonGroup;

namespace sigilon {

class TMark_Form : public QDialog {
  Q_OBJECT

 public:
  /// Opens on `look` and the Fill In Fields switch `fields`.
  TMark_Form(const TStampLook& look, bool fields, QWidget* parent = nullptr);

  /// The look given, with the dialog's parts as the user has set them.
  TStampLook Look() const;
  bool FillInFields() const;

  // ---- Inspection (for tests) -------------------------------------------

  const Ui::TMark_Form& Form() const { return ui_; }
  /// The radio button of an anchor.
  QAbstractButton* AnchorButton(TMarkAnchor anchor) const;

 private:
  /// Enables what applies to the layout chosen: spacing to tiles, anchor and
  /// margin to a single mark; an angle left to the layout shows its own.
  void Layout_ComboBoxChange();
  /// Chooses the logo file in a file dialog.
  void LogoBrowse_ButtonClick();

  Ui::TMark_Form ui_;
  TStampLook FLook;
  QButtonGroup* FAnchors = nullptr;
};

}  // namespace sigilon
