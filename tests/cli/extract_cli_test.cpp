// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of `veld extract` on the generated discs, checked against the generator's truth
// files with an independent GIF reader (giflib) and an independent colour conversion.
#include <gif_lib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <map>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <functional>
#include <random>
#include <regex>
#include <sstream>
#include <set>

#include "cli_support.h"
#include "support/test_support.h"
#include "veld/base/bytes.h"
#include "veld/base/crc32.h"

#include <fmt/format.h>

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;

using test::copy_disc;
using test::Gif;
using test::load_truth;
using test::read_gif;
using test::run_veld;
using test::RunResult;

// A locale that picks Chinese texts the way a user's environment does (LC_ALL and LC_MESSAGES unset).
const char* const kChinese = "env -u LC_ALL -u LC_MESSAGES LANG=zh_CN.UTF-8";

// Starts `veld extract bdmv rip [options]` as a child process with stderr in err_path; before_exec runs
// in the child (resource limits, signal dispositions). Use wait_veld for its result.
pid_t start_extract(const fs::path& bdmv, const fs::path& rip, const fs::path& err_path,
                    void (*before_exec)() = nullptr, const std::vector<std::string>& options = {}) {
  std::vector<std::string> args{VELD_CLI_PATH, "extract", bdmv.string(), rip.string()};
  args.insert(args.end(), options.begin(), options.end());
  std::vector<char*> argv;
  for (std::string& a : args) argv.push_back(a.data());
  argv.push_back(nullptr);
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(err_path.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout) ||
        !freopen("/dev/null", "r", stdin)) {
      _exit(126);
    }
    if (before_exec) before_exec();
    execv(VELD_CLI_PATH, argv.data());
    _exit(127);
  }
  return pid;
}

// Exit status (-1 when ended by a signal) and standard error of a child started by start_extract.
RunResult wait_veld(pid_t pid, const fs::path& err_path) {
  RunResult r;
  int status = 0;
  if (waitpid(pid, &status, 0) == pid && WIFEXITED(status)) r.status = WEXITSTATUS(status);
  std::ifstream err(err_path);
  r.err.assign(std::istreambuf_iterator<char>(err), {});
  return r;
}

// BT.601 studio range, truncated toward zero and clamped, written here independently of the product.
std::array<int, 3> ycrcb_to_rgb(int y, int cr, int cb) {
  const long double yy = (y - 16) * 1.164L;
  auto clamp = [](long double v) { return std::clamp(static_cast<int>(v), 0, 255); };
  return {clamp(yy + 1.596L * (cr - 128)), clamp(yy - 0.813L * (cr - 128) - 0.392L * (cb - 128)),
          clamp(yy + 2.017L * (cb - 128))};
}

class ExtractDisc : public ::testing::TestWithParam<std::string> {};

TEST_P(ExtractDisc, WritesExactlyTheTruthImages) {
  const fs::path disc = test::test_discs_dir() / GetParam();
  const json truth = load_truth(disc);
  test::TempDir dir;
  const RunResult r = run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string()}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  const fs::path images = dir / "rip" / "VELD" / "Images";
  EXPECT_THAT(r.out, HasSubstr(images.string()));
  EXPECT_TRUE(fs::exists(images / "VELD.rip"));

  std::set<fs::path> expected;
  for (const auto& [clip, c] : truth["clips"].items()) {
    if (!c.contains("ig")) continue;
    for (const auto& [pid_hex, ig] : c["ig"].items()) {
      const int pid = std::stoi(pid_hex, nullptr, 16);
      int ds_index = 0;
      for (const auto& ds : ig["display_sets"]) {
        ++ds_index;  // every display set of a stream lands in Epoch1, numbered in stream order
        for (const auto& obj : ds["objects"]) {
          const int id = obj["id"];
          char name[16];
          std::snprintf(name, sizeof name, "%04d.gif", id + 1);
          const fs::path gif_path =
              images / clip / std::to_string(pid) / "Epoch1" / ("DS" + std::to_string(ds_index)) / name;
          expected.insert(gif_path);
          ASSERT_TRUE(fs::exists(gif_path)) << gif_path;
          const Gif gif = read_gif(gif_path);
          EXPECT_EQ(gif.width, obj["width"].get<int>()) << gif_path;
          EXPECT_EQ(gif.height, obj["height"].get<int>()) << gif_path;
          EXPECT_EQ(test::sha256_hex(gif.indices), obj["pixels_sha256"].get<std::string>()) << gif_path;
          // The colour table is the conversion of the palette the first page using the object names.
          ASSERT_EQ(gif.colour_count, 256) << gif_path;
          std::array<std::array<int, 3>, 256> want{};
          std::array<int, 256> alpha{};
          for (const auto& e : obj["palette"]) {
            const int eid = e[0];
            want[eid] = ycrcb_to_rgb(e[1], e[2], e[3]);
            alpha[eid] = e[4];
          }
          for (int i = 0; i < 256; ++i) EXPECT_EQ(gif.colours[i], want[i]) << gif_path << " entry " << i;
          int lowest_transparent = -1;
          for (int i = 0; i < 256 && lowest_transparent < 0; ++i)
            if (alpha[i] == 0) lowest_transparent = i;
          EXPECT_EQ(gif.transparent, lowest_transparent) << gif_path;
        }
      }
    }
  }
  ASSERT_FALSE(expected.empty());
  // Nothing else was written.
  std::set<fs::path> found;
  for (const auto& e : fs::recursive_directory_iterator(images))
    if (e.is_regular_file() && e.path().extension() == ".gif") found.insert(e.path());
  EXPECT_EQ(found, expected);
}

