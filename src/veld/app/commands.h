// SPDX-License-Identifier: GPL-3.0-or-later
// The two commands of the tool as the front ends run them: input checks, work folders, the pipeline
// call and the closing message. No UI here: everything goes through Messenger and Progress.
#pragma once

#include <filesystem>

#include "veld/pipeline/output_names.h"
#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/pipeline/extract.h"
#include "veld/pipeline/replace.h"
#include "veld/pipeline/undo.h"

namespace veld {

struct ExtractOutcome {
  int result = 0;  // 0 success, 1 cancelled or declined, 2 failure (reported)
  bool found = false;  // at least one clip with an IG stream
  std::filesystem::path image_folder;
  std::filesystem::path preview_folder;  // set when previews were asked for
  ExtractStats stats;
};

// A source that cannot be a BDMV folder is refused (reported): no such folder, a file, or a folder
// without index.bdmv (in it or in its BACKUP); the message names the folder that was probably meant.
bool CheckSourceFolder(const std::filesystem::path& source, Messenger& messenger);

// What the user asked of the extraction beyond the pictures themselves.
struct ExtractRequest {
  ImageFormat format = ImageFormat::kGif;
  bool preview = false;  // page previews in VELD/Preview, swapped in with the pictures
};

// source: the BDMV folder; rip: the folder that receives (or holds) the "VELD" work folder.
// Refuses, before any folder is made: an empty source or rip, a source that is no BDMV folder, a rip
// inside the source (or the source itself), a source inside the work folder, and a rip, work or image
// folder that is a file. Asks before reusing an existing work folder, naming how many of its pictures
// were edited since their extraction. The rip folder may be made but not its parents. Runs the
// extraction (which replaces the earlier pictures only when it completes), removes the folders it made
// when nothing was extracted, and shows where the images are (or that the disc has no menu stream).
ExtractOutcome RunExtractCommand(const std::filesystem::path& source, const std::filesystem::path& rip,
                                 Messenger& messenger, Progress& progress, const ExtractRequest& request = {});

struct ReplaceOutcome {
  int result = 0;       // 0 success, 1 cancelled or declined, 2 failure (reported)
  bool edited = false;  // at least one clip was rebuilt from edited pictures
  std::filesystem::path stream_folder;  // where the new files are
  SReplacedFiles files;
  bool copied_back = false;
  ReplaceStats stats;
};

// source: the BDMV folder; work: the "VELD" work folder of an earlier extraction. Checks the folders
// ("no BDMV folder", a work folder not named VELD, no "Images" in it), runs the replacement, says where
// the new files are (or that no picture was edited), asks whether to copy them into the BDMV folder
// (unless options.copy_back answers) and copies them back safely.
ReplaceOutcome RunReplaceCommand(const std::filesystem::path& source, const std::filesystem::path& work,
                                 const ReplaceOptions& options, Messenger& messenger, Progress& progress);

struct UndoOutcome {
  int result = 0;  // 0 success or nothing to undo, 1 declined, 2 failure (reported)
  std::filesystem::path entry;  // the undo entry put back (empty: there was nothing to undo)
  SUndoList list;
};

// work: the "VELD" work folder of the copy-backs to undo. Checks its name, takes its lock, finishes or
// rolls back an interrupted copy-back or undo, then asks and puts back the originals of the last
// copy-back (or says that there is nothing to undo).
UndoOutcome RunUndoCommand(const std::filesystem::path& work, Messenger& messenger);

}  // namespace veld
