// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/ic_data.h"

#include <fmt/format.h>
#include <fmt/ranges.h>

#include <algorithm>

namespace veld {

namespace {

template <typename T, typename... Options>
std::size_t WriteWith(const T& element, Bytes* out, const Options&... options) {
  Bytes scratch;
  Bytes& target = out ? *out : scratch;
  const std::size_t start = target.size();
  try {
    ByteWriter w(target);
    element.Write(w, options...);
  } catch (const CompositionTooLarge&) {
    target.resize(start);
    return 0;
  }
  return target.size() - start;
}

// A list size as its 8-bit count field.
std::uint8_t Count8(std::size_t n, const char* what) {
  if (n > 0xFF) throw CompositionTooLarge(fmt::format("{} {} do not fit a count of 255", n, what));
  return static_cast<std::uint8_t>(n);
}

// Ids are 16-bit fields held in an int; an unset id (-1) is written as 0xFFFF.
std::uint16_t Id16(int id) { return static_cast<std::uint16_t>(id); }

// Checks that a count of items of at least min_size bytes each can be present before allocating them.
void NeedItems(const ByteReader& r, std::size_t count, std::size_t min_size) { r.need(count * min_size); }

void ReadState(ByteReader& r, CButtonStateInfo& s, bool has_sound, bool has_repeat) {
  if (has_sound) s.SoundId = r.u8();
  s.StartObjectId = r.u16();
  s.EndObjectId = r.u16();
  if (has_repeat) s.RepeatFlag = (r.u8() & 0x80) != 0;
}

void WriteState(ByteWriter& w, const CButtonStateInfo& s, bool has_sound, bool has_repeat) {
  if (has_sound) w.u8(s.SoundId);
  w.u16(Id16(s.StartObjectId));
  w.u16(Id16(s.EndObjectId));
  if (has_repeat) w.u8(s.RepeatFlag ? 0x80 : 0x00);
}

std::string Num(std::int64_t v) { return std::to_string(v); }
std::string Flag(bool v) { return v ? "1" : "0"; }

void Heading(std::string& out, int indent, const std::string& name) {
  out.append(static_cast<std::size_t>(indent), ' ');
  out += name;
  out += '\n';
}

void PrintState(std::string& out, int indent, const char* name, const CButtonStateInfo& s, bool has_sound,
                bool has_repeat) {
  Heading(out, indent, name);
  if (has_sound) PrintLine(out, indent + 2, "SoundId", Num(s.SoundId));
  PrintLine(out, indent + 2, "StartObjectId", Num(s.StartObjectId));
  PrintLine(out, indent + 2, "EndObjectId", Num(s.EndObjectId));
  if (has_repeat) PrintLine(out, indent + 2, "RepeatFlag", Flag(s.RepeatFlag));
}

}  // namespace

// ---------------------------------------------------------------- commands and button types

NavCommand BreakCommand() { return NavCommand{0x00, 0x02, 0x00, 0x00, 0, 0, 0, 0, 0, 0, 0, 0}; }

NavCommand MarkerCommand(std::uint8_t button_type, std::uint32_t type_parameter) {
  NavCommand c{};
  c[0] = c[1] = c[2] = c[3] = 0xFF;
  store_be32(c.data() + 4, type_parameter);
  c[11] = button_type;
  return c;
}

bool IsMarkerCommand(const NavCommand& command) {
  return command[0] == 0xFF && command[1] == 0xFF && command[2] == 0xFF && command[3] == 0xFF;
}

std::string_view ButtonTypeText(int type) {
  static constexpr std::array<std::string_view, kButtonTypeCount> kTexts = {
      "Self Defined",  "Chapters",          "Children",         "Playall",      "Parents",
      "GrandParents",  "Repeat",            "Repeat Small",     "Go Head",      "Previous",
      "Next",          "Previous Small",    "Next Small",       "GoTo",         "GoTo Small",
      "Resume",        "Break",             "Terminate Playlist", "Close Popup Menu", "Still On",
      "Still Off",     "Top Menu",          "Setup Menu",       "Chapter Menu", "Audio Menu",
      "Angle Menu",    "Subtitle Menu",     "Global Menu"};
  return type >= 0 && type < kButtonTypeCount ? kTexts[static_cast<std::size_t>(type)] : std::string_view();
}

// ---------------------------------------------------------------- effects

void CEffect::Read(ByteReader& r) {
  Duration = r.u24();
  PaletteIdRef = r.u8();
  const std::uint8_t n = r.u8();
  NeedItems(r, n, 8);
  CompositionObjects.assign(n, SCompositionObject{});
  for (auto& o : CompositionObjects) o.Read(r);
}

void CEffect::Write(ByteWriter& w, std::uint32_t min_duration) const {
  const std::uint8_t n = Count8(CompositionObjects.size(), "composition objects");
  w.u24(std::max(Duration, min_duration) & 0xFFFFFF);
  w.u8(PaletteIdRef);
  w.u8(n);
  for (const auto& o : CompositionObjects) o.Write(w);
}

void CEffect::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "Duration", Num(Duration));
  PrintLine(out, indent, "PaletteIdRef", Num(PaletteIdRef));
  PrintLine(out, indent, "NumberOfCompositionObjects", Num(static_cast<std::int64_t>(CompositionObjects.size())));
  for (const auto& o : CompositionObjects) {
    Heading(out, indent, "Composition Object");
    o.Print(out, indent + 2);
  }
}

