// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of `veld replace` on the generated discs: extract, edit pictures as an editor would,
// replace, copy back, and check the new disc with tools that share no code with the product: giflib
// (pictures), ffprobe (streams), libbluray (the disc, its playlists and its menu), and the transport-stream
// checkers of tests/fixtures.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <cmath>
#include <map>
#include <regex>
#include <set>
#include <sstream>

#include <fmt/format.h>

#include "cli/cli_support.h"
#include "veld/base/bytes.h"
#include "veld/clip/clpi.h"
#include "veld/disc/mpls.h"
#include "veld/pipeline/check_written.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using test::RunResult;
using test::run_veld;

struct Variant {
  std::string name;
  std::vector<std::string> bdcheck;  // what libbluray must list (as in tests/fixtures/CMakeLists.txt)
};

const Variant kVariants[] = {
    {"menu", {"--titles", "1", "--playlists", "00000,00001", "--ig-streams", "0:1", "--audio-streams", "1:1", "--menu", "8"}},
    {"twoig", {"--titles", "2", "--playlists", "00000,00001,00002", "--ig-streams", "0:2", "--angles", "1:2", "--angles",
               "2:1", "--menu", "8"}},
    {"popup", {"--titles", "1", "--playlists", "00000", "--ig-streams", "0:1", "--pg-streams", "0:1", "--audio-streams",
               "0:2", "--menu", "1", "--popup"}},
    {"subpath", {"--titles", "1", "--playlists", "00001", "--ig-streams", "1:1", "--audio-streams", "1:1", "--menu", "8"}},
    {"streams", {"--titles", "2", "--playlists", "00000,00001", "--video-streams", "0:1", "--audio-streams", "0:4",
                 "--pg-streams", "0:1", "--ig-streams", "0:1", "--sec-video-streams", "0:1", "--sec-audio-streams",
                 "0:1", "--video-streams", "1:1", "--audio-streams", "1:1", "--pg-streams", "1:1", "--ig-streams",
                 "1:1", "--menu", "8"}},
    // The menu clip preloads its menu before the first picture.
    {"preload", {"--titles", "1", "--playlists", "00000,00001", "--ig-streams", "0:1", "--audio-streams", "1:1", "--menu", "8"}},
};

fs::path images_of(const fs::path& rip) { return rip / "VELD" / "Images"; }

// Every picture below an Images folder, relative to it, in name order.
std::vector<fs::path> pictures(const fs::path& images) {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(images))
    if (e.is_regular_file() && e.path().extension() == ".gif") out.push_back(fs::relative(e.path(), images));
  std::sort(out.begin(), out.end());
  return out;
}

// Paints a rectangle in the middle of the picture with another colour of its own palette, as an editor
// that keeps the palette would, and dates the file after the extraction. Returns the new indices.
std::vector<std::uint8_t> edit_picture(const fs::path& gif_path, const fs::path& marker, long seconds_after = 2) {
  test::Gif gif = test::read_gif(gif_path);
  std::map<int, int> counts;
  for (std::uint8_t i : gif.indices) ++counts[i];
  const int centre = gif.indices[static_cast<std::size_t>(gif.height / 2) * gif.width + gif.width / 2];
  int paint = centre == 1 ? 2 : 1;
  for (const auto& [index, n] : counts)
    if (index != centre) paint = index;
  for (int y = gif.height / 4; y < gif.height / 2; ++y)
    for (int x = gif.width / 4; x < gif.width / 2; ++x)
      gif.indices[static_cast<std::size_t>(y) * gif.width + x] = static_cast<std::uint8_t>(paint);
  test::write_gif_indices(gif_path, gif.indices);
  test::touch_after(gif_path, marker, seconds_after);
  return gif.indices;
}

// What libbluray lists of a disc: stream lines as they are, durations and mark times as numbers.
struct Listing {
  std::vector<std::string> streams;
  std::vector<double> durations;
  std::vector<long> marks;
  std::string text;
};

Listing bdcheck(const fs::path& disc_root, const std::vector<std::string>& args, const fs::path& scratch,
                int* status) {
  std::string cmd = test::shell_quote(VELD_BDCHECK_PATH) + " " + test::shell_quote(disc_root.string()) + " --read";
  for (const auto& a : args) cmd += " " + test::shell_quote(a);
  const RunResult r = test::run_shell(cmd, scratch);
  *status = r.status;
  Listing l;
  l.text = r.out + r.err;
  std::istringstream in(r.out);
  static const std::regex duration(R"(playlist \d+: duration ([0-9.]+) s)");
  static const std::regex mark(R"(mark \d+: type \d+ clip \d+ start (\d+))");
  static const std::regex stream(R"(^\s+(video|audio|pg|ig|sec\S*)\s+pid .*)");
  for (std::string line; std::getline(in, line);) {
    std::smatch m;
    if (std::regex_search(line, m, duration)) l.durations.push_back(std::stod(m[1]));
    if (std::regex_search(line, m, mark)) l.marks.push_back(std::stol(m[1]));
    // PIDs may be renumbered in their group's order; kind, coding type and language must stay.
    static const std::regex pid(R"(pid 0x[0-9A-Fa-f]+ )");
    if (std::regex_match(line, m, stream)) l.streams.push_back(std::regex_replace(line, pid, ""));
  }
  return l;
}

