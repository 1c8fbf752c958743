// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/mux_track.h"

#include <algorithm>

namespace veld {

// A stream with two models (TrueHD, DD+, DTS-HD): its core units go to both, the first model for the
// basic decoder and the second for the one that decodes the whole PID; its extension units go to the
// second only. Every other stream has one model.
void SMuxTrack::register_unit(const SMuxAu& au) {
  if (!models_) return;
  extension_ = au.extension && models_->second.has_value();
  if (extension_) {
    models_->second->add_unit(au.dts, au.pts, false);
    return;
  }
  models_->first.add_unit(au.dts, au.pts, false);
  if (models_->second) models_->second->add_unit(au.dts, au.pts, true);
}

void SMuxTrack::packet_sent(std::uint64_t t, std::uint64_t s, std::uint32_t payload_bytes) {
  if (!models_) return;
  if (extension_) {
    models_->second->packet(t, s, payload_bytes, false);
    return;
  }
  models_->first.packet(t, s, payload_bytes, false);
  if (models_->second) models_->second->packet(t, s, payload_bytes, true);
}

std::uint64_t SMuxTrack::admission_time() const {
  if (!models_) return 0;
  if (extension_) return models_->second->admission_time(false);
  std::uint64_t a = models_->first.admission_time(false);
  if (models_->second) a = std::max(a, models_->second->admission_time(true));
  return a;
}

}  // namespace veld
