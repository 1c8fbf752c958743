#include "veld/app/commands.h"

#include <system_error>

#include "veld/base/folders.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"
#include "veld/pipeline/copy_back.h"

namespace veld {
namespace fs = std::filesystem;

bool CheckSourceFolder(const fs::path& source, Messenger& messenger) {
  std::error_code ec;
  if (!fs::is_directory(source, ec)) {
    messenger.show(MessageKind::kError, format_message(kMsgNoSuchFolder, source.string()));
    return false;
  }
  const fs::path inner = source / "BDMV";
  if (!fs::exists(source / "index.bdmv", ec) && fs::exists(inner / "index.bdmv", ec)) {
    messenger.show(MessageKind::kError, format_message(kMsgNotBdmvFolder, source.string(), inner.string()));
    return false;
  }
  return true;
}

ExtractOutcome RunExtractCommand(const fs::path& source, const fs::path& rip, Messenger& messenger,
                                 Progress& progress, const ExtractRequest& request) {
  ExtractOutcome out;
  if (source.empty()) {
    messenger.show(MessageKind::kError, message_text(kMsgNoBdmvFolder));
    out.result = kResultFailed;
    return out;
  }
  if (!CheckSourceFolder(source, messenger)) {
    out.result = kResultFailed;
    return out;
  }
  const SOutputNames names;
  const fs::path work = names.work_folder(rip);
  std::error_code ec;
  const bool work_existed = fs::is_directory(work, ec);
  if (!EnsureFolder(work, &messenger)) {
    // Declining the reuse of an existing folder is not a failure; a folder that cannot be made is.
    out.result = work_existed ? kResultCancelled : kResultFailed;
    return out;
  }
  out.image_folder = names.image_folder(work);
  const bool images_existed = fs::is_directory(out.image_folder, ec);
  if (!EnsureFolder(out.image_folder, nullptr)) {
    messenger.show(MessageKind::kError, format_message(kMsgCannotCreate, out.image_folder.string()));
    out.result = kResultFailed;
    return out;
  }
  SExtractOptions options;
  options.format = request.format;
  bool previews_existed = false;
  if (request.preview) {
    out.preview_folder = names.preview_folder(work);
    previews_existed = fs::is_directory(out.preview_folder, ec);
    options.preview_folder = out.preview_folder;
  }
  out.result =
      ExtractButtonImages(names, source, out.image_folder, out.found, progress, messenger, &out.stats, options);
  if (out.result != kResultOk) {
    // A failed or cancelled run leaves no partial pictures behind, nor the folders it made itself.
    EmptyFolder(out.image_folder, !images_existed);
    if (request.preview) EmptyFolder(out.preview_folder, !previews_existed);
    if (!work_existed) fs::remove(work, ec);  // only when empty
    return out;
  }
  if (out.found) {
    messenger.show(MessageKind::kInfo, format_message(kMsgExtractDone, out.image_folder.string()));
  } else {
    messenger.show(MessageKind::kInfo, message_text(kMsgNoIgStream));
  }
  return out;
}

ReplaceOutcome RunReplaceCommand(const fs::path& source, const fs::path& work, const ReplaceOptions& options,
                                 Messenger& messenger, Progress& progress) {
  ReplaceOutcome out;
  out.result = kResultFailed;
  if (source.empty()) {
    messenger.show(MessageKind::kError, message_text(kMsgNoBdmvFolder));
    return out;
  }
  if (!CheckSourceFolder(source, messenger)) return out;
  const SOutputNames names;
  fs::path folder = work;
  if (folder.filename().empty()) folder = folder.parent_path();  // "VELD/" names the folder VELD
  if (!equal_ignoring_case(folder.filename().string(), names[SOutputNames::kWork])) {
    messenger.show(MessageKind::kError, format_message(kMsgNotWorkFolder, work.string()));
    return out;
  }
  std::error_code ec;
  if (!fs::is_directory(names.image_folder(folder), ec)) {
    messenger.show(MessageKind::kError, message_text(kMsgNoImageFolder));
    return out;
  }
  out.stream_folder = names.stream_folder(folder);
  out.result = ReplaceButtonImages(out.files, out.edited, names, source, folder, options, progress, messenger,
                                   &out.stats);
  if (out.result != kResultOk) return out;
  if (!out.edited) {
    messenger.show(MessageKind::kInfo, format_message(kMsgNoEditedImage, folder.string() + "/"));
    return out;
  }
  messenger.show(MessageKind::kInfo, format_message(kMsgReplaceDone, out.stream_folder.string() + "/"));
  const bool copy = options.copy_back ? *options.copy_back : messenger.ask(message_text(kMsgAskCopyBack)) == Answer::kYes;
  if (!copy) return out;
  if (CopyBack(out.files, source, messenger) != kResultOk) {
    messenger.show(MessageKind::kError, message_text(kMsgCopyBackFailed));
    out.result = kResultFailed;
    return out;
  }
  out.copied_back = true;
  messenger.show(MessageKind::kInfo, message_text(kMsgCopyBackDone));
  return out;
}

}  // namespace veld
