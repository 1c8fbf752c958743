// SPDX-License-Identifier: GPL-3.0-or-later
// `veld check`: clean on every generated disc and on the sample disc; on copies of a good disc damaged
// one way each, it finds the damage and names the file, PID and packet. And the gate replace runs before
// a copy-back: a rebuilt clip that fails a check its original passes is refused.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fmt/format.h>

#include <fstream>
#include <functional>
#include <nlohmann/json.hpp>

#include "cli/cli_support.h"
#include "veld/base/file.h"
#include "veld/clip/clpi.h"
#include "veld/pipeline/check.h"
#include "veld/pipeline/check_written.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using json = nlohmann::json;

Bytes ReadBytes(const fs::path& p) {
  std::string error;
  auto b = read_whole_file(p, &error);
  EXPECT_TRUE(b) << error;
  return b ? *b : Bytes{};
}

void WriteBytes(const fs::path& p, const Bytes& b) {
  std::ofstream out(p, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(b.data()), static_cast<std::streamsize>(b.size()));
}

// A clip stream file in memory, packet by packet.
struct Clip {
  Bytes bytes;
  std::size_t count() const { return bytes.size() / 192; }
  std::uint8_t* ts(std::size_t i) { return bytes.data() + i * 192 + 4; }
  int pid(std::size_t i) { return ((ts(i)[1] & 0x1F) << 8) | ts(i)[2]; }
  bool start(std::size_t i) { return (ts(i)[1] & 0x40) != 0; }
  std::uint32_t ats(std::size_t i) {
    const std::uint8_t* p = bytes.data() + i * 192;
    return ((std::uint32_t{p[0]} << 24) | (p[1] << 16) | (p[2] << 8) | p[3]) & 0x3FFFFFFF;
  }
  void set_ats(std::size_t i, std::uint32_t v) {
    std::uint8_t* p = bytes.data() + i * 192;
    v = (v & 0x3FFFFFFF) | ((std::uint32_t{p[0]} & 0xC0) << 24);
    p[0] = static_cast<std::uint8_t>(v >> 24), p[1] = static_cast<std::uint8_t>(v >> 16);
    p[2] = static_cast<std::uint8_t>(v >> 8), p[3] = static_cast<std::uint8_t>(v);
  }
  // Packets of pid that start a PES packet, in order.
  std::vector<std::size_t> starts(int p) {
    std::vector<std::size_t> out;
    for (std::size_t i = 0; i < count(); ++i)
      if (pid(i) == p && start(i)) out.push_back(i);
    return out;
  }
};

struct Expected {
  std::string file;  // a part of the finding's file
  std::string check;
  int pid = -1;
  std::int64_t packet = -1;  // -1: any
  std::string text;          // a part of its text
};

constexpr int kVideo = 0x1011, kAudio = 0x1100, kIg = 0x1400;

// The last packet of the IG stream's first PES packet and everything after it arrive a second later.
Expected DelayPes(const fs::path& bdmv) {
  const fs::path path = bdmv / "STREAM/00000.m2ts";
  Clip c{ReadBytes(path)};
  const std::vector<std::size_t> s = c.starts(kIg);
  EXPECT_GE(s.size(), 2u);
  std::size_t last = s[1];
  while (c.pid(--last) != kIg) {}
  for (std::size_t i = last; i < c.count(); ++i) c.set_ats(i, c.ats(i) + 27000000);
  WriteBytes(path, c.bytes);
  return {"00000.m2ts", "late", kIg, static_cast<std::int64_t>(last), "after its decoding time"};
}

// The video's last entry point moves to the next video PES packet, which starts no key frame.
Expected MoveEntryPoint(const fs::path& bdmv) {
  const fs::path path = bdmv / "CLIPINF/00001.clpi";
  SClpiData data;
  EXPECT_GT(parse_clpi(ReadBytes(path), data), 0);
  Clip c{ReadBytes(bdmv / "STREAM/00001.m2ts")};
  for (STREAM_PID_ENTRY& e : data.ep_map()) {
    if (e.StreamPid != kVideo) continue;
    KEY_POINT_INFO& kp = e.KeyPoints.back();
    for (std::size_t i : c.starts(kVideo)) {
      if (i <= kp.SpnStart) continue;
      kp.SpnStart = static_cast<std::uint32_t>(i);
      WriteBytes(path, write_clpi(data));
      return {"00001.m2ts", "ep_map", kVideo, static_cast<std::int64_t>(i), "not on a random access point"};
    }
  }
  ADD_FAILURE() << "no video entry point to move";
  return {};
}

