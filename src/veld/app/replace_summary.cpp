// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/replace_summary.h"

#include <vector>

#include "veld/base/messages.h"
#include "veld/base/messages_menu.h"
#include "veld/pipeline/copy_back.h"

namespace veld {
namespace fs = std::filesystem;

std::string ReplaceSummaryText(const ReplaceOutcome& out, bool dry_run) {
  const ReplaceStats& s = out.stats;
  std::string text;
  for (const std::string& line : s.edits) text += line + "\n";
  if (dry_run) {
    if (s.edits.empty()) text += std::string(message_text(kMsgDryRunNothing)) + "\n";
    for (const std::string& line : s.dry_run) text += line + "\n";
    return text + std::string(message_text(kMsgDryRun));
  }
  if (!out.edited) return {};
  text += format_message(kCliReplaceSummary, s.images, s.ig_streams, s.clips, s.playlists);
  if (s.objects > s.images) text += "\n" + format_message(kMsgCopiesLine, s.objects);
  return text;
}

std::string CopyBackFilesText(const SReplacedFiles& files, const fs::path& bdmv, bool copied) {
  std::string in_disc, in_backup;
  const fs::path backup = bdmv / "BACKUP";
  for (const SCopyItem& item : CopyBackPlan(files, bdmv)) {
    const fs::path rel_backup = item.to.lexically_relative(backup);
    const bool is_backup = !rel_backup.empty() && *rel_backup.begin() != "..";
    std::string& list = is_backup ? in_backup : in_disc;
    if (!list.empty()) list += ", ";
    list += (is_backup ? rel_backup : item.to.lexically_relative(bdmv)).generic_string();
  }
  const auto line = [&](const fs::path& folder, const std::string& list) {
    return copied ? format_message(kMsgCopiedInto, folder.string(), list) : folder.string() + ": " + list;
  };
  std::string text = line(bdmv, in_disc);
  if (!in_backup.empty()) text += "\n" + line(backup, in_backup);
  return text;
}

std::string ReplaceFilesText(const ReplaceOutcome& out) {
  // After a copy-back the message of the copy-back has listed the files already.
  if (out.files.empty() || out.copied_back) return {};
  std::string list;
  for (const auto* group : {&out.files.clip_streams, &out.files.clip_infos, &out.files.playlists}) {
    for (const SReplacedFile& f : *group) {
      if (!list.empty()) list += ", ";
      const fs::path rel = f.path.lexically_relative(out.stream_folder);
      list += (rel.empty() || *rel.begin() == ".." ? f.path : rel).generic_string();
    }
  }
  return format_message(kStrReplaceWrittenInto, out.stream_folder.string(), list);
}

std::string ReplaceEndText(const ReplaceOutcome& out, bool dry_run) {
  std::string text = ReplaceSummaryText(out, dry_run);
  if (dry_run || text.empty()) return text;
  const std::string files = ReplaceFilesText(out);
  return files.empty() ? text : text + "\n" + files;
}

}  // namespace veld
