// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of the in-place route of `veld replace` on every generated disc: an edit that shrinks
// a display set, one that grows it, and one that keeps its size (the new packets then overwrite their
// slots in the copy of the clip made while its menu was read). The new clip differs from the old one only in its IG packets
// (compare_inplace.py), every PES arrives by its DTS (check_ts.py), no playlist is written, the clip
// information differs only in the packet count and the source packet numbers that the shift moves, and
// libbluray opens the new disc and draws its menu.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#include <random>
#include <set>

#include "cli/cli_support.h"
#include "veld/base/bytes.h"
#include "veld/clip/clpi.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using test::RunResult;
using test::run_veld;

enum class Edit { kShrink, kGrow, kFlip };

struct Case {
  std::string variant;
  Edit edit;
  bool falls_back;                   // the clip 00000 takes the full route
  std::vector<std::string> bdcheck;  // what libbluray must list (as in tests/fixtures/CMakeLists.txt)
};

const std::vector<std::string> kMenu = {"--titles", "1", "--playlists", "00000,00001", "--ig-streams", "0:1",
                                        "--audio-streams", "1:1", "--menu", "8"};
const std::vector<std::string> kTwoIg = {"--titles", "2", "--playlists", "00000,00001,00002", "--ig-streams", "0:2",
                                         "--angles", "1:2", "--angles", "2:1", "--menu", "8"};
const std::vector<std::string> kPopup = {"--titles", "1", "--playlists", "00000", "--ig-streams", "0:1",
                                         "--pg-streams", "0:1", "--audio-streams", "0:2", "--menu", "1", "--popup"};
const std::vector<std::string> kSubpath = {"--titles", "1", "--playlists", "00001", "--ig-streams", "1:1",
                                           "--audio-streams", "1:1", "--menu", "8"};
const std::vector<std::string> kStreams = {
    "--titles", "2", "--playlists", "00000,00001", "--video-streams", "0:1", "--audio-streams", "0:4", "--pg-streams",
    "0:1", "--ig-streams", "0:1", "--sec-video-streams", "0:1", "--sec-audio-streams", "0:1", "--video-streams", "1:1",
    "--audio-streams", "1:1", "--pg-streams", "1:1", "--ig-streams", "1:1", "--menu", "8"};

const Case kCases[] = {
    {"menu", Edit::kShrink, false, kMenu},       {"menu", Edit::kGrow, false, kMenu},
    {"twoig", Edit::kShrink, false, kTwoIg},     {"twoig", Edit::kGrow, false, kTwoIg},
    {"popup", Edit::kShrink, false, kPopup},     {"popup", Edit::kGrow, false, kPopup},
    {"subpath", Edit::kShrink, false, kSubpath}, {"subpath", Edit::kGrow, false, kSubpath},
    {"streams", Edit::kShrink, false, kStreams}, {"streams", Edit::kGrow, false, kStreams},
    {"maxrate", Edit::kShrink, false, kMenu},    {"maxrate", Edit::kGrow, true, kMenu},
    {"menu", Edit::kFlip, false, kMenu},         {"twoig", Edit::kFlip, false, kTwoIg},
    {"popup", Edit::kFlip, false, kPopup},       {"streams", Edit::kFlip, false, kStreams},
};

std::string CaseName(const Case& c) {
  return c.variant + (c.edit == Edit::kGrow ? "_grow" : c.edit == Edit::kShrink ? "_shrink" : "_flip");
}

