// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/muxer.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"
#include "veld/base/crc32.h"
#include "veld/base/messages.h"
#include "veld/clip/clpi.h"
#include "veld/ts/transport.h"
#include "veld/ts/ts_packet.h"

namespace veld {
namespace {

using test::RecordingMessenger;
using test::RecordingProgress;

// A track of synthetic units: each unit is `packets` transport packets whose payload bytes carry the
// unit's number; key units become entry points when the track has an entry-point map.
class FakeTrack : public SMuxTrack {
 public:
  struct Unit {
    std::uint32_t dts;
    std::uint32_t pts;
    int packets;
    bool key = false;
  };
  FakeTrack(std::uint8_t type, std::vector<Unit> units, bool primary_stream = true, int index = 0)
      : type_(type), units_(std::move(units)) {
    primary = primary_stream;
    stream_index = index;
  }
  std::string describe() const override { return "fake"; }
  bool reset(std::string*) override {
    set_models(MakeStreamModels(type_));
    unit_ = -1;
    ended = false;
    points_.clear();
    return next_access_unit();
  }
  const SMuxAu* current() const override { return ended ? nullptr : &au_; }
  bool next_access_unit() override {
    if (++unit_ >= static_cast<int>(units_.size())) {
      ended = true;
      return true;
    }
    const Unit& u = units_[static_cast<std::size_t>(unit_)];
    au_ = SMuxAu{};
    au_.dts = u.dts;
    au_.pts = u.pts;
    au_.size = au_.bytes_left = static_cast<std::uint64_t>(u.packets) * 192;
    if (has_ep_map && u.key) {
      au_.entry_point = static_cast<std::int64_t>(points_.size());
      points_.push_back({unit_, u.pts, 0, 0});
    }
    register_unit(au_);
    return true;
  }
  int make_packet(std::uint8_t* out) override {
    if (au_.bytes_left == 0) return -1;
    STsHeader h;
    h.PID = pid;
    h.PayloadUnitStartIndicator = !au_.started();
    h.ContinuityCounter = cc_;
    cc_ = static_cast<std::uint8_t>((cc_ + 1) & 15);
    std::memset(out, static_cast<std::uint8_t>(unit_), 188);
    h.write(out);
    au_.bytes_left -= 192;
    return 184;
  }
  std::uint8_t stream_type() const override { return type_; }
  std::uint32_t frame_duration() const override { return is_video_coding_type(type_) ? 3003 : 0; }
  STREAM_INFO clip_stream_entry() const override {
    STREAM_INFO si;
    si.StreamPID = pid;
    si.StreamCodingInfo.CodingType = type_;
    return si;
  }
  SEsInfo pmt_entry() const override {
    SEsInfo es;
    es.StreamType = type_;
    es.ElementaryPid = pid;
    return es;
  }
  std::uint64_t data_size() const override {
    std::uint64_t n = 0;
    for (const Unit& u : units_) n += static_cast<std::uint64_t>(u.packets) * 192;
    return n;
  }
  KEY_POINT_INFO* key_point(std::int64_t i) override {
    return i >= 0 && i < static_cast<std::int64_t>(points_.size()) ? &points_[static_cast<std::size_t>(i)] : nullptr;
  }
  std::optional<STREAM_PID_ENTRY> finish_ep_map() override {
    if (!has_ep_map || points_.empty()) return std::nullopt;
    STREAM_PID_ENTRY e;
    e.StreamPid = pid;
    e.EpStreamType = ep_stream_type;
    e.KeyPoints = points_;
    return e;
  }

 private:
  std::uint8_t type_;
  std::vector<Unit> units_;
  int unit_ = -1;
  SMuxAu au_;
  std::uint8_t cc_ = 0;
  CKpiFolder points_;
};

// Output in memory; fails once more than fail_after bytes would have been written.
class MemoryOutput : public CMuxOutput {
 public:
  explicit MemoryOutput(std::uint64_t fail_after = UINT64_MAX) : fail_after_(fail_after) {}
  bool write(ByteSpan data) override {
    if (bytes.size() + data.size() > fail_after_) {
      error_ = path_.string() + ": No space left on device";
      return false;
    }
    bytes.insert(bytes.end(), data.begin(), data.end());
    return true;
  }
  std::uint64_t length() const override { return bytes.size(); }
  const std::filesystem::path& path() const override { return path_; }
  const std::string& error() const override { return error_; }
  Bytes bytes;

