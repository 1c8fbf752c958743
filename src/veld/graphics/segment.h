// SPDX-License-Identifier: GPL-3.0-or-later
// Segments of HDMV graphics streams: interactive graphics (ICS, PDS, ODS, END) and presentation
// graphics (PCS, WDS, PDS, ODS, END).
//
// Every segment is "type (8) | length (16) | body". The classes keep every field of the header bits they
// read, reserved bits included, so that an unchanged stream is written back segment for segment. The
// interactive composition inside ICS segments stays raw fragment bytes here; it is decoded on demand
// (ic_data.h).
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/graphics/palette.h"

namespace veld {

enum SegmentTypeCode : std::uint8_t {
  kSegmentPds = 0x14,  // palette definition
  kSegmentOds = 0x15,  // object definition
  kSegmentPcs = 0x16,  // presentation composition (PG only)
  kSegmentWds = 0x17,  // window definition (PG only)
  kSegmentIcs = 0x18,  // interactive composition (IG only)
  kSegmentEnd = 0x80,  // end of display set
};
bool IsSegmentType(std::uint8_t type);

// Largest segment body: the 16-bit SegmentLength.
inline constexpr std::size_t kMaxSegmentBody = 0xFFFF;

// Composition states of ICS and PCS.
enum CompositionStateCode : std::uint8_t {
  kNormalCase = 0,
  kAcquisitionPoint = 1,
  kEpochStart = 2,
  kEpochContinue = 3,
};
std::string_view CompositionStateText(int state);  // "Normal Case", "Acquisition Point", ...
std::string_view FrameRateText(int code);          // 1 "23.976" ... 7 "59.94", others "Reserved"

// Video descriptor of ICS and PCS (5 bytes).
struct SVideoDescriptor {
  std::uint16_t Width = 0;
  std::uint16_t Height = 0;
  std::uint8_t FrameRate = 0;  // 4 bits
  std::uint8_t Reserved = 0;   // low 4 bits of the frame-rate byte, kept as read
  void Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  bool operator==(const SVideoDescriptor&) const = default;
};

// Composition descriptor of ICS and PCS (3 bytes).
struct SCompositionDescriptor {
  std::uint16_t CompositionNumber = 0;
  std::uint8_t CompositionState = kEpochStart;  // 2 bits
  std::uint8_t Reserved = 0;                    // low 6 bits, kept as read
  void Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  bool operator==(const SCompositionDescriptor&) const = default;
};

// A window of a WDS or of an effect sequence (9 bytes).
struct SWindow {
  std::uint8_t WindowID = 0;
  std::uint16_t HorPos = 0;
  std::uint16_t VerPos = 0;
  std::uint16_t Width = 0;
  std::uint16_t Height = 0;

  void Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  // Bytes consumed, -1 on malformed data (reason in *error).
  long Parse(ByteSpan data, std::string* error = nullptr);
  // Appends the element to *out and returns its size; with no buffer only the size.
  std::size_t Write(Bytes* out) const;
  void Print(std::string& out, int indent) const;
  bool operator==(const SWindow&) const = default;
};

// A composition object of a PCS or of an effect (8 bytes, 16 when cropped).
struct SCompositionObject {
  std::uint16_t ObjectIdRef = 0;
  std::uint8_t WindowIdRef = 0;
  bool ObjectCroppedFlag = false;
  bool ForcedOnFlag = false;
  std::uint8_t Reserved = 0;  // low 6 bits of the flag byte, kept as read
  std::uint16_t CompositionObjectHorPos = 0;
  std::uint16_t CompositionObjectVerPos = 0;
  std::uint16_t ObjectCroppingHorPos = 0;  // the four cropping fields only when ObjectCroppedFlag
  std::uint16_t ObjectCroppingVerPos = 0;
  std::uint16_t ObjectCroppingWidth = 0;
  std::uint16_t ObjectCroppingHeight = 0;

  void Read(ByteReader& r);
  void Write(ByteWriter& w) const;
  long Parse(ByteSpan data, std::string* error = nullptr);
  std::size_t Write(Bytes* out) const;
  void Print(std::string& out, int indent) const;
  bool operator==(const SCompositionObject&) const = default;
};

// Fields common to every segment: the header as read and where it was read.
class CSegmentBase {
 public:
  explicit CSegmentBase(std::uint8_t type = 0) : SegmentType(type) {}
  virtual ~CSegmentBase() = default;

  // Frees the body data.
  virtual void Clear() {}
  // Parses the segment body (SegmentLength bytes); returns the bytes consumed, -1 when the body is
  // malformed (reason in *error). The base consumes nothing.
  long Parse(ByteSpan body, std::string* error = nullptr);
  // Appends type, recomputed length and body to out; returns the bytes appended (3 + body), 0 when the
  // segment cannot be written (out is then unchanged). The base writes only type and length.
  std::size_t Write(Bytes& out) const;
  // Appends the segment's fields as "name: value" lines, each indented by indent spaces.
  void Print(std::string& out, int indent = 0) const;
  // Copies type, length, DTS and PTS.
  void CopyFrom(const CSegmentBase& other);

