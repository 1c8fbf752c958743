// SPDX-License-Identifier: GPL-3.0-or-later
// The undo of a copy-back. Before a copy-back renames anything, it keeps every file it is going to replace
// in an entry of the work folder's undo folder, "<work>/Undo/<time>/": a hard link of the old file when the
// work folder is on the same file system (it costs no room), a flushed copy in the same mode otherwise, and
// a list of which file went where with its size and mode, and of the files and folders the copy-back
// added. The undo puts the originals of the last entry back with the staging and journal of the copy-back
// (an interrupted undo is finished or rolled back by the next command), removes what the copy-back added,
// and then drops the entry, so that the next undo goes one copy-back further back.
#pragma once

#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/messenger.h"
#include "veld/pipeline/copy_back.h"

namespace veld {

// "<work>/Undo".
std::filesystem::path UndoFolder(const std::filesystem::path& work);
// A name for a new entry of folder from the current time, "YYYYMMDD-HHMMSS-mmm" (UTC), that is not taken.
std::filesystem::path NewUndoEntryName(const std::filesystem::path& folder);
// "<entry>.partial": the entry while it is made (never taken for an entry).
std::filesystem::path UndoEntryPartName(const std::filesystem::path& entry);
// The saved file number index of an entry: "<entry>/0000", "0001", ...
std::filesystem::path UndoSavedFile(const std::filesystem::path& entry, std::size_t index);
// Removes an entry; it is renamed to "<entry>.used" first, so that half of one is never taken for one.
void DropUndoEntry(const std::filesystem::path& entry);
// The entries of an undo folder, oldest first (entries being made or dropped left out).
std::vector<std::filesystem::path> ListUndoEntries(const std::filesystem::path& folder);

// The list of an entry ("<entry>/list").
struct SUndoList {
  struct Saved {
    std::filesystem::path target;  // where the file was, and goes back to
    std::uint64_t size = 0;
    std::uint32_t mode = 0;  // permission bits
    bool operator==(const Saved&) const = default;
  };
  std::filesystem::path bdmv;
  std::vector<Saved> saved;                      // saved as UndoSavedFile(entry, i)
  std::vector<std::filesystem::path> added;      // files the copy-back made: they go again
  std::vector<std::filesystem::path> folders;    // folders the copy-back made, outermost first
  bool operator==(const SUndoList&) const = default;
};
// The list as text (paths escaped as in the journal, ending in an "end" line) and back.
std::string UndoListText(const SUndoList& list);
std::optional<SUndoList> ReadUndoListText(std::string_view text);

// Keeps the files that the copy-back of journal replaces (its items that existed) in the entry
// journal.keep, made under UndoEntryPartName and renamed when complete. false with the reason in *error
// (nothing is left behind then).
bool KeepReplacedFiles(const SCopyBackJournal& journal, std::string* error);

struct SUndoOutcome {
  int result = 0;  // 0 done or nothing to undo, 1 declined, 2 failure (reported)
  std::filesystem::path entry;  // the entry put back (empty: nothing to undo)
  SUndoList list;
};
// Puts back the last copy-back from the work folder (whose interrupted copy-back or undo must have been
// recovered already): asks first, naming the BDMV folder and the counts; says what it restored.
SUndoOutcome UndoLastCopyBack(const std::filesystem::path& work, Messenger& messenger);

}  // namespace veld