long CEffect::Parse(ByteSpan data, std::string* error) { return ParseWith(*this, data, "effect", error); }
std::size_t CEffect::Write(Bytes* out) const { return WriteWith(*this, out, std::uint32_t{0}); }

std::uint32_t CEffectSequence::DurationFloor() const {
  // 0.005625 ticks per pixel = 9 / 1600.
  std::uint64_t sum = 0;
  for (const auto& win : Windows) sum += (std::uint64_t{win.Width} * win.Height * 9 + 1599) / 1600;
  return static_cast<std::uint32_t>(std::min<std::uint64_t>(sum, 0xFFFFFF));
}

void CEffectSequence::Read(ByteReader& r) {
  const std::uint8_t windows = r.u8();
  NeedItems(r, windows, 9);
  Windows.assign(windows, SWindow{});
  for (auto& win : Windows) win.Read(r);
  const std::uint8_t effects = r.u8();
  NeedItems(r, effects, 5);
  Effects.assign(effects, CEffect{});
  for (auto& e : Effects) e.Read(r);
}

void CEffectSequence::Write(ByteWriter& w) const {
  w.u8(Count8(Windows.size(), "windows"));
  for (const auto& win : Windows) win.Write(w);
  w.u8(Count8(Effects.size(), "effects"));
  const std::uint32_t floor = DurationFloor();
  for (const auto& e : Effects) e.Write(w, floor);
}

void CEffectSequence::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "NumberOfWindows", Num(static_cast<std::int64_t>(Windows.size())));
  for (const auto& win : Windows) {
    Heading(out, indent, "Window");
    win.Print(out, indent + 2);
  }
  PrintLine(out, indent, "NumberOfEffects", Num(static_cast<std::int64_t>(Effects.size())));
  for (const auto& e : Effects) {
    Heading(out, indent, "Effect");
    e.Print(out, indent + 2);
  }
}

long CEffectSequence::Parse(ByteSpan data, std::string* error) {
  return ParseWith(*this, data, "effect sequence", error);
}
std::size_t CEffectSequence::Write(Bytes* out) const { return WriteWith(*this, out); }

// ---------------------------------------------------------------- buttons

bool CButtonStateInfo::Covers(int object_id) const {
  if (object_id == StartObjectId || object_id == EndObjectId) return true;
  if (StartObjectId == -1 || EndObjectId == -1) return false;
  return object_id >= std::min(StartObjectId, EndObjectId) && object_id <= std::max(StartObjectId, EndObjectId);
}

