// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/show_command.h"

#include "veld/app/commands.h"
#include "veld/app/shell.h"
#include "veld/base/result.h"
#include "veld/pipeline/show.h"

namespace veld {

ShowOutcome RunShowCommand(const std::filesystem::path& source, bool json, Messenger& messenger, Progress& progress) {
  ShowOutcome out;
  if (!CheckSourceSet(source, messenger) || !CheckSourceFolder(source, messenger)) {
    out.result = kResultFailed;
    return out;
  }
  SMenuReport report;
  out.result = BuildMenuReport(source, report, progress, messenger);
  if (out.result == kResultOk) out.report = json ? MenuReportJson(report) : MenuReportText(report);
  return out;
}

}  // namespace veld
