#include "veld/app/commands.h"

#include <system_error>

#include "veld/base/folders.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"

namespace veld {
namespace fs = std::filesystem;

ExtractOutcome RunExtractCommand(const fs::path& source, const fs::path& rip, Messenger& messenger,
                                 Progress& progress) {
  ExtractOutcome out;
  if (source.empty()) {
    messenger.show(MessageKind::kError, message_text(kMsgNoBdmvFolder));
    out.result = kResultFailed;
    return out;
  }
  const SOutputNames names;
  const fs::path work = names.work_folder(rip);
  std::error_code ec;
  const bool existed = fs::is_directory(work, ec);
  if (!EnsureFolder(work, &messenger)) {
    // Declining the reuse of an existing folder is not a failure; a folder that cannot be made is.
    out.result = existed ? kResultCancelled : kResultFailed;
    return out;
  }
  out.image_folder = names.image_folder(work);
  if (!EnsureFolder(out.image_folder, nullptr)) {
    messenger.show(MessageKind::kError, format_message(kMsgCannotCreate, out.image_folder.string()));
    out.result = kResultFailed;
    return out;
  }
  out.result = ExtractButtonImages(names, source, out.image_folder, out.found, progress, messenger, &out.stats);
  if (out.result != kResultOk) return out;
  if (out.found) {
    messenger.show(MessageKind::kInfo, format_message(kMsgExtractDone, out.image_folder.string()));
  } else {
    messenger.show(MessageKind::kInfo, message_text(kMsgNoIgStream));
  }
  return out;
}

}  // namespace veld
