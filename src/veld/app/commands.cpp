// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/commands.h"

#include <cerrno>
#include <string>
#include <system_error>

#include "veld/app/replace_summary.h"
#include "veld/app/shell.h"
#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/base/messages_undo.h"
#include "veld/base/result.h"
#include "veld/base/work_lock.h"
#include "veld/disc/paths.h"
#include "veld/pipeline/check.h"
#include "veld/pipeline/copy_back.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

bool HasIndexFile(const fs::path& folder) {
  std::error_code ec;
  return fs::is_regular_file(*index_file_path(folder), ec) || fs::is_regular_file(*backup_index_file_path(folder), ec);
}

// The reason a source is no BDMV folder, the hint which folder is meant, and the folder that was
// probably meant when it is a real BDMV folder.
void ShowNotBdmvFolder(Messenger& messenger, const std::string& reason, const fs::path& candidate) {
  std::string text = reason + "\n" + std::string(message_text(kMsgBdmvFolderHint));
  if (HasIndexFile(candidate)) text += "\n" + format_message(kMsgDidYouMean, candidate.string());
  messenger.show(MessageKind::kError, text);
}

}  // namespace

// A source that cannot be a BDMV folder is refused before any folder is made. Two slips are common: the
// disc's root folder (the one holding BDMV) and a file of the BDMV folder; the message then names the
// folder that was meant.
bool CheckSourceFolder(const fs::path& source, Messenger& messenger) {
  std::error_code ec;
  const fs::file_status status = fs::status(source, ec);
  if (!fs::exists(status)) {
    messenger.show(MessageKind::kError, format_message(kMsgNoSuchFolder, source.string()));
    return false;
  }
  if (!fs::is_directory(status)) {
    ShowNotBdmvFolder(messenger, format_message(kMsgIsFileNotBdmv, source.string()), source.parent_path());
    return false;
  }
  if (HasIndexFile(source)) return true;
  ShowNotBdmvFolder(messenger, format_message(kMsgNotBdmvFolder, source.string()), source / bdmv_names::kBdmv);
  return false;
}

namespace {

// The absolute, symlink-free form of a path that may not exist yet, without a trailing separator.
fs::path Resolved(const fs::path& p) {
  std::error_code ec;
  fs::path r = fs::weakly_canonical(fs::absolute(p, ec), ec);
  if (ec) r = fs::absolute(p, ec).lexically_normal();
  return r.has_filename() ? r : r.parent_path();
}

// true when inner is outer or lies below it (both resolved).
bool IsWithin(const fs::path& inner, const fs::path& outer) {
  auto i = inner.begin();
  for (auto o = outer.begin(); o != outer.end(); ++o, ++i) {
    if (i == inner.end() || *i != *o) return false;
  }
  return true;
}

// The output folder must neither lie in the disc nor hold it in the folder the extraction replaces.
bool CheckOutputFolder(const fs::path& source, const fs::path& rip, const fs::path& work, Messenger& messenger) {
  const fs::path src = Resolved(source);
  if (IsWithin(Resolved(rip), src)) {
    messenger.show(MessageKind::kError, format_message(kMsgRipInsideSource, rip.string(), source.string()));
    return false;
  }
  if (IsWithin(src, Resolved(work))) {
    messenger.show(MessageKind::kError, format_message(kMsgSourceInsideWork, source.string(), work.string()));
    return false;
  }
  // Each folder of the output path that exists must be a folder.
  for (const fs::path& p : {rip, work, SOutputNames().image_folder(work)}) {
    std::error_code ec;
    const fs::file_status status = fs::status(p, ec);
    if (fs::exists(status) && !fs::is_directory(status)) {
      messenger.show(MessageKind::kError,
                     format_message(kMsgCannotCreate, p.string()) + "\n" + system_error_text(p, ENOTDIR));
      return false;
    }
  }
  return true;
}

// Makes one folder whose parent must exist; *made tells whether it was made here. Reports a failure
// with the system's reason.
bool MakeOneFolder(const fs::path& folder, bool* made, Messenger& messenger) {
  std::error_code ec;
  *made = fs::create_directory(folder, ec);
  if (ec) {
    messenger.show(MessageKind::kError,
                   format_message(kMsgCannotCreate, folder.string()) + "\n" + system_error_text(folder, ec.value()));
    return false;
  }
  return true;
}

// Takes the lock of a work folder (one run per work folder); a folder held by another run is refused,
// naming the process.
bool LockWorkFolder(CWorkLock& lock, const fs::path& work, Messenger& messenger) {
  long pid = 0;
  std::string command, error;
  switch (lock.take(work, &pid, &command, &error)) {
    case CWorkLock::Result::kTaken:
      return true;
    case CWorkLock::Result::kBusy:
      messenger.show(MessageKind::kError, pid > 0 ? format_message(kMsgWorkBusy, work.string(), std::to_string(pid), command)
                                                  : format_message(kMsgWorkBusyUnknown, work.string()));
      return false;
    case CWorkLock::Result::kError:
      break;
  }
  messenger.show(MessageKind::kError, format_message(kMsgWorkLockFailed, work.string(), error));
  return false;
}

// The previews are swapped in like the pictures: a file in their place is not replaced.
bool PreviewFolderFree(const fs::path& folder, Messenger& messenger) {
  std::error_code ec;
  const fs::file_status status = fs::status(folder, ec);
  if (!fs::exists(status) || fs::is_directory(status)) return true;
  messenger.show(MessageKind::kError,
                 format_message(kMsgCannotCreate, folder.string()) + "\n" + system_error_text(folder, ENOTDIR));
  return false;
}

// An existing work folder, locked, made whole again and reused when the user agrees (kResultCancelled when
// declined: nothing changed).
int ReuseWorkFolder(const fs::path& work, const SOutputNames& names, const fs::path& image_folder, CWorkLock& lock,
                    Messenger& messenger) {
  if (!LockWorkFolder(lock, work, messenger)) return kResultFailed;
  // A copy-back from this work folder that was interrupted is finished or undone first: the disc it
  // went into may be the one about to be read.
  if (RecoverInterruptedCopyBack(work, messenger) != kResultOk) return kResultFailed;
  // Reusing a work folder replaces its pictures, edited ones included: say how many were edited.
  RestoreInterruptedSwap(image_folder);
  const int edited = CountEditedImages(work, names);
  const std::string question = edited > 0 ? format_message(kMsgFolderExistsEdited, WithTrailingSeparator(work), edited)
                                          : format_message(kMsgFolderExists, WithTrailingSeparator(work));
  return messenger.ask(question) == Answer::kYes ? kResultOk : kResultCancelled;
}

}  // namespace

