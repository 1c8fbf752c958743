// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/gs_data.h"

namespace veld {

void CGsData::TakeSummary() {
  Width = Height = 0;
  FrameRate = FrameRateReserved = 0;
  HasIcs = false;
  bool found = false;
  for (const auto& epoch : Epochs) {
    for (const auto& ds : epoch.DisplaySets) {
      if (!ds.IcsArray.empty()) HasIcs = true;
      if (found || (!ds.Pcs && ds.IcsArray.empty())) continue;
      const SVideoDescriptor& v = ds.Pcs ? ds.Pcs->Video : ds.IcsArray.front().Video;
      Width = v.Width;
      Height = v.Height;
      FrameRate = v.FrameRate;
      FrameRateReserved = v.Reserved;
      found = true;
    }
  }
}

std::size_t CGsData::DisplaySetCount() const {
  std::size_t n = 0;
  for (const auto& epoch : Epochs) n += epoch.DisplaySets.size();
  return n;
}

}  // namespace veld