INSTANTIATE_TEST_SUITE_P(Variants, ExtractDisc, ::testing::Values("menu", "twoig", "popup", "subpath", "streams"));

// The pictures below folder, sorted.
std::vector<fs::path> gif_files(const fs::path& folder) {
  std::vector<fs::path> out;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file() && e.path().extension() == ".gif") out.push_back(e.path());
  std::sort(out.begin(), out.end());
  return out;
}

// Rewrites the first n pictures below images with new content written after the marker, as an editor
// would.
void edit_pictures(const fs::path& images, std::size_t n) {
  const auto marker_time = fs::last_write_time(images / "VELD.rip");
  const std::vector<fs::path> pictures = gif_files(images);
  ASSERT_GE(pictures.size(), n);
  for (std::size_t i = 0; i < n; ++i) {
    test::edit_picture_pixels(pictures[i], images / "VELD.rip");  // edits are found by their pixels
    fs::last_write_time(pictures[i], marker_time + std::chrono::seconds(10));
  }
}

TEST(ExtractCommand, SecondRunAsksThenReplacesEveryEarlierPicture) {
  const fs::path disc = test::test_discs_dir() / "menu";
  test::TempDir dir;
  const std::string bdmv = (disc / "BDMV").string(), rip = (dir / "rip").string();
  ASSERT_EQ(run_veld({"extract", bdmv, rip, "--quiet"}, dir.path()).status, 0);
  const fs::path images = dir / "rip" / "VELD" / "Images";
  test::write_file(images / "00000" / "stale.gif", test::hex_bytes("00"));
  fs::last_write_time(images / "00000" / "stale.gif", fs::last_write_time(images / "VELD.rip"));

  // Without a terminal and without --yes the answer is no: nothing changes, exit 1. Nothing was edited,
  // so the question is the plain one.
  const test::TreeSnapshot before = test::snapshot_tree(dir / "rip");
  RunResult declined = run_veld({"extract", bdmv, rip}, dir.path());
  EXPECT_EQ(declined.status, 1);
  EXPECT_THAT(declined.err, HasSubstr((dir / "rip" / "VELD").string() + "/\n exists, overwrite ?"));
  EXPECT_THAT(declined.err, Not(HasSubstr("edited")));
  EXPECT_EQ(test::snapshot_tree(dir / "rip"), before);

  // The question says how many pictures were edited since the extraction and that they go.
  for (std::size_t n : {1u, 3u}) {
    edit_pictures(images, n);
    RunResult asked = run_veld({"extract", bdmv, rip}, dir.path());
    EXPECT_EQ(asked.status, 1);
    EXPECT_THAT(asked.err, HasSubstr(fmt::format(
                               "exists; {} of its pictures were edited after the last extraction and will be "
                               "replaced. Overwrite ?",
                               n)));
  }

  RunResult again = run_veld({"extract", bdmv, rip, "--yes"}, dir.path());
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_FALSE(fs::exists(images / "00000" / "stale.gif"));
  EXPECT_TRUE(fs::exists(images / "VELD.rip"));
  EXPECT_FALSE(fs::exists(dir / "rip" / "VELD" / "Images.new"));
  EXPECT_FALSE(fs::exists(dir / "rip" / "VELD" / "Images.old"));
  RunResult third = run_veld({"extract", bdmv, rip}, dir.path());
  EXPECT_THAT(third.err, Not(HasSubstr("edited")));  // the new pictures are not edited ones
}

TEST(ExtractCommand, DiscWithoutMenuStreamSaysSoAndWritesNoMarker) {
  test::TempDir dir;
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "BDMV");
  // Without the menu playlist only the main clip, which has no IG stream, is used.
  fs::remove(dir / "BDMV" / "PLAYLIST" / "00000.mpls");
  const RunResult r = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip").string()}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("no menu stream (IG)"));
  EXPECT_FALSE(fs::exists(dir / "rip" / "VELD" / "Images" / "VELD.rip"));
}

// Rewrites every PMT of a clip stream so that its IG entries get stream type 0x06, with a valid CRC.
void hide_ig_in_pmt(const fs::path& m2ts) {
  Bytes data = test::read_file(m2ts);
  int patched = 0;
  for (std::size_t off = 0; off + 192 <= data.size(); off += 192) {
    std::uint8_t* tp = &data[off + 4];
    const int pid = ((tp[1] & 0x1F) << 8) | tp[2];
    if (pid != 0x0100 || !(tp[1] & 0x40)) continue;
    std::size_t p = 4;
    if (tp[3] & 0x20) p += 1 + tp[4];
    p += 1 + tp[p];  // pointer field
    std::uint8_t* sec = tp + p;
    const int section_length = ((sec[1] & 0x0F) << 8) | sec[2];
    const int info_length = ((sec[10] & 0x0F) << 8) | sec[11];
    std::size_t e = 12 + info_length;
    const std::size_t end = 3 + section_length - 4;
    while (e + 5 <= end) {
      if (sec[e] == 0x91) {
        sec[e] = 0x06;
        ++patched;
      }
      e += 5 + (((sec[e + 3] & 0x0F) << 8) | sec[e + 4]);
    }
    const std::uint32_t crc = crc32_mpeg(ByteSpan(sec, end));
    store_be32(sec + end, crc);
  }
  ASSERT_GT(patched, 0);
  test::write_file(m2ts, data);
}

