// SPDX-License-Identifier: GPL-3.0-or-later
// Display sets of a graphics stream: the segments up to and including an END segment, and the
// operations on their ICS and ODS fragments.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "veld/base/bytes.h"
#include "veld/graphics/segment.h"

namespace veld {

// One display set as segments, each kind in stream order.
struct CDsData {
  // Composition state of the display set: kEpochStart for a new record, the state of its first PCS or
  // ICS once one has been read; written into the PCS of a PG display set.
  std::uint8_t State = kEpochStart;
  std::optional<CPcs> Pcs;
  std::vector<CIcs> IcsArray;
  std::optional<CWds> Wds;
  std::vector<CPds> PdsFolder;
  std::vector<COds> OdsArray;
  std::optional<CEs> End;
};

// An epoch: display sets in stream order.
struct CEpochData {
  std::vector<CDsData> DisplaySets;
};

// Checks a display set before it is written and gives it an END (zero time stamps) when it has none.
// false (reason in *error) when the display set cannot be written:
//   exactly one of PCS and ICS must be present;
//   PG: state 0 passes; states 1-3 need a WDS and a PDS;
//   IG: no WDS; states 1-3 need a PDS; state 0 passes only without ODS.
bool CheckDisplaySet(CDsData& ds, std::string* error = nullptr);

// The interactive composition of a display set: every ICS fragment joined in array order (empty when the
// display set has no ICS data).
Bytes JoinIcsFragments(const CDsData& ds);
// The object data of one object: the fragments of every ODS with this id, in array order.
Bytes JoinObjectFragments(const CDsData& ds, std::uint16_t object_id);

// Every segment of the display set in the writer's order, as a heading line with the segment's name and
// its fields as indented "name: value" lines.
std::string PrintDisplaySet(const CDsData& ds);

// Largest fragment of one ODS: a PES packet carries at most 65,535 bytes after its length field, less
// the 13 bytes of PES header with PTS and DTS, the 3 of the segment header and the 4 of the ODS header.
inline constexpr std::size_t kMaxOdsFragment = 65515;

// Cuts object data into ODS segments of at most kMaxOdsFragment fragment bytes, version 0, the first
// flag on the first and the last flag on the last; time stamps are left to the caller.
std::vector<COds> SplitObjectData(ByteSpan object_data, std::uint16_t object_id);

}  // namespace veld
