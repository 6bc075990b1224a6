#pragma once
/// The brand font dialog: face, size, style and colour of the brand text,
/// with a live sample over a light and a dark backdrop. Each look setting is
/// one row of the dialog's form.

#include <QDialog>
#include <QString>
#include <array>

#include "app/WindowFont.h"
#include "engine/BrandFile.h"
#include "ui_BrandFontDialog.h"

class QAbstractButton;
class QButtonGroup;
class QMenu;

namespace sigilon {

/// What the dialog edits.
struct TBrandLook {
  TWindowFont Font;
  /// Size relative to the picture, opacity and outline of the stamped brand
  /// (the dialog's parts), and the rest of the look, which it passes on.
  TStampLook Stamp{};
  friend bool operator==(const TBrandLook&, const TBrandLook&) = default;
};

/// The sixteen named colours offered as swatches, in colour-table order.
inline constexpr int kSwatchCount = 16;

/// Largest point size the sample is drawn at: a 200-point brand would push
/// the dialog off the screen; the stamped pictures use the real size.
inline constexpr int kMaxSamplePoints = 36;

class TBrandFont_Form : public QDialog {
  Q_OBJECT

 public:
  /// Opens on `look`; the samples show `sampleText` (or "Sample" when empty).
  TBrandFont_Form(const TBrandLook& look, const QString& sampleText, QWidget* parent = nullptr);

  /// The look as the user has set it so far.
  TBrandLook Look() const;

  // ---- Inspection (for tests) -------------------------------------------

  const Ui::TBrandFont_Form& Form() const { return ui_; }
  /// The swatch of the named colour at `index` (0 = clBlack ... 15 = clWhite).
  QAbstractButton* Swatch(int index) const;
  /// The outline colour menu: the named colours in swatch order, then
  /// "Custom...".
  QMenu* OutlineColorMenu() const { return FOutlineMenu; }

 private:
  void Swatch_ButtonClick(int index);
  void CustomColor_ButtonClick();
  void SetColor(TColor color);
  void SetOutlineColor(TColor color);
  void UpdateSample();

  Ui::TBrandFont_Form ui_;
  QButtonGroup* FSwatches = nullptr;
  QFont FFont;
  TColor FColor = 0;
  QMenu* FOutlineMenu = nullptr;
  /// The outline colour offered, also while the outline is off.
  TColor FOutlineColor = 0xFFFFFF;
  QString FSampleText;
  /// The look as given, which Look() changes only in the dialog's own parts.
  TStampLook FStamp;
};

}  // namespace sigilon