  std::uint8_t SegmentType = 0;
  std::uint16_t SegmentLength = 0;
  std::uint32_t DTS = 0;
  std::uint32_t PTS = 0;
  std::uint64_t FileOffset = 0;  // offset of the type byte in the segment file

 protected:
  CSegmentBase(const CSegmentBase&) = default;
  CSegmentBase& operator=(const CSegmentBase&) = default;
  // Reads the body (throws ParseError); the reader is bounded to SegmentLength bytes.
  virtual void ReadBody(ByteReader& /*r*/) {}
  // Writes the body; false refuses the segment.
  virtual bool WriteBody(ByteWriter& /*w*/) const { return true; }
  // Appends the body's fields for Print.
  virtual void PrintBody(std::string& /*out*/, int /*indent*/) const {}
};

// The segment's display name: "PDS", "ODS", "PCS", "WDS", "ICS", "END", or "0xNN".
std::string SegmentTypeName(std::uint8_t type);
// One "name: value" line of a dump.
void PrintLine(std::string& out, int indent, std::string_view name, const std::string& value);

// Interactive composition segment: descriptors and one fragment of the interactive composition.
class CIcs : public CSegmentBase {
 public:
  static constexpr std::size_t kHeaderSize = 9;
  CIcs() : CSegmentBase(kSegmentIcs) {}
  CIcs(const CIcs&) = default;
  CIcs& operator=(const CIcs&) = default;
  void Clear() override { Fragment.clear(); }
  std::size_t FragmentSize() const { return Fragment.size(); }

  SVideoDescriptor Video;
  SCompositionDescriptor Composition;
  bool FirstFlag = true;
  bool LastFlag = true;
  std::uint8_t SequenceReserved = 0;  // low 6 bits of the sequence descriptor, kept as read
  Bytes Fragment;

 protected:
  void ReadBody(ByteReader& r) override;
  bool WriteBody(ByteWriter& w) const override;
  void PrintBody(std::string& out, int indent) const override;
};

// Palette definition segment.
class CPds : public CSegmentBase {
 public:
  CPds() : CSegmentBase(kSegmentPds) {}
  CPds(const CPds&) = default;
  CPds& operator=(const CPds&) = default;
  void Clear() override { Entries.clear(); }
  std::size_t PaletteEntryCount() const { return Entries.size(); }
  // Appends a new entry with all five bytes 255 and returns it.
  SPaletteEntry& AddEntry();

  std::uint8_t PaletteId = 0;
  std::uint8_t PaletteVersion = 0;
  std::vector<SPaletteEntry> Entries;

 protected:
  void ReadBody(ByteReader& r) override;
  bool WriteBody(ByteWriter& w) const override;
  void PrintBody(std::string& out, int indent) const override;
};

// Object definition segment: one fragment of an object's data.
class COds : public CSegmentBase {
 public:
  static constexpr std::size_t kHeaderSize = 4;
  COds() : CSegmentBase(kSegmentOds) {}
  COds(const COds&) = default;
  COds& operator=(const COds&) = default;
  void Clear() override { Fragment.clear(); }
  std::size_t FragmentSize() const { return Fragment.size(); }

  std::uint16_t ObjectId = 0;
  std::uint8_t ObjectVersion = 0;
  bool FirstFlag = true;
  bool LastFlag = true;
  std::uint8_t Reserved = 0;  // low 6 bits of the sequence descriptor, kept as read
  Bytes Fragment;

 protected:
  void ReadBody(ByteReader& r) override;
  bool WriteBody(ByteWriter& w) const override;
  void PrintBody(std::string& out, int indent) const override;
};

// Presentation composition segment (PG).
class CPcs : public CSegmentBase {
 public:
  CPcs() : CSegmentBase(kSegmentPcs) {}
  CPcs(const CPcs&) = default;
  CPcs& operator=(const CPcs&) = default;
  void Clear() override { CompositionObjects.clear(); }

  SVideoDescriptor Video;
  SCompositionDescriptor Composition;
  bool PaletteUpdateFlag = false;  // bit 7; the other bits are written 0
  std::uint8_t PaletteIdRef = 0;
  std::vector<SCompositionObject> CompositionObjects;

 protected:
  void ReadBody(ByteReader& r) override;
  bool WriteBody(ByteWriter& w) const override;
  void PrintBody(std::string& out, int indent) const override;
};

// Window definition segment (PG).
class CWds : public CSegmentBase {
 public:
  static constexpr std::size_t kMaxWindows = 2;
  CWds() : CSegmentBase(kSegmentWds) {}
  CWds(const CWds&) = default;
  CWds& operator=(const CWds&) = default;
  void Clear() override { Windows.clear(); }

  std::vector<SWindow> Windows;

 protected:
  void ReadBody(ByteReader& r) override;
  bool WriteBody(ByteWriter& w) const override;  // refuses more than two windows
  void PrintBody(std::string& out, int indent) const override;
};

// End of display set segment (empty body).
class CEs : public CSegmentBase {
 public:
  CEs() : CSegmentBase(kSegmentEnd) {}
  CEs(const CEs&) = default;
  CEs& operator=(const CEs&) = default;
};

}  // namespace veld
