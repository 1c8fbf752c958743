// SPDX-License-Identifier: GPL-3.0-or-later
// The text form of the menu report: headings in the user's language, fields by the format's own names
// ("PageId", "DefaultSelectedButtonId", ...), commands in the navigation-command text form.
#include <fmt/format.h>
#include <fmt/ranges.h>

#include "veld/base/messages.h"
#include "veld/disc/nav_cmd.h"
#include "veld/graphics/segment.h"
#include "veld/pipeline/show.h"

namespace veld {
namespace {

class Text {
 public:
  template <typename... Args>
  void line(int indent, fmt::format_string<Args...> f, Args&&... args) {
    out_.append(static_cast<std::size_t>(indent) * 2, ' ');
    out_ += fmt::format(f, std::forward<Args>(args)...);
    out_ += '\n';
  }
  std::string take() { return std::move(out_); }

 private:
  std::string out_;
};

std::string Word(int id) { return std::string(message_text(id)); }

std::string PlaylistUse(const SShowPlaylistUse& u) {
  switch (u.kind) {
    case SShowPlaylistUse::Kind::kAngle:
      return format_message(kStrAngle, u.item, u.angle);
    case SShowPlaylistUse::Kind::kSubPath:
      return format_message(kStrSubPath, u.sub_path, u.item);
    case SShowPlaylistUse::Kind::kPlayItem:
      break;
  }
  return format_message(kStrPlayItem, u.item);
}

std::string Crop(const SCompositionObject& o) {
  if (!o.ObjectCroppedFlag) return {};
  return fmt::format(", crop {},{} {} x {}", o.ObjectCroppingHorPos, o.ObjectCroppingVerPos, o.ObjectCroppingWidth,
                     o.ObjectCroppingHeight);
}

void Effects(Text& t, int indent, int heading, const CEffectSequence& seq) {
  if (seq.Windows.empty() && seq.Effects.empty()) return;
  t.line(indent, "{}", Word(heading));
  for (const SWindow& w : seq.Windows) {
    t.line(indent + 1, "{}#{}: {},{} {} x {}", Word(kStrWindow), w.WindowID, w.HorPos, w.VerPos, w.Width, w.Height);
  }
  int n = 0;
  for (const CEffect& e : seq.Effects) {
    t.line(indent + 1, "{}#{}: Duration {}, PaletteIdRef {}", Word(kStrEffect), ++n, e.Duration, e.PaletteIdRef);
    for (const SCompositionObject& o : e.CompositionObjects) {
      t.line(indent + 2, "{}: ObjectIdRef {}, WindowIdRef {}, {},{}{}{}", Word(kStrCompositionObject), o.ObjectIdRef,
             o.WindowIdRef, o.CompositionObjectHorPos, o.CompositionObjectVerPos, Crop(o),
             o.ForcedOnFlag ? ", ForcedOnFlag 1" : "");
    }
  }
}

void Button(Text& t, int indent, const CBdButton& b, SShowSize size) {
  t.line(indent, "{}#{}: NumbericValue {}, AutoActionFlag {}, {},{} {} x {}", Word(kStrButton), b.Id, b.NumbericValue,
         b.AutoActionFlag ? 1 : 0, b.HorPos, b.VerPos, size.width, size.height);
  if (b.ButtonType != 0) {
    t.line(indent + 1, "ButtonType {} ({}), TypeParameter {}", b.ButtonType, ButtonTypeText(b.ButtonType),
           b.TypeParameter);
  }
  t.line(indent + 1, "Up {}, Down {}, Left {}, Right {}", b.Neighbors.Up, b.Neighbors.Down, b.Neighbors.Left,
         b.Neighbors.Right);
  t.line(indent + 1, "Normal: StartObjectId {}, EndObjectId {}, RepeatFlag {}", b.Normal.StartObjectId,
         b.Normal.EndObjectId, b.Normal.RepeatFlag ? 1 : 0);
  t.line(indent + 1, "Selected: SoundId {}, StartObjectId {}, EndObjectId {}, RepeatFlag {}", b.Selected.SoundId,
         b.Selected.StartObjectId, b.Selected.EndObjectId, b.Selected.RepeatFlag ? 1 : 0);
  t.line(indent + 1, "Activated: SoundId {}, StartObjectId {}, EndObjectId {}", b.Activated.SoundId,
         b.Activated.StartObjectId, b.Activated.EndObjectId);
  if (b.Commands.commands.empty()) return;
  t.line(indent + 1, "{}", Word(kStrCommands));
  for (const NavCommand& c : b.Commands.commands) t.line(indent + 2, "{}", disassemble(c));
}

void Composition(Text& t, int indent, const CIcData& ic, const SShowDisplaySet& ds) {
  t.line(indent, "StreamModel {} ({}), UserInterfaceModel {} ({})", ic.StreamModel ? 1 : 0,
         Word(ic.StreamModel ? kStrPreloaded : kStrMultiplexed), ic.UserInterfaceModel ? 1 : 0,
         Word(ic.UserInterfaceModel ? kStrPopUp : kStrAlwaysOn));
  if (!ic.StreamModel) {
    t.line(indent, "CompositionTimeOutPts {}, SelectionTimeOutPts {}", ic.CompositionTimeOutPts,
           ic.SelectionTimeOutPts);
  }
  t.line(indent, "UserTimeOutDuration {}", ic.UserTimeOutDuration);
  for (const CPage& p : ic.Pages) {
    t.line(indent, "{}#{}: Version {}, PaletteIdRef {}, DefaultSelectedButtonId {}, DefaultActivatedButtonId {}",
           Word(kStrPage), p.PageId, p.Version, p.PaletteIdRef, p.DefaultSelectedButtonId, p.DefaultActivatedButtonId);
    t.line(indent + 1, "UMT {:02X}, AnimationFrameRateCode {}", fmt::join(p.UMT, " "), p.AnimationFrameRateCode);
    Effects(t, indent + 1, kStrInEffect, p.InEffects);
    Effects(t, indent + 1, kStrOutEffect, p.OutEffects);
    int n = 0;
    for (const CBog& bog : p.Bogs) {
      t.line(indent + 1, "{}#{}: DefaultButtonIdRef {}", Word(kStrBog), n++, bog.DefaultButtonIdRef);
      for (const CBdButton& b : bog.Buttons) Button(t, indent + 2, b, ds.ButtonSize(b));
    }
  }
}

std::string Use(const SShowObjectUse& u) {
  if (u.button_id >= 0) {
    const char* state = u.state[0] == 'n' ? "Normal" : u.state[0] == 's' ? "Selected" : "Activated";
    return fmt::format("{}#{} {}#{} {}", Word(kStrPage), u.page_id, Word(kStrButton), u.button_id, state);
  }
  const bool in = u.state[0] == 'i';
  return fmt::format("{}#{} {} {}", Word(kStrPage), u.page_id, Word(in ? kStrInEffect : kStrOutEffect), u.effect);
}

void DisplaySet(Text& t, int indent, const SShowDisplaySet& ds) {
  t.line(indent, "{} {}: CompositionNumber {}, CompositionState {} ({}), PTS {}, DTS {}", Word(kStrDisplaySet),
         ds.number, ds.composition_number, ds.composition_state, CompositionStateText(ds.composition_state), ds.pts,
         ds.dts);
  if (ds.composition) {
    Composition(t, indent + 1, *ds.composition, ds);
  } else {
    t.line(indent + 1, "{}", format_message(kStrNoComposition, ds.composition_error));
  }
  std::vector<std::string> palettes;
  for (const SShowPalette& p : ds.palettes) {
    palettes.push_back(fmt::format("{} (PaletteVersion {}, {} entries)", p.id, p.version, p.entries));
  }
  if (!palettes.empty()) t.line(indent + 1, "{}: {}", Word(kStrPalettes), fmt::join(palettes, "; "));
  if (ds.objects.empty()) return;
  t.line(indent + 1, "{}", Word(kStrGraphics));
  for (const SShowObject& o : ds.objects) {
    t.line(indent + 2, "ObjectId {}: {} x {}, {} ODS, PaletteIdRef {}, {}", o.id, o.width, o.height, o.fragments,
           o.palette_id,
           o.picture.empty()     ? Word(kStrNoPicture)
           : !o.copy_of.empty() ? fmt::format("{} {}", Word(kStrCopyOf), o.copy_of)
           : o.copies.empty()   ? fmt::format("{} {}", Word(kStrPicture), o.picture)
                                : fmt::format("{} {} ({} {})", Word(kStrPicture), o.picture, Word(kStrCopiesIn), o.copies));
    std::vector<std::string> uses;
    for (const SShowObjectUse& u : o.used_by) uses.push_back(Use(u));
    if (uses.empty()) {
      t.line(indent + 3, "{}", Word(kStrNotUsed));
    } else {
      t.line(indent + 3, "{}: {}", Word(kStrUsedBy), fmt::join(uses, "; "));
    }
  }
}

}  // namespace

std::string MenuReportText(const SMenuReport& report) {
  Text t;
  if (report.clips.empty()) t.line(0, "{}", Word(kMsgNoIgStream));
  for (const SShowClip& c : report.clips) {
    t.line(0, "{} {}  {}", Word(kStrClip), c.name, c.stream_path.string());
    for (const SShowPlaylistUse& u : c.playlists) {
      t.line(1, "{} {:05d}: {}", Word(kStrPlaylist), u.playlist, PlaylistUse(u));
    }
    for (const SShowStream& s : c.streams) {
      t.line(1, "{} PID 0x{:04X} ({}), {} {}, {}, {}, {} x {}, FrameRate {} ({})", Word(kStrIgStream), s.pid, s.pid,
             Word(kStrLanguage), s.language.empty() ? "-" : s.language, Word(s.popup ? kStrPopUp : kStrAlwaysOn),
             Word(s.preloaded ? kStrPreloaded : kStrMultiplexed), s.width, s.height, s.frame_rate,
             FrameRateText(s.frame_rate));
      int e = 0;
      for (const auto& sets : s.epochs) {
        t.line(2, "{} {}", Word(kStrEpoch), ++e);
        for (const SShowDisplaySet& ds : sets) DisplaySet(t, 3, ds);
      }
    }
  }
  return t.take();
}

}  // namespace veld