// One colour over the whole picture (codes to almost nothing), noise over part of it in the picture's
// own colours (codes worse than the picture did), or the picture upside down (its lines code as before).
void edit_picture(const fs::path& gif_path, const fs::path& marker, Edit edit, std::mt19937& rng) {
  test::Gif gif = test::read_gif(gif_path);
  std::vector<std::uint8_t> used(gif.indices);
  std::sort(used.begin(), used.end());
  used.erase(std::unique(used.begin(), used.end()), used.end());
  if (edit == Edit::kShrink) {
    std::fill(gif.indices.begin(), gif.indices.end(), used.front());
  } else if (edit == Edit::kFlip) {
    for (int y = 0; y < gif.height / 2; ++y)
      std::swap_ranges(gif.indices.begin() + static_cast<std::ptrdiff_t>(y) * gif.width,
                       gif.indices.begin() + static_cast<std::ptrdiff_t>(y + 1) * gif.width,
                       gif.indices.begin() + static_cast<std::ptrdiff_t>(gif.height - 1 - y) * gif.width);
  } else {
    // Noise over a quarter of the width and height: the display set grows by a few packets per picture.
    for (int y = gif.height / 4; y < gif.height / 2; ++y)
      for (int x = gif.width / 4; x < gif.width / 2; ++x)
        gif.indices[static_cast<std::size_t>(y) * gif.width + x] = used[rng() % used.size()];
  }
  test::write_gif_indices(gif_path, gif.indices);
  test::touch_after(gif_path, marker, 2);
}

SClpiData read_clpi(const fs::path& p) {
  SClpiData d;
  const Bytes bytes = test::read_file(p);
  EXPECT_GT(parse_clpi(bytes, d), 0) << p;
  return d;
}

Bytes source_packet(const Bytes& file, std::uint32_t spn) {
  const std::size_t at = std::size_t{spn} * 192;
  if (at + 192 > file.size()) return {};
  return Bytes(file.begin() + static_cast<std::ptrdiff_t>(at), file.begin() + static_cast<std::ptrdiff_t>(at + 192));
}

// The new clip information is the old one but for the packet count and the source packet numbers, and
// each moved number names the same packet. Compared as parsed values, and the untouched fields against
// write(parse(old)): the writer may still lay out fields that nothing here touches differently.
void expect_only_spns_moved(const fs::path& old_clpi, const fs::path& new_clpi, const fs::path& old_m2ts,
                            const fs::path& new_m2ts) {
  const SClpiData was = read_clpi(old_clpi);
  SClpiData now = read_clpi(new_clpi);
  const Bytes old_file = test::read_file(old_m2ts), new_file = test::read_file(new_m2ts);
  EXPECT_EQ(now.ClipInfo.NumberOfSourcePackets * std::size_t{192}, new_file.size());
  ASSERT_EQ(now.ep_map().size(), was.ep_map().size());
  for (std::size_t e = 0; e < was.ep_map().size(); ++e) {
    ASSERT_EQ(now.ep_map()[e].KeyPoints.size(), was.ep_map()[e].KeyPoints.size());
    for (std::size_t k = 0; k < was.ep_map()[e].KeyPoints.size(); ++k) {
      KEY_POINT_INFO& n = now.ep_map()[e].KeyPoints[k];
      const KEY_POINT_INFO& o = was.ep_map()[e].KeyPoints[k];
      // An entry point of a menu stream (an IG-only clip) names the slot that the rebuilt display set
      // starts in: same arrival time, PID and unit start; other entry points name the very same packet.
      Bytes a = source_packet(new_file, n.SpnStart), b = source_packet(old_file, o.SpnStart);
      if (was.ep_map()[e].EpStreamType == 7 && a.size() == 192 && b.size() == 192) a.resize(7), b.resize(7);  // the counter runs on
      EXPECT_EQ(a, b) << new_clpi << " entry " << k;
      n.SpnStart = o.SpnStart;
    }
  }
  now.ClipInfo.NumberOfSourcePackets = was.ClipInfo.NumberOfSourcePackets;
  now.SequenceInfo.AtcInfo.SpnAtcStart = was.SequenceInfo.AtcInfo.SpnAtcStart;
  ASSERT_EQ(now.stc_info().size(), was.stc_info().size());
  for (std::size_t i = 0; i < was.stc_info().size(); ++i) now.stc_info()[i].SpnStcStart = was.stc_info()[i].SpnStcStart;
  now.ProgramInfo.ProgramSequenceInfo.SpnProgramSequenceStart = was.ProgramInfo.ProgramSequenceInfo.SpnProgramSequenceStart;
  // Fields nothing here touches are judged against what the writer makes of the old file.
  SClpiData rewritten;
  ASSERT_GT(parse_clpi(write_clpi(was), rewritten), 0);
  EXPECT_TRUE(now == rewritten) << new_clpi << " differs in more than its source packet numbers";
}

