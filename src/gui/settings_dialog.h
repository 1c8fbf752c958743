// SPDX-License-Identifier: GPL-3.0-or-later
// The window's settings (app_settings.h): the image editor's command, the picture format the extraction
// writes and whether it writes page previews.
#pragma once

#include <QDialog>

#include "veld/app/commands.h"

class QCheckBox;
class QComboBox;
class QLineEdit;

namespace veld::gui {

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SettingsDialog(QWidget* parent = nullptr);

  QLineEdit* editor() const { return editor_; }
  QComboBox* format() const { return format_; }
  QCheckBox* preview() const { return preview_; }

  // OK: saves the settings, then closes.
  void accept() override;

 private:
  QLineEdit* editor_;
  QComboBox* format_;
  QCheckBox* preview_;
};

// What the settings ask of an extraction.
ExtractRequest ExtractSettings();

}  // namespace veld::gui
