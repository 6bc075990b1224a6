#include "app/PresetsDialog.h"

#include <QInputDialog>
#include <QListWidget>
#include <exception>

#include "app/WindowSettings.h"
#include "settings/ConfigurationFile.h"
#include "settings/PresetStore.h"
#include "windows/Dialogs.h"

namespace sigilon {

namespace {

QString FromText(const std::string& text) { return QString::fromStdString(text); }

}  // namespace

TPresets_Form::TPresets_Form(const TMarkPreset& current, QWidget* parent)
    : QDialog(parent), FCurrent(current) {
  ui_.setupUi(this);
  connect(ui_.SaveAs_Button, &QPushButton::clicked, this, &TPresets_Form::SaveAs_ButtonClick);
  connect(ui_.Use_Button, &QPushButton::clicked, this, &TPresets_Form::Use_ButtonClick);
  connect(ui_.Delete_Button, &QPushButton::clicked, this, &TPresets_Form::Delete_ButtonClick);
  connect(ui_.Presets_ListBox, &QListWidget::itemDoubleClicked, this,
          &TPresets_Form::Use_ButtonClick);
  connect(ui_.Presets_ListBox, &QListWidget::currentRowChanged, this,
          &TPresets_Form::Presets_ListBoxChange);
  connect(ui_.Buttons_ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
  ShowPresets();
}

void TPresets_Form::ShowPresets(const QString& selected) {
  TConfigurationFile store;
  store.Load();
  ui_.Presets_ListBox->clear();
  for (const std::string& name : PresetNames(store)) {
    ui_.Presets_ListBox->addItem(FromText(name));
  }
  const QList<QListWidgetItem*> found = ui_.Presets_ListBox->findItems(selected, Qt::MatchExactly);
  if (!found.isEmpty()) {
    ui_.Presets_ListBox->setCurrentItem(found.front());
  } else if (ui_.Presets_ListBox->count() > 0) {
    ui_.Presets_ListBox->setCurrentRow(0);
  }
  Presets_ListBoxChange();
}

void TPresets_Form::Presets_ListBoxChange() {
  const bool chosen = ui_.Presets_ListBox->currentItem() != nullptr;
  ui_.Use_Button->setEnabled(chosen);
  ui_.Delete_Button->setEnabled(chosen);
}

void TPresets_Form::SaveAs_ButtonClick() {
  QInputDialog ask(this);
  ask.setWindowTitle(QStringLiteral("Save Preset As"));
  ask.setLabelText(QStringLiteral("Name of the preset:"));
  // Wide enough for a name and the whole caption.
  ask.resize(ask.fontMetrics().averageCharWidth() * 48, ask.sizeHint().height());
  if (const QListWidgetItem* item = ui_.Presets_ListBox->currentItem()) {
    ask.setTextValue(item->text());
  }
  if (Dialogs().RunDialog(ask) != QDialog::Accepted) return;
  const QString name = ask.textValue();
  if (name.trimmed().isEmpty()) return;
  const std::string text = MarkPresetToText(FCurrent);
  if (!ChangeStoredSettings(
          [&](TConfigurationFile& store) { WritePreset(store, name.toStdString(), text); })) {
    Message(QString::fromUtf8(kSaveSettingsFailedText));
  }
  ShowPresets(name);
}

void TPresets_Form::Use_ButtonClick() {
  const QListWidgetItem* item = ui_.Presets_ListBox->currentItem();
  if (item == nullptr) return;
  TConfigurationFile store;
  store.Load();
  const std::optional<std::string> text = ReadPreset(store, item->text().toStdString());
  try {
    if (!text) throw std::runtime_error("it is no longer stored");
    FChosen = MarkPresetFromText(*text);
  } catch (const std::exception& error) {
    Message(QStringLiteral("The preset \"%1\" cannot be used: %2")
                .arg(item->text(), QString::fromUtf8(error.what())));
    return;
  }
  accept();
}

void TPresets_Form::Delete_ButtonClick() {
  const QListWidgetItem* item = ui_.Presets_ListBox->currentItem();
  if (item == nullptr) return;
  const std::string name = item->text().toStdString();
  if (!ChangeStoredSettings([&](TConfigurationFile& store) { RemovePreset(store, name); })) {
    Message(QString::fromUtf8(kSaveSettingsFailedText));
  }
  ShowPresets();
}

void TPresets_Form::Message(const QString& text) { Dialogs().ShowMessage(this, text); }

}  // namespace sigilon