// The disc copied to dir/target and extracted to dir/rip: the extraction's image folder (empty when the
// extraction failed).
fs::path ExtractedCopy(const fs::path& disc, const test::TempDir& dir) {
  test::copy_disc(disc, dir / "target");
  const RunResult r = run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string()}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  return r.status == 0 ? dir / "rip" / "VELD" / "Images" : fs::path();
}

class ReplaceInPlace : public ::testing::TestWithParam<Case> {};

TEST_P(ReplaceInPlace, OnlyTheMenuPacketsChange) {
  const Case& c = GetParam();
  const fs::path disc = test::test_discs_dir() / c.variant;
  test::TempDir dir;
  const fs::path images = ExtractedCopy(disc, dir);
  ASSERT_FALSE(images.empty());
  RunResult r;
  std::mt19937 rng(7);
  int edited = 0;
  for (const auto& e : fs::recursive_directory_iterator(images)) {
    if (e.path().extension() != ".gif" || e.path().parent_path().filename() != "DS1") continue;
    edit_picture(e.path(), images / "VELD.rip", c.edit, rng);
    ++edited;
  }
  ASSERT_GT(edited, 0);
  r = run_veld({"replace", (dir / "target" / "BDMV").string(), (dir / "rip" / "VELD").string(), "--copy-back"},
               dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const std::string fallback = "remultiplexing the whole clip";
  if (c.falls_back) {
    EXPECT_THAT(r.out + r.err, HasSubstr("Clip 00000.m2ts: the new menu does not fit"));
    return;  // the full route's own tests judge what it wrote
  }
  EXPECT_THAT(r.out + r.err, ::testing::Not(HasSubstr(fallback)));

  const fs::path stream = dir / "rip" / "VELD" / "Stream";
  std::set<std::string> clips;
  for (const auto& e : fs::directory_iterator(stream)) {
    EXPECT_NE(e.path().extension(), ".mpls") << "a playlist was written: " << e.path();
    if (e.path().extension() == ".m2ts") clips.insert(e.path().stem().string());
  }
  ASSERT_FALSE(clips.empty());
  int grown = 0, shrunk = 0;
  for (const std::string& clip : clips) {
    const fs::path old_m2ts = disc / "BDMV" / "STREAM" / (clip + ".m2ts");
    const fs::path new_m2ts = stream / (clip + ".m2ts");
    std::vector<std::string> args = {old_m2ts.string(), new_m2ts.string(), "--json"};
    const SClpiData old_info = read_clpi(disc / "BDMV" / "CLIPINF" / (clip + ".clpi"));
    for (const STREAM_INFO& s : old_info.streams()) {
      if (s.StreamCodingInfo.CodingType != 0x91) continue;
      args.push_back("--pid");
      args.push_back(std::to_string(s.StreamPID));
    }
    r = test::run_checker("compare_inplace.py", args, dir.path());
    EXPECT_EQ(r.status, 0) << clip << "\n" << r.out << r.err;
    const nlohmann::json result = nlohmann::json::parse(r.out, nullptr, false);
    if (!result.is_discarded())
      for (const auto& [pid, n] : result["ig_packets"].items()) {
        grown += n["new"].get<int>() > n["old"].get<int>();
        shrunk += n["new"].get<int>() < n["old"].get<int>();
      }
    r = test::run_checker("check_ts.py", {new_m2ts.string()}, dir.path());
    EXPECT_EQ(r.status, 0) << clip << "\n" << r.out << r.err;
    // The moved entry points still start their access units, whose size classes follow the packets
    // that entered or left them.
    r = test::run_checker("check_epmap.py", {(stream / (clip + ".clpi")).string(), new_m2ts.string()}, dir.path());
    EXPECT_EQ(r.status, 0) << clip << "\n" << r.out << r.err;
    expect_only_spns_moved(disc / "BDMV" / "CLIPINF" / (clip + ".clpi"), stream / (clip + ".clpi"), old_m2ts, new_m2ts);
    if (c.edit == Edit::kFlip) {
      EXPECT_NE(test::read_file(new_m2ts), test::read_file(old_m2ts)) << clip;
    }
  }
  // The edit did what it was meant to: the display sets grew (extra arrival times), shrank, or kept
  // their size.
  if (c.edit == Edit::kFlip) {
    EXPECT_EQ(grown + shrunk, 0);
  } else {
    EXPECT_GT(c.edit == Edit::kGrow ? grown : shrunk, 0);
  }

  // The playlists on the disc are the originals, and libbluray draws the new menu.
  for (const char* folder : {"PLAYLIST", "BACKUP/PLAYLIST"})
    for (const auto& e : fs::directory_iterator(disc / "BDMV" / folder))
      EXPECT_EQ(test::read_file(dir / "target" / "BDMV" / folder / e.path().filename()), test::read_file(e.path()))
          << e.path();
  std::string cmd = test::shell_quote(VELD_BDCHECK_PATH) + " " + test::shell_quote((dir / "target").string()) + " --read";
  for (const auto& a : c.bdcheck) cmd += " " + test::shell_quote(a);
  r = test::run_shell(cmd, dir.path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
}

// A language set on purpose renames the rebuilt stream everywhere its language stands: in the program
// map table (the packets change only there, as an independent demultiplexer reads it), the clip
// information and the playlists.
TEST(ReplaceInPlaceLanguage, TheProgramMapClipInformationAndPlaylistsGetTheNewLanguage) {
  const fs::path disc = test::test_discs_dir() / "menu";
  test::TempDir dir;
  const fs::path images = ExtractedCopy(disc, dir);
  ASSERT_FALSE(images.empty());
  RunResult r;
  std::mt19937 rng(7);
  edit_picture(images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif", images / "VELD.rip", Edit::kShrink, rng);
  r = run_veld({"replace", (dir / "target" / "BDMV").string(), (dir / "rip" / "VELD").string(), "--copy-back",
                "--ig-language", "fra"},
               dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_THAT(r.out + r.err, ::testing::Not(HasSubstr("remultiplexing the whole clip")));
  const fs::path new_m2ts = dir / "target" / "BDMV" / "STREAM" / "00000.m2ts";
  r = test::run_checker("compare_inplace.py",
                        {(disc / "BDMV" / "STREAM" / "00000.m2ts").string(), new_m2ts.string(), "--pid", "0x1400",
                         "--renamed", "0x1400:fra"},
                        dir.path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  r = test::run_shell("ffprobe -v error -select_streams 1 -show_entries stream_tags=language -of csv=p=0 " +
                          test::shell_quote(new_m2ts.string()),
                      dir.path());
  EXPECT_EQ(r.out, "fra\n") << r.err;
  const SClpiData info = read_clpi(dir / "target" / "BDMV" / "CLIPINF" / "00000.clpi");
  for (const STREAM_INFO& s : info.streams()) {
    if (s.StreamPID == 0x1400) {
      EXPECT_EQ(s.StreamCodingInfo.language(), "fra");
    }
  }
  r = test::run_shell(test::shell_quote(VELD_BDCHECK_PATH) + " " + test::shell_quote((dir / "target").string()) +
                          " --read --playlists 00000,00001 --ig-streams 0:1",
                      dir.path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("'fra'"));
}

void PrintTo(const Case& c, std::ostream* os) { *os << CaseName(c); }

INSTANTIATE_TEST_SUITE_P(Variants, ReplaceInPlace, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return CaseName(info.param); });

}  // namespace
}  // namespace veld
