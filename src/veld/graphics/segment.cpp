// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/segment.h"

#include <fmt/format.h>

#include <array>

namespace veld {

namespace {

template <typename T>
std::size_t WriteWith(const T& element, Bytes* out) {
  Bytes scratch;
  ByteWriter w(out ? *out : scratch);
  const std::size_t start = w.pos();
  element.Write(w);
  return w.pos() - start;
}

}  // namespace

bool IsSegmentType(std::uint8_t type) {
  switch (type) {
    case kSegmentPds:
    case kSegmentOds:
    case kSegmentPcs:
    case kSegmentWds:
    case kSegmentIcs:
    case kSegmentEnd:
      return true;
    default:
      return false;
  }
}

std::string_view CompositionStateText(int state) {
  static constexpr std::array<std::string_view, 4> kTexts = {"Normal Case", "Acquisition Point", "Epoch Start",
                                                             "Epoch Continue"};
  return state >= 0 && state < 4 ? kTexts[static_cast<std::size_t>(state)] : std::string_view("Reserved");
}

std::string_view FrameRateText(int code) {
  static constexpr std::array<std::string_view, 8> kTexts = {"Reserved", "23.976", "24",   "25",
                                                             "29.97",    "Reserved", "50", "59.94"};
  return code >= 0 && code < 8 ? kTexts[static_cast<std::size_t>(code)] : std::string_view("Reserved");
}

std::string SegmentTypeName(std::uint8_t type) {
  switch (type) {
    case kSegmentPds:
      return "PDS";
    case kSegmentOds:
      return "ODS";
    case kSegmentPcs:
      return "PCS";
    case kSegmentWds:
      return "WDS";
    case kSegmentIcs:
      return "ICS";
    case kSegmentEnd:
      return "END";
    default:
      return fmt::format("0x{:02X}", type);
  }
}

void PrintLine(std::string& out, int indent, std::string_view name, const std::string& value) {
  out.append(static_cast<std::size_t>(indent), ' ');
  out.append(name);
  out.append(": ");
  out.append(value);
  out.push_back('\n');
}

namespace {

std::string Num(std::uint64_t v) { return std::to_string(v); }
std::string Flag(bool v) { return v ? "1" : "0"; }

void PrintDescriptors(std::string& out, int indent, const SVideoDescriptor& v, const SCompositionDescriptor& c) {
  PrintLine(out, indent, "Width", Num(v.Width));
  PrintLine(out, indent, "Height", Num(v.Height));
  PrintLine(out, indent, "FrameRate", fmt::format("{} ({})", v.FrameRate, FrameRateText(v.FrameRate)));
  PrintLine(out, indent, "CompositionNumber", Num(c.CompositionNumber));
  PrintLine(out, indent, "CompositionState",
            fmt::format("{} ({})", c.CompositionState, CompositionStateText(c.CompositionState)));
}

}  // namespace

void SVideoDescriptor::Read(ByteReader& r) {
  Width = r.u16();
  Height = r.u16();
  const std::uint8_t b = r.u8();
  FrameRate = b >> 4;
  Reserved = b & 0x0F;
}

void SVideoDescriptor::Write(ByteWriter& w) const {
  w.u16(Width);
  w.u16(Height);
  w.u8(static_cast<std::uint8_t>(((FrameRate & 0x0F) << 4) | (Reserved & 0x0F)));
}

void SCompositionDescriptor::Read(ByteReader& r) {
  CompositionNumber = r.u16();
  const std::uint8_t b = r.u8();
  CompositionState = b >> 6;
  Reserved = b & 0x3F;
}

void SCompositionDescriptor::Write(ByteWriter& w) const {
  w.u16(CompositionNumber);
  w.u8(static_cast<std::uint8_t>(((CompositionState & 0x03) << 6) | (Reserved & 0x3F)));
}

void SWindow::Read(ByteReader& r) {
  WindowID = r.u8();
  HorPos = r.u16();
  VerPos = r.u16();
  Width = r.u16();
  Height = r.u16();
}

void SWindow::Write(ByteWriter& w) const {
  w.u8(WindowID);
  w.u16(HorPos);
  w.u16(VerPos);
  w.u16(Width);
  w.u16(Height);
}

void SWindow::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "WindowID", Num(WindowID));
  PrintLine(out, indent, "HorPos", Num(HorPos));
  PrintLine(out, indent, "VerPos", Num(VerPos));
  PrintLine(out, indent, "Width", Num(Width));
  PrintLine(out, indent, "Height", Num(Height));
}

long SWindow::Parse(ByteSpan data, std::string* error) { return ParseWith(*this, data, "window", error); }
std::size_t SWindow::Write(Bytes* out) const { return WriteWith(*this, out); }

