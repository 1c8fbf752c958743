// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/muxer.h"

#include <algorithm>
#include <array>
#include <cstring>
#include <system_error>

#include "veld/base/messages.h"
#include "veld/clip/clpi.h"
#include "veld/ts/ts_packet.h"

namespace veld {

bool CFileOutput::open(const std::filesystem::path& path) {
  std::error_code ec;
  std::filesystem::remove(path, ec);
  return file_.open(path, File::Mode::kCreate);
}

bool CFileOutput::write(ByteSpan data) {
  if (!file_.write(data)) return false;
  written_ += data.size();
  return true;
}

// ---- track ordering ---------------------------------------------------------------------------------------

namespace {

enum Group { kPrimaryVideo, kPrimaryAudio, kPg, kIg, kOther, kSecondaryVideo, kSecondaryAudio, kGroups };
constexpr std::array<std::uint16_t, kGroups> kGroupBase{0x1011, 0x1100, 0x1200, 0x1400, 0x1800, 0x1B00, 0x1A00};

Group group_of(const SMuxTrack& t) {
  const std::uint8_t type = t.stream_type();
  if (!t.primary) {
    if (is_video_coding_type(type)) return kSecondaryVideo;
    if (is_audio_coding_type(type)) return kSecondaryAudio;
    return kOther;
  }
  if (is_video_coding_type(type)) return kPrimaryVideo;
  if (is_audio_coding_type(type)) return kPrimaryAudio;
  if (type == coding_type::kPresentationGraphics) return kPg;
  if (type == coding_type::kInteractiveGraphics) return kIg;
  return kOther;
}

bool in_range(std::uint16_t pid, std::uint16_t first, std::uint16_t last) { return pid >= first && pid <= last; }

}  // namespace

std::vector<SMuxTrack*> OrderTracks(const std::vector<SMuxTrack*>& kept, const std::vector<SMuxTrack*>& added) {
  std::array<std::vector<SMuxTrack*>, kGroups> groups;
  for (const auto* list : {&kept, &added})
    for (SMuxTrack* t : *list) groups[group_of(*t)].push_back(t);
  std::vector<SMuxTrack*> ordered;
  for (int g = 0; g < kGroups; ++g) {
    auto& members = groups[static_cast<std::size_t>(g)];
    std::stable_sort(members.begin(), members.end(),
                     [](const SMuxTrack* a, const SMuxTrack* b) { return a->stream_index < b->stream_index; });
    std::uint16_t pid = kGroupBase[static_cast<std::size_t>(g)];
    for (SMuxTrack* t : members) {
      t->pid = pid++;
      ordered.push_back(t);
    }
  }
  return ordered;
}

void DesignateEntryPoints(const std::vector<SMuxTrack*>& tracks, std::uint8_t application_type) {
  for (SMuxTrack* t : tracks) {
    t->has_ep_map = false;
    t->ep_stream_type = 0;
  }
  const auto designate = [](SMuxTrack* t, std::uint8_t type) {
    t->has_ep_map = true;
    t->ep_stream_type = type;
  };
  bool video = false;
  for (SMuxTrack* t : tracks) {
    if (t->pid == 0x1011 || in_range(t->pid, 0x1B00, 0x1B1F)) {
      designate(t, 1);
      video = true;
    }
  }
  if (video || tracks.empty()) return;
  SMuxTrack* first = tracks.front();
  if (application_type == 4) return designate(first, 3);
  if (application_type == 7) {
    if (in_range(first->pid, 0x1100, 0x111F)) return designate(first, 3);
    SMuxTrack* last_secondary_audio = nullptr;
    for (SMuxTrack* t : tracks)
      if (in_range(t->pid, 0x1A00, 0x1A1F)) last_secondary_audio = t;
    if (last_secondary_audio) return designate(last_secondary_audio, 4);
  }
  if (in_range(first->pid, 0x1200, 0x121F)) return designate(first, 6);
  if (in_range(first->pid, 0x1400, 0x141F)) return designate(first, 7);
}

// ---- the multiplexer --------------------------------------------------------------------------------------

CMuxer::CMuxer() {
  pat_ctx_.header.PID = kPidPat;
  pat_ctx_.pat = SPat::make_default();
  pmt_ctx_.header.PID = kPidPmt;
  sit_ctx_.header.PID = kPidSit;
  sit_ctx_.sit = SSit{};
  pcr_ctx_.header.PID = kPidPcr;
  pcr_ctx_.header.PayloadUnitStartIndicator = false;
  pcr_ctx_.header.AdapationFieldControl = 2;
  SAdaptationField af;
  af.PCR_Flag = true;
  af.StuffingSize = 176;
  pcr_ctx_.adaptation_field = af;
}

bool CMuxer::start(std::vector<SMuxTrack*> tracks, std::uint8_t application_type, std::string* error) {
  tracks_ = std::move(tracks);
  application_type_ = application_type;
  cursor_ = 0;
  packets_ = 0;
  psi_counter_ = 0;
  pcr_value_ = 0;
  pcr_written_ = false;
  last_pcr_time_ = current_ = last_packet_ = next_pat_ = next_pcr_ = limit_ = 0;
  smallest_pts_ = 0xFFFFFFFF;
  largest_end_ = 0;
  for (SPsiPacketContext* ctx : {&pat_ctx_, &pmt_ctx_, &sit_ctx_}) ctx->header.ContinuityCounter = 0;

  DesignateEntryPoints(tracks_, application_type_);
  for (SMuxTrack* t : tracks_) {
    if (!t->reset(error)) return false;
  }

  SPmt pmt;
  pmt.PrivateDescriptor = private_;
  for (const bool primary : {true, false})
    for (const SMuxTrack* t : tracks_)
      if (t->primary == primary) pmt.streams.push_back(t->pmt_entry());
  pmt_bytes_.clear();
  const std::size_t length = pmt.write(pmt_bytes_);
  if (length > 1024) {
    if (error) *error = message_text(kMsgPmtTooLong);
    return false;
  }
  // 183 section bytes fit the first packet (after the pointer field), 184 each further one.
  pmt_packets_ = length <= 183 ? 1 : 1 + static_cast<int>((length - 183 + 184 - 1) / 184);
  return true;
}

bool CMuxer::fail_write(const CMuxOutput& out) {
  if (messenger_) messenger_->show(MessageKind::kError, out.error());
  return false;
}

bool CMuxer::flush() {
  if (cursor_ == 0) return true;
  if (!writer_->submit(cursor_)) return fail_write(*m2ts_);
  cursor_ = 0;
  return true;
}

std::uint8_t* CMuxer::reserve_packet(std::uint64_t time) {
  if (cursor_ + kSourcePacketSize > writer_->piece_size() && !flush()) return nullptr;
  std::uint8_t* p = writer_->piece() + cursor_;
  store_be32(p, static_cast<std::uint32_t>(time & 0x3FFFFFFF));  // copy permission 0, arrival time stamp
  return p;
}

void CMuxer::commit_packet(std::uint64_t time) {
  cursor_ += kSourcePacketSize;
  ++packets_;
  last_packet_ = time;
}

namespace {

// Bumps a 4-bit continuity counter.
void next_counter(STsHeader& h) { h.ContinuityCounter = static_cast<std::uint8_t>((h.ContinuityCounter + 1) & 0x0F); }

}  // namespace

template <typename Fill>
bool CMuxer::write_psi(std::uint64_t time, Fill fill) {
  std::uint8_t* p = reserve_packet(time);
  if (!p) return false;
  std::memset(p + 4, 0xFF, kTsPacketSize);
  fill(p + 4);
  commit_packet(time);
  return true;
}

bool CMuxer::write_pat(std::uint64_t t) {
  next_pat_ = t + kPatInterval;
  return write_psi(t, [&](std::uint8_t* ts) {
    write_psi_packet(pat_ctx_, ts);
    next_counter(pat_ctx_.header);
  });
}

// The PMT packets at t, t + 846, ...; t ends at the last one's time.
bool CMuxer::write_pmt(std::uint64_t& t) {
  ByteSpan left(pmt_bytes_);
  for (int i = 0; i < pmt_packets_; ++i) {
    if (i > 0) t += kPacketTicks;
    const bool ok = write_psi(t, [&](std::uint8_t* ts) {
      const std::size_t taken = write_pmt_packet(pmt_ctx_, ts, left, i == 0);
      left = left.subspan(std::min(taken, left.size()));
      next_counter(pmt_ctx_.header);
    });
    if (!ok) return false;
  }
  return true;
}

bool CMuxer::write_sit(std::uint64_t t) {
  return write_psi(t, [&](std::uint8_t* ts) {
    write_psi_packet(sit_ctx_, ts);
    next_counter(sit_ctx_.header);
  });
}

bool CMuxer::write_pcr(std::uint64_t t) {
  if (pcr_written_) {
    pcr_value_ += kPacketTicks * ((t - last_pcr_time_) / kPacketTicks);
  } else {
    pcr_value_ = t + kPcrOffset;
    pcr_written_ = true;
  }
  pcr_ctx_.adaptation_field->PCR.Base = pcr_value_ / 300;
  pcr_ctx_.adaptation_field->PCR.Extension = static_cast<std::uint16_t>(pcr_value_ % 300);
  last_pcr_time_ = t;
  next_pcr_ = t + kPcrInterval;
  // An adaptation-field-only packet leaves the continuity counter as it is.
  return write_psi(t, [&](std::uint8_t* ts) { write_psi_packet(pcr_ctx_, ts); });
}

// PSI packets fallen due by the current time, each at its own scheduled time.
bool CMuxer::insert_due_psi() {
  for (;;) {
    if (next_pcr_ <= next_pat_) {
      if (current_ < next_pcr_) break;
      if (!write_pcr(next_pcr_)) return false;
    } else {
      if (current_ < next_pat_) break;
      std::uint64_t t = next_pat_;
      if (!write_pat(t)) return false;
      t += kPacketTicks;
      if (!write_pmt(t)) return false;
      if (++psi_counter_ >= kSitEveryPatGroups) {
        if (!write_sit(t + kPacketTicks)) return false;
        psi_counter_ = 0;
      }
    }
  }
  current_ = std::max(current_, last_packet_ + kPacketTicks);
  return true;
}

void CMuxer::compute_time(SMuxTrack& track) const {
  const SMuxAu* au = track.current();
  if (!au) return;
  const std::uint64_t b = track.admission_time();
  const std::uint64_t d = au->dts != 0 ? au->dts : au->pts;
  if (!au->started() && au->size != 0) {
    const std::uint64_t due = d * 300 > kUnitLead ? d * 300 - kUnitLead : 0;
    track.time = std::max(b, due);
  } else if (b != 0) {
    track.time = std::max(track.time, b);
  }
  // A buffer model only ever delays a unit until it must go to arrive whole by its decoding time: a
  // stream the model cannot hold (one it misjudges) is carried over on time rather than ever later.
  const std::uint64_t packets_left = (au->bytes_left + kTsPacketSize - 5) / (kTsPacketSize - 4);
  const std::uint64_t decode = d * 300 > kPcrOffset ? d * 300 - kPcrOffset : 0;
  const std::uint64_t latest = decode > packets_left * kPacketTicks ? decode - packets_left * kPacketTicks : 0;
  track.time = std::min(track.time, latest);
}

bool CMuxer::write_track_packet(SMuxTrack& track) {
  const SMuxAu* au = track.current();
  const bool first = !au->started();
  if (au->bytes_left == 0) {
    messenger_->show(MessageKind::kError, message_text(kMsgPackEmpty));
    return false;
  }
  if (!insert_due_psi()) return false;
  const std::uint64_t spn = packets_;
  std::uint8_t* slot = reserve_packet(current_);
  if (!slot) return false;
  const int payload = track.make_packet(slot + 4);
  if (payload < 0) {
    messenger_->show(MessageKind::kError, track.error().empty() ? std::string(message_text(kMsgPackEmpty)) : track.error());
    return false;
  }
  commit_packet(current_);
  track.packet_sent(current_, system_time(), static_cast<std::uint32_t>(payload));
  if (first) {
    if (KEY_POINT_INFO* kp = track.key_point(au->entry_point)) kp->SpnStart = static_cast<std::uint32_t>(spn);
    smallest_pts_ = std::min(smallest_pts_, au->pts);
    const std::uint32_t end = is_video_coding_type(track.stream_type()) ? au->pts + track.frame_duration() : au->pts;
    largest_end_ = std::max(largest_end_, end);
  }
  current_ += kPacketTicks;
  return true;
}

bool CMuxer::send_from(SMuxTrack& track, std::uint64_t& bytes_sent) {
  const SMuxAu* au = track.current();
  const std::uint64_t n = au->bytes_left;
  current_ = std::max(current_, track.time);
  const std::uint64_t t = std::max(current_, last_packet_ + kPacketTicks);
  current_ = last_packet_ + kPacketTicks * ((t - last_packet_ + kPacketTicks - 1) / kPacketTicks);
  for (;;) {
    if (!write_track_packet(track)) return false;
    compute_time(track);
    if (au->bytes_left == 0) break;
    if (current_ >= limit_ || track.time > current_) {
      bytes_sent += n - au->bytes_left;
      return true;
    }
  }
  if (KEY_POINT_INFO* kp = track.key_point(au->entry_point)) kp->SpnEnd = static_cast<std::uint32_t>(packets_ - 1);
  bytes_sent += n;
  if (!track.next_access_unit()) {
    messenger_->show(MessageKind::kError, track.error());
    return false;
  }
  compute_time(track);
  return true;
}

bool CMuxer::finish_file() {
  const std::size_t n = cursor_;
  if (!flush()) return false;
  if (!writer_->finish()) return fail_write(*m2ts_);
  const std::size_t k = (kAlignedUnit - n % kAlignedUnit) / kSourcePacketSize;
  Bytes nulls(k * kSourcePacketSize, 0xFF);
  for (std::size_t i = 0; i < k; ++i) {
    std::uint8_t* p = nulls.data() + i * kSourcePacketSize;
    store_be32(p, static_cast<std::uint32_t>(current_ & 0x3FFFFFFF));
    p[4] = kSyncByte;
    p[5] = 0x1F;
    p[6] = 0xFF;
    p[7] = 0x10;
    current_ += kPacketTicks;
  }
  if (!m2ts_->write(nulls)) return fail_write(*m2ts_);
  if (observer_ && k > 0) observer_->observe(packets_, nulls.data(), k);  // the writing thread is idle
  return true;
}

bool CMuxer::write_clip_info() {
  clpi_ = new_clpi_data();
  clpi_.ClipInfo.ApplicationType = application_type_;
  clpi_.ClipInfo.TsRecordingRate = static_cast<std::uint32_t>(kMuxRate / 8);
  clpi_.ClipInfo.NumberOfSourcePackets = static_cast<std::uint32_t>(m2ts_->length() / kSourcePacketSize);
  if (span_) {
    smallest_pts_ = span_->first;
    largest_end_ = span_->second;
  }
  STC_INFO stc;
  stc.PcrPid = kPidPcr;
  stc.SpnStcStart = 0;
  stc.StartPTS = smallest_pts_ >> 1;
  stc.EndPTS = largest_end_ >> 1;
  clpi_.stc_info() = {stc};
  for (const bool primary : {true, false})
    for (const SMuxTrack* t : tracks_)
      if (t->primary == primary) clpi_.streams().push_back(t->clip_stream_entry());
  for (SMuxTrack* t : tracks_)
    if (std::optional<STREAM_PID_ENTRY> e = t->finish_ep_map()) clpi_.ep_map().push_back(std::move(*e));
  const Bytes bytes = write_clpi(clpi_);
  if (!clpi_out_->write(bytes)) return fail_write(*clpi_out_);
  return true;
}

namespace {

// The order in which the tracks send: the earliest due first, then by decoding time, kind and PID.
bool SendsEarlier(const SMuxTrack* a, const SMuxTrack* b) {
  if (a->time != b->time) return a->time < b->time;
  const std::uint32_t da = a->current()->dts, db = b->current()->dts;
  if (da != db) return da < db;
  const int ra = KindRank(a->stream_type()), rb = KindRank(b->stream_type());
  if (ra != rb) return ra < rb;
  return a->pid < b->pid;
}

}  // namespace

bool CMuxer::write_opening(std::uint64_t time, bool video_opens) {
  // The file opens with PAT, PMT, SIT and PCR, 846 ticks apart from the first track's time.
  std::uint64_t t = current_ = time;
  if (!write_pat(t)) return false;
  t += kPacketTicks;
  if (!write_pmt(t)) return false;
  t += kPacketTicks;
  if (!write_sit(t)) return false;
  t += kPacketTicks;
  if (!write_pcr(t)) return false;
  if (video_opens) limit_ = current_ + kPacketTicks;
  return true;
}

int CMuxer::run(CMuxOutput& m2ts, CMuxOutput& clpi, Progress& progress, Messenger& messenger) {
  m2ts_ = &m2ts;
  clpi_out_ = &clpi;
  messenger_ = &messenger;
  writer_ = std::make_unique<CBackgroundWriter>(m2ts, kMuxBufferSize, kMuxBufferPieces, observer_);
  const auto close_tracks = [&] {
    writer_.reset();  // stops the writing thread
    for (SMuxTrack* t : tracks_) t->close();
  };

  std::uint64_t total = 0;
  for (const SMuxTrack* t : tracks_) total += t->data_size();
  std::vector<SMuxTrack*> active;
  for (SMuxTrack* t : tracks_) {
    if (!t->current()) continue;
    compute_time(*t);
    active.push_back(t);
  }
  progress.set_title(message_text(kStrBuilding));
  progress.set_status(m2ts.path().string());
  if (!progress.set_position(0)) {
    close_tracks();
    return 1;
  }

  std::uint64_t sent = 0;
  std::uint64_t reported = 0;
  while (!active.empty()) {
    // A video track first in the list opens the file unless another track is due earlier: a menu whose
    // epoch is preloaded before the first picture keeps its lead-in, and the file's arrival clock starts
    // with it.
    const bool video_opens = packets_ == 0 && is_video_coding_type(active.front()->stream_type()) &&
                             std::none_of(active.begin(), active.end(), [&](const SMuxTrack* t) {
                               return t->time < active.front()->time;
                             });
    if (!video_opens) {
      for (SMuxTrack* t : tracks_) t->time = std::max(t->time, current_);
      std::sort(active.begin(), active.end(), SendsEarlier);
      if (active.size() >= 2) limit_ = active[1]->time;
    }
    if (packets_ == 0 && !write_opening(active.front()->time, video_opens)) break;
    if (sent - reported > kProgressEvery) {
      reported = sent;
      if (!progress.set_position(total ? static_cast<int>(sent * 100 / total) : 0)) {
        close_tracks();
        return 1;
      }
    }
    SMuxTrack* track = active.front();
    if (!send_from(*track, sent)) {
      close_tracks();
      return 2;
    }
    if (track->ended) active.erase(active.begin());
  }
  // A write failure of the opening packets leaves the loop early.
  bool ok = active.empty() && finish_file();
  if (ok) {
    progress.set_position(100);
    ok = write_clip_info();
  }
  close_tracks();
  return ok ? 0 : 2;
}

}  // namespace veld
