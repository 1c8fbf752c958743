// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_dialog.h"

#include <algorithm>
#include <initializer_list>
#include <utility>

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app_settings.h"
#include "qt_text.h"
#include "veld/base/messages_menu.h"

namespace veld::gui {
namespace {

QString Word(std::string_view word) { return Key(word); }

// A choice whose items carry the command line's words; the saved word is chosen (the first item when it
// names none).
QComboBox* WordChoice(const char* name, std::initializer_list<std::pair<int, std::string_view>> items,
                      const QString& saved, QWidget* parent) {
  auto* box = new QComboBox(parent);
  box->setObjectName(QLatin1String(name));
  for (const auto& [text, word] : items) box->addItem(Text(text), Word(word));
  box->setCurrentIndex(std::max(0, box->findData(saved)));
  return box;
}

}  // namespace

SettingsDialog::SettingsDialog(QWidget* parent) : QDialog(parent) {
  setObjectName(QStringLiteral("settingsDialog"));
  setWindowTitle(Text(kStrSettingsTitle));
  QSettings s = AppSettings();
  editor_ = new QLineEdit(s.value(Key(kKeyEditor)).toString(), this);
  editor_->setObjectName(QStringLiteral("editorCommand"));
  editor_->setPlaceholderText(QStringLiteral("gimp %f"));
  editor_->setMinimumWidth(320);
  format_ = new QComboBox(this);
  format_->setObjectName(QStringLiteral("pictureFormat"));
  format_->addItem(QStringLiteral("GIF"), QStringLiteral("gif"));
  format_->addItem(QStringLiteral("PNG"), QStringLiteral("png"));
  format_->setCurrentIndex(s.value(Key(kKeyFormat)).toString() == QStringLiteral("png") ? 1 : 0);
  preview_ = new QCheckBox(Text(kStrSettingsPreview), this);
  preview_->setObjectName(QStringLiteral("previewOption"));
  preview_->setChecked(s.value(Key(kKeyPreview), false).toBool());
  QWidget* replace = replaceGroup(s);

  auto* editor_label = new QLabel(Text(kStrSettingsEditor), this);
  editor_label->setWordWrap(true);
  editor_label->setBuddy(editor_);
  auto* format_label = new QLabel(Text(kStrSettingsFormat), this);
  format_label->setBuddy(format_);
  auto* buttons = new QDialogButtonBox(this);
  buttons->addButton(Text(kStrOk), QDialogButtonBox::AcceptRole);
  buttons->addButton(Text(kStrCancel), QDialogButtonBox::RejectRole);
  auto* form = new QFormLayout(this);
  form->addRow(editor_label);
  form->addRow(editor_);
  form->addRow(format_label, format_);
  form->addRow(preview_);
  form->addRow(replace);
  form->addRow(buttons);
  setTabOrder(editor_, format_);
  setTabOrder(format_, preview_);
  setTabOrder(preview_, colours_);
  setTabOrder(colours_, dither_);
  setTabOrder(dither_, anchor_);
  setTabOrder(anchor_, buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
}

QWidget* SettingsDialog::replaceGroup(const QSettings& s) {
  auto* group = new QGroupBox(Text(kStrSettingsReplace), this);
  group->setObjectName(QStringLiteral("replaceOptions"));
  colours_ = WordChoice("replaceColours",
                        {{kStrSettingsNearest, ColourModeWord(ColourMode::kNearest)},
                         {kStrSettingsExact, ColourModeWord(ColourMode::kExact)}},
                        s.value(Key(kKeyColours)).toString(), group);
  dither_ = new QCheckBox(Text(kStrSettingsDither), group);
  dither_->setObjectName(QStringLiteral("replaceDither"));
  dither_->setChecked(s.value(Key(kKeyDither), false).toBool());
  anchor_ = WordChoice("replaceAnchor",
                       {{kStrSettingsTopLeft, AnchorWord(ButtonAnchor::kTopLeft)},
                        {kStrSettingsCentre, AnchorWord(ButtonAnchor::kCentre)}},
                       s.value(Key(kKeyAnchor)).toString(), group);
  // Dithering spreads the error of mapped colours: with exact colours nothing is mapped.
  const QString nearest = Word(ColourModeWord(ColourMode::kNearest));
  const auto enable_dither = [this, nearest] { dither_->setEnabled(colours_->currentData() == nearest); };
  connect(colours_, &QComboBox::currentIndexChanged, this, enable_dither);
  enable_dither();

  auto* colours_label = new QLabel(Text(kStrSettingsColours), group);
  colours_label->setBuddy(colours_);
  auto* anchor_label = new QLabel(Text(kStrSettingsAnchor), group);
  anchor_label->setBuddy(anchor_);
  auto* form = new QFormLayout(group);
  form->addRow(colours_label, colours_);
  form->addRow(QString(), dither_);
  form->addRow(anchor_label, anchor_);
  return group;
}

void SettingsDialog::accept() {
  QSettings s = AppSettings();
  s.setValue(Key(kKeyEditor), editor_->text().trimmed());
  s.setValue(Key(kKeyFormat), format_->currentData().toString());
  s.setValue(Key(kKeyPreview), preview_->isChecked());
  s.setValue(Key(kKeyColours), colours_->currentData().toString());
  s.setValue(Key(kKeyDither), dither_->isChecked());
  s.setValue(Key(kKeyAnchor), anchor_->currentData().toString());
  s.sync();
  QDialog::accept();
}

ExtractRequest ExtractSettings() {
  QSettings s = AppSettings();
  ExtractRequest request;
  request.format = s.value(Key(kKeyFormat)).toString() == QStringLiteral("png") ? ImageFormat::kPng : ImageFormat::kGif;
  request.preview = s.value(Key(kKeyPreview), false).toBool();
  return request;
}

SImportOptions ImportSettings() {
  QSettings s = AppSettings();
  SImportOptions import;
  import.colours = ColourModeOfWord(s.value(Key(kKeyColours)).toString().toStdString());
  import.dither = s.value(Key(kKeyDither), false).toBool();
  import.anchor = AnchorOfWord(s.value(Key(kKeyAnchor)).toString().toStdString());
  return import;
}

}  // namespace veld::gui
