// SPDX-License-Identifier: GPL-3.0-or-later
// A path as the rest of one line of a text file that lists paths (the copy-back journal, the undo
// lists): '%', line feed and carriage return are written as %25, %0A and %0D, every other byte as it is.
#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

namespace veld {

std::string EscapePathLine(const std::filesystem::path& path);
// nullopt for an empty path or an escape other than the three.
std::optional<std::filesystem::path> UnescapePathLine(std::string_view line);

}  // namespace veld