void SCompositionObject::Read(ByteReader& r) {
  ObjectIdRef = r.u16();
  WindowIdRef = r.u8();
  const std::uint8_t b = r.u8();
  ObjectCroppedFlag = (b & 0x80) != 0;
  ForcedOnFlag = (b & 0x40) != 0;
  Reserved = b & 0x3F;
  CompositionObjectHorPos = r.u16();
  CompositionObjectVerPos = r.u16();
  if (ObjectCroppedFlag) {
    ObjectCroppingHorPos = r.u16();
    ObjectCroppingVerPos = r.u16();
    ObjectCroppingWidth = r.u16();
    ObjectCroppingHeight = r.u16();
  }
}

void SCompositionObject::Write(ByteWriter& w) const {
  w.u16(ObjectIdRef);
  w.u8(WindowIdRef);
  w.u8(static_cast<std::uint8_t>((ObjectCroppedFlag ? 0x80 : 0) | (ForcedOnFlag ? 0x40 : 0) | (Reserved & 0x3F)));
  w.u16(CompositionObjectHorPos);
  w.u16(CompositionObjectVerPos);
  if (ObjectCroppedFlag) {
    w.u16(ObjectCroppingHorPos);
    w.u16(ObjectCroppingVerPos);
    w.u16(ObjectCroppingWidth);
    w.u16(ObjectCroppingHeight);
  }
}

void SCompositionObject::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "ObjectIdRef", Num(ObjectIdRef));
  PrintLine(out, indent, "WindowIdRef", Num(WindowIdRef));
  PrintLine(out, indent, "ObjectCroppedFlag", Flag(ObjectCroppedFlag));
  PrintLine(out, indent, "ForcedOnFlag", Flag(ForcedOnFlag));
  PrintLine(out, indent, "CompositionObjectHorPos", Num(CompositionObjectHorPos));
  PrintLine(out, indent, "CompositionObjectVerPos", Num(CompositionObjectVerPos));
  if (ObjectCroppedFlag) {
    PrintLine(out, indent, "ObjectCroppingHorPos", Num(ObjectCroppingHorPos));
    PrintLine(out, indent, "ObjectCroppingVerPos", Num(ObjectCroppingVerPos));
    PrintLine(out, indent, "ObjectCroppingWidth", Num(ObjectCroppingWidth));
    PrintLine(out, indent, "ObjectCroppingHeight", Num(ObjectCroppingHeight));
  }
}

long SCompositionObject::Parse(ByteSpan data, std::string* error) {
  return ParseWith(*this, data, "composition object", error);
}
std::size_t SCompositionObject::Write(Bytes* out) const { return WriteWith(*this, out); }

long CSegmentBase::Parse(ByteSpan body, std::string* error) {
  try {
    ByteReader r(body, "body");  // named after the segment by the caller
    ReadBody(r);
    return static_cast<long>(r.pos());
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return -1;
  }
}

std::size_t CSegmentBase::Write(Bytes& out) const {
  const std::size_t start = out.size();
  ByteWriter w(out);
  w.u8(SegmentType);
  w.u16(0);  // length, patched below
  if (!WriteBody(w) || out.size() - start - 3 > kMaxSegmentBody) {
    out.resize(start);
    return 0;
  }
  w.patch_u16(start + 1, static_cast<std::uint16_t>(out.size() - start - 3));
  return out.size() - start;
}

void CSegmentBase::Print(std::string& out, int indent) const {
  PrintLine(out, indent, "SegmentType", fmt::format("0x{:02X} ({})", SegmentType, SegmentTypeName(SegmentType)));
  PrintLine(out, indent, "SegmentLength", Num(SegmentLength));
  PrintLine(out, indent, "PTS", Num(PTS));
  PrintLine(out, indent, "DTS", Num(DTS));
  PrintBody(out, indent);
}

void CSegmentBase::CopyFrom(const CSegmentBase& other) {
  SegmentType = other.SegmentType;
  SegmentLength = other.SegmentLength;
  DTS = other.DTS;
  PTS = other.PTS;
}

void CIcs::ReadBody(ByteReader& r) {
  Video.Read(r);
  Composition.Read(r);
  const std::uint8_t seq = r.u8();
  FirstFlag = (seq & 0x80) != 0;
  LastFlag = (seq & 0x40) != 0;
  SequenceReserved = seq & 0x3F;
  const ByteSpan rest = r.bytes(r.remaining());
  Fragment.assign(rest.begin(), rest.end());
}

bool CIcs::WriteBody(ByteWriter& w) const {
  Video.Write(w);
  Composition.Write(w);
  w.u8(static_cast<std::uint8_t>((FirstFlag ? 0x80 : 0) | (LastFlag ? 0x40 : 0) | (SequenceReserved & 0x3F)));
  w.bytes(Fragment);
  return true;
}

void CIcs::PrintBody(std::string& out, int indent) const {
  PrintDescriptors(out, indent, Video, Composition);
  PrintLine(out, indent, "FirstFlag", Flag(FirstFlag));
  PrintLine(out, indent, "LastFlag", Flag(LastFlag));
  PrintLine(out, indent, "FragmentSize", Num(FragmentSize()));
}

