// SPDX-License-Identifier: GPL-3.0-or-later
// The window's settings file: ~/.config/VELD/VELD.ini, keys outside any group being its [General]
// section (the keys: app/shell.h).
#pragma once

#include <QSettings>
#include <QString>
#include <string_view>

#include "veld/app/shell.h"

namespace veld::gui {

inline QString Key(std::string_view key) {
  return QString::fromLatin1(key.data(), static_cast<qsizetype>(key.size()));
}

inline QSettings AppSettings() {
  return QSettings(QSettings::IniFormat, QSettings::UserScope, Key(kSettingsOrganization), Key(kSettingsApplication));
}

}  // namespace veld::gui