void CBdButton::Read(ByteReader& r) {
  Id = r.u16();
  NumbericValue = r.u16();
  AutoActionFlag = (r.u8() & 0x80) != 0;
  HorPos = r.u16();
  VerPos = r.u16();
  Neighbors.Up = r.u16();
  Neighbors.Down = r.u16();
  Neighbors.Left = r.u16();
  Neighbors.Right = r.u16();
  ReadState(r, Normal, false, true);
  ReadState(r, Selected, true, true);
  ReadState(r, Activated, true, false);
  const std::uint16_t n = r.u16();
  NeedItems(r, n, 12);
  Commands.commands.assign(n, NavCommand{});
  for (auto& c : Commands.commands) {
    const ByteSpan b = r.bytes(c.size());
    std::copy(b.begin(), b.end(), c.begin());
  }
  ButtonType = 0;
  TypeParameter = 0;
  if (Commands.commands.size() == kMarkedCommandCount && IsMarkerCommand(Commands.commands.back())) {
    ButtonType = Commands.commands.back()[11];
    TypeParameter = load_be32(Commands.commands.back().data() + 4);
  }
}

void CBdButton::Write(ByteWriter& w, const SIcWriteOptions& options) const {
  w.u16(Id16(Id));
  w.u16(NumbericValue);
  w.u8(AutoActionFlag ? 0x80 : 0x00);
  w.u16(HorPos);
  w.u16(VerPos);
  w.u16(Id16(Neighbors.Up));
  w.u16(Id16(Neighbors.Down));
  w.u16(Id16(Neighbors.Left));
  w.u16(Id16(Neighbors.Right));
  WriteState(w, Normal, false, true);
  WriteState(w, Selected, true, true);
  WriteState(w, Activated, true, false);
  if (ButtonType != 0 && !options.keep_commands) {
    // A typed button is written as 63 "Break" commands and the marker command of its type.
    w.u16(static_cast<std::uint16_t>(kMarkedCommandCount));
    const NavCommand brk = BreakCommand();
    for (std::size_t i = 0; i + 1 < kMarkedCommandCount; ++i) w.bytes(brk);
    w.bytes(MarkerCommand(ButtonType, TypeParameter));
    return;
  }
  if (Commands.commands.size() > 0xFFFF) throw CompositionTooLarge("more than 65,535 commands");
  w.u16(static_cast<std::uint16_t>(Commands.commands.size()));
  for (const auto& c : Commands.commands) w.bytes(c);
}

void CBdButton::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "Id", Num(Id));
  if (ButtonType != 0) {
    PrintLine(out, indent, "ButtonType", fmt::format("{} ({})", ButtonType, ButtonTypeText(ButtonType)));
    PrintLine(out, indent, "TypeParameter", Num(TypeParameter));
  }
  PrintLine(out, indent, "NumbericValue", Num(NumbericValue));
  PrintLine(out, indent, "AutoActionFlag", Flag(AutoActionFlag));
  PrintLine(out, indent, "HorPos", Num(HorPos));
  PrintLine(out, indent, "VerPos", Num(VerPos));
  PrintLine(out, indent, "Up", Num(Neighbors.Up));
  PrintLine(out, indent, "Down", Num(Neighbors.Down));
  PrintLine(out, indent, "Left", Num(Neighbors.Left));
  PrintLine(out, indent, "Right", Num(Neighbors.Right));
  PrintState(out, indent, "Normal", Normal, false, true);
  PrintState(out, indent, "Selected", Selected, true, true);
  PrintState(out, indent, "Activated", Activated, true, false);
  PrintLine(out, indent, "NumberOfCommands", Num(static_cast<std::int64_t>(Commands.commands.size())));
  for (const auto& c : Commands.commands) PrintLine(out, indent + 2, "Command", disassemble(c));
}

long CBdButton::Parse(ByteSpan data, std::string* error) { return ParseWith(*this, data, "button", error); }
std::size_t CBdButton::Write(Bytes* out, const SIcWriteOptions& options) const {
  return WriteWith(*this, out, options);
}

void CBog::Read(ByteReader& r) {
  DefaultButtonIdRef = r.u16();
  const std::uint8_t n = r.u8();
  NeedItems(r, n, 35);
  Buttons.assign(n, CBdButton{});
  for (auto& b : Buttons) b.Read(r);
}

