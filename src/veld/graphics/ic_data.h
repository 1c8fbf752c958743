// SPDX-License-Identifier: GPL-3.0-or-later
// The interactive composition of an IG display set: the joined ICS fragments decoded into pages,
// effect sequences, button overlap groups (BOGs) and buttons with their navigation commands.
//
// Every element has Read/Write on a checked reader and writer, and the byte-level pair
//   long Parse(ByteSpan data, std::string* error)   bytes consumed, -1 when malformed
//   std::size_t Write(Bytes* out, options)          bytes written (appended to *out), or with no buffer
//                                                   the size it would write; 0 when it cannot be written
// Counts and lengths are taken from the lists on every write, never from stored values. Reserved bits
// of the composition are written as zeros.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/disc/nav_cmd.h"
#include "veld/graphics/segment.h"

namespace veld {


// Options of the composition writer.
struct SIcWriteOptions {
  // Writes the commands of a typed button as they are, instead of the "Break" commands and the marker
  // command that stand for its type.
  bool keep_commands = false;
};

// Thrown by the Write of an element whose lists do not fit their count fields.
class CompositionTooLarge : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// An effect: how long it lasts, its palette and the objects it shows.
struct CEffect {
  std::uint32_t Duration = 0;  // 24 bits, 90 kHz ticks
  std::uint8_t PaletteIdRef = 0;
  std::vector<SCompositionObject> CompositionObjects;

  void Read(ByteReader& r);
  // Writes Duration raised to min_duration when it is shorter.
  void Write(ByteWriter& w, std::uint32_t min_duration = 0) const;
  long Parse(ByteSpan data, std::string* error = nullptr);
  std::size_t Write(Bytes* out) const;
  void Print(std::string& out, int indent) const;
  bool operator==(const CEffect&) const = default;
};

// An in- or out-effect sequence of a page: its windows and its effects.
struct CEffectSequence {
  std::vector<SWindow> Windows;
  std::vector<CEffect> Effects;

  // The shortest effect duration the windows allow: the sum over the windows of
  // ceil(Width x Height x 0.005625) ticks, the time to transfer each window's area.
  std::uint32_t DurationFloor() const;

  void Read(ByteReader& r);
  // Effects shorter than DurationFloor() are written with the floor (the model keeps its value).
  void Write(ByteWriter& w) const;
  long Parse(ByteSpan data, std::string* error = nullptr);
  std::size_t Write(Bytes* out) const;
  void Print(std::string& out, int indent) const;
  bool operator==(const CEffectSequence&) const = default;
};

// One state of a button: the objects of its animation, its sound and whether it repeats.
struct CButtonStateInfo {
  int StartObjectId = -1;  // 16-bit ids held in an int; -1 when unset
  int EndObjectId = -1;
  std::uint8_t SoundId = 255;
  bool RepeatFlag = false;

  // Whether the state shows the object: an id equal to one end, or between both ends when both are set.
  bool Covers(int object_id) const;
  bool operator==(const CButtonStateInfo&) const = default;
};

struct CNeighborInfo {
  int Up = -1;
  int Down = -1;
  int Left = -1;
  int Right = -1;
  bool operator==(const CNeighborInfo&) const = default;
};

// The navigation command "Break": 00 02 00 00 and eight zero bytes.
NavCommand BreakCommand();
// The marker command that records a button's type as its 64th command: bytes 0-3 0xFF, bytes 4-7 the
// type parameter, bytes 8-10 zero, byte 11 the type.
NavCommand MarkerCommand(std::uint8_t button_type, std::uint32_t type_parameter);
bool IsMarkerCommand(const NavCommand& command);
inline constexpr std::size_t kMarkedCommandCount = 64;

// Button types that the last command of a button can carry (see the marker command in composition.h).
std::string_view ButtonTypeText(int type);  // 0 "Self Defined" ... 27 "Global Menu"
inline constexpr int kButtonTypeCount = 28;

struct CBdButton {
  int Id = -1;
  std::uint8_t ButtonType = 0;       // from the marker command; 0 when there is none
  std::uint32_t TypeParameter = 0;   // from the marker command
  std::uint16_t NumbericValue = 0;
  bool AutoActionFlag = false;
  std::uint16_t HorPos = 0;
  std::uint16_t VerPos = 0;
  CNeighborInfo Neighbors;
  CButtonStateInfo Normal;
  CButtonStateInfo Selected;
  CButtonStateInfo Activated;  // has no repeat flag in the stream
  CNavCmds Commands;  // 12-byte navigation commands

  void Read(ByteReader& r);
  void Write(ByteWriter& w, const SIcWriteOptions& options = {}) const;
  long Parse(ByteSpan data, std::string* error = nullptr);
  std::size_t Write(Bytes* out, const SIcWriteOptions& options = {}) const;
  void Print(std::string& out, int indent) const;
  bool operator==(const CBdButton&) const = default;
};

// Button overlap group: buttons drawn at the same place, one of them visible.
struct CBog {
  int DefaultButtonIdRef = -1;
  std::vector<CBdButton> Buttons;

  void Read(ByteReader& r);
  void Write(ByteWriter& w, const SIcWriteOptions& options = {}) const;
  long Parse(ByteSpan data, std::string* error = nullptr);
  std::size_t Write(Bytes* out, const SIcWriteOptions& options = {}) const;
  void Print(std::string& out, int indent) const;
  bool operator==(const CBog&) const = default;
};

inline constexpr int kCurrentSelectedButtonId = 0xFFFE;

struct CPage {
  int PageId = -1;
  std::uint8_t Version = 0;
  std::array<std::uint8_t, 8> UMT{};  // user-operation mask table, raw
  CEffectSequence InEffects;
  CEffectSequence OutEffects;
  std::uint8_t AnimationFrameRateCode = 0;
  int DefaultSelectedButtonId = -1;
  int DefaultActivatedButtonId = -1;  // kCurrentSelectedButtonId: the button selected at the time
  int PaletteIdRef = -1;
  std::vector<CBog> Bogs;

  // Whether a button state or an effect of the page shows the object.
  bool UsesObject(int object_id) const;

  void Read(ByteReader& r);
  void Write(ByteWriter& w, const SIcWriteOptions& options = {}) const;
  long Parse(ByteSpan data, std::string* error = nullptr);
  std::size_t Write(Bytes* out, const SIcWriteOptions& options = {}) const;
  void Print(std::string& out, int indent) const;
  bool operator==(const CPage&) const = default;
};

// The whole interactive composition, from its 24-bit length field on.
struct CIcData {
  std::uint32_t CompositionLength = 0;  // as read
  bool StreamModel = true;              // the two time-outs are present only when false
  bool UserInterfaceModel = false;      // true: pop-up menu
  std::uint64_t CompositionTimeOutPts = 0;  // 33 bits
  std::uint64_t SelectionTimeOutPts = 0;    // 33 bits
  std::uint32_t UserTimeOutDuration = 0;    // 24 bits
  std::vector<CPage> Pages;

  void Read(ByteReader& r);
  void Write(ByteWriter& w, const SIcWriteOptions& options = {}) const;
  long Parse(ByteSpan data, std::string* error = nullptr);
  std::size_t Write(Bytes* out, const SIcWriteOptions& options = {}) const;
  // The whole tree as "name: value" lines; elements are headed by their names ("Page#0", "Bog#0",
  // "Button#<Id>", "In Effect", "Out Effect", "Window", "Effect", "Composition Object").
  void Print(std::string& out, int indent = 0) const;
  // Equal trees; CompositionLength, a stored value, is not compared.
  bool operator==(const CIcData& other) const;
};

}  // namespace veld