// The clip information calls the AC-3 stream DTS.
Expected RetypeStream(const fs::path& bdmv) {
  const fs::path path = bdmv / "CLIPINF/00001.clpi";
  SClpiData data;
  EXPECT_GT(parse_clpi(ReadBytes(path), data), 0);
  for (STREAM_INFO& s : data.streams())
    if (s.StreamPID == kAudio) s.StreamCodingInfo.CodingType = coding_type::kDtsAudio;
  WriteBytes(path, write_clpi(data));
  return {"00001.m2ts", "program", kAudio, -1, "stream type 0x81, the clip information coding type 0x82"};
}

// Every packet from the first audio packet to the fifth arrives one tick after the one before.
Expected BunchPackets(const fs::path& bdmv) {
  const fs::path path = bdmv / "STREAM/00001.m2ts";
  Clip c{ReadBytes(path)};
  std::vector<std::size_t> audio;
  for (std::size_t i = 0; i < c.count() && audio.size() < 5; ++i)
    if (c.pid(i) == kAudio) audio.push_back(i);
  EXPECT_EQ(audio.size(), 5u);
  for (std::size_t i = audio[0] + 1; i <= audio[4]; ++i) c.set_ats(i, c.ats(audio[0]) + static_cast<std::uint32_t>(i - audio[0]));
  WriteBytes(path, c.bytes);
  return {"00001.m2ts", "buffer", kAudio, -1, "transport buffer of 512 bytes"};
}

Expected RemoveClip(const fs::path& bdmv) {
  fs::remove(bdmv / "STREAM/00001.m2ts");
  return {"PLAYLIST/00001.mpls", "clip", -1, -1, "00001.m2ts is missing"};
}

// The pixel data of the first object turns into one long run of single pixels without an end of line.
Expected DamageObject(const fs::path& bdmv) {
  const fs::path path = bdmv / "STREAM/00000.m2ts";
  Clip c{ReadBytes(path)};
  for (std::size_t i : c.starts(kIg)) {
    std::uint8_t* p = c.ts(i);
    const int off = ((p[3] >> 4) & 3) == 3 ? 5 + p[4] : 4;
    const int es = off + 9 + p[off + 8];
    if (p[es] != 0x15) continue;  // ODS: type, length, id, version, flags, data length, width, height
    for (int k = es + 15; k < 188; ++k) p[k] = 0x01;
    WriteBytes(path, c.bytes);
    return {"00000.m2ts", "graphics", kIg, -1, "does not decode"};
  }
  ADD_FAILURE() << "no ODS";
  return {};
}

// The menu clip's PMT packets become null packets: the IG streams cannot be found, and the stream checks,
// which otherwise ride on the pass that reads them, still run and name the missing table.
Expected DropPmt(const fs::path& bdmv) {
  const fs::path path = bdmv / "STREAM/00000.m2ts";
  Clip c{ReadBytes(path)};
  for (std::size_t i = 0; i < c.count(); ++i) {
    if (c.pid(i) != 0x0100) continue;
    c.ts(i)[1] = static_cast<std::uint8_t>((c.ts(i)[1] & 0xE0) | 0x1F);
    c.ts(i)[2] = 0xFF;
  }
  WriteBytes(path, c.bytes);
  return {"00000.m2ts", "program", 0x0100, -1, "no complete PMT"};
}

json CheckJson(const fs::path& bdmv, const test::TempDir& scratch, int status) {
  const auto r = test::run_veld({"check", "--json", bdmv.string()}, scratch.path());
  EXPECT_EQ(r.status, status) << r.out << r.err;
  return json::parse(r.out);
}

TEST(CheckCli, CleanOnEveryGeneratedDiscAndTheSampleDisc) {
  test::TempDir scratch;
  std::vector<fs::path> discs{test::source_dir() / "examples/sample-disc"};
  for (const auto& entry : fs::directory_iterator(test::test_discs_dir()))
    if (fs::exists(entry.path() / "truth.json")) discs.push_back(entry.path());
  ASSERT_GE(discs.size(), 6u);
  for (const fs::path& disc : discs) {
    const json report = CheckJson(disc / "BDMV", scratch, 0);
    EXPECT_EQ(report["findings"], json::array()) << disc;
    EXPECT_GT(report["packets"].get<int>(), 0);
    const auto text = test::run_veld({"check", (disc / "BDMV").string()}, scratch.path());
    EXPECT_EQ(text.status, 0);
    EXPECT_THAT(text.out, HasSubstr("no finding"));
  }
}

struct Defect {
  const char* name;
  std::function<Expected(const fs::path&)> damage;
};

