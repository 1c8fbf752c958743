// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/app/menu_model.h"

#include <algorithm>
#include <system_error>
#include <utility>

#include "veld/pipeline/output_names.h"
#include "veld/app/shell.h"
#include "veld/base/result.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/palette.h"
#include "veld/pipeline/show.h"

namespace veld {
namespace fs = std::filesystem;

namespace {

// Errors and questions go on; the disc's warnings were the extraction's to report.
class ErrorsOnly : public Messenger {
 public:
  explicit ErrorsOnly(Messenger& to) : to_(to) {}
  void show(MessageKind kind, std::string_view text) override {
    if (kind != MessageKind::kWarning) to_.show(kind, text);
  }
  Answer ask(std::string_view text) override { return to_.ask(text); }

 private:
  Messenger& to_;
};

// The display sets of a report stream, one list (the picture folders count them so: Epoch1/DS<n>).
std::vector<const SShowDisplaySet*> FlatSets(const SShowStream& stream) {
  std::vector<const SShowDisplaySet*> sets;
  for (const auto& epoch : stream.epochs)
    for (const SShowDisplaySet& ds : epoch) sets.push_back(&ds);
  return sets;
}

// The objects a state shows, first to last: both ends and, when both are set, every object between them
// that the decoder holds at this display set.
// Object id 0xFFFF names no object (a state that shows nothing).
std::vector<int> StateObjects(const CButtonStateInfo& state, const SShowDisplaySet& ds) {
  constexpr int kNoObject = 0xFFFF;
  std::vector<int> ids;
  const int start = state.StartObjectId == kNoObject ? -1 : state.StartObjectId;
  const int end = state.EndObjectId == kNoObject ? -1 : state.EndObjectId;
  if (start < 0 || end < 0 || start == end) {
    if (start >= 0) ids.push_back(start);
    if (end >= 0 && end != start) ids.push_back(end);
    return ids;
  }
  const int step = start <= end ? 1 : -1;
  for (int id = start;; id += step) {
    if (id == start || id == end || ds.object_sizes.count(id)) ids.push_back(id);
    if (id == end) break;
  }
  return ids;
}

// The picture file of an object as the work folder holds it: that of the latest display set up to
// `upto` that defined the object with a picture; empty when there is none.
fs::path PictureOf(const std::vector<const SShowDisplaySet*>& sets, std::size_t upto, int object_id,
                   const fs::path& work) {
  for (std::size_t d = upto + 1; d-- > 0;) {
    for (const SShowObject& o : sets[d]->objects) {
      if (o.id != object_id) continue;
      if (o.picture.empty()) return {};
      const fs::path named = work / fs::path(o.picture);
      const fs::path file = ExistingImageFile(named.parent_path(), object_id);
      std::error_code ec;
      return fs::is_regular_file(file, ec) ? file : fs::path();
    }
  }
  return {};
}

SMenuButton DescribeButton(const CBdButton& b, bool shown, const std::vector<const SShowDisplaySet*>& sets,
                           std::size_t d, const fs::path& work) {
  SMenuButton out;
  out.id = b.Id;
  out.x = b.HorPos;
  out.y = b.VerPos;
  const SShowSize size = sets[d]->ButtonSize(b);
  out.width = size.width;
  out.height = size.height;
  out.shown = shown;
  const CButtonStateInfo* states[kButtonStateCount] = {&b.Normal, &b.Selected, &b.Activated};
  for (int s = 0; s < kButtonStateCount; ++s) {
    for (int id : StateObjects(*states[s], *sets[d])) {
      out.states[s].push_back({id, work.empty() ? fs::path() : PictureOf(sets, d, id, work)});
    }
  }
  return out;
}

SMenuStream DescribeStream(const SShowStream& stream, const fs::path& work) {
  SMenuStream out;
  out.pid = stream.pid;
  out.language = stream.language;
  const std::vector<const SShowDisplaySet*> sets = FlatSets(stream);
  for (std::size_t d = 0; d < sets.size(); ++d) {
    SMenuDisplaySet& ds = out.display_sets.emplace_back();
    ds.number = static_cast<int>(d) + 1;
    if (!sets[d]->composition) continue;
    for (const CPage& page : sets[d]->composition->Pages) {
      SMenuPage& p = ds.pages.emplace_back();
      p.id = page.PageId;
      p.width = stream.width;
      p.height = stream.height;
      for (const CBog& bog : page.Bogs)
        for (const CBdButton& b : bog.Buttons)
          p.buttons.push_back(DescribeButton(b, b.Id == bog.DefaultButtonIdRef, sets, d, work));
    }
  }
  return out;
}

// The display sets of a stream's segments, one list, as FlatSets numbers them.
std::vector<const CDsData*> FlatSegments(const CGsData& segments) {
  std::vector<const CDsData*> sets;
  for (const CEpochData& epoch : segments.Epochs)
    for (const CDsData& ds : epoch.DisplaySets) sets.push_back(&ds);
  return sets;
}

}  // namespace

fs::path WorkFolderOf(const fs::path& folder) {
  if (folder.empty()) return {};
  const std::string name = SOutputNames()[SOutputNames::kWork];
  fs::path f = folder;
  if (!f.has_filename()) f = f.parent_path();  // a trailing separator
  return FolderNameIs(f, name) ? f : f / name;
}

bool HoldsExtraction(const fs::path& work) {
  if (work.empty()) return false;
  std::error_code ec;
  return fs::is_regular_file(SOutputNames().marker_path(work), ec);
}

int BuildMenuModel(const fs::path& source, const fs::path& work, SMenuModel& model, Progress& progress,
                   Messenger& messenger) {
  model = SMenuModel{};
  model.source = source;
  model.work = work;
  model.extracted = HoldsExtraction(work);
  SMenuReport report;
  std::vector<std::vector<CGsData>> segments;
  ErrorsOnly errors(messenger);
  const int result = BuildMenuReport(source, report, progress, errors, &segments);
  if (result != kResultOk) return result;
  const fs::path pictures = model.extracted ? work : fs::path();
  for (std::size_t c = 0; c < report.clips.size() && c < segments.size(); ++c) {
    SMenuClip& clip = model.clips.emplace_back();
    clip.name = report.clips[c].name;
    const auto& streams = report.clips[c].streams;
    for (std::size_t s = 0; s < streams.size() && s < segments[c].size(); ++s) {
      clip.streams.push_back(DescribeStream(streams[s], pictures));
      clip.streams.back().segments = std::move(segments[c][s]);
    }
  }
  return kResultOk;
}

const SMenuPage* FindMenuPage(const SMenuModel& model, const SMenuPageRef& ref) {
  if (ref.clip >= model.clips.size()) return nullptr;
  const SMenuClip& clip = model.clips[ref.clip];
  if (ref.stream >= clip.streams.size()) return nullptr;
  const SMenuStream& stream = clip.streams[ref.stream];
  if (ref.display_set >= stream.display_sets.size()) return nullptr;
  const SMenuDisplaySet& ds = stream.display_sets[ref.display_set];
  return ref.page < ds.pages.size() ? &ds.pages[ref.page] : nullptr;
}

RgbaImage DrawMenuPage(const SMenuModel& model, const SMenuPageRef& ref, EPageButtons buttons,
                       const CGsData* segments, SButtonStateOverride chosen) {
  const SMenuPage* page = FindMenuPage(model, ref);
  if (!page) return {};
  const std::vector<const CDsData*> sets =
      FlatSegments(segments ? *segments : model.clips[ref.clip].streams[ref.stream].segments);
  if (ref.display_set >= sets.size()) return {};
  // The decoder's objects and palettes once it has taken in every display set up to this one.
  CDecodedGraphics graphics;
  for (std::size_t d = 0; d <= ref.display_set; ++d) graphics.Add(*sets[d]);
  const std::optional<CIcData> composition = ParseComposition(*sets[ref.display_set]);
  if (!composition || ref.page >= composition->Pages.size()) return {};
  const ColourMatrix matrix = ColourMatrixForHeight(page->height);
  return RenderPage(composition->Pages[ref.page], graphics, page->width, page->height, matrix, buttons, chosen)
      .image;
}

SButtonStateOverride ButtonStateOverride(int button_id, EButtonState state) {
  switch (state) {
    case EButtonState::kSelected:
      return {button_id, EPageButtons::kSelected};
    case EButtonState::kActivated:
      return {button_id, EPageButtons::kActivated};
    case EButtonState::kNormal:
      break;
  }
  return {button_id, EPageButtons::kNormal};
}

std::optional<RgbaImage> LoadMenuPicture(const fs::path& file) {
  LoadedImage loaded = LoadPicture(file, true);
  if (loaded.check != ImageCheck::kOk) return std::nullopt;
  if (loaded.true_colour) return std::move(loaded.rgba);
  RgbaImage out = IndexedToRgba(loaded.bitmap, loaded.palette);
  if (out.pixels.empty()) return std::nullopt;
  return out;
}

}  // namespace veld
