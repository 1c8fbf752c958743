// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/display_set.h"

#include <fmt/format.h>

#include <algorithm>

namespace veld {

namespace {

bool Fail(std::string* error, const char* why) {
  if (error) *error = why;
  return false;
}

}  // namespace

bool CheckDisplaySet(CDsData& ds, std::string* error) {
  const bool has_pcs = ds.Pcs.has_value();
  const bool has_ics = !ds.IcsArray.empty();
  if (has_pcs == has_ics) {
    return Fail(error, has_pcs ? "display set with both PCS and ICS" : "display set without PCS or ICS");
  }
  if (!ds.End) ds.End.emplace();  // a made-up END has type 0x80, length 0, PTS and DTS 0

  const bool has_pds = !ds.PdsFolder.empty();
  if (has_pcs) {
    if (ds.State == kNormalCase) return true;
    if (ds.State > kEpochContinue) return Fail(error, "invalid composition state");
    if (!ds.Wds) return Fail(error, "PG display set without WDS");
    if (!has_pds) return Fail(error, "PG display set without PDS");
    return true;
  }
  if (ds.Wds) return Fail(error, "IG display set with a WDS");
  if (ds.State == kNormalCase) {
    return ds.OdsArray.empty() ? true : Fail(error, "IG display set in Normal Case with ODS");
  }
  if (ds.State > kEpochContinue) return Fail(error, "invalid composition state");
  if (!has_pds) return Fail(error, "IG display set without PDS");
  return true;
}

Bytes JoinIcsFragments(const CDsData& ds) {
  std::size_t n = 0;
  for (const auto& ics : ds.IcsArray) n += ics.FragmentSize();
  Bytes out;
  out.reserve(n);
  for (const auto& ics : ds.IcsArray) out.insert(out.end(), ics.Fragment.begin(), ics.Fragment.end());
  return out;
}

Bytes JoinObjectFragments(const CDsData& ds, std::uint16_t object_id) {
  std::size_t n = 0;
  for (const auto& ods : ds.OdsArray) {
    if (ods.ObjectId == object_id) n += ods.FragmentSize();
  }
  Bytes out;
  out.reserve(n);
  for (const auto& ods : ds.OdsArray) {
    if (ods.ObjectId == object_id) out.insert(out.end(), ods.Fragment.begin(), ods.Fragment.end());
  }
  return out;
}

std::string PrintDisplaySet(const CDsData& ds) {
  std::string out;
  PrintLine(out, 0, "State", fmt::format("{} ({})", ds.State, CompositionStateText(ds.State)));
  const auto print = [&](const CSegmentBase& seg) {
    out += SegmentTypeName(seg.SegmentType);
    out += '\n';
    seg.Print(out, 2);
  };
  if (ds.Pcs) print(*ds.Pcs);
  for (const auto& ics : ds.IcsArray) print(ics);
  if (ds.Wds) print(*ds.Wds);
  for (const auto& pds : ds.PdsFolder) print(pds);
  for (const auto& ods : ds.OdsArray) print(ods);
  if (ds.End) print(*ds.End);
  return out;
}

std::vector<COds> SplitObjectData(ByteSpan object_data, std::uint16_t object_id) {
  const std::size_t n = object_data.size();
  const std::size_t count = (n + kMaxOdsFragment - 1) / kMaxOdsFragment;
  std::vector<COds> out(count);
  for (std::size_t i = 0; i < count; ++i) {
    COds& ods = out[i];
    ods.ObjectId = object_id;
    ods.ObjectVersion = 0;
    ods.Reserved = 0;
    ods.FirstFlag = i == 0;
    ods.LastFlag = i + 1 == count;
    const ByteSpan piece = object_data.subspan(i * kMaxOdsFragment, std::min(kMaxOdsFragment, n - i * kMaxOdsFragment));
    ods.Fragment.assign(piece.begin(), piece.end());
    ods.SegmentLength = static_cast<std::uint16_t>(COds::kHeaderSize + piece.size());
  }
  return out;
}

}  // namespace veld
