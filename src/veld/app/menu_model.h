// SPDX-License-Identifier: GPL-3.0-or-later
// The menus of a disc as the window shows them: clip, IG stream, display set, page; for each page its
// size (the video's), its buttons with their rectangles and the picture files an extraction wrote for
// their states, and the page drawn as a player draws it. Built on the menu report of "veld show", so
// both front ends agree on what a disc holds; no UI here.
#pragma once

#include <array>
#include <cstdint>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/messenger.h"
#include "veld/base/progress.h"
#include "veld/graphics/bitmap.h"
#include "veld/graphics/gs_data.h"
#include "veld/graphics/page_render.h"

namespace veld {

enum class EButtonState { kNormal = 0, kSelected = 1, kActivated = 2 };
inline constexpr int kButtonStateCount = 3;

struct SMenuPicture {
  int object_id = 0;
  std::filesystem::path file;  // in the work folder; empty when the extraction wrote no picture of it
};

struct SMenuButton {
  int id = 0;
  int x = 0;
  int y = 0;
  int width = 0;  // of its normal state's first object (0 x 0 when that object is unknown)
  int height = 0;
  bool shown = false;  // the default button of its overlap group: the one a page shows
  // The objects of each state, first to last (an animation has several), by EButtonState.
  std::array<std::vector<SMenuPicture>, kButtonStateCount> states;
};

struct SMenuPage {
  int id = 0;
  int width = 0;  // the video's
  int height = 0;
  std::vector<SMenuButton> buttons;  // overlap group by group, in stream order
};

struct SMenuDisplaySet {
  int number = 0;  // from 1 within the stream, as the picture folders DS<number> count
  std::vector<SMenuPage> pages;
};

struct SMenuStream {
  std::uint16_t pid = 0;
  std::string language;
  std::vector<SMenuDisplaySet> display_sets;
  CGsData segments;  // for drawing the pages
};

struct SMenuClip {
  std::string name;  // "00000"
  std::vector<SMenuStream> streams;
};

struct SMenuModel {
  std::filesystem::path source;  // the BDMV folder
  std::filesystem::path work;    // the VELD work folder; empty when none was given
  bool extracted = false;        // the work folder holds an extraction (its marker file)
  std::vector<SMenuClip> clips;
};

// Where a page is in the model: indices into clips, streams, display_sets and pages.
struct SMenuPageRef {
  std::size_t clip = 0;
  std::size_t stream = 0;
  std::size_t display_set = 0;
  std::size_t page = 0;
};

// The VELD work folder a front end names: the folder itself when it is named VELD, otherwise the VELD
// folder in it.
std::filesystem::path WorkFolderOf(const std::filesystem::path& folder);
// Whether the VELD work folder holds an extraction (its Images folder and marker file).
bool HoldsExtraction(const std::filesystem::path& work);

// Reads the menus of the BDMV folder source; work (may be empty) is the VELD work folder whose picture
// files are named when it holds an extraction. Result 0, 1 (cancelled) or 2 (failed, reported through
// messenger; the disc's warnings are left to the extraction, which reports them).
int BuildMenuModel(const std::filesystem::path& source, const std::filesystem::path& work, SMenuModel& model,
                   Progress& progress, Messenger& messenger);

// The page, or nullptr when ref is out of range.
const SMenuPage* FindMenuPage(const SMenuModel& model, const SMenuPageRef& ref);

// The page's graphics plane (width x height of the page) with its buttons as a player first shows them,
// or every shown button in one state; an empty image when ref is out of range. segments, when given, stand
// for the stream's own (the stream with its edits applied, edit_preview.h). chosen names one button drawn
// in a state of its own (ButtonStateOverride) whatever the others are drawn in.
RgbaImage DrawMenuPage(const SMenuModel& model, const SMenuPageRef& ref,
                       EPageButtons buttons = EPageButtons::kAsPlayer, const CGsData* segments = nullptr,
                       SButtonStateOverride chosen = {});

// The override that draws button_id in state.
SButtonStateOverride ButtonStateOverride(int button_id, EButtonState state);

// A picture file as RGBA, the way the extraction wrote it (a GIF's transparent index fully transparent);
// std::nullopt when it does not read as a picture.
std::optional<RgbaImage> LoadMenuPicture(const std::filesystem::path& file);

}  // namespace veld