void CBog::Write(ByteWriter& w, const SIcWriteOptions& options) const {
  const std::uint8_t n = Count8(Buttons.size(), "buttons");
  w.u16(Id16(DefaultButtonIdRef));
  w.u8(n);
  for (const auto& b : Buttons) b.Write(w, options);
}

void CBog::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "DefaultButtonIdRef", Num(DefaultButtonIdRef));
  PrintLine(out, indent, "NumberOfButtons", Num(static_cast<std::int64_t>(Buttons.size())));
  for (const auto& b : Buttons) {
    Heading(out, indent, fmt::format("Button#{}", b.Id));
    b.Print(out, indent + 2);
  }
}

long CBog::Parse(ByteSpan data, std::string* error) { return ParseWith(*this, data, "button overlap group", error); }
std::size_t CBog::Write(Bytes* out, const SIcWriteOptions& options) const { return WriteWith(*this, out, options); }

// ---------------------------------------------------------------- pages

bool CPage::UsesObject(int object_id) const {
  for (const auto& bog : Bogs) {
    for (const auto& b : bog.Buttons) {
      if (b.Normal.Covers(object_id) || b.Selected.Covers(object_id) || b.Activated.Covers(object_id)) {
        return true;
      }
    }
  }
  for (const CEffectSequence* seq : {&InEffects, &OutEffects}) {
    for (const auto& e : seq->Effects) {
      for (const auto& o : e.CompositionObjects) {
        if (o.ObjectIdRef == object_id) return true;
      }
    }
  }
  return false;
}

void CPage::Read(ByteReader& r) {
  PageId = r.u8();
  Version = r.u8();
  const ByteSpan umt = r.bytes(UMT.size());
  std::copy(umt.begin(), umt.end(), UMT.begin());
  InEffects.Read(r);
  OutEffects.Read(r);
  AnimationFrameRateCode = r.u8();
  DefaultSelectedButtonId = r.u16();
  DefaultActivatedButtonId = r.u16();
  PaletteIdRef = r.u8();
  const std::uint8_t n = r.u8();
  NeedItems(r, n, 3);
  Bogs.assign(n, CBog{});
  for (auto& bog : Bogs) bog.Read(r);
}

void CPage::Write(ByteWriter& w, const SIcWriteOptions& options) const {
  const std::uint8_t n = Count8(Bogs.size(), "button overlap groups");
  w.u8(static_cast<std::uint8_t>(PageId));
  w.u8(Version);
  w.bytes(UMT);
  InEffects.Write(w);
  OutEffects.Write(w);
  w.u8(AnimationFrameRateCode);
  w.u16(Id16(DefaultSelectedButtonId));
  w.u16(Id16(DefaultActivatedButtonId));
  w.u8(static_cast<std::uint8_t>(PaletteIdRef));
  w.u8(n);
  for (const auto& bog : Bogs) bog.Write(w, options);
}

void CPage::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "PageId", Num(PageId));
  PrintLine(out, indent, "Version", Num(Version));
  PrintLine(out, indent, "UMT", fmt::format("{:02X}", fmt::join(UMT, " ")));
  Heading(out, indent, "In Effect");
  InEffects.Print(out, indent + 2);
  Heading(out, indent, "Out Effect");
  OutEffects.Print(out, indent + 2);
  PrintLine(out, indent, "AnimationFrameRateCode", Num(AnimationFrameRateCode));
  PrintLine(out, indent, "DefaultSelectedButtonId", Num(DefaultSelectedButtonId));
  PrintLine(out, indent, "DefaultActivatedButtonId", Num(DefaultActivatedButtonId));
  PrintLine(out, indent, "PaletteIdRef", Num(PaletteIdRef));
  PrintLine(out, indent, "NumberOfBogs", Num(static_cast<std::int64_t>(Bogs.size())));
  for (std::size_t i = 0; i < Bogs.size(); ++i) {
    Heading(out, indent, fmt::format("Bog#{}", i));
    Bogs[i].Print(out, indent + 2);
  }
}

