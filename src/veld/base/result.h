// SPDX-License-Identifier: GPL-3.0-or-later
// Result codes of the pipelines and their steps. The first non-zero result ends a command and is passed
// up unchanged; a failure has already been reported to the user where it happened.
#pragma once

namespace veld {

enum Result : int {
  kResultOk = 0,
  kResultCancelled = 1,  // the user cancelled in the progress window (or declined a question)
  kResultFailed = 2,     // failure, already reported
};

}  // namespace veld
