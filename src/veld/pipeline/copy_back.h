// SPDX-License-Identifier: GPL-3.0-or-later
// Copying the files of a replacement into the BDMV folder: STREAM/nnnnn.m2ts, CLIPINF/nnnnn.clpi and
// PLAYLIST/nnnnn.mpls, and the clip information and playlist files also into BACKUP/.
//
// Nothing is overwritten until every new file is in place beside its target: first the room on each
// target file system is checked, then each new file is staged next to its target under a temporary
// name (a hard link when it lies on the same file system, so a large clip is not copied twice; otherwise
// a copy, flushed to disk), and only then are the staged files renamed over the targets. Any failure
// removes what was staged, restores the targets already replaced, and leaves the BDMV folder as it was.
// A journal in the work folder lets the next command undo or finish a copy-back that was interrupted.
#pragma once

#include <cstdint>
#include <filesystem>
#include <functional>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veld/pipeline/output_names.h"
#include "veld/base/messenger.h"

namespace veld {

// One file to put in place.
struct SCopyItem {
  std::filesystem::path from;  // the new file in the work folder
  std::filesystem::path to;    // its target in the BDMV folder
  // Staged as a hard link when the work folder is on the same file system (clip streams: large); the
  // small files are copied, so that BDMV and BACKUP hold files of their own.
  bool link = false;
  // The target goes (from is not used): an undo removes the files that its copy-back added.
  bool remove = false;
  // The mode of the new file; without one, it takes the mode of the target it replaces (when there is one).
  std::optional<std::uint32_t> mode = std::nullopt;
};

// Copies from to a new file `to` (which must not exist) and flushes it to the device. 0, or the errno.
int CopyFileFlushed(const std::filesystem::path& from, const std::filesystem::path& to);

// The targets of the replaced files, in the order they are put in place: clip streams, clip
// information (then its BACKUP copy), playlists (then BACKUP).
std::vector<SCopyItem> CopyBackPlan(const SReplacedFiles& files, const std::filesystem::path& bdmv);

// Free bytes a file system must offer for the plan, by one of its folders: files that can be hard-linked
// need none.
struct SRoomNeed {
  std::filesystem::path folder;
  std::uint64_t needed = 0;
  std::uint64_t free = 0;
};
std::vector<SRoomNeed> CopyBackRoom(const std::vector<SCopyItem>& plan);

// ---- the journal ---------------------------------------------------------------------------------------
//
// A copy-back that is killed part of the way (the program killed, the machine switched off) must not leave
// the BDMV folder with some new files and some old ones. Before anything in the BDMV folder changes, the
// copy-back writes a journal into the work folder: the BDMV folder, the folders it is going to make, and
// every target with whether it existed. The journal says "staging" while the new files are staged beside
// their targets and "renaming" (rewritten, atomically) once every one of them is staged, just before the
// first rename. It is removed when the copy-back is done or has been undone. The next command that finds
// it (RecoverInterruptedCopyBack) undoes a copy-back that was staging and finishes one that was renaming.

struct SCopyBackJournal {
  enum class State { kStaging, kRenaming };
  struct Item {
    std::filesystem::path target;
    bool existed = false;  // the target existed before the copy-back (its old file is restored on undo)
    bool remove = false;   // the target goes instead of being replaced
    bool operator==(const Item&) const = default;
  };
  State state = State::kStaging;
  std::filesystem::path bdmv;
  std::vector<std::filesystem::path> folders;  // made by the copy-back, outermost first
  std::vector<Item> items;
  std::filesystem::path keep;     // the undo entry this copy-back makes: it goes when the copy-back is undone
  std::filesystem::path consume;  // the undo entry this run puts back: it goes when the run is finished
  std::vector<std::filesystem::path> drop_folders;  // removed (when empty) once finished, outermost first
  bool operator==(const SCopyBackJournal&) const = default;
};

// The journal of the work folder: "<work>/CopyBack.journal".
std::filesystem::path CopyBackJournalPath(const std::filesystem::path& work);
// The journal as text (one line per entry; '%', CR and LF in paths escaped as %25, %0D, %0A) and back;
// the text ends with an "end" line, so a cut journal does not read.
std::string CopyBackJournalText(const SCopyBackJournal& journal);
std::optional<SCopyBackJournal> ReadCopyBackJournalText(std::string_view text);
// Writes the journal (through a temporary file, flushed, renamed over the journal). false with the
// system's text in *error.
bool WriteCopyBackJournal(const std::filesystem::path& path, const SCopyBackJournal& journal, std::string* error);

// The staged new file of a target (".<name>.veld-new" beside it) and the old file kept aside while the
// new ones are renamed in (".<name>.veld-old").
std::filesystem::path StagedNewFile(const std::filesystem::path& target);
std::filesystem::path KeptOldFile(const std::filesystem::path& target);

// The engine of the copy-back and of its undo: stages every file of the plan beside its target under the
// journal (which arrives with bdmv, keep, consume and drop_folders set), calls before_renaming (when given:
// false with a message shown stops the run, which is then undone), then renames. Result 0, or 2 after a
// message; on failure the BDMV folder is unchanged.
int CommitFiles(const std::vector<SCopyItem>& plan, SCopyBackJournal journal, const std::filesystem::path& journal_path,
                Messenger& messenger, const std::function<bool(const SCopyBackJournal&)>& before_renaming = {});

// Puts the files in place and keeps the files they replace in "<work>/Undo/<time>/" (the work folder is the
// journal's folder), for UndoLastCopyBack. Result 0, or 2 after a message naming the failing file with the system's
// text (or the file system without room); the BDMV folder is then unchanged. journal is where the journal
// goes (CopyBackJournalPath of the work folder).
int CopyBack(const SReplacedFiles& files, const std::filesystem::path& bdmv, const std::filesystem::path& journal,
             Messenger& messenger);

// Finds the journal of an interrupted copy-back in the work folder and undoes the copy-back (it was
// staging: the BDMV folder holds every old file again) or finishes it (it was renaming: every new file),
// saying which in one line (a warning, so that it shows also under --quiet). Result 0 when there was
// nothing to do or it succeeded; 2 after an error message when the journal cannot be read or a file can
// neither be put in place nor restored (the journal is then kept).
int RecoverInterruptedCopyBack(const std::filesystem::path& work, Messenger& messenger);

}  // namespace veld