ExtractOutcome RunExtractCommand(const fs::path& source, const fs::path& rip, Messenger& messenger,
                                 Progress& progress, const ExtractRequest& request) {
  ExtractOutcome out;
  out.result = kResultFailed;
  if (!CheckSourceSet(source, messenger)) return out;
  if (rip.empty()) {
    messenger.show(MessageKind::kError, message_text(kMsgNoRipFolder));
    return out;
  }
  if (!CheckSourceFolder(source, messenger)) return out;
  const SOutputNames names;
  const fs::path work = names.work_folder(rip);
  if (!CheckOutputFolder(source, rip, work, messenger)) return out;
  out.image_folder = names.image_folder(work);
  SExtractOptions options;
  options.format = request.format;
  if (request.preview) {
    out.preview_folder = names.preview_folder(work);
    options.preview_folder = out.preview_folder;
    if (!PreviewFolderFree(out.preview_folder, messenger)) return out;
  }

  std::error_code ec;
  CWorkLock lock;
  if (fs::is_directory(work, ec)) {
    const int reuse = ReuseWorkFolder(work, names, out.image_folder, lock, messenger);
    if (reuse != kResultOk) {
      out.result = reuse;
      return out;
    }
  }
  // The output folder itself may be made, not its parents: a mistyped path is not silently created.
  bool made_rip = false, made_work = false;
  if (!MakeOneFolder(rip, &made_rip, messenger)) return out;
  if (!MakeOneFolder(work, &made_work, messenger)) {
    if (made_rip) fs::remove(rip, ec);
    return out;
  }
  if (!lock.held() && !LockWorkFolder(lock, work, messenger)) {
    if (made_work) fs::remove(work, ec);  // only while empty
    if (made_rip) fs::remove(rip, ec);
    return out;
  }

  out.result =
      ExtractButtonImages(names, source, out.image_folder, out.found, progress, messenger, &out.stats, options);
  if (out.result != kResultOk || !out.found) {
    // Nothing was extracted: the folders this run made go again (only while empty), so that the next
    // run does not ask about them.
    lock.release();
    if (made_work) fs::remove(work, ec);
    if (made_rip) fs::remove(rip, ec);
  }
  if (out.result != kResultOk) return out;
  if (out.found) {
    messenger.show(MessageKind::kInfo, format_message(kMsgExtractDone, out.image_folder.string()));
  } else {
    messenger.show(MessageKind::kInfo, message_text(kMsgNoIgStream));
  }
  return out;
}

