// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/playlist_adjust.h"

#include <algorithm>
#include <charconv>

namespace veld {
namespace {

int clip_number(const std::string& name) {
  int n = -1;
  const auto r = std::from_chars(name.data(), name.data() + std::min<std::size_t>(name.size(), 5), n);
  return r.ec == std::errc() && r.ptr == name.data() + 5 ? n : -1;
}

const SRebuiltClip* find_rebuilt(const CRebuiltClips& rebuilt, const std::string& name) {
  const auto it = rebuilt.find(clip_number(name));
  return it == rebuilt.end() ? nullptr : &it->second;
}

// A play-item or sub-play-item time (45 kHz) on the clip's new time base: moved by exactly the clip's
// offset, by which every stream moved, so that every play item keeps its duration to the tick (an OUT
// time past the clip's presentation end, as some discs have, moves too rather than being cut). The new
// file's earliest time stamp may belong to a stream that started before the old presentation start (a
// menu shown before the first picture), so the distance between the old and the new presentation start
// is not always the move.
std::uint32_t move_in(std::uint32_t in, const SRebuiltClip& c) {
  const std::int64_t t = 2 * std::int64_t{in} + c.offset;
  return static_cast<std::uint32_t>(std::clamp<std::int64_t>(t, 0, std::int64_t{0x1FFFFFFFF}) / 2);
}

std::uint32_t move_out(std::uint32_t out, const SRebuiltClip& c) { return move_in(out, c); }

// Marks and picture-in-picture times move by what the kept streams moved, in 45 kHz.
std::int64_t delta_45k(const SRebuiltClip& c) { return 27000000 - std::int64_t{c.old_start_45k}; }

// The stream entries of one STN group that name a stream of the play item's own clip get their new PID;
// entries of streams that are gone are dropped; a replaced stream's entry names the new track and takes
// its language. Entries of sub-path streams stay as they are. The order of the entries, and so the
// stream numbers that navigation commands use, does not change.
template <typename Entry>
void rename_streams(std::vector<Entry>& entries, const SRebuiltClip& c) {
  std::vector<Entry> kept;
  for (Entry e : entries) {
    STREAM_ENTRY& s = e.StreamEntry;
    if (s.Type != 1 && s.Type != 3) {
      kept.push_back(std::move(e));
      continue;
    }
    const std::uint16_t old_pid = s.RefToStreamPID_OfMainClip;
    const SNewPid* match = nullptr;
    for (const SNewPid& n : c.order) {
      if (n.old_pid == old_pid) {
        match = &n;
        break;
      }
    }
    if (!match) continue;  // a stream that is neither kept nor replaced
    s.RefToStreamPID_OfMainClip = match->pid;
    if (match->stream_index < 0 && match->new_track < c.new_languages.size()) {
      const auto& lang = c.new_languages[match->new_track];
      e.StreamAttributes.StreamCodingType = match->stream_type;
      e.StreamAttributes.Language = lang[0] ? std::string(lang.begin(), lang.end()) : std::string();
    }
    kept.push_back(std::move(e));
  }
  entries = std::move(kept);
}

void rename_stn(STN_TABLE& stn, const SRebuiltClip& c) {
  ForEachStnGroup(stn, [&](auto& group) { rename_streams(group, c); });
}

}  // namespace

bool MovePipMetadata(Bytes& data, const std::vector<std::int64_t>& play_item_delta) {
  // Layout: length (4), block count (2), blocks of 14 bytes: play item (2), secondary video (1),
  // reserved (1), timeline type and flags (2), luma key (2), reserved (2), data address (4, from the
  // start of the metadata); at the data address: entry count (2) and entries of 8 bytes whose first 4
  // are the time stamp.
  try {
    ByteReader r(data, "PiP metadata");
    r.u32();
    const std::uint16_t blocks = r.u16();
    std::vector<std::pair<std::size_t, std::int64_t>> stamps;  // offset of a time stamp, delta
    for (std::uint16_t b = 0; b < blocks; ++b) {
      ByteReader block = r.sub(14, "PiP metadata block");
      const std::uint16_t item = block.u16();
      block.skip(8);
      const std::uint32_t address = block.u32();
      if (item >= play_item_delta.size() || play_item_delta[item] == 0) continue;
      ByteReader d(data, "PiP metadata data");
      d.seek(address);
      const std::uint16_t entries = d.u16();
      for (std::uint16_t i = 0; i < entries; ++i) {
        stamps.emplace_back(d.pos(), play_item_delta[item]);
        d.skip(8);
      }
    }
    for (const auto& [at, delta] : stamps)
      store_be32(data.data() + at, static_cast<std::uint32_t>(load_be32(data.data() + at) + delta));
    return true;
  } catch (const ParseError&) {
    return false;
  }
}

namespace {

// What became of each old play item.
struct SItemMap {
  std::vector<const SRebuiltClip*> clip;  // its rebuilt clip, if any
  std::vector<bool> known;                // its clip is one of the disc's
  std::vector<int> new_index;             // its index in the adjusted list; -1 when dropped
};

// Play items on a rebuilt clip that kept nothing and gained nothing have no stream left: they go.
SItemMap DropEmptyItems(SMplsData& pl, const CCofObject& clips, const CRebuiltClips& rebuilt, bool& changed) {
  const std::size_t old_items = pl.PlayItems.size();
  SItemMap map{std::vector<const SRebuiltClip*>(old_items, nullptr), std::vector<bool>(old_items, false),
               std::vector<int>(old_items, -1)};
  CPlayItems items;
  for (std::size_t i = 0; i < old_items; ++i) {
    PLAY_ITEM& item = pl.PlayItems[i];
    const int number = clip_number(item.ClipInformationFileName);
    map.known[i] = number >= 0 && clips.find(number) != nullptr;
    map.clip[i] = find_rebuilt(rebuilt, item.ClipInformationFileName);
    if (map.clip[i] && !map.clip[i]->kept_any && map.clip[i]->order.empty()) {
      changed = true;
      continue;
    }
    map.new_index[i] = static_cast<int>(items.size());
    items.push_back(std::move(item));
  }
  pl.PlayItems = std::move(items);
  return map;
}

// In and out times move with their rebuilt clips; angles on other rebuilt clips go. The time moved per
// adjusted item (45 kHz).
std::vector<std::int64_t> MoveItems(SMplsData& pl, const SItemMap& map, const CRebuiltClips& rebuilt, bool& changed) {
  std::vector<std::int64_t> delta(pl.PlayItems.size(), 0);
  for (std::size_t i = 0; i < map.new_index.size(); ++i) {
    if (map.new_index[i] < 0) continue;
    const auto at = static_cast<std::size_t>(map.new_index[i]);
    PLAY_ITEM& item = pl.PlayItems[at];
    if (const SRebuiltClip* c = map.clip[i]) {
      item.InTime = move_in(item.InTime, *c);
      item.OutTime = move_out(item.OutTime, *c);
      delta[at] = delta_45k(*c);
      changed = true;
    }
    if (!item.IsMultiAngle) continue;
    const std::size_t before = item.Angles.size();
    std::erase_if(item.Angles, [&](const ANGLE_CLIP_ENTRY& a) {
      return a.ClipInformationFileName != item.ClipInformationFileName &&
             find_rebuilt(rebuilt, a.ClipInformationFileName) != nullptr;
    });
    if (item.Angles.size() != before) {
      changed = true;
      if (item.Angles.empty()) item.IsMultiAngle = false;
    }
  }
  return delta;
}

void MoveSubPaths(SMplsData& pl, const SItemMap& map, const CRebuiltClips& rebuilt, bool& changed) {
  for (SUB_PATH& path : pl.SubPaths) {
    for (SUB_PLAY_ITEM& sub : path.SubPlayItems) {
      if (const SRebuiltClip* c = find_rebuilt(rebuilt, sub.ClipInformationFileName)) {
        sub.InTime = move_in(sub.InTime, *c);
        sub.OutTime = move_out(sub.OutTime, *c);
        changed = true;
      }
      // The sync point lies on the timeline of the play item it refers to.
      if (sub.SyncPlayItemID >= map.new_index.size()) continue;
      const std::size_t sync = sub.SyncPlayItemID;
      if (map.new_index[sync] < 0) continue;
      if (const SRebuiltClip* main = map.clip[sync]) sub.SyncStartPTS_OfPlayItem = move_in(sub.SyncStartPTS_OfPlayItem, *main);
      sub.SyncPlayItemID = static_cast<std::uint16_t>(map.new_index[sync]);
    }
  }
}

// Marks follow their play items and move with their clips; a mark outside its moved clip goes.
void MoveMarks(SMplsData& pl, const SItemMap& map) {
  CPlayMarks marks;
  for (PLAY_MARK m : pl.PlayListMarks) {
    const std::size_t ref = m.RefToPlayItemID;
    if (ref >= map.new_index.size() || !map.known[ref] || map.new_index[ref] < 0) continue;
    if (const SRebuiltClip* c = map.clip[ref]) {
      const std::int64_t t = std::int64_t{m.MarkTimeStamp} + delta_45k(*c);
      if (t < 0 || static_cast<std::uint64_t>(t) > c->new_end / 2) continue;
      m.MarkTimeStamp = static_cast<std::uint32_t>(t);
    }
    m.RefToPlayItemID = static_cast<std::uint16_t>(map.new_index[ref]);
    marks.push_back(m);
  }
  pl.PlayListMarks = std::move(marks);
}

}  // namespace

bool AdjustPlaylist(SMplsData& pl, const CCofObject& clips, const CRebuiltClips& rebuilt) {
  bool changed = false;
  const SItemMap map = DropEmptyItems(pl, clips, rebuilt, changed);
  const std::vector<std::int64_t> delta = MoveItems(pl, map, rebuilt, changed);
  MoveSubPaths(pl, map, rebuilt, changed);
  if (changed) {
    for (std::size_t i = 0; i < map.new_index.size(); ++i)
      if (map.new_index[i] >= 0 && map.clip[i])
        rename_stn(pl.PlayItems[static_cast<std::size_t>(map.new_index[i])].StnTable, *map.clip[i]);
  }
  if (pl.PlayItems.empty()) return changed;
  std::erase_if(pl.SubPaths, [](const SUB_PATH& p) { return p.SubPlayItems.empty(); });
  MoveMarks(pl, map);
  if (pl.ExtensionData) {
    for (SExtDataEntry& e : pl.ExtensionData->Entries) {
      if (e.ExtDataEntry_ID1 == kExtIdPipMetaData1 && e.ExtDataEntry_ID2 == kExtIdPipMetaData2)
        MovePipMetadata(e.Data, delta);
    }
  }
  return changed;
}

}  // namespace veld
