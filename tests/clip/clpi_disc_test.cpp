// SPDX-License-Identifier: GPL-3.0-or-later
// The clip information files of the generated test discs against the generator's truth files, and
// libbluray reading a disc whose clip information files this writer has rebuilt.
#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <set>

#include "support/test_support.h"
#include "veld/clip/clpi.h"

extern "C" {
#include <libbluray/bluray.h>
#include <libbluray/clpi_data.h>
}

namespace veld {
namespace {

namespace fs = std::filesystem;

void expect_libbluray_reads(const fs::path& file, const SClpiData& d);

const char* const kVariants[] = {"menu", "twoig", "popup", "subpath", "streams"};

nlohmann::json truth_of(const fs::path& disc) {
  std::ifstream in(disc / "truth.json");
  return nlohmann::json::parse(in);
}

std::uint16_t pid_of(const std::string& hex) { return static_cast<std::uint16_t>(std::stoul(hex, nullptr, 16)); }

SClpiData parse_file(const fs::path& p) {
  const Bytes file = test::read_file(p);
  SClpiData d;
  std::string error;
  EXPECT_EQ(parse_clpi(file, d, &error), static_cast<int>(file.size())) << p << ": " << error;
  return d;
}

TEST(ClpiDisc, GeneratedClipsMatchTheTruthFiles) {
  int clips = 0;
  for (const char* variant : kVariants) {
    const fs::path disc = test::test_discs_dir() / variant;
    const nlohmann::json truth = truth_of(disc);
    for (const auto& [number, clip] : truth.at("clips").items()) {
      SCOPED_TRACE(std::string(variant) + "/" + number);
      ++clips;
      const fs::path path = disc / "BDMV" / "CLIPINF" / (number + ".clpi");
      const SClpiData d = parse_file(path);
      expect_libbluray_reads(path, d);
      EXPECT_EQ(d.ClipInfo.ApplicationType, clip.at("application_type").get<int>());
      if (clip.contains("source_packets")) {
        EXPECT_EQ(d.ClipInfo.NumberOfSourcePackets, clip.at("source_packets").get<std::uint32_t>());
      }
      ASSERT_FALSE(d.stc_info().empty());
      EXPECT_EQ(d.stc_info()[0].StartPTS, clip.at("presentation_start").get<std::uint32_t>());
      EXPECT_EQ(d.stc_info()[0].EndPTS, clip.at("presentation_end").get<std::uint32_t>());

      std::set<std::uint16_t> listed;
      for (const STREAM_INFO& s : d.streams()) listed.insert(s.StreamPID);
      std::set<std::uint16_t> expected;
      for (const auto& [pid, info] : clip.at("pids").items()) {
        expected.insert(pid_of(pid));
        const auto it = std::find_if(d.streams().begin(), d.streams().end(),
                                     [&](const STREAM_INFO& s) { return s.StreamPID == pid_of(pid); });
        ASSERT_NE(it, d.streams().end()) << pid;
        EXPECT_EQ(it->StreamCodingInfo.CodingType, info.at("stream_type").get<int>()) << pid;
        EXPECT_EQ(it->StreamCodingInfo.language(), info.at("language").get<std::string>()) << pid;
      }
      EXPECT_EQ(listed, expected);

      const auto& ep = clip.at("ep_map");
      EXPECT_EQ(d.ep_map().size(), ep.size());
      for (const auto& [pid, points] : ep.items()) {
        const auto it = std::find_if(d.ep_map().begin(), d.ep_map().end(),
                                     [&](const STREAM_PID_ENTRY& e) { return e.StreamPid == pid_of(pid); });
        ASSERT_NE(it, d.ep_map().end()) << pid;
        ASSERT_EQ(it->KeyPoints.size(), points.size()) << pid;
        for (std::size_t i = 0; i < points.size(); ++i) {
          // The EP map holds time in 512-tick steps of 90 kHz.
          EXPECT_EQ(it->KeyPoints[i].PTS, points[i][0].get<std::uint64_t>() & ~std::uint64_t{0x1FF}) << i;
          EXPECT_EQ(it->KeyPoints[i].SpnStart, points[i][1].get<std::uint32_t>()) << i;
        }
      }

      // Writing the parsed record and reading it again gives the same record and the same bytes.
      const Bytes again = write_clpi(d);
      SClpiData back;
      ASSERT_GT(parse_clpi(again, back), 0);
      EXPECT_EQ(back.streams(), d.streams());
      EXPECT_EQ(back.stc_info(), d.stc_info());
      EXPECT_EQ(write_clpi(back), again);
      for (std::size_t i = 0; i < d.ep_map().size() && i < back.ep_map().size(); ++i) {
        EXPECT_EQ(back.ep_map()[i].KeyPoints, d.ep_map()[i].KeyPoints);
      }
    }
  }
  EXPECT_GE(clips, 4);
}


// Size class of an entry point's first access unit (bytes from its first to its last packet).
int expected_i_end(const KEY_POINT_INFO& kp) {
  const double bytes = (double(kp.SpnEnd) - double(kp.SpnStart) + 1) * 192;
  const double limits[] = {0x20000, 0x40000, 0x60000, 0x90000, 0xE0000, 0x140000};
  int cls = 1;
  for (double limit : limits) {
    if (bytes < limit) return cls;
    ++cls;
  }
  return 7;
}

// libbluray's own reading of a clip information file agrees with the record it was written from (or
// that our parser read from it).
void expect_libbluray_reads(const fs::path& file, const SClpiData& d) {
  SCOPED_TRACE(file.string());
  CLPI_CL* cl = bd_read_clpi(file.c_str());
  ASSERT_NE(cl, nullptr) << "libbluray refuses the file";
  EXPECT_EQ(cl->clip.clip_stream_type, d.ClipInfo.ClipStreamType);
  EXPECT_EQ(cl->clip.application_type, d.ClipInfo.ApplicationType);
  EXPECT_EQ(cl->clip.ts_recording_rate, d.ClipInfo.TsRecordingRate);
  EXPECT_EQ(cl->clip.num_source_packets, d.ClipInfo.NumberOfSourcePackets);
  EXPECT_EQ(cl->clip.ts_type_info.validity, d.ClipInfo.TsTypeInfoBlock.ValidityFlags);
  EXPECT_EQ(cl->clip.is_atc_delta, 0);

  ASSERT_GE(cl->sequence.num_atc_seq, 1);
  const CLPI_ATC_SEQ& atc = cl->sequence.atc_seq[0];
  ASSERT_EQ(atc.num_stc_seq, d.stc_info().size());
  for (std::size_t i = 0; i < d.stc_info().size(); ++i) {
    EXPECT_EQ(atc.stc_seq[i].pcr_pid, d.stc_info()[i].PcrPid);
    EXPECT_EQ(atc.stc_seq[i].presentation_start_time, d.stc_info()[i].StartPTS);
    EXPECT_EQ(atc.stc_seq[i].presentation_end_time, d.stc_info()[i].EndPTS);
  }

  ASSERT_EQ(cl->program.num_prog, 1);
  const CLPI_PROG& prog = cl->program.progs[0];
  EXPECT_EQ(prog.program_map_pid, d.ProgramInfo.ProgramSequenceInfo.ProgramMapPid);
  ASSERT_EQ(prog.num_streams, d.streams().size());
  for (std::size_t i = 0; i < d.streams().size(); ++i) {
    const CLPI_PROG_STREAM& s = prog.streams[i];
    const SStreamCodingInfo& ci = d.streams()[i].StreamCodingInfo;
    EXPECT_EQ(s.pid, d.streams()[i].StreamPID);
    EXPECT_EQ(s.coding_type, ci.CodingType);
    if (is_video_coding_type(ci.CodingType)) {
      EXPECT_EQ(s.format, ci.VideoFormat);
      EXPECT_EQ(s.rate, ci.FrameRate);
      EXPECT_EQ(s.aspect, ci.AspectRatio);
    } else if (is_audio_coding_type(ci.CodingType)) {
      EXPECT_EQ(s.format, ci.PresentationType);
      EXPECT_EQ(s.rate, ci.SamplingFrequency);
    }
    if (ci.CodingType == coding_type::kTextSubtitle) {
      EXPECT_EQ(s.char_code, ci.CharacterCode);
    }
    if (is_audio_coding_type(ci.CodingType) || is_graphics_coding_type(ci.CodingType) ||
        ci.CodingType == coding_type::kTextSubtitle) {
      EXPECT_EQ(std::string(s.lang), ci.language());
    }
  }

  std::vector<const STREAM_PID_ENTRY*> entries;
  for (const STREAM_PID_ENTRY& e : d.ep_map()) {
    if (!e.KeyPoints.empty()) entries.push_back(&e);
  }
  ASSERT_EQ(cl->cpi.num_stream_pid, entries.size());
  for (std::size_t n = 0; n < entries.size(); ++n) {
    const CLPI_EP_MAP_ENTRY& lb = cl->cpi.entry[n];
    const STREAM_PID_ENTRY& e = *entries[n];
    EXPECT_EQ(lb.pid, e.StreamPid);
    EXPECT_EQ(lb.ep_stream_type, e.EpStreamType);
    ASSERT_EQ(static_cast<std::size_t>(lb.num_ep_fine), e.KeyPoints.size());
    ASSERT_EQ(static_cast<std::size_t>(lb.num_ep_coarse), coarse_entry_count(e.KeyPoints));
    for (int c = 0; c < lb.num_ep_coarse; ++c) {
      // The coarse entry carries the full packet number of the key point it starts.
      EXPECT_EQ(lb.coarse[c].spn_ep, e.KeyPoints.at(static_cast<std::size_t>(lb.coarse[c].ref_ep_fine_id)).SpnStart);
      const int to = c + 1 < lb.num_ep_coarse ? lb.coarse[c + 1].ref_ep_fine_id : lb.num_ep_fine;
      for (int f = lb.coarse[c].ref_ep_fine_id; f < to; ++f) {
        const KEY_POINT_INFO& kp = e.KeyPoints[static_cast<std::size_t>(f)];
        const std::uint64_t pts = (std::uint64_t(static_cast<std::uint32_t>(lb.coarse[c].pts_ep)) << 19) |
                                  (std::uint64_t(static_cast<std::uint32_t>(lb.fine[f].pts_ep) & 0x3FF) << 9);
        const std::uint32_t spn = (lb.coarse[c].spn_ep & ~0x1FFFFu) | static_cast<std::uint32_t>(lb.fine[f].spn_ep);
        EXPECT_EQ(pts, kp.PTS & 0x1FFFFFE00ull) << "key point " << f;
        EXPECT_EQ(spn, kp.SpnStart) << "key point " << f;
        EXPECT_EQ(lb.fine[f].is_angle_change_point, 0);
        EXPECT_EQ(lb.fine[f].i_end_position_offset, e.EpStreamType == 1 ? expected_i_end(kp) : 0);
      }
    }
  }
  bd_free_clpi(cl);
}

TEST(ClpiLibbluray, ReadsWhatTheWriterWrites) {
  SClpiData d = new_clpi_data();
  d.ClipInfo.ApplicationType = 5;
  d.ClipInfo.NumberOfSourcePackets = 0x23456;
  d.stc_info() = {STC_INFO{0x1001, 0, 0x1000, 0x7FFFFFFF}, STC_INFO{0x1001, 500, 0x80000000, 0xFFFFFFFF}};
  const std::uint8_t types[] = {0x02, 0x1B, 0xEA, 0x80, 0x81, 0x86, 0xA1, 0xA2, 0x90, 0x91, 0x92};
  std::uint16_t pid = 0x1011;
  for (std::uint8_t t : types) {
    STREAM_INFO s;
    s.StreamPID = pid++;
    s.StreamCodingInfo.CodingType = t;
    s.StreamCodingInfo.VideoFormat = is_video_coding_type(t) ? 6 : 0;
    s.StreamCodingInfo.FrameRate = is_video_coding_type(t) ? 4 : 0;
    s.StreamCodingInfo.AspectRatio = is_video_coding_type(t) ? 3 : 0;
    s.StreamCodingInfo.PresentationType = is_audio_coding_type(t) ? 3 : 0;
    s.StreamCodingInfo.SamplingFrequency = is_audio_coding_type(t) ? 1 : 0;
    s.StreamCodingInfo.CharacterCode = t == 0x92 ? 1 : 0;
    if (!is_video_coding_type(t)) s.StreamCodingInfo.set_language("fra");
    d.streams().push_back(s);
  }
  STREAM_PID_ENTRY v;
  v.StreamPid = 0x1011;
  std::uint32_t spn = 0;
  for (std::uint64_t i = 0; i < 300; ++i) {
    KEY_POINT_INFO kp;
    kp.PTS = 0xFFF00000ull + i * 45045 * 2;  // crosses 2^32 and several coarse steps
    kp.SpnStart = spn;
    kp.SpnEnd = spn + static_cast<std::uint32_t>(i * 37 % 9000);
    spn += 1000 + static_cast<std::uint32_t>(i * 911 % 5000);
    v.KeyPoints.push_back(kp);
  }
  STREAM_PID_ENTRY empty;
  empty.StreamPid = 0x1012;  // no key points: left out
  STREAM_PID_ENTRY a;
  a.StreamPid = 0x1100;
  a.EpStreamType = 3;
  a.KeyPoints = {KEY_POINT_INFO{0, 0x400, 7, 9}};
  d.ep_map() = {v, empty, a};
  d.ExtensionData = SExtensionData{};
  d.ExtensionData->Entries.push_back({0x2000, 1, 0, 3, {1, 2, 3}});

  test::TempDir tmp;
  const fs::path file = tmp / "00001.clpi";
  test::write_file(file, write_clpi(d));
  expect_libbluray_reads(file, d);
}

// Every clip information file of every generated disc (and its backup copy) is written back byte for
// byte from its parsed record.
TEST(ClpiDisc, EveryGeneratedFileRoundTripsByteForByte) {
  std::vector<fs::path> files;
  for (const auto& disc : fs::directory_iterator(test::test_discs_dir()))
    for (const fs::path& folder : {disc.path() / "BDMV" / "CLIPINF", disc.path() / "BDMV" / "BACKUP" / "CLIPINF"})
      if (fs::is_directory(folder))
        for (const auto& f : fs::directory_iterator(folder))
          if (f.path().extension() == ".clpi") files.push_back(f.path());
  std::sort(files.begin(), files.end());
  ASSERT_GE(files.size(), 10u);
  for (const fs::path& p : files) {
    SCOPED_TRACE(p.string());
    const Bytes in = test::read_file(p);
    EXPECT_EQ(write_clpi(parse_file(p)), in);
  }
}

// The generated files hold nothing unread; a ProgramInfo or SequenceInfo block whose length says two bytes
// more than its content has those two noted, with the offset where they start.
TEST(ClpiDisc, BlocksLongerThanTheirContentAreNoted) {
  for (const char* variant : kVariants) {
    for (const auto& entry : fs::directory_iterator(test::test_discs_dir() / variant / "BDMV" / "CLIPINF")) {
      SCOPED_TRACE(entry.path().string());
      const Bytes file = test::read_file(entry.path());
      SClpiData d;
      CUnreadBytes unread;
      ASSERT_GT(parse_clpi(file, d, nullptr, &unread), 0);
      EXPECT_TRUE(unread.empty());
      for (const auto& [address_at, name] : {std::pair<std::size_t, const char*>{8, "SequenceInfo"}, {12, "ProgramInfo"}}) {
        Bytes longer = file;
        const std::size_t start = load_be32(&file[address_at]);
        const std::uint32_t length = load_be32(&file[start]);
        store_be32(&longer[start], length + 2);
        unread.clear();
        ASSERT_GT(parse_clpi(longer, d, nullptr, &unread), 0);
        EXPECT_EQ(unread, (CUnreadBytes{{name, start + 4 + length, 2}}));
      }
    }
  }
}

TEST(ClpiDisc, EveryTruncationFailsCleanly) {
  for (const char* variant : kVariants) {
    for (const auto& entry : fs::directory_iterator(test::test_discs_dir() / variant / "BDMV" / "CLIPINF")) {
      const Bytes file = test::read_file(entry.path());
      for (std::size_t n = 0; n < file.size(); ++n) {
        // A copy of exactly n bytes, so that the sanitizer sees any read past it.
        const Bytes cut(file.begin(), file.begin() + static_cast<std::ptrdiff_t>(n));
        SClpiData d;
        EXPECT_EQ(parse_clpi(cut, d), 0) << entry.path() << " cut at " << n;
      }
    }
  }
}

// The clip information the multiplexer writes after a rebuild: a fresh record filled from the clip.
SClpiData rebuilt(const SClpiData& old) {
  SClpiData d = new_clpi_data();
  d.ClipInfo.ApplicationType = old.ClipInfo.ApplicationType;
  d.ClipInfo.TsRecordingRate = old.ClipInfo.TsRecordingRate;
  d.ClipInfo.NumberOfSourcePackets = old.ClipInfo.NumberOfSourcePackets;
  STC_INFO stc;
  stc.StartPTS = old.stc_info().at(0).StartPTS;
  stc.EndPTS = old.stc_info().at(0).EndPTS;
  d.stc_info() = {stc};
  d.streams() = old.streams();
  d.ep_map() = old.ep_map();
  return d;
}

TEST(ClpiDisc, LibblurayReadsADiscWithRewrittenClipInformation) {
  struct Check {
    const char* variant;
    const char* args;
  };
  // What libbluray must see on each disc (the same expectations as the generator's own check).
  const Check checks[] = {
      {"menu", "--titles 1 --playlists 00000,00001 --ig-streams 0:1 --audio-streams 1:1 --menu 8"},
      {"twoig", "--titles 2 --playlists 00000,00001,00002 --ig-streams 0:2 --angles 1:2 --angles 2:1 --menu 8"},
      {"popup", "--titles 1 --playlists 00000 --ig-streams 0:1 --pg-streams 0:1 --audio-streams 0:2 --menu 1 --popup"},
      {"subpath", "--titles 1 --playlists 00001 --ig-streams 1:1 --audio-streams 1:1 --menu 8"},
      {"streams", "--titles 2 --playlists 00000,00001 --video-streams 0:1 --audio-streams 0:4 --pg-streams 0:1 "
       "--ig-streams 0:1 --sec-video-streams 0:1 --sec-audio-streams 0:1 --video-streams 1:1 "
       "--audio-streams 1:1 --pg-streams 1:1 --ig-streams 1:1 --menu 8"},
  };
  for (const Check& check : checks) {
    SCOPED_TRACE(check.variant);
    test::TempDir tmp;
    const fs::path disc = tmp / check.variant;
    fs::create_directories(disc);
    fs::copy(test::test_discs_dir() / check.variant / "BDMV", disc / "BDMV", fs::copy_options::recursive);
    int rewritten = 0;
    for (const fs::path& folder : {disc / "BDMV" / "CLIPINF", disc / "BDMV" / "BACKUP" / "CLIPINF"}) {
      for (const auto& entry : fs::directory_iterator(folder)) {
        const SClpiData d = parse_file(entry.path());
        const Bytes file = write_clpi(rebuilt(d));
        test::write_file(entry.path(), file);
        expect_libbluray_reads(entry.path(), rebuilt(d));
        SClpiData back;
        ASSERT_EQ(parse_clpi(file, back), static_cast<int>(file.size()));
        ASSERT_TRUE(back.ToolStamp);
        EXPECT_EQ(tool_data_of(*back.ToolStamp)->Company, "VELD");
        ++rewritten;
      }
    }
    ASSERT_GT(rewritten, 0);
    const std::string cmd = std::string(VELD_BDCHECK_PATH) + " '" + disc.string() + "' --read --quiet " + check.args;
    EXPECT_EQ(std::system(cmd.c_str()), 0) << cmd;
  }
}

}  // namespace
}  // namespace veld
