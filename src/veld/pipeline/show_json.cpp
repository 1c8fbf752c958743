// SPDX-License-Identifier: GPL-3.0-or-later
// The JSON form of the menu report. The layout is documented in docs/show-schema.md; a change of layout
// raises kMenuReportJsonVersion.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "veld/base/json_writer.h"
#include "veld/disc/nav_cmd.h"
#include "veld/graphics/segment.h"
#include "veld/pipeline/show.h"

namespace veld {
namespace {

const char* KindName(SShowPlaylistUse::Kind kind) {
  switch (kind) {
    case SShowPlaylistUse::Kind::kAngle:
      return "angle";
    case SShowPlaylistUse::Kind::kSubPath:
      return "sub_path";
    case SShowPlaylistUse::Kind::kPlayItem:
      break;
  }
  return "play_item";
}

std::string Hex(const NavCommand& c) { return fmt::format("{:02X}", fmt::join(c, "")); }

void WriteState(JsonWriter& j, const char* name, const CButtonStateInfo& s, bool has_sound, bool has_repeat) {
  j.key(name).begin_object();
  j.member("start", s.StartObjectId).member("end", s.EndObjectId);
  if (has_repeat) j.member("repeat", s.RepeatFlag);
  if (has_sound) j.member("sound", static_cast<int>(s.SoundId));
  j.end_object();
}

void WriteButton(JsonWriter& j, const CBdButton& b, SShowSize size) {
  j.begin_object();
  j.member("id", b.Id).member("numeric_value", static_cast<int>(b.NumbericValue)).member("auto_action", b.AutoActionFlag);
  j.member("x", static_cast<int>(b.HorPos)).member("y", static_cast<int>(b.VerPos));
  j.member("width", size.width).member("height", size.height);
  j.key("neighbours").begin_object();
  j.member("up", b.Neighbors.Up).member("down", b.Neighbors.Down);
  j.member("left", b.Neighbors.Left).member("right", b.Neighbors.Right);
  j.end_object();
  WriteState(j, "normal", b.Normal, false, true);
  WriteState(j, "selected", b.Selected, true, true);
  WriteState(j, "activated", b.Activated, true, false);
  if (b.ButtonType != 0) {
    j.member("button_type", static_cast<int>(b.ButtonType)).member("button_type_text", ButtonTypeText(b.ButtonType));
    j.member("type_parameter", b.TypeParameter);
  }
  j.key("commands").begin_array();
  for (const NavCommand& c : b.Commands.commands) {
    j.begin_object().member("text", disassemble(c)).member("bytes", Hex(c)).end_object();
  }
  j.end_array();
  j.end_object();
}

void WriteEffects(JsonWriter& j, const char* name, const CEffectSequence& sequence) {
  j.key(name).begin_object();
  j.key("windows").begin_array();
  for (const SWindow& w : sequence.Windows) {
    j.begin_object().member("id", static_cast<int>(w.WindowID)).member("x", static_cast<int>(w.HorPos));
    j.member("y", static_cast<int>(w.VerPos)).member("width", static_cast<int>(w.Width));
    j.member("height", static_cast<int>(w.Height)).end_object();
  }
  j.end_array();
  j.key("effects").begin_array();
  for (const CEffect& e : sequence.Effects) {
    j.begin_object().member("duration", e.Duration).member("palette", static_cast<int>(e.PaletteIdRef));
    j.key("objects").begin_array();
    for (const SCompositionObject& o : e.CompositionObjects) {
      j.begin_object().member("object", static_cast<int>(o.ObjectIdRef)).member("window", static_cast<int>(o.WindowIdRef));
      j.member("x", static_cast<int>(o.CompositionObjectHorPos)).member("y", static_cast<int>(o.CompositionObjectVerPos));
      j.member("forced_on", o.ForcedOnFlag);
      j.key("crop");
      if (o.ObjectCroppedFlag) {
        j.begin_object().member("x", static_cast<int>(o.ObjectCroppingHorPos));
        j.member("y", static_cast<int>(o.ObjectCroppingVerPos)).member("width", static_cast<int>(o.ObjectCroppingWidth));
        j.member("height", static_cast<int>(o.ObjectCroppingHeight)).end_object();
      } else {
        j.null();
      }
      j.end_object();
    }
    j.end_array();
    j.end_object();
  }
  j.end_array();
  j.end_object();
}

void WriteComposition(JsonWriter& j, const CIcData& ic, const SShowDisplaySet& ds) {
  j.begin_object();
  j.member("stream_model", ic.StreamModel ? "preloaded" : "multiplexed");
  j.member("user_interface_model", ic.UserInterfaceModel ? "pop_up" : "always_on");
  if (ic.StreamModel) {
    j.key("composition_time_out_pts").null();
    j.key("selection_time_out_pts").null();
  } else {
    j.member("composition_time_out_pts", ic.CompositionTimeOutPts);
    j.member("selection_time_out_pts", ic.SelectionTimeOutPts);
  }
  j.member("user_time_out_duration", ic.UserTimeOutDuration);
  j.key("pages").begin_array();
  for (const CPage& p : ic.Pages) {
    j.begin_object();
    j.member("id", p.PageId).member("version", static_cast<int>(p.Version));
    j.member("uo_mask_table", fmt::format("{:02X}", fmt::join(p.UMT, "")));
    j.member("animation_frame_rate_code", static_cast<int>(p.AnimationFrameRateCode));
    j.member("palette", p.PaletteIdRef);
    j.member("default_selected_button", p.DefaultSelectedButtonId);
    j.member("default_activated_button", p.DefaultActivatedButtonId);
    WriteEffects(j, "in_effects", p.InEffects);
    WriteEffects(j, "out_effects", p.OutEffects);
    j.key("bogs").begin_array();
    for (const CBog& bog : p.Bogs) {
      j.begin_object().member("default_button", bog.DefaultButtonIdRef);
      j.key("buttons").begin_array();
      for (const CBdButton& b : bog.Buttons) WriteButton(j, b, ds.ButtonSize(b));
      j.end_array();
      j.end_object();
    }
    j.end_array();
    j.end_object();
  }
  j.end_array();
  j.end_object();
}

void WriteDisplaySet(JsonWriter& j, const SShowDisplaySet& ds) {
  j.begin_object();
  j.member("ds", ds.number).member("composition_number", ds.composition_number);
  j.member("composition_state", ds.composition_state);
  j.member("composition_state_text", CompositionStateText(ds.composition_state));
  j.member("pts", ds.pts).member("dts", ds.dts);
  j.key("composition");
  if (ds.composition) {
    WriteComposition(j, *ds.composition, ds);
  } else {
    j.null();
    j.member("composition_error", ds.composition_error);
  }
  j.key("palettes").begin_array();
  for (const SShowPalette& p : ds.palettes) {
    j.begin_object().member("id", p.id).member("version", p.version).member("entries", p.entries).end_object();
  }
  j.end_array();
  j.key("objects").begin_array();
  for (const SShowObject& o : ds.objects) {
    j.begin_object();
    j.member("id", static_cast<int>(o.id)).member("width", o.width).member("height", o.height);
    j.member("fragments", o.fragments).member("palette", o.palette_id);
    j.key("used_by").begin_array();
    for (const SShowObjectUse& u : o.used_by) {
      j.begin_object().member("page", u.page_id);
      if (u.button_id >= 0) {
        j.member("button", u.button_id).member("state", u.state);
      } else {
        j.member("effect", u.state).member("number", u.effect);
      }
      j.end_object();
    }
    j.end_array();
    j.key("picture");
    if (o.picture.empty()) {
      j.null();
    } else {
      j.value(o.picture);
    }
    if (!o.copies.empty()) j.member("copies", o.copies);
    if (!o.copy_of.empty()) j.member("copy_of", o.copy_of);
    j.end_object();
  }
  j.end_array();
  j.end_object();
}

}  // namespace

std::string MenuReportJson(const SMenuReport& report) {
  JsonWriter j;
  j.begin_object();
  j.member("format", "veld-show").member("version", kMenuReportJsonVersion);
  j.member("source", report.source.string());
  j.key("clips").begin_array();
  for (const SShowClip& c : report.clips) {
    j.begin_object();
    j.member("clip", c.name).member("stream_file", c.stream_path.string());
    j.key("playlists").begin_array();
    for (const SShowPlaylistUse& u : c.playlists) {
      j.begin_object().member("playlist", fmt::format("{:05d}", u.playlist)).member("kind", KindName(u.kind));
      if (u.kind == SShowPlaylistUse::Kind::kSubPath) j.member("sub_path", u.sub_path);
      j.member("item", u.item);
      if (u.kind == SShowPlaylistUse::Kind::kAngle) j.member("angle", u.angle);
      j.end_object();
    }
    j.end_array();
    j.key("ig_streams").begin_array();
    for (const SShowStream& s : c.streams) {
      j.begin_object();
      j.member("pid", static_cast<int>(s.pid)).member("language", s.language);
      j.member("user_interface_model", s.popup ? "pop_up" : "always_on");
      j.member("stream_model", s.preloaded ? "preloaded" : "multiplexed");
      j.key("video").begin_object().member("width", s.width).member("height", s.height);
      j.member("frame_rate", s.frame_rate).member("frame_rate_text", FrameRateText(s.frame_rate)).end_object();
      j.key("epochs").begin_array();
      int e = 0;
      for (const auto& sets : s.epochs) {
        j.begin_object().member("epoch", ++e);
        j.key("display_sets").begin_array();
        for (const SShowDisplaySet& ds : sets) WriteDisplaySet(j, ds);
        j.end_array();
        j.end_object();
      }
      j.end_array();
      j.end_object();
    }
    j.end_array();
    j.end_object();
  }
  j.end_array();
  j.end_object();
  return j.text();
}

}  // namespace veld
