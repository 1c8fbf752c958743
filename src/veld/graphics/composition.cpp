// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/composition.h"

#include <algorithm>

#include <fmt/format.h>

#include "veld/graphics/rle.h"

namespace veld {

std::optional<CIcData> ParseComposition(const CDsData& ds, std::string* error) {
  const Bytes data = JoinIcsFragments(ds);
  if (data.empty()) {
    if (error) *error = "no interactive composition";
    return std::nullopt;
  }
  CIcData ic;
  if (ic.Parse(data, error) <= 0) return std::nullopt;
  return ic;
}

std::vector<std::uint16_t> ListObjects(const CDsData& ds) {
  std::vector<std::uint16_t> ids;
  for (const auto& ods : ds.OdsArray) {
    if (ods.LastFlag) ids.push_back(ods.ObjectId);
  }
  return ids;
}

std::uint8_t FindObjectPalette(const CIcData& composition, std::uint16_t object_id) {
  for (const auto& page : composition.Pages) {
    if (page.UsesObject(object_id)) return static_cast<std::uint8_t>(page.PaletteIdRef);
  }
  return kNoPalette;
}

namespace {

// The palette of the display set with the id: a later PDS with the same id updates the palette within
// the display set, so the last one holds.
const CPds* FindPalette(const CDsData& ds, std::uint8_t palette_id) {
  const auto pds = std::find_if(ds.PdsFolder.rbegin(), ds.PdsFolder.rend(),
                                [&](const CPds& p) { return p.PaletteId == palette_id; });
  return pds == ds.PdsFolder.rend() ? nullptr : &*pds;
}

}  // namespace

std::optional<SObjectBitmap> DecodeObjectBitmap(const CDsData& ds, std::uint16_t object_id, std::uint8_t palette_id,
                                                ColourMatrix matrix, std::string* why) {
  const Bytes data = JoinObjectFragments(ds, object_id);
  if (data.empty()) {
    if (why) *why = "it has no data";
    return std::nullopt;
  }
  auto bitmap = DecodeObjectData(data, why);
  if (!bitmap) return std::nullopt;
  const CPds* pds = FindPalette(ds, palette_id);
  if (!pds) {
    if (why) *why = fmt::format("its palette {} is not in the display set", palette_id);
    return std::nullopt;
  }
  SObjectBitmap out;
  out.bitmap = std::move(*bitmap);
  out.palette = PaletteToArgb(pds->Entries, matrix);
  return out;
}

std::optional<ArgbPalette> ObjectPalette(const CDsData& ds, std::uint16_t object_id, ColourMatrix matrix) {
  const std::optional<CIcData> composition = ParseComposition(ds);
  if (!composition) return std::nullopt;
  const CPds* pds = FindPalette(ds, FindObjectPalette(*composition, object_id));
  if (!pds) return std::nullopt;
  return PaletteToArgb(pds->Entries, matrix);
}

ColourMatrix PictureMatrix(const CDsData& ds) {
  return ColourMatrixForHeight(ds.IcsArray.empty() ? 1080 : ds.IcsArray.front().Video.Height);
}

SObjectSize ObjectSize(const CDsData& ds, std::uint16_t object_id) {
  for (const auto& ods : ds.OdsArray) {
    if (ods.ObjectId != object_id) continue;
    // The first fragment starts with ObjectDataLength (3), ObjectWidth (2), ObjectHeight (2).
    if (ods.Fragment.size() < 7) return {};
    return {load_be16(ods.Fragment.data() + 3), load_be16(ods.Fragment.data() + 5)};
  }
  return {};
}

bool ReplaceObjectFromBitmap(CDsData& ds, std::uint16_t object_id, const IndexedBitmap& bitmap) {
  const SObjectSize size = ObjectSize(ds, object_id);
  if (bitmap.width != size.width || bitmap.height != size.height) return false;
  if (bitmap.pixels.size() != static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height)) {
    return false;
  }
  const Bytes data = EncodeBitmap(bitmap);
  if (data.empty()) return false;
  return ReplaceObjectSegments(ds, object_id, SplitObjectData(data, object_id));
}

bool ReplaceObjectSegments(CDsData& ds, std::uint16_t object_id, std::vector<COds> new_ods) {
  auto& list = ds.OdsArray;
  const auto first = std::find_if(list.begin(), list.end(), [&](const COds& o) { return o.ObjectId == object_id; });
  if (first == list.end()) return false;
  const auto index = first - list.begin();
  const std::uint32_t pts = first->PTS;
  const std::uint32_t dts = first->DTS;
  std::erase_if(list, [&](const COds& o) { return o.ObjectId == object_id; });
  for (auto& ods : new_ods) {
    ods.PTS = pts;
    ods.DTS = dts;
    ods.ObjectId = object_id;
  }
  list.insert(list.begin() + index, std::make_move_iterator(new_ods.begin()), std::make_move_iterator(new_ods.end()));
  return true;
}

}  // namespace veld
