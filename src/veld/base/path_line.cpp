// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/base/path_line.h"

namespace veld {

std::string EscapePathLine(const std::filesystem::path& path) {
  std::string out;
  for (char c : path.string()) {
    if (c == '%') out += "%25";
    else if (c == '\n') out += "%0A";
    else if (c == '\r') out += "%0D";
    else out += c;
  }
  return out;
}

std::optional<std::filesystem::path> UnescapePathLine(std::string_view line) {
  std::string out;
  for (std::size_t i = 0; i < line.size(); ++i) {
    if (line[i] != '%') {
      out += line[i];
      continue;
    }
    const std::string_view code = line.substr(i + 1, 2);
    if (code == "25") out += '%';
    else if (code == "0A") out += '\n';
    else if (code == "0D") out += '\r';
    else return std::nullopt;
    i += 2;
  }
  if (out.empty()) return std::nullopt;
  return std::filesystem::path(out);
}

}  // namespace veld
