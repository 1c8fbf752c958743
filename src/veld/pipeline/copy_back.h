// Copying the files of a replacement into the BDMV folder: STREAM/nnnnn.m2ts, CLIPINF/nnnnn.clpi and
// PLAYLIST/nnnnn.mpls, and the clip information and playlist files also into BACKUP/.
//
// Nothing is overwritten until every new file is in place beside its target: first the room on each
// target file system is checked, then each new file is staged next to its target under a temporary
// name (a hard link when it lies on the same file system, so a large clip is not copied twice; otherwise
// a copy, flushed to disk), and only then are the staged files renamed over the targets. Any failure
// removes what was staged, restores the targets already replaced, and leaves the BDMV folder as it was.
#pragma once

#include <cstdint>
#include <filesystem>
#include <string>
#include <vector>

#include "veld/app/output_names.h"
#include "veld/base/messenger.h"

namespace veld {

// One file to put in place.
struct SCopyItem {
  std::filesystem::path from;  // the new file in the work folder
  std::filesystem::path to;    // its target in the BDMV folder
  // Staged as a hard link when the work folder is on the same file system (clip streams: large); the
  // small files are copied, so that BDMV and BACKUP hold files of their own.
  bool link = false;
};

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

// Puts the files in place. Result 0, or 2 after a message naming the failing file with the system's
// text (or the file system without room); the BDMV folder is then unchanged.
int CopyBack(const SReplacedFiles& files, const std::filesystem::path& bdmv, Messenger& messenger);

}  // namespace veld