TEST(ExtractCommand, ClipWhosePmtHasNoIgStreamFails) {
  test::TempDir dir;
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "BDMV");
  hide_ig_in_pmt(dir / "BDMV" / "STREAM" / "00000.m2ts");
  const RunResult r = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip").string()}, dir.path());
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("00000.m2ts"));
  EXPECT_THAT(r.err, HasSubstr("has no IGS (menu) !"));
}

TEST(ExtractCommand, RefusesSourcesThatDoNotOpen) {
  test::TempDir dir;
  RunResult missing = run_veld({"extract", (dir / "nothing" / "BDMV").string(), (dir / "rip").string()},
                               dir.path());
  EXPECT_EQ(missing.status, 2);
  EXPECT_THAT(missing.err, HasSubstr("No such folder"));
  EXPECT_FALSE(fs::exists(dir / "rip"));  // refused before any folder is made

  // The disc's root instead of its BDMV folder: the message names the folder that was meant.
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "root" / "BDMV");
  RunResult root = run_veld({"extract", (dir / "root").string(), (dir / "rip").string()}, dir.path());
  EXPECT_EQ(root.status, 2);
  EXPECT_THAT(root.err, HasSubstr("is not a BDMV folder"));
  EXPECT_THAT(root.err, HasSubstr((dir / "root" / "BDMV").string()));

  // A folder without index.bdmv is refused before any folder is made.
  fs::create_directories(dir / "empty");
  RunResult no_index = run_veld({"extract", (dir / "empty").string(), (dir / "rip").string()}, dir.path());
  EXPECT_EQ(no_index.status, 2);
  EXPECT_THAT(no_index.err, HasSubstr("index.bdmv"));
  EXPECT_FALSE(fs::exists(dir / "rip"));

  EXPECT_EQ(run_veld({}, dir.path()).status, 2);  // no command: a usage error
  EXPECT_EQ(run_veld({"--version"}, dir.path()).status, 0);

  RunResult empty = run_veld({"extract", "", (dir / "rip").string()}, dir.path());
  EXPECT_EQ(empty.status, 2);
  EXPECT_THAT(empty.err, HasSubstr("No BDMV folder set"));

  // A playlist that does not parse, nor does its copy in BACKUP.
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "BDMV");
  test::write_file(dir / "BDMV" / "PLAYLIST" / "00000.mpls", test::hex_bytes("4D 50 4C 53 30 32"));
  test::write_file(dir / "BDMV" / "BACKUP" / "PLAYLIST" / "00000.mpls", test::hex_bytes("4D 50 4C 53"));
  RunResult broken = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip2").string()}, dir.path());
  EXPECT_EQ(broken.status, 2);
  EXPECT_THAT(broken.err, HasSubstr("Error while analysing the file:\n" + (dir / "BDMV/PLAYLIST/00000.mpls").string()));
  EXPECT_THAT(broken.err,
              HasSubstr("Error while analysing the file:\n" + (dir / "BDMV/BACKUP/PLAYLIST/00000.mpls").string()));
  EXPECT_FALSE(fs::exists(dir / "rip2"));  // the failed run removed the folder it made
}

// Each message names what is wrong; the run ends with status 2 before any folder is made.
struct ErrorCase {
  const char* what;
  std::vector<std::string> args;  // "{src}" is the disc's BDMV folder, "{dir}" the test folder
  std::vector<std::string> expected;  // substrings of standard error
  std::vector<std::string> absent;
};

TEST(ExtractCommand, ErrorsSayWhatIsWrong) {
  test::TempDir dir, scratch;
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "root" / "BDMV");
  fs::create_directories(dir / "empty");
  test::write_file(dir / "file.txt", test::hex_bytes("00"));
  const std::string src = (dir / "root" / "BDMV").string(), d = dir.path().string();
  const std::string hint = "Give the BDMV folder of the disc";
  const std::vector<ErrorCase> cases = {
      {"a file for the BDMV folder", {"extract", "{dir}/file.txt", "{dir}/rip"},
       {"error: {dir}/file.txt\nis a file, not a BDMV folder !", hint}, {"Did you mean"}},
      {"a file of the BDMV folder", {"extract", "{src}/index.bdmv", "{dir}/rip"},
       {"error: {src}/index.bdmv\nis a file, not a BDMV folder !\n" + hint, "Did you mean {src} ?"}, {}},
      {"an empty folder", {"extract", "{dir}/empty", "{dir}/rip"},
       {"error: {dir}/empty\nis not a BDMV folder (it has no index.bdmv) !", hint}, {"Did you mean"}},
      {"the disc's root", {"extract", "{dir}/root", "{dir}/rip"},
       {"is not a BDMV folder (it has no index.bdmv) !", hint, "Did you mean {src} ?"}, {}},
      {"a missing folder", {"extract", "{dir}/nothing", "{dir}/rip"}, {"{dir}/nothing\nNo such folder !"}, {}},
      {"a mistyped command", {"extrct", "{src}", "{dir}/rip"},
       {"error: unknown command extrct\nDid you mean extract ?\nRun veld --help for more information."},
       {"A subcommand is required"}},
      {"an unknown command", {"export", "{src}", "{dir}/rip"}, {"error: unknown command export\n"}, {"Did you mean"}},
      {"a mistyped option", {"extract", "--yse", "{src}", "{dir}/rip"},
       {"error: unknown option or extra argument --yse\nDid you mean --yes ?"}, {}},
      {"one argument too many", {"extract", "{src}", "{dir}/rip", "{dir}/more"},
       {"unknown option or extra argument {dir}/more"}, {"Did you mean"}},
      {"a missing argument", {"extract", "{src}"}, {"error: RIP_FOLDER is required"}, {}},
      {"no command", {}, {"error: A command is required: extract"}, {}},
  };
  auto fill = [&](std::string t) {
    for (const auto& [key, value] : {std::pair<std::string, std::string>{"{src}", src}, {"{dir}", d}}) {
      for (std::size_t at; (at = t.find(key)) != std::string::npos;) t.replace(at, key.size(), value);
    }
    return t;
  };
  for (const ErrorCase& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<std::string> args;
    for (const auto& a : c.args) args.push_back(fill(a));
    const test::TreeSnapshot before = test::snapshot_tree(dir.path());
    const RunResult r = run_veld(args, scratch.path());
    EXPECT_EQ(r.status, 2);
    for (const auto& e : c.expected) EXPECT_THAT(r.err, HasSubstr(fill(e)));
    for (const auto& e : c.absent) EXPECT_THAT(r.err, Not(HasSubstr(fill(e))));
    EXPECT_EQ(test::snapshot_tree(dir.path()), before);
  }
}