namespace {

// Every rebuilt clip passes every check its original passes, or nothing is copied back.
bool CheckRebuiltClips(const fs::path& source, const SReplacedFiles& files, Progress& progress, Messenger& messenger) {
  for (const SReplacedFile& m2ts : files.clip_streams) {
    if (files.checked.count(m2ts.number)) continue;  // checked while it was written
    for (const SReplacedFile& clpi : files.clip_infos) {
      if (clpi.number != m2ts.number) continue;
      // A clip rebuilt in place keeps every other stream's packets where they were: only the buffers of
      // the streams it replaced can have changed.
      const fs::path old_m2ts = *clip_stream_path(source, m2ts.number), old_clpi = *clip_info_path(source, m2ts.number);
      SCheckScope scope;
      if (const auto it = files.in_place.find(m2ts.number); it != files.in_place.end()) {
        // Only what the rebuilt streams' packets make can differ from the original: that is read first, and
        // the whole clip only when it does not show the clip sound.
        bool cancelled = false;
        std::string error;
        if (InPlaceClipPasses(old_m2ts, old_clpi, m2ts.path, clpi.path, it->second, progress, &cancelled, &error)) continue;
        if (!error.empty()) messenger.show(MessageKind::kError, error);
        if (cancelled || !error.empty()) return false;
        scope.all_buffers = false;
        scope.buffer_pids = it->second.pids;
      }
      if (!CheckRebuiltClip(old_m2ts, old_clpi, m2ts.path, clpi.path, progress, messenger, scope)) return false;
    }
  }
  return true;
}

}  // namespace

ReplaceOutcome RunReplaceCommand(const fs::path& source, const fs::path& work, const ReplaceOptions& options,
                                 Messenger& messenger, Progress& progress) {
  ReplaceOutcome out;
  out.result = kResultFailed;
  if (!CheckSourceSet(source, messenger) || !CheckSourceFolder(source, messenger)) return out;
  const SOutputNames names;
  fs::path folder = work;
  if (folder.filename().empty()) folder = folder.parent_path();  // "VELD/" names the folder VELD
  if (!FolderNameIs(folder, names[SOutputNames::kWork])) {
    messenger.show(MessageKind::kError, format_message(kMsgNotWorkFolder, work.string()));
    return out;
  }
  if (!CheckImageFolder(folder, messenger)) return out;
  CWorkLock lock;
  if (!LockWorkFolder(lock, folder, messenger)) return out;
  // A copy-back from this work folder that was interrupted is finished or undone before anything else
  // (not by a dry run, which writes nothing).
  if (!options.dry_run && RecoverInterruptedCopyBack(folder, messenger) != kResultOk) return out;
  out.stream_folder = names.stream_folder(folder);
  out.result = ReplaceButtonImages(out.files, out.edited, names, source, folder, options, progress, messenger,
                                   &out.stats);
  if (out.result != kResultOk || options.dry_run) return out;
  if (!out.edited) {
    messenger.show(MessageKind::kInfo, format_message(kMsgNoEditedImage, folder.string() + "/"));
    return out;
  }
  if (!options.dry_run && !CheckRebuiltClips(source, out.files, progress, messenger)) {
    out.result = progress.cancelled() ? kResultCancelled : kResultFailed;
    return out;
  }
  const std::string stream_folder = out.stream_folder.string() + "/";
  // The question names the files it would put in place; declined, they stay in the stream folder.
  const bool copy = options.copy_back ? *options.copy_back
                                      : messenger.ask(format_message(kMsgAskCopyBackFiles, source.string(),
                                                                     CopyBackFilesText(out.files, source, false))) ==
                                            Answer::kYes;
  if (!copy) {
    messenger.show(MessageKind::kInfo, format_message(kMsgReplaceDone, stream_folder));
    return out;
  }
  if (CopyBack(out.files, source, CopyBackJournalPath(folder), messenger) != kResultOk) {
    messenger.show(MessageKind::kError, message_text(kMsgCopyBackFailed));
    out.result = kResultFailed;
    return out;
  }
  out.copied_back = true;
  messenger.show(MessageKind::kInfo, format_message(kMsgReplaceDoneCopied, stream_folder) + "\n" +
                                         CopyBackFilesText(out.files, source, true) + "\n" +
                                         std::string(message_text(kMsgCopyBackDone)));
  return out;
}

UndoOutcome RunUndoCommand(const fs::path& work, Messenger& messenger) {
  UndoOutcome out;
  out.result = kResultFailed;
  const SOutputNames names;
  fs::path folder = work;
  if (folder.filename().empty()) folder = folder.parent_path();
  std::error_code ec;
  if (!FolderNameIs(folder, names[SOutputNames::kWork]) || !fs::is_directory(folder, ec)) {
    messenger.show(MessageKind::kError, format_message(kMsgNotWorkFolder, work.string()));
    return out;
  }
  CWorkLock lock;
  if (!LockWorkFolder(lock, folder, messenger)) return out;
  if (RecoverInterruptedCopyBack(folder, messenger) != kResultOk) return out;
  SUndoOutcome undo = UndoLastCopyBack(folder, messenger);
  out.result = undo.result;
  out.entry = std::move(undo.entry);
  out.list = std::move(undo.list);
  return out;
}

}  // namespace veld
