// SPDX-License-Identifier: GPL-3.0-or-later
// The closing texts of the replace command, the same for the command line and the window: the edits
// with their copies, the counts, what a dry run would rebuild, and the files written or put in place.
#pragma once

#include <filesystem>
#include <string>

#include "veld/app/commands.h"

namespace veld {

// The edit lines, then the counts ("Pictures imported: ..."); for a dry run the lines of what would be
// rebuilt and "Dry run: nothing was written." instead of the counts. "" when nothing was edited and it
// was no dry run.
std::string ReplaceSummaryText(const ReplaceOutcome& out, bool dry_run);

// The targets of a copy-back below the BDMV folder, one line for the BDMV folder and one for its BACKUP:
// "Copied into BDMV: STREAM/00000.m2ts, CLIPINF/00000.clpi" (as a question's list when copied is false,
// without the "Copied into" words).
std::string CopyBackFilesText(const SReplacedFiles& files, const std::filesystem::path& bdmv, bool copied);

// The files a replace wrote and left in the stream folder: "Written into <stream folder>: 00000.m2ts,
// 00000.clpi, 00000.mpls"; "" when none was written, or when they were copied into the BDMV folder (the
// copy-back's own message lists them).
std::string ReplaceFilesText(const ReplaceOutcome& out);

// What closes a replace, in the terminal and the window alike: ReplaceSummaryText, then (not for a dry run)
// ReplaceFilesText. "" when ReplaceSummaryText is.
std::string ReplaceEndText(const ReplaceOutcome& out, bool dry_run);

}  // namespace veld
