// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/pipeline/show.h"

#include <algorithm>

#include <fmt/format.h>

#include "veld/pipeline/output_names.h"
#include "veld/base/result.h"
#include "veld/clip/clip_length.h"
#include "veld/graphics/ig_track.h"
#include "veld/disc/bd_disc.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"
#include "veld/pipeline/edits.h"
#include "veld/pipeline/extract.h"
#include "veld/pipeline/manifest.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

int ClipNumber(const std::string& name) {
  int n = 0;
  for (char c : name) {
    if (c < '0' || c > '9') return -1;
    n = n * 10 + (c - '0');
  }
  return name.empty() ? -1 : n;
}

std::vector<SShowPlaylistUse> PlaylistsOf(const CPofObject& playlists, int clip) {
  std::vector<SShowPlaylistUse> uses;
  for (std::size_t p = 0; p < playlists.size(); ++p) {
    const CMplsObject& pl = playlists[p];
    const auto& items = pl.data.PlayItems;
    for (std::size_t i = 0; i < items.size(); ++i) {
      if (ClipNumber(items[i].ClipInformationFileName) == clip) {
        uses.push_back({pl.id, SShowPlaylistUse::Kind::kPlayItem, static_cast<int>(i), 0, 0});
      }
      for (std::size_t a = 0; a < items[i].Angles.size(); ++a) {
        if (ClipNumber(items[i].Angles[a].ClipInformationFileName) == clip) {
          uses.push_back({pl.id, SShowPlaylistUse::Kind::kAngle, static_cast<int>(i), static_cast<int>(a) + 1, 0});
        }
      }
    }
    const auto& paths = pl.data.SubPaths;
    for (std::size_t s = 0; s < paths.size(); ++s) {
      for (std::size_t j = 0; j < paths[s].SubPlayItems.size(); ++j) {
        if (ClipNumber(paths[s].SubPlayItems[j].ClipInformationFileName) == clip) {
          uses.push_back({pl.id, SShowPlaylistUse::Kind::kSubPath, static_cast<int>(j), 0, static_cast<int>(s)});
        }
      }
    }
  }
  return uses;
}

std::vector<SShowObjectUse> UsesOf(const CIcData& composition, std::uint16_t id) {
  std::vector<SShowObjectUse> uses;
  for (const CPage& page : composition.Pages) {
    for (const CBog& bog : page.Bogs) {
      for (const CBdButton& b : bog.Buttons) {
        if (b.Normal.Covers(id)) uses.push_back({page.PageId, b.Id, "normal", 0});
        if (b.Selected.Covers(id)) uses.push_back({page.PageId, b.Id, "selected", 0});
        if (b.Activated.Covers(id)) uses.push_back({page.PageId, b.Id, "activated", 0});
      }
    }
    for (const bool in : {true, false}) {
      const CEffectSequence& sequence = in ? page.InEffects : page.OutEffects;
      for (std::size_t e = 0; e < sequence.Effects.size(); ++e) {
        for (const SCompositionObject& o : sequence.Effects[e].CompositionObjects) {
          if (o.ObjectIdRef == id) {
            uses.push_back({page.PageId, -1, in ? "in_effect" : "out_effect", static_cast<int>(e) + 1});
            break;
          }
        }
      }
    }
  }
  return uses;
}

SShowDisplaySet DescribeDisplaySet(const CDsData& ds, int number, const fs::path& picture_folder,
                                   std::map<int, SShowSize>& epoch_sizes) {
  SShowDisplaySet out;
  if (ds.State == kEpochStart) epoch_sizes.clear();
  out.number = number;
  out.composition_state = ds.State;
  if (!ds.IcsArray.empty()) {
    const CIcs& ics = ds.IcsArray.front();
    out.composition_number = ics.Composition.CompositionNumber;
    out.pts = ics.PTS;
    out.dts = ics.DTS;
  }
  std::string why;
  out.composition = ParseComposition(ds, &why);
  if (!out.composition) out.composition_error = why;
  for (const CPds& pds : ds.PdsFolder) {
    out.palettes.push_back({pds.PaletteId, pds.PaletteVersion, static_cast<int>(pds.Entries.size())});
  }
  for (std::uint16_t id : ListObjects(ds)) {
    if (std::any_of(out.objects.begin(), out.objects.end(), [&](const SShowObject& o) { return o.id == id; })) {
      continue;  // an object defined twice is one picture
    }
    SShowObject o;
    o.id = id;
    const SObjectSize size = ObjectSize(ds, id);
    o.width = size.width;
    o.height = size.height;
    epoch_sizes[id] = SShowSize{size.width, size.height};
    o.fragments = static_cast<int>(
        std::count_if(ds.OdsArray.begin(), ds.OdsArray.end(), [&](const COds& ods) { return ods.ObjectId == id; }));
    const std::uint8_t palette = out.composition ? FindObjectPalette(*out.composition, id) : kNoPalette;
    o.palette_id = palette;
    if (out.composition) o.used_by = UsesOf(*out.composition, id);
    // The extraction writes a picture exactly when the object decodes with its palette.
    if (DecodeObjectBitmap(ds, id, palette)) o.picture = ImageFileName(picture_folder, id).generic_string();
    out.objects.push_back(std::move(o));
  }
  out.object_sizes = epoch_sizes;
  return out;
}