SPaletteEntry& CPds::AddEntry() { return Entries.emplace_back(SPaletteEntry{255, 255, 255, 255, 255}); }

void CPds::ReadBody(ByteReader& r) {
  PaletteId = r.u8();
  PaletteVersion = r.u8();
  Entries.clear();
  Entries.reserve(r.remaining() / 5);
  while (!r.at_end()) {
    SPaletteEntry e{};
    e.id = r.u8();
    e.y = r.u8();
    e.cr = r.u8();
    e.cb = r.u8();
    e.t = r.u8();
    Entries.push_back(e);
  }
}

bool CPds::WriteBody(ByteWriter& w) const {
  w.u8(PaletteId);
  w.u8(PaletteVersion);
  // Every entry, all 256 of a full palette included; a list too long for the segment length makes
  // Write refuse the segment.
  for (const SPaletteEntry& e : Entries) {
    w.u8(e.id);
    w.u8(e.y);
    w.u8(e.cr);
    w.u8(e.cb);
    w.u8(e.t);
  }
  return true;
}

void CPds::PrintBody(std::string& out, int indent) const {
  PrintLine(out, indent, "PaletteId", Num(PaletteId));
  PrintLine(out, indent, "PaletteVersion", Num(PaletteVersion));
  PrintLine(out, indent, "PaletteEntryCount", Num(PaletteEntryCount()));
  for (const auto& e : Entries) {
    PrintLine(out, indent + 2, fmt::format("Entry {}", e.id), fmt::format("Y {} Cr {} Cb {} T {}", e.y, e.cr, e.cb, e.t));
  }
}

void COds::ReadBody(ByteReader& r) {
  ObjectId = r.u16();
  ObjectVersion = r.u8();
  const std::uint8_t seq = r.u8();
  FirstFlag = (seq & 0x80) != 0;
  LastFlag = (seq & 0x40) != 0;
  Reserved = seq & 0x3F;
  const ByteSpan rest = r.bytes(r.remaining());
  Fragment.assign(rest.begin(), rest.end());
}

bool COds::WriteBody(ByteWriter& w) const {
  w.u16(ObjectId);
  w.u8(ObjectVersion);
  w.u8(static_cast<std::uint8_t>((FirstFlag ? 0x80 : 0) | (LastFlag ? 0x40 : 0) | (Reserved & 0x3F)));
  w.bytes(Fragment);
  return true;
}

void COds::PrintBody(std::string& out, int indent) const {
  PrintLine(out, indent, "ObjectId", Num(ObjectId));
  PrintLine(out, indent, "ObjectVersion", Num(ObjectVersion));
  PrintLine(out, indent, "FirstFlag", Flag(FirstFlag));
  PrintLine(out, indent, "LastFlag", Flag(LastFlag));
  PrintLine(out, indent, "FragmentSize", Num(FragmentSize()));
}

void CPcs::ReadBody(ByteReader& r) {
  Video.Read(r);
  Composition.Read(r);
  PaletteUpdateFlag = (r.u8() & 0x80) != 0;
  PaletteIdRef = r.u8();
  const std::uint8_t n = r.u8();
  CompositionObjects.clear();
  CompositionObjects.resize(n);
  for (auto& o : CompositionObjects) o.Read(r);
}

bool CPcs::WriteBody(ByteWriter& w) const {
  if (CompositionObjects.size() > 0xFF) return false;
  Video.Write(w);
  Composition.Write(w);
  w.u8(PaletteUpdateFlag ? 0x80 : 0x00);
  w.u8(PaletteIdRef);
  w.u8(static_cast<std::uint8_t>(CompositionObjects.size()));
  for (const auto& o : CompositionObjects) o.Write(w);
  return true;
}

void CPcs::PrintBody(std::string& out, int indent) const {
  PrintDescriptors(out, indent, Video, Composition);
  PrintLine(out, indent, "PaletteUpdateFlag", Flag(PaletteUpdateFlag));
  PrintLine(out, indent, "PaletteIdRef", Num(PaletteIdRef));
  PrintLine(out, indent, "NumberOfCompositionObjects", Num(CompositionObjects.size()));
  for (const auto& o : CompositionObjects) o.Print(out, indent + 2);
}

void CWds::ReadBody(ByteReader& r) {
  const std::uint8_t n = r.u8();
  r.need(std::size_t{n} * 9);
  Windows.clear();
  Windows.resize(n);
  for (auto& win : Windows) win.Read(r);
}

bool CWds::WriteBody(ByteWriter& w) const {
  if (Windows.size() > kMaxWindows) return false;
  w.u8(static_cast<std::uint8_t>(Windows.size()));
  for (const auto& win : Windows) win.Write(w);
  return true;
}

void CWds::PrintBody(std::string& out, int indent) const {
  PrintLine(out, indent, "NumberOfWindows", Num(Windows.size()));
  for (const auto& win : Windows) win.Print(out, indent + 2);
}

}  // namespace veld
