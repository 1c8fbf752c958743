// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/check_command.h"

#include "veld/app/commands.h"
#include "veld/app/shell.h"
#include "veld/base/result.h"
#include "veld/pipeline/check.h"

namespace veld {

CheckOutcome RunCheckCommand(const std::filesystem::path& source, bool json, Messenger& messenger, Progress& progress) {
  CheckOutcome out;
  if (!CheckSourceSet(source, messenger) || !CheckSourceFolder(source, messenger)) {
    out.result = kResultFailed;
    return out;
  }
  SCheckReport report;
  out.result = CheckDisc(source, report, progress, messenger);
  if (out.result != kResultOk) return out;
  out.findings = !report.findings.empty();
  out.report = json ? CheckReportJson(report) : CheckReportText(report);
  if (out.findings) out.result = kResultFailed;
  return out;
}

}  // namespace veld
