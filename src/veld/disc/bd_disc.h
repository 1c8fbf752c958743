// SPDX-License-Identifier: GPL-3.0-or-later
// One opened BDMV folder: its index and movie-object files, every playlist and every clip that a
// playlist refers to.
#pragma once

#include <filesystem>
#include <memory>

#include "veld/base/messenger.h"
#include "veld/clip/clpi.h"
#include "veld/clip/rip_track.h"
#include "veld/disc/index.h"
#include "veld/disc/movie_object.h"
#include "veld/disc/playlist.h"

namespace veld {

class CBDDisc {
 public:
  CBDDisc() = default;
  ~CBDDisc();
  CBDDisc(const CBDDisc&) = delete;
  CBDDisc& operator=(const CBDDisc&) = delete;

  // Opens the BDMV folder (with or without a trailing separator). On false the reason has been shown
  // through messenger and the disc may be partly filled; the caller only destroys or clears it.
  // Steps, in order: index file, movie-object file, every PLAYLIST/nnnnn.mpls in name order, the
  // numbers of the clips that play items and sub-play items name, then each clip's information file
  // and a check that its stream file can be read. A navigation, playlist or clip-information file that
  // cannot be read or does not parse is read from its copy in BACKUP instead (with a warning); the
  // opening fails only when both are unusable. Nothing is written.
  bool open(const std::filesystem::path& folder, Messenger& messenger);
  void clear();

  // The BDMV folder, ending in a separator once opened.
  const std::filesystem::path& folder() const { return folder_; }
  const CIndexObject* index() const { return index_.get(); }
  const CMoObject* movie_objects() const { return movie_objects_.get(); }
  CPofObject* playlists() { return playlists_.get(); }
  const CPofObject* playlists() const { return playlists_.get(); }
  CCofObject* clips() { return clips_.get(); }
  const CCofObject* clips() const { return clips_.get(); }
  // The tracks of a clip, built from the streams of its program information; null for an unknown clip.
  const SRipTracks* clip_tracks(int clip_id) const;
  SRipTracks* clip_tracks(int clip_id);

 private:
  bool load_navigation(Messenger& messenger);
  bool load_playlists(Messenger& messenger);
  bool load_clips(Messenger& messenger);

  std::unique_ptr<CIndexObject> index_;
  std::unique_ptr<CMoObject> movie_objects_;
  std::unique_ptr<CPofObject> playlists_;
  std::unique_ptr<CCofObject> clips_;
  std::filesystem::path folder_;
};

// The clips folder of the disc that was opened last (null when none is open). The disc clears it when
// it is cleared or destroyed, so it never refers to a disc that is gone.
const CCofObject* current_clips_folder();

// The clip numbers that the playlists refer to, ascending, each once: the clip of every play item and
// of every sub-play item (the extra angles of a multi-angle play item are not collected). A clip name
// that does not start with decimal digits yields false and its playlist in *bad.
bool collect_clip_numbers(const CPofObject& playlists, std::vector<int>& numbers, const CMplsObject** bad);

}  // namespace veld
