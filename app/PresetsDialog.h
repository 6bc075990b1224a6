#pragma once
/// The Presets dialog: the user's saved marks by name, to save the mark as it
/// stands under a new name, use one, or delete one. Each change is written
/// to the configuration file at once, so that a script's --preset finds it.

#include <QDialog>
#include <optional>

#include "engine/MarkPreset.h"
#include "ui_PresetsDialog.h"

namespace sigilon {

class TPresets_Form : public QDialog {
  Q_OBJECT

 public:
  /// Lists the stored presets; Save As stores `current`.
  explicit TPresets_Form(const TMarkPreset& current, QWidget* parent = nullptr);

  /// The preset chosen with Use (the dialog is then accepted), or nothing.
  const std::optional<TMarkPreset>& Chosen() const { return FChosen; }

  // ---- Inspection (for tests) -------------------------------------------

  const Ui::TPresets_Form& Form() const { return ui_; }

 private:
  void SaveAs_ButtonClick();
  void Use_ButtonClick();
  void Delete_ButtonClick();
  /// The list as stored, with `selected` (or the first) selected.
  void ShowPresets(const QString& selected = QString());
  void Presets_ListBoxChange();
  void Message(const QString& text);

  Ui::TPresets_Form ui_;
  TMarkPreset FCurrent;
  std::optional<TMarkPreset> FChosen;
};

}  // namespace sigilon