// Output folders that would put the pictures into the disc, delete the disc, or that cannot be made
// where they are meant: each is refused with status 2, and nothing is created.
TEST(ExtractCommand, RiskyOutputFoldersAreRefused) {
  test::TempDir dir, scratch;
  const fs::path src = dir / "disc" / "BDMV";
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", src);
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "work" / "VELD" / "Images" / "BDMV");
  test::write_file(dir / "file.txt", test::hex_bytes("00"));
  test::write_file(dir / "out" / "VELD", test::hex_bytes("00"));
  test::write_file(dir / "out2" / "VELD" / "Images", test::hex_bytes("00"));
  fs::create_directory_symlink(src, dir / "link");
  struct Case {
    const char* what;
    fs::path source, rip;
    std::string expected;
  };
  const std::vector<Case> cases = {
      {"no output folder", src, "", "error: No output folder set !"},
      {"the BDMV folder itself", src, src, "lies inside the BDMV folder " + src.string()},
      {"a folder of the disc", src, src / "STREAM", "lies inside the BDMV folder"},
      {"a new folder inside the disc", src, src / "new", "lies inside the BDMV folder"},
      {"inside the disc through a link", src, dir / "link" / "new", "lies inside the BDMV folder"},
      {"inside the disc, written with ..", src, dir / "disc" / "BDMV" / "CLIPINF" / ".." / "x",
       "lies inside the BDMV folder"},
      {"a disc inside the work folder", dir / "work" / "VELD" / "Images" / "BDMV", dir / "work",
       "lies inside the work folder"},
      {"a folder whose parent is missing", src, dir / "missing" / "rip",
       (dir / "missing" / "rip").string() + ": No such file or directory"},
      {"a file", src, dir / "file.txt", (dir / "file.txt").string() + ": Not a directory"},
      {"below a file", src, dir / "file.txt" / "rip", ": Not a directory"},
      {"a work folder that is a file", src, dir / "out", (dir / "out" / "VELD").string() + ": Not a directory"},
      {"an image folder that is a file", src, dir / "out2",
       (dir / "out2" / "VELD" / "Images").string() + ": Not a directory"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    const test::TreeSnapshot before = test::snapshot_tree(dir.path());
    const RunResult r = run_veld({"extract", c.source.string(), c.rip.string(), "--yes"}, scratch.path());
    EXPECT_EQ(r.status, 2);
    EXPECT_THAT(r.err, HasSubstr(c.expected));
    EXPECT_EQ(test::snapshot_tree(dir.path()), before);
  }
}

// A run that extracts nothing removes the folders it made, so that the next run does not ask about them;
// a folder that was there before stays.
TEST(ExtractCommand, RunThatExtractsNothingLeavesNoFoldersBehind) {
  test::TempDir dir;
  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "BDMV");
  fs::remove(dir / "BDMV" / "PLAYLIST" / "00000.mpls");  // no menu stream left
  for (int run = 0; run < 2; ++run) {
    const RunResult r = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip").string()}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.out, HasSubstr("no menu stream (IG)"));
    EXPECT_THAT(r.err, Not(HasSubstr("exists")));
    EXPECT_FALSE(fs::exists(dir / "rip"));
  }
  fs::create_directory(dir / "mine");
  const RunResult r = run_veld({"extract", (dir / "BDMV").string(), (dir / "mine").string()}, dir.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_TRUE(fs::is_directory(dir / "mine"));
  EXPECT_TRUE(fs::is_empty(dir / "mine"));
}

// The content of every picture below folder, by relative path.
std::map<std::string, std::string> picture_hashes(const fs::path& folder) {
  std::map<std::string, std::string> out;
  for (const fs::path& p : gif_files(folder)) out[fs::relative(p, folder).string()] = test::sha256_hex(test::read_file(p));
  return out;
}

