// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/rip_track.h"

namespace veld {

void SRipTracks::build(const CSiFolder& streams) {
  tracks.clear();
  tracks.reserve(streams.size());
  for (std::size_t i = 0; i < streams.size(); ++i) {
    SRipTrack t;
    t.index = static_cast<int>(i);
    t.pid = streams[i].StreamPID;
    t.stream_info = streams[i];
    t.primary = is_primary_pid(t.pid);
    tracks.push_back(std::move(t));
  }
}

const SRipTrack* SRipTracks::find_pid(std::uint16_t pid) const {
  for (const auto& t : tracks)
    if (t.pid == pid) return &t;
  return nullptr;
}

}  // namespace veld
