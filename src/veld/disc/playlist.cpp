// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/playlist.h"

#include <fmt/format.h>

#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/disc/mpls.h"

namespace veld {

STREAM_INFO stream_info_of(const STREAM_ENTRY& entry, const STREAM_ATTRIBUTES& a) {
  STREAM_INFO si;
  si.StreamPID = entry.RefToStreamPID_OfMainClip;
  SStreamCodingInfo& c = si.StreamCodingInfo;
  c.Length = 21;
  c.CodingType = a.StreamCodingType;
  switch (stream_class(a.StreamCodingType)) {
    case StreamClass::kVideo:
      c.VideoFormat = a.VideoFormat;
      c.FrameRate = a.FrameRate;
      break;
    case StreamClass::kAudio:
      c.PresentationType = a.AudioPresentationType;
      c.SamplingFrequency = a.SamplingFrequency;
      c.set_language(a.Language);
      break;
    case StreamClass::kGraphics:
      c.set_language(a.Language);
      break;
    case StreamClass::kTextSubtitle:
      c.CharacterCode = a.CharacterCode;
      c.set_language(a.Language);
      break;
    case StreamClass::kOther:
      break;
  }
  return si;
}

namespace {

template <typename Folder>
void add_streams(const Folder& folder, CSiFolder& out) {
  for (const auto& e : folder) {
    const std::uint8_t type = e.StreamEntry.Type;
    if (type == 1 || type == 3) out.push_back(stream_info_of(e.StreamEntry, e.StreamAttributes));
  }
}

}  // namespace

CSiFolder play_item_streams(const PLAY_ITEM& item) {
  CSiFolder out;
  ForEachStnGroup(item.StnTable, [&](const auto& group) { add_streams(group, out); });
  return out;
}

CSiFolder first_play_item_streams(const SMplsData& data) {
  return data.PlayItems.empty() ? CSiFolder{} : play_item_streams(data.PlayItems.front());
}

std::int64_t CMplsObject::parse(ByteSpan file, std::string* error, CUnreadBytes* unread) {
  return parse_mpls(file, data, error, unread);
}

void CMplsObject::build_tracks() { rip_tracks.build(first_play_item_streams(data)); }

Bytes CMplsObject::compose() const { return compose_mpls(data); }

Result write_playlist_file(const CMplsObject& playlist, const std::filesystem::path& path,
                           Messenger& messenger) {
  std::string error;
  if (!write_whole_file(path, playlist.compose(), &error)) {
    messenger.show(MessageKind::kError, error);
    return kResultFailed;
  }
  return kResultOk;
}

CPofObject::CPofObject() : name(message_text(kStrPlaylists)) {}

CMplsObject& CPofObject::add() {
  auto p = std::make_unique<CMplsObject>();
  p->name = fmt::format("{}#{}", message_text(kStrPlaylist), items_.size());
  items_.push_back(std::move(p));
  return *items_.back();
}

const CMplsObject* CPofObject::find(int id) const {
  for (const auto& p : items_)
    if (p->id == id) return p.get();
  return nullptr;
}

}  // namespace veld
