// SPDX-License-Identifier: GPL-3.0-or-later
// The check command as the front ends run it: checks the source folder, runs the disc check and gives
// the report as text or JSON for the front end to print.
#pragma once

#include <filesystem>
#include <string>

#include "veld/base/messenger.h"
#include "veld/base/progress.h"

namespace veld {

struct CheckOutcome {
  // 0 clean, 2 findings (the report lists them) or a failure (reported; report empty), 1 cancelled.
  int result = 0;
  bool findings = false;
  std::string report;
};

CheckOutcome RunCheckCommand(const std::filesystem::path& source, bool json, Messenger& messenger, Progress& progress);

}  // namespace veld
