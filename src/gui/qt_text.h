// SPDX-License-Identifier: GPL-3.0-or-later
// Small bridges between the core's texts and paths and Qt's strings.
#pragma once

#include <QFile>
#include <QString>
#include <filesystem>
#include <string_view>

#include "veld/base/messages.h"

namespace veld::gui {

// A catalogue text in the interface language, line breaks made plain and trailing blanks dropped.
inline QString Text(int id) {
  const std::string s = plain_text(message_text(id));
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

inline QString FromUtf8(std::string_view s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// File names are bytes on Linux: Qt's file-name codec keeps the exact bytes both ways.
inline QString PathText(const std::filesystem::path& p) { return QFile::decodeName(p.native().c_str()); }
inline std::filesystem::path PathFrom(const QString& s) {
  const QByteArray b = QFile::encodeName(s);
  return std::filesystem::path(std::string(b.constData(), static_cast<std::size_t>(b.size())));
}

}  // namespace veld::gui
