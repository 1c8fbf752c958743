// SPDX-License-Identifier: GPL-3.0-or-later
#include "settings_dialog.h"

#include <QCheckBox>
#include <QComboBox>
#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>

#include "app_settings.h"
#include "qt_text.h"
#include "veld/base/messages_menu.h"

namespace veld::gui {

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
  form->addRow(buttons);
  connect(buttons, &QDialogButtonBox::accepted, this, &SettingsDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &SettingsDialog::reject);
}

void SettingsDialog::accept() {
  QSettings s = AppSettings();
  s.setValue(Key(kKeyEditor), editor_->text().trimmed());
  s.setValue(Key(kKeyFormat), format_->currentData().toString());
  s.setValue(Key(kKeyPreview), preview_->isChecked());
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

}  // namespace veld::gui
