// SPDX-License-Identifier: GPL-3.0-or-later
// The parsed segments of one graphics stream (one IG or PG PID) and its summary.
#pragma once

#include <cstdint>
#include <vector>

#include "veld/graphics/display_set.h"

namespace veld {

struct CGsData {
  std::vector<CEpochData> Epochs;

  // Summary, taken after reading (TakeSummary): the video descriptor of the first display set that has
  // a PCS or an ICS (from the PCS when present, else from its first ICS), and whether any display set
  // has ICS data.
  std::uint16_t Width = 0;
  std::uint16_t Height = 0;
  std::uint8_t FrameRate = 0;
  std::uint8_t FrameRateReserved = 0;  // low nibble of the frame-rate byte
  bool HasIcs = false;

  void TakeSummary();
  std::size_t DisplaySetCount() const;
};

}  // namespace veld