SClpiData read_clpi(const fs::path& p) {
  SClpiData d;
  const Bytes bytes = test::read_file(p);
  EXPECT_GT(parse_clpi(bytes, d), 0) << p;
  return d;
}

// The check the full route makes while it writes a clip, made again on the clip as it was written (in
// one piece): the multiplexer's output passes it, or the run would read every rebuilt clip back.
bool PassesWrittenCheck(const fs::path& m2ts, const fs::path& clpi, const SClpiData& info) {
  std::vector<std::uint16_t> ep_pids, menus;
  for (const STREAM_PID_ENTRY& e : info.ep_map()) ep_pids.push_back(e.StreamPid);
  for (const STREAM_INFO& st : info.streams())
    if (st.StreamCodingInfo.CodingType == coding_type::kInteractiveGraphics) menus.push_back(st.StreamPID);
  CWrittenClipCheck check(m2ts, info.streams(), ep_pids, menus);
  const Bytes bytes = test::read_file(m2ts);
  check.observe(0, bytes.data(), bytes.size() / 192);
  test::RecordingProgress progress;
  bool cancelled = false;
  return check.passes(clpi, progress, &cancelled) && !cancelled;
}

SMplsData read_mpls(const fs::path& p) {
  SMplsData d;
  const Bytes bytes = test::read_file(p);
  EXPECT_GT(parse_mpls(bytes, d), 0) << p;
  return d;
}

// The index of the first source packet of a PID range in a clip stream file (SIZE_MAX for none).
std::size_t first_packet_of(const Bytes& m2ts, std::uint16_t first_pid, std::uint16_t last_pid) {
  for (std::size_t i = 0; i + 192 <= m2ts.size(); i += 192) {
    const std::uint16_t pid = static_cast<std::uint16_t>((m2ts[i + 5] & 0x1F) << 8 | m2ts[i + 6]);
    if (pid >= first_pid && pid <= last_pid) return i / 192;
  }
  return SIZE_MAX;
}

// Every play item of a rebuilt clip keeps its duration exactly and moves, with its marks, by the clip's
// offset (45 kHz); the others stay.
void expect_playlist_moved(const SMplsData& was, const SMplsData& now, const std::map<std::string, std::int64_t>& moved,
                           const std::string& name) {
  ASSERT_EQ(now.PlayItems.size(), was.PlayItems.size()) << name;
  std::vector<std::int64_t> delta;
  for (std::size_t i = 0; i < was.PlayItems.size(); ++i) {
    const auto it = moved.find(was.PlayItems[i].ClipInformationFileName);
    delta.push_back(it == moved.end() ? 0 : it->second);
    EXPECT_EQ(std::int64_t{now.PlayItems[i].InTime}, was.PlayItems[i].InTime + delta.back()) << name << " item " << i;
    EXPECT_EQ(now.PlayItems[i].OutTime - now.PlayItems[i].InTime, was.PlayItems[i].OutTime - was.PlayItems[i].InTime)
        << name << " item " << i;
  }
  ASSERT_EQ(now.PlayListMarks.size(), was.PlayListMarks.size()) << name;
  for (std::size_t i = 0; i < was.PlayListMarks.size(); ++i) {
    const PLAY_MARK& m = was.PlayListMarks[i];
    const std::int64_t d = m.RefToPlayItemID < delta.size() ? delta[m.RefToPlayItemID] : 0;
    EXPECT_EQ(std::int64_t{now.PlayListMarks[i].MarkTimeStamp}, m.MarkTimeStamp + d) << name << " mark " << i;
  }
}

class ReplaceDisc : public ::testing::TestWithParam<Variant> {};

