// SPDX-License-Identifier: GPL-3.0-or-later
// The show command as the front ends run it: checks the source folder, builds the menu report and gives
// it as text or JSON for the front end to print.
#pragma once

#include <filesystem>
#include <string>

#include "veld/base/messenger.h"
#include "veld/base/progress.h"

namespace veld {

struct ShowOutcome {
  int result = 0;  // 0 success, 1 cancelled, 2 failure (reported)
  std::string report;  // the text or JSON report when result is 0
};

ShowOutcome RunShowCommand(const std::filesystem::path& source, bool json, Messenger& messenger, Progress& progress);

}  // namespace veld