// Players read a disc file's copy in BACKUP when the file itself is damaged; so does the extraction.
TEST(ExtractCommand, DamagedDiscFilesAreReadFromTheirBackup) {
  test::TempDir reference;
  const fs::path source = test::test_discs_dir() / "menu" / "BDMV";
  ASSERT_EQ(run_veld({"extract", source.string(), (reference / "rip").string()}, reference.path()).status, 0);
  const auto expected = picture_hashes(reference / "rip" / "VELD" / "Images");
  ASSERT_FALSE(expected.empty());
  for (const char* file : {"index.bdmv", "MovieObject.bdmv", "PLAYLIST/00000.mpls", "CLIPINF/00000.clpi"}) {
    SCOPED_TRACE(file);
    test::TempDir dir;
    copy_disc(source, dir / "BDMV");
    const fs::path damaged = dir / "BDMV" / file;
    Bytes data = test::read_file(damaged);
    data.resize(data.size() / 2);
    test::write_file(damaged, data);
    const RunResult r = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip").string()}, dir.path());
    ASSERT_EQ(r.status, 0) << r.err;
    EXPECT_THAT(r.err, HasSubstr("warning: " + damaged.string() + " cannot be used; reading its backup copy " +
                                 (dir / "BDMV" / "BACKUP" / file).string() + " instead\n"));
    EXPECT_THAT(r.err, HasSubstr(damaged.string() + " differs from its backup copy"));
    EXPECT_EQ(picture_hashes(dir / "rip" / "VELD" / "Images"), expected);
  }
}

// The PES packets of one PID in a clip stream file: where each starts and the segment it carries.
struct IgPes {
  std::size_t offset = 0;   // of the source packet in the clip file
  std::size_t segment = 0;  // of the segment's type byte in the clip file
  std::uint8_t type = 0;
};

std::vector<IgPes> ig_pes_packets(const Bytes& clip, std::uint16_t pid) {
  std::vector<IgPes> out;
  for (std::size_t at = 0; at + 192 <= clip.size(); at += 192) {
    const std::uint8_t* p = clip.data() + at + 4;
    if ((((p[1] & 0x1F) << 8) | p[2]) != pid || !(p[1] & 0x40)) continue;
    std::size_t payload = (p[3] & 0x20) ? 5 + p[4] : 4;
    const std::size_t segment = payload + 9 + p[payload + 8];  // after the PES header
    out.push_back({at, at + 4 + segment, p[segment]});
  }
  return out;
}