TEST_P(ReplaceDisc, EditedPicturesReachThePlayerAndNothingElseChanges) {
  const Variant& v = GetParam();
  const fs::path disc = test::test_discs_dir() / v.name;
  test::TempDir dir;
  test::copy_disc(disc, dir / "target");
  RunResult r = run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string()}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path images = images_of(dir / "rip");
  const fs::path marker = images / "VELD.rip";

  // Two pictures of the first display set of every IG stream.
  std::map<fs::path, std::vector<std::uint8_t>> edited;
  std::map<fs::path, int> per_ds;
  for (const fs::path& p : pictures(images)) {
    if (p.parent_path().filename() != "DS1" || per_ds[p.parent_path()]++ >= 2) continue;
    edited[p] = edit_picture(images / p, marker);
  }
  ASSERT_FALSE(edited.empty());

  // The full route: compare_remux below checks its documented time offset.
  r = run_veld({"replace", (dir / "target" / "BDMV").string(), (dir / "rip" / "VELD").string(), "--copy-back",
                "--remux", "full"},
               dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Pictures imported: " + std::to_string(edited.size()) + ","));
  EXPECT_THAT(r.out, HasSubstr("Congratulations"));

  // The new disc gives back the edited pictures, and every other picture as it was.
  r = run_veld({"extract", (dir / "target" / "BDMV").string(), (dir / "rip2").string()}, dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path images2 = images_of(dir / "rip2");
  const std::vector<fs::path> before = pictures(images);
  ASSERT_EQ(pictures(images2), before);
  const test::TempDir pristine;
  ASSERT_EQ(run_veld({"extract", (disc / "BDMV").string(), (pristine / "rip").string()}, pristine.path()).status, 0);
  for (const fs::path& p : before) {
    const test::Gif now = test::read_gif(images2 / p);
    const test::Gif was = test::read_gif(images_of(pristine / "rip") / p);
    auto it = edited.find(p);
    // A copy of an edited picture (same stream, name and pixels in another display set) has the edit.
    for (auto e = edited.begin(); it == edited.end() && e != edited.end(); ++e) {
      if (e->first.filename() == p.filename() &&
          e->first.parent_path().parent_path() == p.parent_path().parent_path() &&
          test::read_gif(images_of(pristine / "rip") / e->first).indices == was.indices)
        it = e;
    }
    EXPECT_EQ(now.indices, it != edited.end() ? it->second : was.indices) << p;
    EXPECT_EQ(now.colours, was.colours) << p;
    EXPECT_EQ(now.transparent, was.transparent) << p;
  }

  // Every rebuilt clip: ffprobe reads it, the transport stream is sound, its entry points point at the
  // right packets, and its kept streams are the old ones byte for byte.
  const fs::path igs = dir / "rip" / "VELD" / "Igs";
  std::set<std::string> rebuilt;
  for (const auto& e : fs::directory_iterator(dir / "rip" / "VELD" / "Stream"))
    if (e.path().extension() == ".m2ts") rebuilt.insert(e.path().stem().string());
  ASSERT_FALSE(rebuilt.empty());
  std::map<std::string, std::int64_t> moved;  // clip -> offset (45 kHz)
  for (const std::string& clip : rebuilt) {
    const fs::path old_m2ts = disc / "BDMV" / "STREAM" / (clip + ".m2ts");
    const fs::path new_m2ts = dir / "target" / "BDMV" / "STREAM" / (clip + ".m2ts");
    const fs::path new_clpi = dir / "target" / "BDMV" / "CLIPINF" / (clip + ".clpi");
    r = test::run_shell(test::shell_quote(VELD_FFPROBE) + " -v error -i " + test::shell_quote(new_m2ts.string()),
                        dir.path());
    EXPECT_EQ(r.status, 0) << clip;
    EXPECT_EQ(r.err, "") << clip;
    r = test::run_checker("check_ts.py", {new_m2ts.string()}, dir.path());
    EXPECT_EQ(r.status, 0) << clip << "\n" << r.out << r.err;
    r = test::run_checker("check_epmap.py", {new_clpi.string(), new_m2ts.string()}, dir.path());
    EXPECT_EQ(r.status, 0) << clip << "\n" << r.out << r.err;

    const SClpiData old_info = read_clpi(disc / "BDMV" / "CLIPINF" / (clip + ".clpi"));
    const SClpiData new_info = read_clpi(new_clpi);
    EXPECT_TRUE(PassesWrittenCheck(new_m2ts, new_clpi, new_info)) << clip;
    // The presentation span moves whole; a menu sent before the first picture still is.
    ASSERT_FALSE(old_info.stc_info().empty());
    ASSERT_FALSE(new_info.stc_info().empty());
    moved[clip] = 27000000 - std::int64_t{old_info.stc_info()[0].StartPTS};
    EXPECT_EQ(new_info.stc_info()[0].StartPTS, 27000000u) << clip;
    EXPECT_EQ(new_info.stc_info()[0].EndPTS - new_info.stc_info()[0].StartPTS,
              old_info.stc_info()[0].EndPTS - old_info.stc_info()[0].StartPTS) << clip;
    const Bytes old_ts = test::read_file(old_m2ts), new_ts = test::read_file(new_m2ts);
    if (first_packet_of(old_ts, 0x1400, 0x141F) < first_packet_of(old_ts, 0x1011, 0x1011)) {
      EXPECT_LT(first_packet_of(new_ts, 0x1400, 0x141F), first_packet_of(new_ts, 0x1011, 0x1011)) << clip;
    }
    ASSERT_EQ(old_info.streams().size(), new_info.streams().size());
    std::vector<std::string> args = {old_m2ts.string(), new_m2ts.string(), "--offset",
                                     std::to_string(54000000 - 2 * std::int64_t{old_info.stc_info()[0].StartPTS})};
    std::vector<std::string> pid_map;
    for (std::size_t i = 0; i < old_info.streams().size(); ++i) {
      const STREAM_INFO& o = old_info.streams()[i];
      const STREAM_INFO& n = new_info.streams()[i];
      EXPECT_EQ(o.StreamCodingInfo.CodingType, n.StreamCodingInfo.CodingType);
      EXPECT_EQ(o.StreamCodingInfo.language(), n.StreamCodingInfo.language()) << "stream " << i;
      const fs::path ig = igs / fmt::format("{}_{}.ig", clip, o.StreamPID);
      if (fs::exists(ig)) {
        // A rebuilt stream carries the segment file, with the old stream's timing.
        args.push_back("--ig");
        args.push_back(fmt::format("0x{:04X}={}", n.StreamPID, ig.string()));
        args.push_back("--ig-timing-of");
        args.push_back(fmt::format("0x{:04X}=0x{:04X}", n.StreamPID, o.StreamPID));
      } else {
        pid_map.push_back(fmt::format("0x{:04X}:0x{:04X}", o.StreamPID, n.StreamPID));
      }
    }
    if (!pid_map.empty()) {
      args.push_back("--pid-map");
      args.insert(args.end(), pid_map.begin(), pid_map.end());
    }
    r = test::run_checker("compare_remux.py", args, dir.path());
    EXPECT_EQ(r.status, 0) << clip << "\n" << r.out << r.err;
  }

  for (const auto& e : fs::directory_iterator(disc / "BDMV" / "PLAYLIST")) {
    const fs::path now = dir / "target" / "BDMV" / "PLAYLIST" / e.path().filename();
    expect_playlist_moved(read_mpls(e.path()), read_mpls(now), moved, e.path().filename().string());
  }

  // libbluray lists the same disc: titles, playlists and streams with their languages, the same
  // durations and chapter marks (within a frame), and draws the menu.
  int old_status = 0, new_status = 0;
  const Listing old_listing = bdcheck(disc, v.bdcheck, dir.path(), &old_status);
  const Listing new_listing = bdcheck(dir / "target", v.bdcheck, dir.path(), &new_status);
  ASSERT_EQ(old_status, 0) << old_listing.text;
  EXPECT_EQ(new_status, 0) << new_listing.text;
  EXPECT_EQ(new_listing.streams, old_listing.streams);
  ASSERT_EQ(new_listing.durations.size(), old_listing.durations.size());
  for (std::size_t i = 0; i < old_listing.durations.size(); ++i)
    EXPECT_NEAR(new_listing.durations[i], old_listing.durations[i], 1.0 / 23.976) << new_listing.text;
  ASSERT_EQ(new_listing.marks.size(), old_listing.marks.size());
  for (std::size_t i = 0; i < old_listing.marks.size(); ++i)
    EXPECT_NEAR(new_listing.marks[i], old_listing.marks[i], 3754) << new_listing.text;
}

void PrintTo(const Variant& v, std::ostream* os) { *os << v.name; }

INSTANTIATE_TEST_SUITE_P(Variants, ReplaceDisc, ::testing::ValuesIn(kVariants),
                         [](const auto& info) { return info.param.name; });

// libbluray draws the rebuilt menu: its plane equals the new disc's page preview, which differs from the
// old disc's only where the edited button is.
TEST(ReplaceMenu, LibblurayDrawsTheEditedButtonAndNothingElseChanges) {
  const fs::path disc = test::test_discs_dir() / "menu";
  test::TempDir dir;
  test::copy_disc(disc, dir / "target");
  ASSERT_EQ(run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string(), "--preview"}, dir.path()).status, 0);
  const fs::path images = images_of(dir / "rip");
  // Object 3 is the normal state of button 2 (SCENES at 760,620, 400 x 80), drawn on the first page.
  for (const char* ds : {"DS1", "DS2"})
    edit_picture(images / "00000" / "5120" / "Epoch1" / ds / "0004.gif", images / "VELD.rip");
  const fs::path old_previews = dir / "old-previews";
  fs::rename(dir / "rip" / "VELD" / "Preview", old_previews);
  RunResult r = run_veld({"replace", (dir / "target" / "BDMV").string(), (dir / "rip" / "VELD").string(), "--copy-back"},
                         dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  r = run_veld({"extract", (dir / "target" / "BDMV").string(), (dir / "rip2").string(), "--preview", "--quiet"},
               dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path page = fs::path("00000") / "5120" / "Epoch1" / "DS1" / "page0.png";
  const fs::path new_page = dir / "rip2" / "VELD" / "Preview" / page;
  const std::string both = (dir / "rip2/VELD/Preview/00000/5120/Epoch1/DS1/page0.png").string() + "," +
                           (dir / "rip2/VELD/Preview/00000/5120/Epoch1/DS2/page0.png").string();
  const std::string in1 = (dir / "rip2/VELD/Preview/00000/5120/Epoch1/DS1/page0_in1.png").string() + "," +
                          (dir / "rip2/VELD/Preview/00000/5120/Epoch1/DS2/page0_in1.png").string();
  r = test::run_shell(test::shell_quote(VELD_BDCHECK_PATH) + " " + test::shell_quote((dir / "target").string()) +
                          " --expect " + test::shell_quote(in1) + " --expect " + test::shell_quote(both),
                      dir.path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("page0.png equals the plane of flush"));
  // Where the two pages differ (Pillow: the bounding box of the difference).
  r = test::run_shell("/usr/bin/python3 -c " +
                          test::shell_quote("import sys; from PIL import Image, ImageChops; "
                                            "a = Image.open(sys.argv[1]).convert('RGBA'); "
                                            "b = Image.open(sys.argv[2]).convert('RGBA'); "
                                            "d = ImageChops.difference(a, b).split(); "
                                            "m = d[0]\n"
                                            "for band in d[1:]: m = ImageChops.lighter(m, band)\n"
                                            "print(m.getbbox())") +
                          " " + test::shell_quote((old_previews / page).string()) + " " +
                          test::shell_quote(new_page.string()),
                      dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const std::regex box(R"(\((\d+), (\d+), (\d+), (\d+)\))");
  std::smatch m;
  ASSERT_TRUE(std::regex_search(r.out, m, box)) << r.out;  // "None" would mean no visible change
  EXPECT_GE(std::stoi(m[1]), 760);
  EXPECT_GE(std::stoi(m[2]), 620);
  EXPECT_LE(std::stoi(m[3]), 760 + 400);
  EXPECT_LE(std::stoi(m[4]), 620 + 80);
}

// ---- what counts as edited ------------------------------------------------------------------------

struct Work {
  test::TempDir dir;
  fs::path disc;
  fs::path images;
  fs::path marker;
  fs::path vfolder;

  explicit Work(const std::string& variant) {
    test::copy_disc(test::test_discs_dir() / variant, dir / "disc");
    disc = dir / "disc";
    const RunResult r = run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string()}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    vfolder = dir / "rip" / "VELD";
    images = vfolder / "Images";
    marker = images / "VELD.rip";
  }
  RunResult replace(std::vector<std::string> extra = {"--no-copy-back"}) {
    // The full route, which writes the playlists of the rebuilt clips.
    std::vector<std::string> args = {"replace", (disc / "BDMV").string(), vfolder.string(), "--remux", "full"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_veld(args, dir.path());
  }
  std::set<std::string> stream_files() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(vfolder / "Stream")) out.insert(e.path().filename().string());
    return out;
  }
  std::set<std::string> ig_files() const {
    std::set<std::string> out;
    for (const auto& e : fs::directory_iterator(vfolder / "Igs"))
      if (e.path().extension() == ".ig") out.insert(e.path().filename().string());
    return out;
  }
};

