#include "app/MarkDialog.h"

#include <QButtonGroup>
#include <QFileDialog>
#include <QFileInfo>
#include <QRadioButton>
#include <algorithm>
#include <array>

namespace sigilon {

namespace {

struct TAnchorChoice {
  TMarkAnchor Anchor;
  const char* Name;
  const char* Caption;
};

// In reading order: the grid of buttons is the picture's nine places.
constexpr std::array<TAnchorChoice, 9> kAnchorChoices{{
    {TMarkAnchor::TopLeft, "TopLeft", "Top left"},
    {TMarkAnchor::Top, "Top", "Top"},
    {TMarkAnchor::TopRight, "TopRight", "Top right"},
    {TMarkAnchor::Left, "Left", "Left"},
    {TMarkAnchor::Centre, "Centre", "Centre"},
    {TMarkAnchor::Right, "Right", "Right"},
    {TMarkAnchor::BottomLeft, "BottomLeft", "Bottom left"},
    {TMarkAnchor::Bottom, "Bottom", "Bottom"},
    {TMarkAnchor::BottomRight, "BottomRight", "Bottom right"},
}};

constexpr int kAnchorColumns = 3;
constexpr int kTileIndex = 0;
constexpr int kSingleIndex = 1;

}  // namespace

TMark_Form::TMark_Form(const TStampLook& look, bool fields, QWidget* parent)
    : QDialog(parent), FLook(look) {
  ui_.setupUi(this);
  ui_.Layout_ComboBox->setCurrentIndex(look.Layout == TMarkLayout::Single ? kSingleIndex
                                                                          : kTileIndex);
  ui_.Spacing_SpinBox->setRange(kMinSpacing, kMaxSpacing);
  ui_.Spacing_SpinBox->setValue(std::clamp(look.Spacing, kMinSpacing, kMaxSpacing));
  ui_.Angle_SpinBox->setRange(kMinAngle, kMaxAngle);
  ui_.Angle_CheckBox->setChecked(look.Angle.has_value());
  if (look.Angle) ui_.Angle_SpinBox->setValue(*look.Angle);
  ui_.Margin_SpinBox->setRange(kMinMargin, kMaxMargin);
  ui_.Margin_SpinBox->setValue(std::clamp(look.Margin, kMinMargin, kMaxMargin));
  ui_.Shadow_CheckBox->setChecked(look.Shadow);
  ui_.FillInFields_CheckBox->setChecked(fields);
  ui_.Logo_Edit->setText(QString::fromStdString(look.LogoFile));

  FAnchors = new QButtonGroup(this);
  for (std::size_t i = 0; i < kAnchorChoices.size(); ++i) {
    const TAnchorChoice& choice = kAnchorChoices[i];
    auto* button = new QRadioButton(ui_.Anchor_Panel);
    button->setObjectName(QString::fromLatin1(choice.Name) + QStringLiteral("_RadioButton"));
    button->setToolTip(QString::fromLatin1(choice.Caption));
    button->setAccessibleName(QString::fromLatin1(choice.Caption));
    const int index = static_cast<int>(i);
    ui_.Anchor_Layout->addWidget(button, index / kAnchorColumns, index % kAnchorColumns);
    FAnchors->addButton(button, index);
  }
  AnchorButton(look.Anchor)->setChecked(true);
  ui_.Anchor_Label->setBuddy(AnchorButton(look.Anchor));

  connect(ui_.Layout_ComboBox, &QComboBox::currentIndexChanged, this,
          &TMark_Form::Layout_ComboBoxChange);
  connect(ui_.Angle_CheckBox, &QCheckBox::toggled, this, &TMark_Form::Layout_ComboBoxChange);
  connect(ui_.LogoBrowse_Button, &QPushButton::clicked, this, &TMark_Form::LogoBrowse_ButtonClick);
  connect(ui_.Buttons_ButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(ui_.Buttons_ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);
  Layout_ComboBoxChange();
}

TStampLook TMark_Form::Look() const {
  TStampLook look = FLook;
  look.Layout =
      ui_.Layout_ComboBox->currentIndex() == kSingleIndex ? TMarkLayout::Single : TMarkLayout::Tile;
  look.Spacing = ui_.Spacing_SpinBox->value();
  look.Angle.reset();
  if (ui_.Angle_CheckBox->isChecked()) look.Angle = ui_.Angle_SpinBox->value();
  look.Anchor = kAnchorChoices[static_cast<std::size_t>(std::max(0, FAnchors->checkedId()))].Anchor;
  look.Margin = ui_.Margin_SpinBox->value();
  look.Shadow = ui_.Shadow_CheckBox->isChecked();
  look.LogoFile = ui_.Logo_Edit->text().trimmed().toStdString();
  // Read again by whoever runs the mark.
  if (look.LogoFile != FLook.LogoFile) look.Logo.reset();
  return look;
}

bool TMark_Form::FillInFields() const { return ui_.FillInFields_CheckBox->isChecked(); }

QAbstractButton* TMark_Form::AnchorButton(TMarkAnchor anchor) const {
  const auto found = std::find_if(kAnchorChoices.begin(), kAnchorChoices.end(),
                                  [anchor](const TAnchorChoice& c) { return c.Anchor == anchor; });
  return FAnchors->button(static_cast<int>(found - kAnchorChoices.begin()));
}

void TMark_Form::LogoBrowse_ButtonClick() {
  QFileDialog dialog(this, QStringLiteral("Logo"), QFileInfo(ui_.Logo_Edit->text()).absolutePath());
  dialog.setFileMode(QFileDialog::ExistingFile);
  dialog.setNameFilters(
      {QStringLiteral("Logos (*.png *.PNG *.svg *.SVG)"), QStringLiteral("All files (*)")});
  if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty()) return;
  ui_.Logo_Edit->setText(dialog.selectedFiles().front());
}

void TMark_Form::Layout_ComboBoxChange() {
  const bool single = ui_.Layout_ComboBox->currentIndex() == kSingleIndex;
  for (QWidget* tiled :
       {static_cast<QWidget*>(ui_.Spacing_SpinBox), static_cast<QWidget*>(ui_.SpacingUnit_Label)}) {
    tiled->setEnabled(!single);
  }
  for (QWidget* placed :
       {static_cast<QWidget*>(ui_.Anchor_Panel), static_cast<QWidget*>(ui_.Margin_SpinBox),
        static_cast<QWidget*>(ui_.MarginUnit_Label)}) {
    placed->setEnabled(single);
  }
  const bool ownAngle = ui_.Angle_CheckBox->isChecked();
  ui_.Angle_SpinBox->setEnabled(ownAngle);
  ui_.AngleUnit_Label->setEnabled(ownAngle);
  if (!ownAngle) ui_.Angle_SpinBox->setValue(single ? kSingleAngle : kTileAngle);
}

}  // namespace sigilon