// Damage is reported where the user can look: a display set that the clip ends inside, an object that does
// not decode and a playlist block with bytes left unread are warnings naming the clip, PID, display set and
// object (or the file, block and offset); the run extracts the rest, exits 0 and counts the warnings. A
// malformed segment fails the run with the byte of the clip it came from.
TEST(ExtractCommand, DamageIsNamedWhereTheUserCanLook) {
  const fs::path source = test::test_discs_dir() / "menu" / "BDMV";
  const fs::path clip_name = fs::path("STREAM") / "00000.m2ts";
  const Bytes clip = test::read_file(source / clip_name);
  const std::vector<IgPes> pes = ig_pes_packets(clip, 0x1400);
  std::vector<std::size_t> ends;  // index in pes of each END
  for (std::size_t i = 0; i < pes.size(); ++i) {
    if (pes[i].type == 0x80) ends.push_back(i);
  }
  ASSERT_EQ(ends.size(), 2u) << "the menu disc's stream has two display sets";
  const IgPes& second_start = pes[ends[0] + 1];
  const std::string second_at =
      fmt::format("from byte {} (packet {}) of the clip", second_start.offset, second_start.offset / 192);
  const auto first_ods = std::find_if(pes.begin(), pes.end(), [](const IgPes& p) { return p.type == 0x15; });
  const auto first_pds = std::find_if(pes.begin(), pes.end(), [](const IgPes& p) { return p.type == 0x14; });
  ASSERT_NE(first_ods, pes.end());
  ASSERT_NE(first_pds, pes.end());
  const std::size_t ods_body = first_ods->segment + 3;
  const int object_id = clip[ods_body] << 8 | clip[ods_body + 1];
  const int height = clip[ods_body + 9] << 8 | clip[ods_body + 10];
  // The last ODS of the second display set spans several packets; the clip is cut after its first.
  const IgPes& last_ods = pes[ends[1] - 1];
  ASSERT_EQ(last_ods.type, 0x15);
  ASSERT_GT(pes[ends[1]].offset - last_ods.offset, 2 * 192u);
  const std::string clip_path_text = "STREAM/00000.m2ts, PID 5120";

  // Damages the clip of a disc copy.
  const auto in_clip = [&](std::function<void(Bytes&)> damage) {
    return [&clip, &clip_name, damage](const fs::path& bdmv) {
      Bytes damaged = clip;
      damage(damaged);
      test::write_file(bdmv / clip_name, damaged);
    };
  };
  struct Case {
    const char* what;
    std::function<void(const fs::path& bdmv)> damage;
    int status;
    std::vector<std::string> expected;  // parts of stderr (or of stdout, for the summary)
    int images;                         // pictures written, -1 when the run fails
  };
  const std::vector<Case> cases = {
      {"clip ends before the last END",
       in_clip([&](Bytes& c) { c.resize(pes[ends[1]].offset); }),
       0,
       {fmt::format("{}: display set 2 is incomplete (the stream ends after {} whole segments of it, {}) and is "
                    "left out",
                    clip_path_text, ends[1] - ends[0] - 1, second_at),
        "is shorter than its clip information", "display sets: 1; images written: 18; with 2 warnings (see above)"},
       18},
      {"clip ends inside a segment",
       in_clip([&](Bytes& c) { c.resize(last_ods.offset + 2 * 192); }),
       0,
       {fmt::format("display set 2 is incomplete (the stream ends after {} whole segments of it, {})",
                    ends[1] - ends[0] - 2, second_at),
        "is shorter than its clip information", "with 2 warnings (see above)"},
       18},
      {"object data that does not decode",
       in_clip([&](Bytes& c) {
         c[ods_body + 7] = 0;  // width 1
         c[ods_body + 8] = 1;
       }),
       0,
       {fmt::format("{}, display set 1: object {} does not decode, so its picture {:04}.gif is not written: "
                    "line 1 of {} runs past the width 1",
                    clip_path_text, object_id, object_id + 1, height),
        "images written: 35; objects skipped (no picture): 1; with 1 warning (see above)"},
       35},
      {"playlist block longer than its content",
       [](const fs::path& bdmv) {
         const fs::path playlist = bdmv / "PLAYLIST" / "00000.mpls";
         Bytes d = test::read_file(playlist);
         const std::size_t marks = load_be32(d.data() + 12);
         ASSERT_EQ(load_be32(d.data() + 16), 0u) << "the marks are the playlist's last block";
         store_be32(d.data() + marks, load_be32(d.data() + marks) + 6);
         const std::size_t end = d.size();
         d.resize(end + 6, 0xAB);
         test::write_file(playlist, d);
         ASSERT_EQ(end, marks + 4 + load_be32(d.data() + marks) - 6);
       },
       0,
       {"PLAYLIST/00000.mpls: PlayListMarks at offset", "holds 6 bytes after its content, which were not read",
        "differs from its backup copy", "images written: 36; with 2 warnings (see above)"},
       36},
      {"unknown segment type",
       in_clip([&](Bytes& c) { c[first_pds->segment] = 0x99; }),
       2,
       {fmt::format("{} (PID 5120): unknown segment type 0x99 at byte {} (packet {}) of the clip",
                    clip_name.generic_string(), first_pds->offset, first_pds->offset / 192)},
       -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    test::TempDir dir;
    copy_disc(source, dir / "BDMV");
    c.damage(dir / "BDMV");
    const RunResult r = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip").string()}, dir.path());
    EXPECT_EQ(r.status, c.status) << r.err;
    for (const std::string& part : c.expected) {
      EXPECT_THAT(r.err + r.out, HasSubstr(part));
    }
    if (c.images >= 0) {
      int written = 0;
      for (const auto& e : fs::recursive_directory_iterator(dir / "rip" / "VELD" / "Images")) {
        written += e.path().extension() == ".gif";
      }
      EXPECT_EQ(written, c.images);
      // Warnings go to stderr also under --quiet.
      const RunResult quiet =
          run_veld({"extract", "--quiet", "--yes", (dir / "BDMV").string(), (dir / "rip").string()}, dir.path());
      EXPECT_EQ(quiet.status, 0);
      EXPECT_THAT(quiet.err, HasSubstr("warning: "));
      EXPECT_EQ(quiet.out, "");
    }
  }
}

// A re-extraction that is cancelled or fails leaves the earlier pictures, edited ones included, exactly
// as they were: same content, same times, same modes.
TEST(ExtractCommand, FailedReextractionKeepsTheEarlierPictures) {
  test::TempDir dir;
  const fs::path source = test::test_discs_dir() / "menu" / "BDMV";
  ASSERT_EQ(run_veld({"extract", source.string(), (dir / "rip").string(), "--quiet"}, dir.path()).status, 0);
  edit_pictures(dir / "rip" / "VELD" / "Images", 2);
  const test::TreeSnapshot before = test::snapshot_tree(dir / "rip");
  const fs::path err_path = dir / "stderr.txt";
  const pid_t pid = start_extract(
      source, dir / "rip", err_path,
      [] {
        signal(SIGXFSZ, SIG_IGN);  // pictures cannot be written: files may not grow beyond 1,000 bytes
        rlimit limit{1000, 1000};
        setrlimit(RLIMIT_FSIZE, &limit);
      },
      {"--yes"});
  ASSERT_GT(pid, 0);
  const RunResult r = wait_veld(pid, err_path);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("File too large"));
  EXPECT_EQ(test::snapshot_tree(dir / "rip"), before);
}



// Makes the menu clip long enough to be caught mid-scan: 160 MiB of null packets after the stream.
void lengthen_clip(const fs::path& m2ts) {
  std::ofstream out(m2ts, std::ios::binary | std::ios::app);
  std::vector<char> block(192 * 4096);
  for (std::size_t off = 0; off < block.size(); off += 192) {
    block[off + 4] = 0x47;
    block[off + 5] = 0x1F;
    block[off + 6] = static_cast<char>(0xFF);
    block[off + 7] = 0x10;
  }
  for (int i = 0; i < 214; ++i) out.write(block.data(), static_cast<std::streamsize>(block.size()));
}

