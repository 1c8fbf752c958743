// SPDX-License-Identifier: GPL-3.0-or-later
// The playlist objects of an opened disc: one CMplsObject per PLAYLIST/nnnnn.mpls, in the disc's
// playlists folder CPofObject.
#pragma once

#include <cstdint>
#include <filesystem>
#include <memory>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/base/messenger.h"
#include "veld/base/result.h"
#include "veld/clip/clpi_data.h"
#include "veld/clip/rip_track.h"
#include "veld/disc/mpls_data.h"

namespace veld {

// The STREAM_INFO a playlist stream entry stands for: the entry's PID (the main-clip PID of a type 1
// or type 3 entry) and a StreamCodingInfo of length 21 with the entry's coding type and attributes.
STREAM_INFO stream_info_of(const STREAM_ENTRY& entry, const STREAM_ATTRIBUTES& attributes);

// The stream list of a play item: every entry of its seven STN groups in group order, except the
// entries whose streams are not in the play item's own clip (type 2, in a sub-path clip, and the
// types the format does not define, which name no PID of the clip).
CSiFolder play_item_streams(const PLAY_ITEM& item);
// The stream list of the first play item; empty when the playlist has none.
CSiFolder first_play_item_streams(const SMplsData& data);

class CMplsObject {
 public:
  int id = -1;  // the playlist number once opened
  std::string name;
  std::filesystem::path path;
  SMplsData data;
  // Tracks of the streams of the first play item.
  SRipTracks rip_tracks;

  // Parses the file's bytes into data (result as parse_mpls: greater than 0 on success; unread bytes of
  // its blocks noted in *unread).
  std::int64_t parse(ByteSpan file, std::string* error = nullptr, CUnreadBytes* unread = nullptr);
  // Builds rip_tracks from the stream list of the first play item (empties it when there is none).
  void build_tracks();
  Bytes compose() const;
};

// Composes the playlist and writes it to path (created or truncated). An open or write failure is
// shown with the system's text and gives kResultFailed; kResultOk otherwise.
Result write_playlist_file(const CMplsObject& playlist, const std::filesystem::path& path,
                           Messenger& messenger);

// The playlists of a disc, in ascending file-name order.
class CPofObject {
 public:
  std::string name;  // "Playlists"

  CPofObject();
  // Appends a new playlist named "Playlist#<current count>".
  CMplsObject& add();
  std::size_t size() const { return items_.size(); }
  bool empty() const { return items_.empty(); }
  CMplsObject& operator[](std::size_t i) { return *items_[i]; }
  const CMplsObject& operator[](std::size_t i) const { return *items_[i]; }
  const CMplsObject* find(int id) const;
  void clear() { items_.clear(); }

 private:
  std::vector<std::unique_ptr<CMplsObject>> items_;
};

}  // namespace veld
