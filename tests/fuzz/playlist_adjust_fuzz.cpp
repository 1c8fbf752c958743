// SPDX-License-Identifier: GPL-3.0-or-later
// The replacement's playlist adjustment on a parsed playlist. The input is a playlist file followed by
// a 16-byte description of what remultiplexing made of its clips (which clips were rebuilt, which of
// their streams were kept, whether a rebuilt IG stream was added, and the clips' times); the adjusted
// playlist is composed as the replacement writes it and must read again.
#include <algorithm>

#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/disc/mpls.h"
#include "veld/disc/playlist.h"
#include "veld/pipeline/playlist_adjust.h"

using namespace veld;

namespace {

constexpr std::size_t kTail = 16;

int ClipNumber(const std::string& name) {
  if (name.size() < 5) return -1;
  int n = 0;
  for (std::size_t i = 0; i < 5; ++i) {
    if (name[i] < '0' || name[i] > '9') return -1;
    n = n * 10 + (name[i] - '0');
  }
  return n;
}

}  // namespace

VELD_FUZZ_TARGET(playlist_adjust) {
  if (size < kTail) return 0;
  const std::uint8_t* tail = data + size - kTail;
  SMplsData playlist;
  std::string error;
  if (parse_mpls(ByteSpan(data, size - kTail), playlist, &error) <= 0) return 0;

  // The clips of the disc: one per clip number the play items name, with the streams of the first play
  // item on it.
  CCofObject clips;
  for (const PLAY_ITEM& item : playlist.PlayItems) {
    const int number = ClipNumber(item.ClipInformationFileName);
    if (number < 0 || clips.find(number)) continue;
    auto clip = std::make_unique<CClpiObject>();
    clip->id = number;
    clip->rip_tracks.build(play_item_streams(item));
    clips.insert(std::move(clip));
  }

  const std::uint8_t rebuilt_mask = tail[0];
  const std::uint8_t kept_mask = tail[1];
  const std::int64_t offset = static_cast<std::int32_t>(load_be32(tail + 2));
  const std::uint32_t length = load_be32(tail + 6);
  const std::uint32_t start_45k = load_be32(tail + 10);
  const std::uint8_t flags = tail[14];
  CRebuiltClips rebuilt;
  for (std::size_t i = 0; i < clips.size() && i < 8; ++i) {
    if (!(rebuilt_mask & (1u << i))) continue;
    const CClpiObject& clip = clips[i];
    SRebuiltClip r;
    r.old_start_45k = start_45k;
    r.old_start = 2 * std::uint64_t{start_45k};
    r.old_end = r.old_start + length;
    r.offset = offset;
    r.new_start = static_cast<std::uint64_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(r.old_start) + offset));
    r.new_end = static_cast<std::uint64_t>(std::max<std::int64_t>(0, static_cast<std::int64_t>(r.old_end) + offset));
    std::uint16_t replaced = 0;
    for (std::size_t t = 0; t < clip.rip_tracks.tracks.size(); ++t) {
      const SRipTrack& track = clip.rip_tracks.tracks[t];
      if (track.coding_type() == 0x91 && !replaced) replaced = track.pid;
      if (!(kept_mask & (1u << (t % 8)))) continue;
      SNewPid n;
      n.stream_index = track.index;
      n.old_pid = track.pid;
      n.pid = static_cast<std::uint16_t>(track.pid ^ (flags & 0x0F));
      n.stream_type = track.coding_type();
      r.order.push_back(n);
      r.kept_any = true;
    }
    if (flags & 0x10) {
      SNewPid n;
      n.new_track = 0;
      n.old_pid = replaced;
      n.pid = 0x1400;
      n.stream_type = 0x91;
      r.order.push_back(n);
      r.new_languages.push_back({'e', 'n', 'g'});
    }
    rebuilt[clip.id] = std::move(r);
  }

  (void)AdjustPlaylist(playlist, clips, rebuilt);
  const Bytes out = compose_mpls(playlist);
  SMplsData back;
  VELD_FUZZ_CHECK(parse_mpls(out, back, &error) > 0);
  return 0;
}