// Runs `veld extract bdmv rip [options]` and presses Ctrl-C while it reads m2ts.
RunResult interrupt_while_reading(const fs::path& bdmv, const fs::path& rip, const fs::path& m2ts,
                                  const fs::path& err_path, const std::vector<std::string>& options = {},
                                  void (*before_exec)() = nullptr) {
  const pid_t pid = start_extract(bdmv, rip, err_path, before_exec, options);
  if (pid <= 0) return {};
  // Wait until the clip stream is open, stop the process, interrupt it, and let it go on: the
  // interrupt is then handled before the scan reads on.
  bool seen = false;
  for (int i = 0; i < 20000 && !seen; ++i) {
    std::error_code ec;
    for (const auto& fd : fs::directory_iterator("/proc/" + std::to_string(pid) + "/fd", ec)) {
      std::error_code lec;
      if (fs::read_symlink(fd.path(), lec) == m2ts) seen = true;
    }
    if (!seen) usleep(200);
  }
  EXPECT_TRUE(seen) << "the clip stream was never opened";
  kill(pid, SIGSTOP);
  kill(pid, SIGINT);
  kill(pid, SIGCONT);
  return wait_veld(pid, err_path);
}

// Ctrl-C while the clip stream is demultiplexed: the run stops cleanly with status 1 and no marker.
TEST(ExtractCommand, InterruptCancelsCleanly) {
  test::TempDir dir;
  copy_disc(test::test_discs_dir() / "popup" / "BDMV", dir / "BDMV");
  const fs::path m2ts = dir / "BDMV" / "STREAM" / "00000.m2ts";
  lengthen_clip(m2ts);
  const RunResult r = interrupt_while_reading(dir / "BDMV", dir / "rip", m2ts, dir / "stderr.txt");
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("Cancelled."));
  // Nothing of the cancelled run is left: the folders it made are gone.
  EXPECT_FALSE(fs::exists(dir / "rip"));
}

TEST(ExtractCommand, CancelledReextractionKeepsTheEarlierPictures) {
  test::TempDir dir;
  copy_disc(test::test_discs_dir() / "popup" / "BDMV", dir / "BDMV");
  ASSERT_EQ(run_veld({"extract", (dir / "BDMV").string(), (dir / "rip").string(), "--quiet"}, dir.path()).status, 0);
  edit_pictures(dir / "rip" / "VELD" / "Images", 2);
  const test::TreeSnapshot before = test::snapshot_tree(dir / "rip");
  const fs::path m2ts = dir / "BDMV" / "STREAM" / "00000.m2ts";
  lengthen_clip(m2ts);
  const RunResult r = interrupt_while_reading(dir / "BDMV", dir / "rip", m2ts, dir / "stderr.txt", {"--yes"});
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("2 of its pictures were edited"));
  EXPECT_THAT(r.err, HasSubstr("Cancelled."));
  EXPECT_EQ(test::snapshot_tree(dir / "rip"), before);
}

// A picture that cannot be written (here: files may not grow beyond 1,000 bytes) ends the run with the
// system's error text and status 2 instead of being skipped.
TEST(ExtractCommand, FailedImageSaveIsReported) {
  test::TempDir dir;
  const fs::path err_path = dir / "stderr.txt";
  const pid_t pid = start_extract(test::test_discs_dir() / "menu" / "BDMV", dir / "rip", err_path, [] {
    signal(SIGXFSZ, SIG_IGN);  // a write past the limit then fails with EFBIG
    rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
  });
  ASSERT_GT(pid, 0);
  const RunResult r = wait_veld(pid, err_path);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr(".gif"));
  EXPECT_THAT(r.err, HasSubstr("File too large"));
  EXPECT_FALSE(fs::exists(dir / "rip" / "VELD"));
}

// Damaged discs (random bytes changed in any of their files) end with a message or succeed; the command
// never crashes (the sanitizer build turns every bad read into a crash).
TEST(ExtractCommand, DamagedDiscsNeverCrash) {
  const fs::path source = test::test_discs_dir() / "twoig" / "BDMV";
  std::vector<fs::path> files;
  for (const auto& e : fs::recursive_directory_iterator(source))
    if (e.is_regular_file() && e.path().parent_path().filename() != "BACKUP") files.push_back(e.path());
  std::sort(files.begin(), files.end());
  std::mt19937 rng(20261208);
  for (int round = 0; round < 24; ++round) {
    test::TempDir dir;
    copy_disc(source, dir / "BDMV");
    const fs::path victim = dir / "BDMV" / fs::relative(files[rng() % files.size()], source);
    Bytes data = test::read_file(victim);
    if (data.empty()) continue;
    const int flips = 1 + static_cast<int>(rng() % 64);
    for (int i = 0; i < flips; ++i) data[rng() % data.size()] = static_cast<std::uint8_t>(rng());
    if (round % 4 == 3) data.resize(rng() % data.size());  // and sometimes cut short
    test::write_file(victim, data);
    const RunResult r = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip").string(), "--quiet"},
                                 dir.path());
    EXPECT_TRUE(r.status == 0 || r.status == 2) << "round " << round << " " << victim << "\n" << r.err;
    if (r.status == 2) {
      EXPECT_FALSE(r.err.empty()) << "a failure without a message, round " << round;
    }
  }
}

}  // namespace
}  // namespace veld

