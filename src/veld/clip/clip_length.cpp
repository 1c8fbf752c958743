// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/clip/clip_length.h"

#include <algorithm>
#include <filesystem>
#include <system_error>

#include <fmt/format.h>

#include "veld/base/messages.h"

namespace veld {

std::uint64_t ClipInfoPacketsNeeded(const SClpiData& info) {
  std::uint64_t needed = info.ClipInfo.NumberOfSourcePackets;
  for (const STREAM_PID_ENTRY& entry : info.ep_map()) {
    for (const KEY_POINT_INFO& k : entry.KeyPoints) needed = std::max<std::uint64_t>(needed, k.SpnStart + 1ull);
  }
  const SAtcInfo& atc = info.SequenceInfo.AtcInfo;
  needed = std::max<std::uint64_t>(needed, atc.SpnAtcStart + (atc.SpnAtcStart != 0 ? 1ull : 0ull));
  for (const STC_INFO& stc : atc.StcInfo) {
    if (stc.SpnStcStart != 0) needed = std::max<std::uint64_t>(needed, stc.SpnStcStart + 1ull);
  }
  return needed;
}

std::optional<std::string> CheckClipStreamLength(const CClpiObject& clip, std::uint64_t stream_size) {
  const std::uint64_t found = stream_size / kSourcePacketSize;  // a partial packet at the end is ignored
  const std::uint64_t needed = ClipInfoPacketsNeeded(clip.data);
  if (found >= needed) return std::nullopt;
  return format_message(kMsgClipStreamShort, clip.stream_path.string(), clip.clpi_path.string(),
                        fmt::format("{}", needed), fmt::format("{}", found));
}

std::optional<std::string> CheckClipStreamLength(const CClpiObject& clip) {
  std::error_code ec;
  const std::uintmax_t size = std::filesystem::file_size(clip.stream_path, ec);
  if (ec) return std::nullopt;
  return CheckClipStreamLength(clip, size);
}

}  // namespace veld