 private:
  std::uint64_t fail_after_;
  std::filesystem::path path_ = "/out/00001.m2ts";
  std::string error_;
};

struct Packet {
  std::uint32_t ats;
  std::uint64_t time;  // the arrival time stamp unwrapped
  std::uint16_t pid;
  bool pusi;
  const std::uint8_t* ts;
};

std::vector<Packet> parse(const Bytes& file) {
  std::vector<Packet> out;
  std::uint64_t base = 0;
  std::uint32_t last = 0;
  for (std::size_t pos = 0; pos + 192 <= file.size(); pos += 192) {
    const std::uint32_t ats = load_be32(file.data() + pos) & 0x3FFFFFFF;
    if (!out.empty() && ats < last) base += 1u << 30;
    last = ats;
    const std::uint8_t* ts = file.data() + pos + 4;
    out.push_back({ats, base + ats, ts_pid(ts), ts_payload_unit_start(ts), ts});
  }
  return out;
}

// Runs a multiplex of the tracks, in their list order.
struct MuxRun {
  int result = -1;
  MemoryOutput m2ts;
  MemoryOutput clpi;
  RecordingMessenger messenger;
  RecordingProgress progress;
  CMuxer muxer;
  std::vector<Packet> packets;
  SClpiData info;

  explicit MuxRun(std::vector<SMuxTrack*> tracks, std::uint8_t app = 1, std::optional<SPrivateDescriptor> priv = {},
               std::uint64_t fail_after = UINT64_MAX)
      : m2ts(fail_after) {
    muxer.set_private_descriptor(std::move(priv));
    std::string error;
    EXPECT_TRUE(muxer.start(tracks, app, &error)) << error;
    result = muxer.run(m2ts, clpi, progress, messenger);
    packets = parse(m2ts.bytes);
    if (result == 0) {
      EXPECT_GT(parse_clpi(clpi.bytes, info), 0);
    }
  }
};

// An AC-3-like track: a 3-packet unit every 32 ms from `start` (90 kHz).
std::vector<FakeTrack::Unit> audio_units(std::uint32_t start, int count, int packets = 3) {
  std::vector<FakeTrack::Unit> u;
  for (int i = 0; i < count; ++i) {
    const std::uint32_t t = start + static_cast<std::uint32_t>(i) * 2880;
    u.push_back({t, t, packets, true});
  }
  return u;
}

constexpr std::uint32_t kStart = 54000000;  // 600 s

TEST(MuxerTest, FileOpensWithPatPmtSitPcrFromTheFirstTrackTime) {
  FakeTrack audio(0x81, audio_units(kStart, 5));
  audio.pid = 0x1100;
  MuxRun run({&audio});
  ASSERT_EQ(run.result, 0) << run.messenger.all_text();
  ASSERT_GE(run.packets.size(), 5u);
  const std::uint64_t t0 = std::uint64_t{kStart} * 300 - kUnitLead;
  const std::uint16_t want[] = {kPidPat, kPidPmt, kPidSit, kPidPcr};
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(run.packets[static_cast<std::size_t>(i)].pid, want[i]) << i;
    EXPECT_EQ(run.packets[static_cast<std::size_t>(i)].time, t0 + 846 * static_cast<std::uint64_t>(i)) << i;
  }
  // The first PCR is its arrival time plus the offset; the PAT is the default one.
  SAdaptationField af;
  ASSERT_GT(af.parse(ByteSpan(run.packets[3].ts + 4, 184)), 0);
  EXPECT_EQ(af.PCR.ticks27(), t0 + 3 * 846 + kPcrOffset);
  EXPECT_EQ(af.AdaptationFieldLength, 183);
  const Bytes pat(run.packets[0].ts + 5, run.packets[0].ts + 5 + 16);
  EXPECT_EQ(pat, test::hex_bytes("00 B0 11 00 00 C1 00 00 00 00 E0 1F 00 01 E1 00"));
  EXPECT_EQ(crc32_mpeg(ByteSpan(run.packets[0].ts + 5, 20)), 0u);
  EXPECT_EQ(run.packets[4].pid, 0x1100);
}

TEST(MuxerTest, PmtOfOneHundredEightyFourBytesTakesTwoPackets) {
  // The PMT of one stream without private descriptor, then with one sized to reach 183 and 184 bytes.
  FakeTrack probe(0x81, audio_units(kStart, 1));
  probe.pid = 0x1100;
  CMuxer base;
  ASSERT_TRUE(base.start({&probe}, 1, nullptr));
  const std::size_t bare = base.pmt_section().size();
  for (const std::size_t want : {183u, 184u}) {
    FakeTrack audio(0x81, audio_units(kStart, 1));
    audio.pid = 0x1100;
    SPrivateDescriptor priv;
    priv.bytes.assign(want - bare - 2, 0xAB);
    MuxRun run({&audio}, 1, priv);
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(run.muxer.pmt_section().size(), want);
    const int expected = want <= 183 ? 1 : 2;
    EXPECT_EQ(run.muxer.pmt_packets(), expected) << want;
    int pmt = 0;
    for (std::size_t i = 1; i < run.packets.size() && run.packets[i].pid == kPidPmt; ++i) {
      EXPECT_EQ(run.packets[i].pusi, i == 1);
      ++pmt;
    }
    EXPECT_EQ(pmt, expected) << want;
    // Reassembled, the section is the serialised PMT and its CRC checks.
    Bytes section;
    for (int i = 0; i < pmt; ++i) {
      const std::uint8_t* p = run.packets[static_cast<std::size_t>(1 + i)].ts;
      section.insert(section.end(), p + (i == 0 ? 5 : 4), p + 188);
    }
    section.resize(want);
    EXPECT_EQ(section, run.muxer.pmt_section());
    EXPECT_EQ(crc32_mpeg(section), 0u);
  }
}

TEST(MuxerTest, PsiScheduleAcrossGapsAndArrivalStampsWrap) {
  // Audio units over 59 s with a 5-second gap: the arrival time stamp wraps (2^30 ticks = 39.8 s), the
  // PAT groups and PCRs keep their exact intervals, and a SIT follows every ninth PAT group.
  std::vector<FakeTrack::Unit> units = audio_units(kStart, 600, 1);
  for (const FakeTrack::Unit& u : audio_units(kStart + 600 * 2880 + 450000, 1100, 1)) units.push_back(u);
  FakeTrack audio(0x81, units);
  audio.pid = 0x1100;
  MuxRun run({&audio});
  ASSERT_EQ(run.result, 0);
  bool wrapped = false;
  std::vector<std::uint64_t> pat, pcr;
  std::vector<std::size_t> sit_after_pats;
  for (std::size_t i = 0; i < run.packets.size(); ++i) {
    const Packet& p = run.packets[i];
    if (i > 0) {
      EXPECT_GE(p.time, run.packets[i - 1].time + 846) << i;
      EXPECT_EQ((p.time - run.packets[0].time) % 846, 0u) << i;
      wrapped |= p.ats < run.packets[i - 1].ats;
    }
    if (p.pid == kPidPat) pat.push_back(p.time);
    if (p.pid == kPidPcr) pcr.push_back(p.time);
    if (p.pid == kPidSit) sit_after_pats.push_back(pat.size());
  }
  EXPECT_TRUE(wrapped);
  ASSERT_GT(pat.size(), 600u);
  for (std::size_t i = 1; i < pat.size(); ++i) EXPECT_EQ(pat[i] - pat[i - 1], kPatInterval) << i;
  for (std::size_t i = 1; i < pcr.size(); ++i) EXPECT_EQ(pcr[i] - pcr[i - 1], kPcrInterval) << i;
  ASSERT_GT(sit_after_pats.size(), 60u);
  for (std::size_t i = 0; i < sit_after_pats.size(); ++i) EXPECT_EQ(sit_after_pats[i], 1 + 9 * i) << i;
  // Every PCR is its packet's arrival time plus the first PCR's offset.
  for (const Packet& p : run.packets) {
    if (p.pid != kPidPcr) continue;
    SAdaptationField af;
    ASSERT_GT(af.parse(ByteSpan(p.ts + 4, 184)), 0);
    EXPECT_EQ(af.PCR.ticks27(), p.time + kPcrOffset);
  }
}

TEST(MuxerTest, EndsOnAlignedUnitsWithNullPackets) {
  // 4 opening packets + 28 data packets end exactly on 6144 bytes: 32 null packets follow.
  for (const int data : {28, 29, 1}) {
    FakeTrack audio(0x81, {{kStart, kStart, data}});
    audio.pid = 0x1100;
    MuxRun run({&audio});
    ASSERT_EQ(run.result, 0);
    EXPECT_EQ(run.m2ts.bytes.size() % 6144, 0u);
    std::size_t nulls = 0;
    for (const Packet& p : run.packets) nulls += p.pid == kPidNull;
    const std::size_t written = 4 + static_cast<std::size_t>(data);
    EXPECT_EQ(nulls, written % 32 == 0 ? 32 : 32 - written % 32) << data;
    const Packet& last = run.packets.back();
    EXPECT_EQ(Bytes(last.ts, last.ts + 4), test::hex_bytes("47 1F FF 10"));
    EXPECT_EQ(run.info.ClipInfo.NumberOfSourcePackets, run.packets.size());
  }
}

TEST(MuxerTest, EqualTimesServeVideoAudioPgIgThenPid) {
  const std::vector<FakeTrack::Unit> one = {{kStart, kStart, 1}, {kStart + 90000, kStart + 90000, 1}};
  FakeTrack video(0x1B, one), audio2(0x81, one), audio1(0x81, one), pg(0x90, one), ig(0x91, one);
  video.pid = 0x1011;
  audio1.pid = 0x1100;
  audio2.pid = 0x1101;
  pg.pid = 0x1200;
  ig.pid = 0x1400;
  MuxRun run({&video, &ig, &audio2, &pg, &audio1});
  ASSERT_EQ(run.result, 0);
  std::vector<std::uint16_t> order;
  for (const Packet& p : run.packets)
    if (is_elementary_pid(p.pid) && order.size() < 5) order.push_back(p.pid);
  EXPECT_EQ(order, (std::vector<std::uint16_t>{0x1011, 0x1100, 0x1101, 0x1200, 0x1400}));
}

// A menu due before the first picture opens the file: the arrival clock starts early enough for every
// unit of every track to arrive by its decoding time (arrival + the PCR offset against DTS).
TEST(MuxerTest, TrackDueBeforeTheVideoOpensTheFileAndArrivesByItsDts) {
  struct Row {
    std::uint32_t menu_ahead;  // 90 kHz: the menu's first DTS before the video's
    int menu_packets;          // per menu unit
  };
  const Row rows[] = {{0, 40}, {135000, 400}, {135000, 4000}, {270000, 2000}};
  for (const Row& r : rows) {
    std::vector<FakeTrack::Unit> frames, menu;
    for (int i = 0; i < 24; ++i) {
      const std::uint32_t t = kStart + static_cast<std::uint32_t>(i) * 3750;
      frames.push_back({t, t + 3750, i == 0 ? 40 : 8, i == 0});
    }
    for (int i = 0; i < 3; ++i) {
      const std::uint32_t t = kStart - r.menu_ahead + static_cast<std::uint32_t>(i) * 45000;
      menu.push_back({t, t + 3750, r.menu_packets});
    }
    FakeTrack video(0x1B, frames), ig(0x91, menu);
    video.pid = 0x1011;
    ig.pid = 0x1400;
    MuxRun run({&video, &ig});
    ASSERT_EQ(run.result, 0) << run.messenger.all_text();
    // A menu 3 s ahead is due before the clock's start: the file opens at 0 and the menu is still on time.
    const std::uint64_t due = std::uint64_t{std::min(kStart, kStart - r.menu_ahead)} * 300;
    const std::uint64_t opens = due > kUnitLead ? due - kUnitLead : 0;
    EXPECT_EQ(run.packets.front().time, opens) << r.menu_ahead;
    const Packet* first = nullptr;
    std::map<std::pair<std::uint16_t, int>, std::uint64_t> last_arrival;  // (PID, unit) -> arrival
    for (const Packet& p : run.packets) {
      if (p.pid != 0x1011 && p.pid != 0x1400) continue;
      if (!first) first = &p;
      last_arrival[{p.pid, p.ts[4]}] = p.time;
    }
    ASSERT_NE(first, nullptr);
    EXPECT_EQ(first->pid, r.menu_ahead ? 0x1400 : 0x1011) << r.menu_ahead;
    for (const auto& [key, t] : last_arrival) {
      const auto& units = key.first == 0x1011 ? frames : menu;
      EXPECT_LE(t + kPcrOffset, std::uint64_t{units[static_cast<std::size_t>(key.second)].dts} * 300)
          << r.menu_ahead << " PID " << key.first << " unit " << key.second;
    }
  }
}

// A given presentation span is what the clip information states, whatever the tracks' own ends are.
TEST(MuxerTest, PresentationSpanStatedAsGiven) {
  FakeTrack audio(0x81, audio_units(kStart, 5));
  audio.pid = 0x1100;
  for (const bool span : {false, true}) {
    MemoryOutput m2ts, clpi;
    RecordingMessenger messenger;
    RecordingProgress progress;
    CMuxer muxer;
    if (span) muxer.set_presentation_span(kStart - 9000, kStart + 20000);
    std::string error;
    ASSERT_TRUE(muxer.start({&audio}, 1, &error)) << error;
    ASSERT_EQ(muxer.run(m2ts, clpi, progress, messenger), 0) << messenger.all_text();
    SClpiData info;
    ASSERT_GT(parse_clpi(clpi.bytes, info), 0);
    ASSERT_EQ(info.stc_info().size(), 1u);
    EXPECT_EQ(info.stc_info()[0].StartPTS, (span ? kStart - 9000 : kStart) / 2);
    EXPECT_EQ(info.stc_info()[0].EndPTS, (span ? kStart + 20000 : kStart + 4 * 2880) / 2);
    EXPECT_EQ(muxer.largest_end(), span ? kStart + 20000 : kStart + 4 * 2880);
  }
}

TEST(MuxerTest, EntryPointsAndClipInformation) {
  std::vector<FakeTrack::Unit> frames;
  for (int i = 0; i < 48; ++i) {
    const std::uint32_t t = kStart + static_cast<std::uint32_t>(i) * 3753;
    frames.push_back({t, t + 3753, i % 12 == 0 ? 40 : 8, i % 12 == 0});
  }
  FakeTrack video(0x1B, frames);
  FakeTrack audio(0x81, audio_units(kStart, 60));
  std::vector<SMuxTrack*> ordered = OrderTracks({&audio, &video}, {});
  MuxRun run(ordered, 1);
  ASSERT_EQ(run.result, 0);
  EXPECT_EQ(video.pid, 0x1011);
  EXPECT_EQ(audio.pid, 0x1100);
  ASSERT_EQ(run.info.ep_map().size(), 1u);
  const STREAM_PID_ENTRY& ep = run.info.ep_map()[0];
  EXPECT_EQ(ep.StreamPid, 0x1011);
  EXPECT_EQ(ep.EpStreamType, 1);
  ASSERT_EQ(ep.KeyPoints.size(), 4u);
  for (const KEY_POINT_INFO& kp : ep.KeyPoints) {
    // The entry point's packet starts the unit on the video PID.
    ASSERT_LT(kp.SpnStart, run.packets.size());
    const Packet& p = run.packets[kp.SpnStart];
    EXPECT_EQ(p.pid, 0x1011);
    EXPECT_TRUE(p.pusi);
    EXPECT_EQ(p.ts[4] % 12, 0);  // the fake payload carries the unit number
  }
  // The clip information: program streams in track order, one STC sequence with the start and end.
  ASSERT_EQ(run.info.streams().size(), 2u);
  EXPECT_EQ(run.info.streams()[0].StreamPID, 0x1011);
  EXPECT_EQ(run.info.streams()[1].StreamPID, 0x1100);
  ASSERT_EQ(run.info.stc_info().size(), 1u);
  EXPECT_EQ(run.info.stc_info()[0].StartPTS, kStart / 2);
  EXPECT_EQ(run.info.stc_info()[0].EndPTS, (kStart + 47 * 3753 + 3753 + 3003) / 2);
  EXPECT_EQ(run.info.ClipInfo.TsRecordingRate, 6000000u);
}

TEST(MuxerTest, AudioSentNoFasterThanItsTransportBufferLeaks) {
  // Large AC-3 units (20 packets): the 2 Mbit/s transport buffer paces them; a reference buffer in the
  // test never exceeds 512 bytes.
  FakeTrack audio(0x81, audio_units(kStart, 40, 20));
  audio.pid = 0x1100;
  MuxRun run({&audio});
  ASSERT_EQ(run.result, 0);
  double fullness = 0;
  std::uint64_t last = 0;
  for (const Packet& p : run.packets) {
    if (p.pid != 0x1100) continue;
    fullness = std::max(0.0, fullness - static_cast<double>(p.time - last) * 2e6 / 8 / 27e6);
    fullness += 188;
    last = p.time;
    EXPECT_LE(fullness, 512.0 + 1e-6);
  }
}

TEST(MuxerTest, WriteFailuresAndCancellation) {
  // A failing write at any point gives 2 with the system's text; the clip information is not written.
  for (const std::uint64_t fail_after : {0ull, 192ull * 10, 6144ull}) {
    FakeTrack audio(0x81, audio_units(kStart, 30));
    audio.pid = 0x1100;
    MuxRun run({&audio}, 1, {}, fail_after);
    EXPECT_EQ(run.result, 2) << fail_after;
    EXPECT_THAT(run.messenger.all_text(), testing::HasSubstr("No space left on device"));
    EXPECT_TRUE(run.clpi.bytes.empty());
  }
  // Cancelled in the first progress update.
  FakeTrack audio(0x81, audio_units(kStart, 30));
  audio.pid = 0x1100;
  CMuxer muxer;
  ASSERT_TRUE(muxer.start({&audio}, 1, nullptr));
  MemoryOutput m2ts, clpi;
  RecordingMessenger messenger;
  RecordingProgress progress;
  progress.cancel_after = 1;
  EXPECT_EQ(muxer.run(m2ts, clpi, progress, messenger), 1);
  EXPECT_TRUE(clpi.bytes.empty());
  EXPECT_EQ(progress.title(), message_text(kStrBuilding));
}

TEST(TrackOrderTest, GroupsPidsAndStreamIndex) {
  FakeTrack v(0x1B, {}, true, 0), pip(0x1B, {}, false, 5), a1(0x81, {}, true, 1), a2(0x86, {}, true, 2),
      sa(0xA1, {}, false, 6), pg(0x90, {}, true, 3), ig_old(0x91, {}, true, 4), txt(0x92, {}, true, 7),
      ig_new(0x91, {}, true, 0);
  const auto ordered = OrderTracks({&v, &pip, &a1, &a2, &sa, &pg, &ig_old, &txt}, {&ig_new});
  const std::vector<SMuxTrack*> want = {&v, &a1, &a2, &pg, &ig_new, &ig_old, &txt, &pip, &sa};
  EXPECT_EQ(ordered, want);
  const std::vector<std::uint16_t> pids = {0x1011, 0x1100, 0x1101, 0x1200, 0x1400, 0x1401, 0x1800, 0x1B00, 0x1A00};
  for (std::size_t i = 0; i < want.size(); ++i) EXPECT_EQ(want[i]->pid, pids[i]) << i;
}

TEST(TrackOrderTest, EntryPointDesignation) {
  struct Row {
    std::vector<std::uint16_t> pids;
    std::uint8_t app;
    int track;  // index of the designated track, -1 none
    std::uint8_t type;
  };
  const Row rows[] = {{{0x1100, 0x1400}, 4, 0, 3},          {{0x1100, 0x1A00, 0x1A01}, 7, 0, 3},
                      {{0x1200, 0x1A00, 0x1A01}, 7, 2, 4},   {{0x1200, 0x1400}, 5, 0, 6},
                      {{0x1400}, 5, 0, 7},                   {{0x1100}, 1, -1, 0},
                      {{0x1800}, 7, -1, 0}};
  for (const Row& r : rows) {
    std::vector<std::unique_ptr<FakeTrack>> owned;
    std::vector<SMuxTrack*> tracks;
    for (std::uint16_t pid : r.pids) {
      owned.push_back(std::make_unique<FakeTrack>(0x81, std::vector<FakeTrack::Unit>{}));
      owned.back()->pid = pid;
      tracks.push_back(owned.back().get());
    }
    DesignateEntryPoints(tracks, r.app);
    for (std::size_t i = 0; i < tracks.size(); ++i) {
      EXPECT_EQ(tracks[i]->has_ep_map, static_cast<int>(i) == r.track) << i;
      if (static_cast<int>(i) == r.track) {
        EXPECT_EQ(tracks[i]->ep_stream_type, r.type);
      }
    }
  }
  // Every primary and secondary video track gets a map of type 1.
  FakeTrack v(0x1B, {}), pip(0x1B, {}), a(0x81, {});
  v.pid = 0x1011;
  pip.pid = 0x1B00;
  a.pid = 0x1100;
  DesignateEntryPoints({&a, &v, &pip}, 1);
  EXPECT_FALSE(a.has_ep_map);
  EXPECT_TRUE(v.has_ep_map && pip.has_ep_map);
  EXPECT_EQ(pip.ep_stream_type, 1);
}

}  // namespace
}  // namespace veld