TEST(ReplaceCommand, WithoutManifestPicturesNewerThanTheMarkerCount) {
  Work w("menu");
  const fs::path pic = w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif";
  // A work folder of an extraction without manifest: the marker's time, to the nanosecond, decides.
  fs::remove(w.images / "VELD.manifest");
  test::touch_after(w.marker, w.marker, 0, 500000000);
  // Nothing edited: nothing rebuilt, the stream folder stays empty.
  RunResult r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("holds no edited button images"));
  EXPECT_TRUE(w.stream_files().empty());
  // Written earlier in the marker's second: not newer.
  edit_picture(pic, w.marker, 0);
  test::touch_after(pic, w.marker, 0, 400000000);
  r = w.replace();
  EXPECT_EQ(r.status, 0);
  EXPECT_THAT(r.out, HasSubstr("holds no edited button images"));
  // Later within the same second it is; only the clip with the menu and the playlist that plays it are
  // written.
  test::touch_after(pic, w.marker, 0, 600000000);
  r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Pictures imported: 1,"));
  EXPECT_EQ(w.stream_files(), (std::set<std::string>{"00000.clpi", "00000.m2ts", "00000.mpls"}));
  // Without the marker either every picture counts (the unchanged ones change nothing).
  fs::remove(w.marker);
  r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Pictures imported: 1,"));
}