TEST(CheckCli, FindsEachDefectAndNamesItsPlace) {
  const Defect defects[] = {
      {"PES delayed after its DTS", DelayPes},       {"EP entry off a key frame", MoveEntryPoint},
      {"PMT/clip-info mismatch", RetypeStream},      {"overfull transport buffer", BunchPackets},
      {"missing clip", RemoveClip},                  {"undecodable object", DamageObject},
      {"no PMT in the menu clip", DropPmt},
  };
  for (const Defect& d : defects) {
    SCOPED_TRACE(d.name);
    test::TempDir scratch;
    const fs::path root = scratch / "disc";
    test::copy_disc(test::test_discs_dir() / "menu", root);
    const Expected want = d.damage(root / "BDMV");
    const json report = CheckJson(root / "BDMV", scratch, 2);
    bool found = false;
    for (const json& f : report["findings"]) {
      found |= f["file"].get<std::string>().find(want.file) != std::string::npos && f["check"] == want.check &&
               (want.pid < 0 || f["pid"] == want.pid) && (want.packet < 0 || f["packet"] == want.packet) &&
               f["text"].get<std::string>().find(want.text) != std::string::npos;
    }
    EXPECT_TRUE(found) << report.dump(1);
    // The text form names the same place.
    const auto text = test::run_veld({"check", (root / "BDMV").string()}, scratch.path());
    EXPECT_EQ(text.status, 2);
    if (want.pid >= 0) {
      EXPECT_THAT(text.out, HasSubstr(fmt::format("PID 0x{:04X}", want.pid)));
    }
  }
}

// The gate before a copy-back, with a damaged copy of a clip standing for a rebuilt one.
TEST(CheckRebuiltClip, RefusesAClipThatFailsACheckTheOriginalPasses) {
  test::TempDir scratch;
  const fs::path good = scratch / "good", bad = scratch / "bad";
  test::copy_disc(test::test_discs_dir() / "menu", good);
  test::copy_disc(test::test_discs_dir() / "menu", bad);
  const Expected want = DelayPes(bad / "BDMV");
  const auto m2ts = [](const fs::path& d) { return d / "BDMV/STREAM/00000.m2ts"; };
  const auto clpi = [](const fs::path& d) { return d / "BDMV/CLIPINF/00000.clpi"; };
  test::RecordingProgress progress;
  {
    test::RecordingMessenger messenger;
    EXPECT_FALSE(CheckRebuiltClip(m2ts(good), clpi(good), m2ts(bad), clpi(bad), progress, messenger));
    const std::string text = messenger.all_text();
    EXPECT_THAT(text, HasSubstr("00000"));
    EXPECT_THAT(text, HasSubstr("PID 0x1400"));
    EXPECT_THAT(text, HasSubstr(fmt::format("packet {}", want.packet)));
  }
  {  // the same clip twice, and a rebuilt clip that fails only what its original fails, pass
    test::RecordingMessenger messenger;
    EXPECT_TRUE(CheckRebuiltClip(m2ts(good), clpi(good), m2ts(good), clpi(good), progress, messenger));
    EXPECT_TRUE(CheckRebuiltClip(m2ts(bad), clpi(bad), m2ts(bad), clpi(bad), progress, messenger));
    EXPECT_TRUE(messenger.shown.empty());
  }
}