long CPage::Parse(ByteSpan data, std::string* error) { return ParseWith(*this, data, "page", error); }
std::size_t CPage::Write(Bytes* out, const SIcWriteOptions& options) const { return WriteWith(*this, out, options); }

// ---------------------------------------------------------------- composition

void CIcData::Read(ByteReader& outer) {
  CompositionLength = outer.u24();
  ByteReader r = outer.sub(CompositionLength, "interactive composition");
  const std::uint8_t models = r.u8();
  StreamModel = (models & 0x80) != 0;
  UserInterfaceModel = (models & 0x40) != 0;
  CompositionTimeOutPts = 0;
  SelectionTimeOutPts = 0;
  if (!StreamModel) {
    CompositionTimeOutPts = ((std::uint64_t{r.u8()} & 0x01) << 32) | r.u32();
    SelectionTimeOutPts = ((std::uint64_t{r.u8()} & 0x01) << 32) | r.u32();
  }
  UserTimeOutDuration = r.u24();
  const std::uint8_t n = r.u8();
  NeedItems(r, n, 20);
  Pages.assign(n, CPage{});
  for (auto& page : Pages) page.Read(r);
}

void CIcData::Write(ByteWriter& w, const SIcWriteOptions& options) const {
  const std::uint8_t n = Count8(Pages.size(), "pages");
  const std::size_t start = w.pos();
  w.u24(0);  // length, patched below
  w.u8(static_cast<std::uint8_t>((StreamModel ? 0x80 : 0) | (UserInterfaceModel ? 0x40 : 0)));
  if (!StreamModel) {
    w.u8(static_cast<std::uint8_t>((CompositionTimeOutPts >> 32) & 0x01));
    w.u32(static_cast<std::uint32_t>(CompositionTimeOutPts));
    w.u8(static_cast<std::uint8_t>((SelectionTimeOutPts >> 32) & 0x01));
    w.u32(static_cast<std::uint32_t>(SelectionTimeOutPts));
  }
  w.u24(UserTimeOutDuration & 0xFFFFFF);
  w.u8(n);
  for (const auto& page : Pages) page.Write(w, options);
  const std::size_t length = w.pos() - start - 3;
  if (length > 0xFFFFFF) throw CompositionTooLarge("the composition exceeds 16 MiB");
  w.patch_u8(start, static_cast<std::uint8_t>(length >> 16));
  w.patch_u16(start + 1, static_cast<std::uint16_t>(length));
}

long CIcData::Parse(ByteSpan data, std::string* error) {
  return ParseWith(*this, data, "interactive composition", error);
}
std::size_t CIcData::Write(Bytes* out, const SIcWriteOptions& options) const {
  return WriteWith(*this, out, options);
}

void CIcData::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "StreamModel", Flag(StreamModel));
  PrintLine(out, indent, "UserInterfaceModel", Flag(UserInterfaceModel));
  if (!StreamModel) {
    PrintLine(out, indent, "CompositionTimeOutPts", Num(static_cast<std::int64_t>(CompositionTimeOutPts)));
    PrintLine(out, indent, "SelectionTimeOutPts", Num(static_cast<std::int64_t>(SelectionTimeOutPts)));
  }
  PrintLine(out, indent, "UserTimeOutDuration", Num(UserTimeOutDuration));
  PrintLine(out, indent, "NumberOfPages", Num(static_cast<std::int64_t>(Pages.size())));
  for (std::size_t i = 0; i < Pages.size(); ++i) {
    Heading(out, indent, fmt::format("Page#{}", i));
    Pages[i].Print(out, indent + 2);
  }
}

bool CIcData::operator==(const CIcData& other) const {
  return StreamModel == other.StreamModel && UserInterfaceModel == other.UserInterfaceModel &&
         CompositionTimeOutPts == other.CompositionTimeOutPts && SelectionTimeOutPts == other.SelectionTimeOutPts &&
         UserTimeOutDuration == other.UserTimeOutDuration && Pages == other.Pages;
}

}  // namespace veld