TEST(ReplaceCommand, DeletedPicturesAndFoldersAreSkipped) {
  Work w("menu");
  const fs::path stream = w.images / "00000" / "5120";
  edit_picture(stream / "Epoch1" / "DS1" / "0002.gif", w.marker);
  edit_picture(stream / "Epoch1" / "DS2" / "0002.gif", w.marker);
  fs::remove(stream / "Epoch1" / "DS1" / "0004.gif");
  fs::remove_all(stream / "Epoch1" / "DS2");
  RunResult r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Pictures imported: 1,"));
  fs::remove_all(w.images / "00000");
  r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("holds no edited button images"));
}

TEST(ReplaceCommand, StreamsFromTheFirstEditedOneOnAreRebuilt) {
  // Only the second IG stream edited: one segment file. Only the first: both.
  Work w("twoig");
  edit_picture(w.images / "00000" / "5121" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  RunResult r = w.replace();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(w.ig_files(), (std::set<std::string>{"00000_5121.ig"}));
  test::touch_after(w.images / "00000" / "5121" / "Epoch1" / "DS1" / "0002.gif", w.marker, 0);
  edit_picture(w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  r = w.replace();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(w.ig_files(), (std::set<std::string>{"00000_5120.ig", "00000_5121.ig"}));
  // The playlists of the other clips are not written.
  EXPECT_EQ(w.stream_files(), (std::set<std::string>{"00000.clpi", "00000.m2ts", "00000.mpls"}));
}

TEST(ReplaceCommand, RunningTwiceGivesTheSameFiles) {
  Work w("popup");
  for (const fs::path& p : pictures(w.images)) {
    edit_picture(w.images / p, w.marker);
    break;
  }
  ASSERT_EQ(w.replace().status, 0);
  const auto first = test::tree_hashes(w.vfolder / "Stream");
  ASSERT_EQ(w.replace().status, 0);
  EXPECT_EQ(test::tree_hashes(w.vfolder / "Stream"), first);
  EXPECT_EQ(first.size(), 3u);
}

TEST(ReplaceCommand, LanguageOfTheRebuiltStream) {
  Work w("menu");
  edit_picture(w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  ASSERT_EQ(w.replace().status, 0);
  EXPECT_EQ(read_clpi(w.vfolder / "Stream" / "00000.clpi").streams()[1].StreamCodingInfo.language(), "eng");
  ASSERT_EQ(w.replace({"--no-copy-back", "--ig-language", "fra"}).status, 0);
  EXPECT_EQ(read_clpi(w.vfolder / "Stream" / "00000.clpi").streams()[1].StreamCodingInfo.language(), "fra");
  const RunResult r = w.replace({"--ig-language", "xx"});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("ISO 639-2"));
}

// ---- pictures saved by real editors ----------------------------------------------------------------------

// The RGB colour of every pixel of a picture.
std::vector<std::array<int, 3>> colours_of(const test::Gif& g) {
  std::vector<std::array<int, 3>> out;
  for (std::uint8_t i : g.indices) out.push_back(g.colours[i]);
  return out;
}

// Saves a picture through an editor (a shell command that rewrites `pic` in place), replaces, extracts
// the new clip and returns the new picture; status receives the replace command's exit status.
struct EditorRun {
  int status = -1;
  std::string err;
  test::Gif before;
  test::Gif after;
};

EditorRun through_editor(Work& w, const std::string& command_with_pic,
                         const std::vector<std::string>& options = {"--no-copy-back"}) {
  EditorRun out;
  const fs::path pic = w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif";
  out.before = test::read_gif(pic);
  std::string cmd = command_with_pic;
  for (std::size_t at = cmd.find("PIC"); at != std::string::npos; at = cmd.find("PIC", at + 1))
    cmd.replace(at, 3, test::shell_quote(pic.string()));
  const RunResult e = test::run_shell(cmd, w.dir.path());
  EXPECT_EQ(e.status, 0) << cmd << "\n" << e.err;
  test::touch_after(pic, w.marker, 2);
  const RunResult r = w.replace(options);
  out.status = r.status;
  out.err = r.err;
  if (r.status != 0) return out;
  EXPECT_EQ(std::system(("cp " + test::shell_quote((w.vfolder / "Stream" / "00000.m2ts").string()) + " " +
                         test::shell_quote((w.disc / "BDMV" / "STREAM" / "00000.m2ts").string()))
                            .c_str()),
            0);
  const RunResult x = run_veld({"extract", (w.disc / "BDMV").string(), (w.dir / "rip2").string()}, w.dir.path());
  EXPECT_EQ(x.status, 0) << x.err;
  out.after = test::read_gif(w.dir / "rip2" / "VELD" / "Images" / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif");
  return out;
}

// A colour of the picture's palette that the picture uses, other than its most common one, as "rgb(r,g,b)".
std::string second_colour(const test::Gif& g) {
  std::map<int, int> counts;
  for (std::uint8_t i : g.indices) ++counts[i];
  int most = counts.begin()->first;
  for (const auto& [i, n] : counts)
    if (n > counts[most]) most = i;
  for (const auto& [i, n] : counts) {
    if (i == most || i == g.transparent) continue;
    const auto& c = g.colours[static_cast<std::size_t>(i)];
    return fmt::format("rgb({},{},{})", c[0], c[1], c[2]);
  }
  return "rgb(0,0,0)";
}

TEST(ReplaceEditors, ImageMagickReorderedPaletteIsMappedBack) {
  Work w("menu");
  const test::Gif original = test::read_gif(w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif");
  const std::string colour = second_colour(original);
  const EditorRun run =
      through_editor(w, "convert PIC -fill '" + colour + "' -draw 'rectangle 40,20 120,50' gif:PIC.new && mv PIC.new PIC");
  ASSERT_EQ(run.status, 0) << run.err;
  // ImageMagick wrote a palette of its own; the player's picture shows the painted colour and keeps the rest.
  const auto before = colours_of(run.before);
  const auto after = colours_of(run.after);
  int painted = 0;
  for (int y = 0; y < run.after.height; ++y) {
    for (int x = 0; x < run.after.width; ++x) {
      const std::size_t i = static_cast<std::size_t>(y) * run.after.width + x;
      if (x >= 40 && x <= 120 && y >= 20 && y <= 50) {
        EXPECT_EQ(fmt::format("rgb({},{},{})", after[i][0], after[i][1], after[i][2]), colour);
        ++painted;
      } else {
        ASSERT_EQ(after[i], before[i]) << x << "," << y;
      }
    }
  }
  EXPECT_GT(painted, 0);
}

TEST(ReplaceEditors, PillowOptimisedPaletteIsMappedBack) {
  Work w("menu");
  const EditorRun run = through_editor(
      w, "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
         "c = im.getpixel((im.width // 2, im.height // 2)); o = [v for v in set(im.getdata()) if v != c][0]; "
         "[im.putpixel((x, y), o) for x in range(30, 90) for y in range(10, 40)]; "
         "im.save(sys.argv[1], optimize=True, transparency=im.info.get('transparency'))\" PIC");
  ASSERT_EQ(run.status, 0) << run.err;
  const auto before = colours_of(run.before);
  const auto after = colours_of(run.after);
  int changed = 0;
  for (std::size_t i = 0; i < after.size(); ++i) changed += after[i] != before[i];
  EXPECT_EQ(changed, 60 * 30 - 0) << "exactly the painted pixels change colour";
}

TEST(ReplaceEditors, ColourOutsideTheMenuPaletteIsRefused) {
  Work w("menu");
  const EditorRun run = through_editor(
      w, "convert PIC -fill 'rgb(255,0,255)' -draw 'rectangle 40,20 120,50' gif:PIC.new && mv PIC.new PIC",
      {"--no-copy-back", "--colours", "exact"});
  EXPECT_EQ(run.status, 2);
  EXPECT_THAT(run.err, HasSubstr("0002.gif"));
  EXPECT_THAT(run.err, HasSubstr("#FF00FF"));
  EXPECT_THAT(run.err, HasSubstr("not in the menu's palette"));
  EXPECT_TRUE(w.stream_files().empty());
}

// ---- failures leave nothing behind ------------------------------------------------------------------

TEST(ReplaceCommand, WrongSizedPictureIsRefused) {
  Work w("menu");
  const fs::path pic = w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif";
  fs::copy_file(w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0051.gif", pic,
                fs::copy_options::overwrite_existing);
  test::touch_after(pic, w.marker, 2);
  const RunResult r = w.replace();
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr(pic.string()));
  // The 1600 x 200 title does not fit at the PLAY button's place (760, 500).
  EXPECT_THAT(r.err, HasSubstr("is 1600 x 200 pixels, the object was 400 x 80"));
  EXPECT_THAT(r.err, HasSubstr("1920 x 1080 video frame"));
  EXPECT_TRUE(w.stream_files().empty());
}

TEST(ReplaceCommand, WorkFolderChecks) {
  Work w("menu");
  RunResult r = run_veld({"replace", (w.disc / "BDMV").string(), (w.dir / "rip").string()}, w.dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("must be VELD"));
  fs::create_directories(w.dir / "other" / "veld");
  r = run_veld({"replace", (w.disc / "BDMV").string(), (w.dir / "other" / "veld").string()}, w.dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("No image folder set"));
}

void limit_file_size() {
  rlimit lim{64 * 1024, 64 * 1024};
  setrlimit(RLIMIT_FSIZE, &lim);
  signal(SIGXFSZ, SIG_IGN);
}

TEST(ReplaceCommand, FullDiskDuringRemultiplexingLeavesNoPartialFiles) {
  Work w("menu");
  edit_picture(w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  // Files may grow to 64 KiB: the segment file fits, the new clip stream does not.
  const pid_t pid = fork();
  if (pid == 0) {
    limit_file_size();
    if (!freopen((w.dir / "err.txt").c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout)) _exit(126);
    execl(VELD_CLI_PATH, VELD_CLI_PATH, "replace", (w.disc / "BDMV").c_str(), w.vfolder.c_str(), "--no-copy-back",
          nullptr);
    _exit(127);
  }
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status));
  EXPECT_EQ(WEXITSTATUS(status), 2);
  EXPECT_THAT(test::slurp(w.dir / "err.txt"), HasSubstr("File too large"));
  EXPECT_TRUE(w.stream_files().empty());
}

TEST(ReplaceCommand, InterruptDuringTheSecondClipKeepsTheFirstClipsFiles) {
  Work w("streams");
  edit_picture(w.images / "00001" / "5120" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  edit_picture(w.images / "00002" / "5120" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  // The second clip grows by 1 GiB of holes (no packets), so that its scans take a while.
  const fs::path second = w.disc / "BDMV" / "STREAM" / "00002.m2ts";
  fs::resize_file(second, fs::file_size(second) + (1ull << 30));
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen((w.dir / "err.txt").c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout) ||
        !freopen("/dev/null", "r", stdin))
      _exit(126);
    execl(VELD_CLI_PATH, VELD_CLI_PATH, "replace", (w.disc / "BDMV").c_str(), w.vfolder.c_str(), "--no-copy-back",
          nullptr);
    _exit(127);
  }
  // The clip information is created empty when the clip starts and written when it is done.
  const fs::path first_done = w.vfolder / "Stream" / "00001.clpi";
  std::error_code ec;
  const auto done = [&] { return fs::exists(first_done, ec) && fs::file_size(first_done, ec) > 0; };
  for (int i = 0; i < 20000 && !done(); ++i) usleep(1000);
  kill(pid, SIGINT);
  int status = 0;
  waitpid(pid, &status, 0);
  ASSERT_TRUE(WIFEXITED(status)) << test::slurp(w.dir / "err.txt");
  EXPECT_EQ(WEXITSTATUS(status), 1) << test::slurp(w.dir / "err.txt");
  EXPECT_EQ(w.stream_files(), (std::set<std::string>{"00001.clpi", "00001.m2ts"}));
}

TEST(ReplaceCommand, FailedCopyBackLeavesTheDiscAsItWas) {
  Work w("menu");
  edit_picture(w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  const auto before = test::tree_hashes(w.disc);
  // BACKUP/CLIPINF cannot be written: run as an unprivileged user when the tests run as root.
  fs::permissions(w.disc / "BDMV" / "BACKUP" / "CLIPINF", fs::perms::owner_write | fs::perms::group_write |
                                                              fs::perms::others_write, fs::perm_options::remove);
  std::string env = "LC_ALL=C.UTF-8";
  if (geteuid() == 0) {
    ASSERT_EQ(std::system(("chown -R 65534:65534 " + test::shell_quote(w.dir.path().string())).c_str()), 0);
    env = "setpriv --reuid=65534 --regid=65534 --clear-groups env LC_ALL=C.UTF-8";
  }
  const RunResult r = run_veld({"replace", (w.disc / "BDMV").string(), w.vfolder.string(), "--copy-back"},
                               w.dir.path(), env);
  EXPECT_EQ(r.status, 2) << r.out << r.err;
  EXPECT_THAT(r.err, HasSubstr("BACKUP/CLIPINF/00000.clpi"));
  EXPECT_THAT(r.err, HasSubstr("Permission denied"));
  EXPECT_THAT(r.err, HasSubstr("replace them by hand"));
  fs::permissions(w.disc / "BDMV" / "BACKUP" / "CLIPINF", fs::perms::owner_write, fs::perm_options::add);
  EXPECT_EQ(test::tree_hashes(w.disc), before);
  // The new files stay in the work folder for a copy by hand (in place: clip stream and information).
  EXPECT_EQ(w.stream_files(), (std::set<std::string>{"00000.clpi", "00000.m2ts"}));
}

TEST(ReplaceCommand, CopyBackWithoutRoomChangesNothing) {
  // The disc lies on a file system just big enough for itself (a tmpfs in a private mount namespace).
  Work w("menu");
  edit_picture(w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif", w.marker);
  const fs::path mnt = w.dir / "small";
  fs::create_directories(mnt);
  const std::string script =
      "set -e; mount -t tmpfs -o size=1200k tmpfs " + test::shell_quote(mnt.string()) + "; cp -r " +
      test::shell_quote(w.disc.string()) + " " + test::shell_quote((mnt / "disc").string()) + "; " +
      "(cd " + test::shell_quote((mnt / "disc").string()) + " && find . -type f | sort | xargs sha256sum) > " +
      test::shell_quote((w.dir / "before.txt").string()) + "; " +
      "set +e; LC_ALL=C.UTF-8 " + test::shell_quote(VELD_CLI_PATH) + " replace " +
      test::shell_quote((mnt / "disc" / "BDMV").string()) + " " + test::shell_quote(w.vfolder.string()) +
      " --copy-back; echo \"status $?\"; " +
      "(cd " + test::shell_quote((mnt / "disc").string()) + " && find . -type f | sort | xargs sha256sum) > " +
      test::shell_quote((w.dir / "after.txt").string());
  const RunResult r = test::run_shell("unshare -rm sh -c " + test::shell_quote(script), w.dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("status 2"));
  EXPECT_THAT(r.err, HasSubstr("Not enough free space"));
  EXPECT_EQ(test::slurp(w.dir / "after.txt"), test::slurp(w.dir / "before.txt"));
  EXPECT_FALSE(test::slurp(w.dir / "before.txt").empty());
}

}  // namespace
}  // namespace veld