namespace veld {
namespace {

// The English words left in a text once paths (anything with a slash) and the names the program uses
// as they stand (commands, options, file and folder names) are taken out.
std::vector<std::string> english_words(const std::string& text) {
  static const std::set<std::string> names = {
      "veld", "VELD", "extract", "help", "yes", "quiet", "version", "BDMV", "BDMV_FOLDER", "RIP_FOLDER",
      "index", "bdmv", "PLAYLIST", "CLIPINF", "STREAM", "BACKUP", "IG", "IGS", "gif", "GIF", "PID", "Epoch", "nnnn",
      "mpls", "clpi", "m2ts", "rip", "Images", "MovieObject", "extrct", "yse", "replace", "copy-back",
      "no-copy-back", "ig-language", "WORK_FOLDER", "Stream", "ISO", "show", "json", "preview", "format", "png",
      "colours", "nearest", "exact", "dither", "anchor", "top-left", "centre", "undo", "remux", "in-place",
      "full", "dry-run", "check"};
  std::vector<std::string> out;
  std::istringstream in(text);
  for (std::string token; in >> token;) {
    if (token.find('/') != std::string::npos) continue;
    static const std::regex word("[A-Za-z][A-Za-z_-]*[A-Za-z]");
    for (std::sregex_iterator it(token.begin(), token.end(), word), end; it != end; ++it) {
      if (!names.count(it->str())) out.push_back(it->str());
    }
  }
  return out;
}

TEST(ExtractCommand, EnglishWordsAreFound) {
  EXPECT_THAT(english_words("error: /a/b/BDMV\nis a file, not a BDMV folder !"),
              ::testing::ElementsAre("error", "is", "file", "not", "folder"));
  EXPECT_THAT(english_words("错误:未知的命令 extrct\n是否应为 extract ?\n运行 veld --help 查看说明。"),
              ::testing::IsEmpty());
}

// With a Chinese locale every text the command prints is Chinese: results, questions, warnings,
// errors, hints, usage errors and the help.
TEST(ExtractCommand, ChineseLocalePrintsNoEnglishSentence) {
  test::TempDir dir, scratch;
  const fs::path source = test::test_discs_dir() / "menu" / "BDMV";
  copy_disc(source, dir / "root" / "BDMV");
  copy_disc(source, dir / "damaged" / "BDMV");
  test::write_file(dir / "damaged" / "BDMV" / "index.bdmv", test::hex_bytes("49 4E 44 58"));
  copy_disc(source, dir / "plain" / "BDMV");
  fs::remove(dir / "plain" / "BDMV" / "PLAYLIST" / "00000.mpls");
  test::write_file(dir / "file.txt", test::hex_bytes("00"));
  const std::string rip = (dir / "rip").string();
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string expected;  // a part of the output
    std::function<void()> before = nullptr;
  };
  const std::vector<Case> cases = {
      {"an extraction", {"extract", source.string(), rip}, 0, "按钮图片提取成功"},
      {"the question, declined",
       {"extract", source.string(), rip},
       1,
       "其中 2 张图片在上次提取后修改过,将被替换。覆盖 ?",
       [&] { edit_pictures(dir / "rip" / "VELD" / "Images", 2); }},
      {"the question, answered by --yes", {"extract", source.string(), rip, "--yes"}, 0, "是(--yes)"},
      {"a damaged index", {"extract", (dir / "damaged" / "BDMV").string(), (dir / "rip2").string()}, 0, "改为读取其备份"},
      {"no menu stream", {"extract", (dir / "plain" / "BDMV").string(), (dir / "rip3").string()}, 0, "没有菜单流"},
      {"the disc's root", {"extract", (dir / "root").string(), rip}, 2, "是否应为"},
      {"a file", {"extract", (dir / "file.txt").string(), rip}, 2, "是文件,不是BDMV文件夹"},
      {"no output folder", {"extract", source.string(), ""}, 2, "没有设置输出路径"},
      {"inside the disc", {"extract", source.string(), (source / "x").string()}, 2, "请选择光盘以外的输出文件夹"},
      {"a mistyped command", {"extrct", source.string(), rip}, 2, "未知的命令"},
      {"a mistyped option", {"extract", "--yse", source.string(), rip}, 2, "是否应为 --yes"},
      {"a missing argument", {"extract", source.string()}, 2, "缺少参数 RIP_FOLDER"},
      {"no command", {}, 2, "需要一个命令"},
      {"the help", {"--help"}, 0, "编辑蓝光BDMV文件夹中的交互菜单"},
      {"the command's help", {"extract", "--help"}, 0, "对提问一律回答"},
      {"the other command's help", {"replace", "--help"}, 0, "那次提取的VELD工作文件夹"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.before) c.before();
    const RunResult r = run_veld(c.args, scratch.path(), kChinese);
    EXPECT_EQ(r.status, c.status);
    EXPECT_THAT(r.out + r.err, HasSubstr(c.expected));
    EXPECT_THAT(english_words(r.out + r.err), ::testing::IsEmpty()) << r.out << r.err;
  }
  // Ctrl-C.
  copy_disc(test::test_discs_dir() / "popup" / "BDMV", dir / "long" / "BDMV");
  const fs::path m2ts = dir / "long" / "BDMV" / "STREAM" / "00000.m2ts";
  lengthen_clip(m2ts);
  const RunResult r = interrupt_while_reading(dir / "long" / "BDMV", dir / "rip4", m2ts, scratch / "stderr.txt", {},
                                              [] {
                                                unsetenv("LC_ALL");
                                                unsetenv("LC_MESSAGES");
                                                setenv("LANG", "zh_CN.UTF-8", 1);
                                              });
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("已取消。"));
  EXPECT_THAT(english_words(r.err), ::testing::IsEmpty()) << r.err;
}

}  // namespace
}  // namespace veld