// The in-place gate reads what a rebuilt stream's packets make and where the clip information points,
// and passes only what that shows sound: damage there is not passed (the whole check then decides).
// Damage to a stream that was not replaced is outside what it reads: the in-place route copies those
// packets as they were.
TEST(InPlaceClipPasses, PassesTheSameClipAndNotADamagedOne) {
  struct Case {
    const char* name;
    std::function<Expected(const fs::path&)> damage;  // nullptr: none
    const char* clip;
    std::vector<std::uint16_t> pids;
    bool passes;
  };
  const Case cases[] = {
      {"menu clip as it was", nullptr, "00000", {kIg}, true},
      {"main clip as it was", nullptr, "00001", {}, true},
      {"PES delayed after its DTS", DelayPes, "00000", {kIg}, false},
      {"undecodable object", DamageObject, "00000", {kIg}, false},
      {"no PMT", DropPmt, "00000", {kIg}, false},
      {"EP entry off its packet", MoveEntryPoint, "00001", {}, false},
      {"PMT/clip-info mismatch", RetypeStream, "00001", {}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir scratch;
    const fs::path good = scratch / "good", bad = scratch / "bad";
    test::copy_disc(test::test_discs_dir() / "menu", good);
    test::copy_disc(test::test_discs_dir() / "menu", bad);
    if (c.damage) c.damage(bad / "BDMV");
    const auto m2ts = [&](const fs::path& d) { return d / "BDMV/STREAM" / (std::string(c.clip) + ".m2ts"); };
    const auto clpi = [&](const fs::path& d) { return d / "BDMV/CLIPINF" / (std::string(c.clip) + ".clpi"); };
    // What the in-place writer lists: the replaced streams' packets, the PAT, the PMT and the PCRs.
    Clip original{ReadBytes(m2ts(good))};
    SInPlaceClip in_place{c.pids, {}};
    for (std::size_t i = 0; i < original.count(); ++i) {
      const std::uint8_t* p = original.ts(i);
      const bool pcr = ((p[3] >> 4) & 2) && p[4] >= 7 && (p[5] & 0x10);
      const bool replaced = std::find(c.pids.begin(), c.pids.end(), original.pid(i)) != c.pids.end();
      if (replaced || pcr || original.pid(i) == 0 || original.pid(i) == 0x0100)
        in_place.check_packets.push_back(static_cast<std::uint32_t>(i));
    }
    test::RecordingProgress progress;
    bool cancelled = true;
    std::string error = "?";
    EXPECT_EQ(InPlaceClipPasses(m2ts(good), clpi(good), m2ts(bad), clpi(bad), in_place, progress, &cancelled, &error),
              c.passes);
    EXPECT_FALSE(cancelled);
    EXPECT_EQ(error, "");
    EXPECT_FALSE(fs::exists(bad / "BDMV/STREAM" / (std::string(c.clip) + ".gate")));
  }
}

// The check made while a clip is written sees the stream file piece by piece, as the multiplexer hands
// it over, and passes only a clip without any finding; damage, a piece it did not see, or clip
// information that names other streams than it was made for is not passed (the check from the file
// then decides).
TEST(CWrittenClipCheck, PassesASoundClipSeenWholeAndNothingElse) {
  struct Case {
    const char* name;
    std::function<Expected(const fs::path&)> damage;  // nullptr: none
    const char* clip;
    std::vector<std::uint16_t> rebuilt;
    bool passes;
    bool skip_piece = false;
  };
  const Case cases[] = {
      {"menu clip as it was", nullptr, "00000", {kIg}, true},
      {"main clip as it was", nullptr, "00001", {}, true},
      {"a piece not seen", nullptr, "00001", {}, false, true},
      {"PES delayed after its DTS", DelayPes, "00000", {kIg}, false},
      {"undecodable object", DamageObject, "00000", {kIg}, false},
      {"no PMT", DropPmt, "00000", {kIg}, false},
      {"EP entry off a key frame", MoveEntryPoint, "00001", {}, false},
      {"PMT/clip-info mismatch", RetypeStream, "00001", {}, false},
      {"overfull buffer of a rebuilt stream", BunchPackets, "00001", {kAudio}, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    test::TempDir scratch;
    const fs::path disc = scratch / "disc";
    test::copy_disc(test::test_discs_dir() / "menu", disc);
    if (c.damage) c.damage(disc / "BDMV");
    const fs::path m2ts = disc / "BDMV/STREAM" / (std::string(c.clip) + ".m2ts");
    const fs::path clpi = disc / "BDMV/CLIPINF" / (std::string(c.clip) + ".clpi");
    // The streams and entry points the multiplexer would have listed: the undamaged clip's.
    SClpiData info;
    ASSERT_GT(parse_clpi(ReadBytes(test::test_discs_dir() / "menu/BDMV/CLIPINF" / (std::string(c.clip) + ".clpi")), info), 0);
    std::vector<std::uint16_t> ep_pids;
    for (const STREAM_PID_ENTRY& e : info.ep_map()) ep_pids.push_back(e.StreamPid);
    CWrittenClipCheck check(m2ts, info.streams(), ep_pids, c.rebuilt);
    const Bytes bytes = ReadBytes(m2ts);
    constexpr std::size_t kPiece = 96;
    const std::size_t count = bytes.size() / 192;
    for (std::size_t first = 0; first < count; first += kPiece) {
      if (c.skip_piece && first == kPiece) continue;
      check.observe(first, bytes.data() + first * 192, std::min(kPiece, count - first));
    }
    test::RecordingProgress progress;
    bool cancelled = true;
    EXPECT_EQ(check.passes(clpi, progress, &cancelled), c.passes);
    EXPECT_FALSE(cancelled);
    EXPECT_FALSE(fs::exists(disc / "BDMV/STREAM" / (std::string(c.clip) + ".gate")));
  }
}

}  // namespace
}  // namespace veld
