// SPDX-License-Identifier: GPL-3.0-or-later
// The command line's own texts around CLI11: help labels in the catalogue's language, and usage errors
// that name the mistyped command or option and the closest one that exists.
#pragma once

#include <CLI/CLI.hpp>

#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace veld::cli {

// Puts the labels, group names and the help and version flag texts of app and its commands into the
// catalogue's language. Call after every command and option is added.
void LocalizeHelp(CLI::App& app);

// Parses the command line. Returns the exit status when the program is to end here: 0 after --help or
// --version, 2 after a usage error (printed on standard error: the error, a "did you mean" for a
// mistyped command or option, and where to find help). Returns nothing when a command is to run.
std::optional<int> ParseCommandLine(CLI::App& app, int argc, char** argv);

// The candidate closest to word: within two edits (a swap of neighbours counts as one), or the only
// candidate that starts with word; "" when none is close.
std::string ClosestName(std::string_view word, const std::vector<std::string>& candidates);

}  // namespace veld::cli
