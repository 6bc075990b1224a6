#include "app/BrandFontDialog.h"

#include <QApplication>
#include <QButtonGroup>
#include <QFontInfo>
#include <QFontMetricsF>
#include <QImage>
#include <QMenu>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPushButton>
#include <QToolButton>
#include <algorithm>
#include <optional>

#include "windows/Dialogs.h"

namespace sigilon {

namespace {

// Backdrops of the two samples: a brand must read on bright skies and on
// night shots alike.
const QColor kLightBackdrop(240, 240, 236);
const QColor kDarkBackdrop(32, 32, 36);

constexpr int kSwatchColumns = 8;
constexpr int kSwatchSize = 14;

QColor PlainColor(TColor color) {
  return QColor(color & 0xFF, (color >> 8) & 0xFF, (color >> 16) & 0xFF);
}

TColor ToColorValue(const QColor& color) {
  return static_cast<TColor>(color.red() | (color.green() << 8) | (color.blue() << 16));
}

QIcon SwatchIcon(const QColor& color) {
  QPixmap pixmap(kSwatchSize, kSwatchSize);
  pixmap.fill(color);
  QPainter painter(&pixmap);
  painter.setPen(QColor(96, 96, 96));
  painter.drawRect(0, 0, kSwatchSize - 1, kSwatchSize - 1);
  return QIcon(pixmap);
}

// The sample as the stamp draws it: the contour under the letters, and both
// blended over the backdrop as one layer, so the outline does not show through
// half-transparent letters.
QPixmap SamplePixmap(const QString& text, const QFont& font, const QColor& fill,
                     const std::optional<QColor>& outline, int opacity, qreal pixelRatio) {
  QPainterPath path;
  path.addText(0, 0, font, text);
  const QFontMetricsF metrics(font);
  // About a sixteenth of the em, at least a pixel, as on the pictures.
  const qreal contour = std::max(1.0, QFontInfo(font).pixelSize() / 16.0);
  const QRectF bounds =
      path.boundingRect()
          .united(QRectF(0, -metrics.ascent(), metrics.horizontalAdvance(text), metrics.height()))
          .adjusted(-contour - 1, -contour - 1, contour + 1, contour + 1);
  QImage layer((bounds.size() * pixelRatio).toSize().expandedTo(QSize(1, 1)),
               QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  {
    QPainter painter(&layer);
    painter.setRenderHint(QPainter::Antialiasing);
    painter.scale(pixelRatio, pixelRatio);
    painter.translate(-bounds.topLeft());
    if (outline) {
      painter.strokePath(path,
                         QPen(*outline, 2 * contour, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
    }
    painter.fillPath(path, fill);
  }
  QImage blended(layer.size(), QImage::Format_ARGB32_Premultiplied);
  blended.fill(Qt::transparent);
  {
    QPainter painter(&blended);
    painter.setOpacity(opacity / 100.0);
    painter.drawImage(0, 0, layer);
  }
  QPixmap pixmap = QPixmap::fromImage(blended);
  pixmap.setDevicePixelRatio(pixelRatio);
  return pixmap;
}

void SetBackdrop(QLabel* label, const QColor& backdrop, const QColor& text) {
  QPalette palette = label->palette();
  palette.setColor(QPalette::Window, backdrop);
  palette.setColor(QPalette::WindowText, text);
  label->setPalette(palette);
}

}  // namespace

TBrandFont_Form::TBrandFont_Form(const TBrandLook& look, const QString& sampleText, QWidget* parent)
    : QDialog(parent), FFont(look.Font.Font), FColor(look.Font.Color), FStamp(look.Stamp) {
  ui_.setupUi(this);
  ui_.Size_SpinBox->setMaximum(kMaxWindowFontPoints);
  FSampleText = sampleText.isEmpty() ? QStringLiteral("Sample") : sampleText;
  for (QLabel* label : {ui_.LightSample_Label, ui_.DarkSample_Label}) {
    // A long brand text is cut off at its end rather than widening the dialog;
    // its beginning always shows.
    label->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  }

  FSwatches = new QButtonGroup(this);
  const auto named = WindowColorTable().first(kSwatchCount);
  for (int i = 0; i < kSwatchCount; ++i) {
    auto* swatch = new QToolButton(ui_.Swatch_Panel);
    const QString ident = QString::fromLatin1(named[static_cast<std::size_t>(i)].Ident);
    swatch->setObjectName(ident);
    swatch->setToolTip(ident.mid(2));  // "clRed" reads "Red"
    swatch->setIcon(SwatchIcon(PlainColor(named[static_cast<std::size_t>(i)].Value)));
    swatch->setCheckable(true);
    swatch->setAutoRaise(true);
    ui_.Swatch_Layout->addWidget(swatch, i / kSwatchColumns, i % kSwatchColumns);
    FSwatches->addButton(swatch, i);
  }

  // The controls open on the given font; only what the user touches changes,
  // so a face that is not installed here survives an OK.
  int points = FFont.pointSize();
  if (points <= 0) points = std::max(1, qRound(QFontInfo(FFont).pointSizeF()));
  ui_.Face_FontComboBox->setCurrentFont(FFont);
  ui_.Size_SpinBox->setValue(points);
  ui_.Bold_CheckBox->setChecked(FFont.bold());
  ui_.Italic_CheckBox->setChecked(FFont.italic());
  ui_.Underline_CheckBox->setChecked(FFont.underline());
  ui_.StrikeOut_CheckBox->setChecked(FFont.strikeOut());

  connect(ui_.Face_FontComboBox, &QFontComboBox::currentFontChanged, this, [this](const QFont& f) {
    FFont.setFamily(f.family());
    UpdateSample();
  });
  connect(ui_.Size_SpinBox, &QSpinBox::valueChanged, this, [this](int value) {
    FFont.setPointSize(value);
    UpdateSample();
  });
  const auto styleBox = [this](QCheckBox* box, void (QFont::*set)(bool)) {
    connect(box, &QCheckBox::toggled, this, [this, set](bool on) {
      (FFont.*set)(on);
      UpdateSample();
    });
  };
  styleBox(ui_.Bold_CheckBox, &QFont::setBold);
  styleBox(ui_.Italic_CheckBox, &QFont::setItalic);
  styleBox(ui_.Underline_CheckBox, &QFont::setUnderline);
  styleBox(ui_.StrikeOut_CheckBox, &QFont::setStrikeOut);
  // The look on the pictures. A relative size that is off still offers the
  // last one chosen, or a tenth of the picture.
  ui_.RelativeSize_SpinBox->setRange(kMinRelativeSize, kMaxRelativeSize);
  const bool relative = look.Stamp.RelativeSize > 0;
  ui_.RelativeSize_SpinBox->setValue(relative ? look.Stamp.RelativeSize : 10.0);
  ui_.RelativeSize_CheckBox->setChecked(relative);
  for (QWidget* part : {static_cast<QWidget*>(ui_.RelativeSize_SpinBox),
                        static_cast<QWidget*>(ui_.RelativeSizeUnit_Label)}) {
    part->setEnabled(relative);
    connect(ui_.RelativeSize_CheckBox, &QCheckBox::toggled, part, &QWidget::setEnabled);
  }
  ui_.Opacity_SpinBox->setRange(kMinOpacity, kMaxOpacity);
  ui_.Opacity_SpinBox->setValue(std::clamp(look.Stamp.Opacity, kMinOpacity, kMaxOpacity));
  connect(ui_.Opacity_SpinBox, &QSpinBox::valueChanged, this, [this] { UpdateSample(); });

  // The outline colour is picked like the brand's, from a menu of the same
  // swatches; picking one turns the outline on.
  FOutlineMenu = new QMenu(ui_.OutlineColor_Button);
  for (int i = 0; i < kSwatchCount; ++i) {
    const TColorEntry& entry = named[static_cast<std::size_t>(i)];
    const QString ident = QString::fromLatin1(entry.Ident);
    QAction* action =
        FOutlineMenu->addAction(SwatchIcon(PlainColor(entry.Value)), ident.mid(2), this,
                                [this, color = entry.Value] { SetOutlineColor(color); });
    action->setObjectName(ident);
  }
  FOutlineMenu->addSeparator();
  FOutlineMenu->addAction(QStringLiteral("Custom..."), this, [this] {
    const QColor current = WindowColorToQColor(FOutlineColor, QApplication::palette());
    if (const std::optional<QColor> chosen = Dialogs().ChooseColor(this, current)) {
      SetOutlineColor(ToColorValue(*chosen));
    }
  });
  ui_.OutlineColor_Button->setMenu(FOutlineMenu);
  FOutlineColor = look.Stamp.Outline.value_or(FOutlineColor);
  ui_.Outline_CheckBox->setChecked(look.Stamp.Outline.has_value());
  connect(ui_.Outline_CheckBox, &QCheckBox::toggled, this, [this] { UpdateSample(); });

  connect(FSwatches, &QButtonGroup::idClicked, this, &TBrandFont_Form::Swatch_ButtonClick);
  connect(ui_.CustomColor_Button, &QPushButton::clicked, this,
          &TBrandFont_Form::CustomColor_ButtonClick);
  connect(ui_.Buttons_ButtonBox, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(ui_.Buttons_ButtonBox, &QDialogButtonBox::rejected, this, &QDialog::reject);

  SetOutlineColor(FOutlineColor);
  ui_.Outline_CheckBox->setChecked(look.Stamp.Outline.has_value());
  SetColor(FColor);
}

TBrandLook TBrandFont_Form::Look() const {
  // Only the parts this dialog shows change; layout and shadow stay as given.
  TStampLook stamp = FStamp;
  stamp.RelativeSize =
      ui_.RelativeSize_CheckBox->isChecked() ? ui_.RelativeSize_SpinBox->value() : 0.0;
  stamp.Opacity = ui_.Opacity_SpinBox->value();
  stamp.Outline.reset();
  if (ui_.Outline_CheckBox->isChecked()) stamp.Outline = FOutlineColor;
  return TBrandLook{TWindowFont{FFont, FColor}, stamp};
}

QAbstractButton* TBrandFont_Form::Swatch(int index) const { return FSwatches->button(index); }

void TBrandFont_Form::Swatch_ButtonClick(int index) {
  SetColor(WindowColorTable()[static_cast<std::size_t>(index)].Value);
}

void TBrandFont_Form::CustomColor_ButtonClick() {
  const QColor current = WindowColorToQColor(FColor, QApplication::palette());
  if (const std::optional<QColor> chosen = Dialogs().ChooseColor(this, current)) {
    SetColor(ToColorValue(*chosen));
  }
}

void TBrandFont_Form::SetColor(TColor color) {
  FColor = color;
  // The swatch of a named colour shows as chosen; any other colour leaves all
  // of them unchecked.
  FSwatches->setExclusive(false);
  const auto named = WindowColorTable().first(kSwatchCount);
  for (int i = 0; i < kSwatchCount; ++i) {
    FSwatches->button(i)->setChecked(named[static_cast<std::size_t>(i)].Value == color);
  }
  FSwatches->setExclusive(true);
  UpdateSample();
}

void TBrandFont_Form::SetOutlineColor(TColor color) {
  FOutlineColor = color;
  ui_.OutlineColor_Button->setIcon(SwatchIcon(WindowColorToQColor(color, QApplication::palette())));
  ui_.Outline_CheckBox->setChecked(true);
  UpdateSample();
}

void TBrandFont_Form::UpdateSample() {
  QFont sampleFont = FFont;
  sampleFont.setPointSize(std::min(ui_.Size_SpinBox->value(), kMaxSamplePoints));
  const QColor text = WindowColorToQColor(FColor, QApplication::palette());
  SetBackdrop(ui_.LightSample_Label, kLightBackdrop, text);
  SetBackdrop(ui_.DarkSample_Label, kDarkBackdrop, text);
  ui_.LightSample_Label->setFont(sampleFont);
  ui_.DarkSample_Label->setFont(sampleFont);
  std::optional<QColor> outline;
  if (ui_.Outline_CheckBox->isChecked()) {
    outline = WindowColorToQColor(FOutlineColor, QApplication::palette());
  }
  const QPixmap sample = SamplePixmap(FSampleText, sampleFont, text, outline,
                                      ui_.Opacity_SpinBox->value(), devicePixelRatioF());
  ui_.LightSample_Label->setPixmap(sample);
  ui_.DarkSample_Label->setPixmap(sample);
}

}  // namespace sigilon