// Marks the copies among the stream's objects: each picture is listed once, its copies point to it.
void MarkCopies(const CGsData& stream, SShowStream& st) {
  struct SFirst {
    SShowObject* object;
    IndexedBitmap bitmap;
    std::vector<std::pair<int, int>> sets;
  };
  std::map<std::pair<std::uint16_t, std::uint64_t>, std::vector<SFirst>> firsts;
  for (std::size_t e = 0; e < stream.Epochs.size() && e < st.epochs.size(); ++e) {
    const auto& sets = stream.Epochs[e].DisplaySets;
    for (std::size_t d = 0; d < sets.size() && d < st.epochs[e].size(); ++d) {
      for (SShowObject& o : st.epochs[e][d].objects) {
        if (o.picture.empty()) continue;
        std::optional<SObjectBitmap> b = DecodeObjectBitmap(sets[d], o.id, static_cast<std::uint8_t>(o.palette_id));
        if (!b) continue;
        auto& list = firsts[{o.id, PixelHash(b->bitmap)}];
        const auto it = std::find_if(list.begin(), list.end(), [&](const SFirst& f) { return f.bitmap == b->bitmap; });
        const std::pair<int, int> at{static_cast<int>(e) + 1, static_cast<int>(d) + 1};
        if (it == list.end()) {
          list.push_back({&o, std::move(b->bitmap), {at}});
          continue;
        }
        it->sets.push_back(at);
        o.copy_of = it->object->picture;
      }
    }
  }
  for (auto& [key, list] : firsts)
    for (SFirst& f : list)
      if (f.sets.size() > 1) f.object->copies = DisplaySetList(f.sets);
}

}  // namespace

SShowSize SShowDisplaySet::ButtonSize(const CBdButton& button) const {
  const auto it = object_sizes.find(button.Normal.StartObjectId);
  return it == object_sizes.end() ? SShowSize{} : it->second;
}

int BuildMenuReport(const fs::path& source, SMenuReport& report, Progress& progress, Messenger& messenger,
                    std::vector<std::vector<CGsData>>* segments) {
  report = SMenuReport{};
  if (segments) segments->clear();
  report.source = source;
  CBDDisc disc;
  if (!disc.open(source, messenger)) return kResultFailed;
  const SOutputNames names;
  const CCofObject& clips = *disc.clips();
  for (std::size_t i = 0; i < clips.size(); ++i) {
    const CClpiObject& clip = clips[i];
    if (!ClipHasIgStream(clip)) continue;
    if (const auto short_clip = CheckClipStreamLength(clip)) messenger.show(MessageKind::kWarning, *short_clip);
    std::vector<SClipIgStream> streams;
    const int r = LoadClipIgStreams(clip.stream_path, streams, progress, messenger);
    if (r != kResultOk) return r;
    SShowClip& c = report.clips.emplace_back();
    c.id = clip.id;
    c.name = clip.stream_path.stem().string();
    c.stream_path = clip.stream_path;
    c.playlists = PlaylistsOf(*disc.playlists(), clip.id);
    if (segments) segments->emplace_back();
    for (SClipIgStream& s : streams) {
      SShowStream& st = c.streams.emplace_back();
      st.pid = s.pid;
      for (const STREAM_INFO& si : clip.data.streams()) {
        if (si.StreamPID == s.pid) st.language = si.StreamCodingInfo.language();
      }
      st.width = s.data.Width;
      st.height = s.data.Height;
      st.frame_rate = s.data.FrameRate;
      // The pictures' folder below the work folder: Images/<clip>/<PID>.
      const fs::path stream_folder = fs::path(names[SOutputNames::kImages]) / c.name / std::to_string(s.pid);
      int e = 0;
      bool first = true;
      std::map<int, SShowSize> epoch_sizes;
      for (const CEpochData& epoch : s.data.Epochs) {
        const fs::path epoch_folder = names.epoch_folder(stream_folder, ++e);
        auto& sets = st.epochs.emplace_back();
        int d = 0;
        for (const CDsData& ds : epoch.DisplaySets) {
          ++d;
          sets.push_back(DescribeDisplaySet(ds, d, names.ds_folder(epoch_folder, d), epoch_sizes));
          if (first && sets.back().composition) {
            st.popup = sets.back().composition->UserInterfaceModel;
            st.preloaded = sets.back().composition->StreamModel;
            first = false;
          }
        }
      }
      MarkCopies(s.data, st);
      if (segments) segments->back().push_back(std::move(s.data));
    }
  }
  return kResultOk;
}

}  // namespace veld
