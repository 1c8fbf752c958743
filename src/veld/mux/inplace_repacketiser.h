// SPDX-License-Identifier: GPL-3.0-or-later
// In-place re-packetisation: the new clip stream file is the old one in which the packets of each
// rebuilt IG stream take the arrival slots of the stream it replaces (inplace_schedule.h). Every other
// source packet is copied unchanged (copy_file_range for the runs between IG packets, a reflinked range
// where the file system shares extents), so no time stamp of any stream moves. The file is padded with
// null packets to a whole number of 32-packet aligned units; the clip information follows the packet
// shift (SSpnShift).
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <filesystem>
#include <string>
#include <vector>

#include "veld/base/progress.h"
#include "veld/clip/clpi_data.h"
#include "veld/mux/copy_ahead.h"
#include "veld/mux/inplace_scan.h"
#include "veld/mux/inplace_schedule.h"
#include "veld/mux/raw_track.h"

namespace veld {

// How the source packet numbers of the old file move in the new one.
struct SSpnShift {
  std::vector<std::uint32_t> inserted_after;  // per inserted packet: the old packet it follows, ascending
  std::vector<std::uint32_t> dropped;         // old packets left out, ascending
  // The new number of old packet `spn` (of the next packet written when it was left out).
  std::uint32_t map(std::uint32_t spn) const;
};

// Moves every source packet number of the clip information by the shift and sets the packet count. With
// the scan of the old file (its entry points watched), a video entry's size class follows the packets that
// entered or left its access unit, where the class read is the one its packets gave (a class that the
// authoring program measured some other way is kept).
void ShiftClipInfo(SClpiData& clip, const SSpnShift& shift, std::uint32_t source_packets,
                   const CInPlaceScan* scan = nullptr);

// One IG stream to replace: its PID in the old clip and the opened track of its rebuilt stream. The
// track's time stamps must be the old stream's (own_offset set accordingly); its PID is set here.
struct SInPlaceStream {
  std::uint16_t pid = 0;
  SRawTrack* track = nullptr;
  // Set: the stream's language in the program map table is renamed to this.
  std::optional<std::array<char, 3>> language;
};

struct SInPlaceResult {
  enum class Status { kDone, kNoSchedule, kCancelled, kFailed };
  Status status = Status::kFailed;
  std::string reason;          // kNoSchedule: why (PID and display set); kFailed: the error
  std::uint32_t packets = 0;   // source packets of the new file
  SSpnShift shift;
  // The packets of the new file that were not copied from the old one (the rebuilt streams', patched
  // program map tables, padding), ascending.
  std::vector<std::uint32_t> written;
};

// Writes `out` from `in` (the old clip stream file) with the streams replaced. recording_rate: the
// clip's TS_recording_rate (bytes per second). scan: the scan of the whole of `in` (kFailed when the file
// no longer has the size it had then). ahead: a copy of `in` into `out` started earlier; it is used when
// no packet enters or leaves the file (the new packets then overwrite their slots in it), and abandoned
// otherwise. On any status but kDone, `out` is removed.
SInPlaceResult RepacketiseInPlace(const std::filesystem::path& in, const std::filesystem::path& out,
                                  const std::vector<SInPlaceStream>& streams, std::uint32_t recording_rate,
                                  const CInPlaceScan& scan, Progress& progress, CFileCopyAhead* ahead = nullptr);

}  // namespace veld
