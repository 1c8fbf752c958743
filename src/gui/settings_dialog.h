// SPDX-License-Identifier: GPL-3.0-or-later
// The window's settings (app_settings.h): the image editor's command, the picture format the extraction
// writes and whether it writes page previews, and how replace takes edited pictures in (the command
// line's --colours, --dither and --anchor), which the edit preview follows too.
#pragma once

#include <QDialog>

#include "veld/app/commands.h"

class QCheckBox;
class QComboBox;
class QLineEdit;
class QSettings;

namespace veld::gui {

class SettingsDialog : public QDialog {
  Q_OBJECT
 public:
  explicit SettingsDialog(QWidget* parent = nullptr);

  QLineEdit* editor() const { return editor_; }
  QComboBox* format() const { return format_; }
  QCheckBox* preview() const { return preview_; }
  QComboBox* colours() const { return colours_; }
  QCheckBox* dither() const { return dither_; }
  QComboBox* anchor() const { return anchor_; }

  // OK: saves the settings, then closes.
  void accept() override;

 private:
  QLineEdit* editor_;
  QComboBox* format_;
  QCheckBox* preview_;
  QComboBox* colours_;
  QCheckBox* dither_;
  QComboBox* anchor_;

  QWidget* replaceGroup(const QSettings& s);
};

// What the settings ask of an extraction.
ExtractRequest ExtractSettings();
// How the settings ask replace (and the edit preview) to take edited pictures in.
SImportOptions ImportSettings();

}  // namespace veld::gui
