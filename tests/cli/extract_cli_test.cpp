// End-to-end tests of `veld extract` on the generated discs, checked against the generator's truth
// files with an independent GIF reader (giflib) and an independent colour conversion.
#include <gif_lib.h>
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <array>
#include <cmath>
#include <cstdio>
#include <fstream>
#include <nlohmann/json.hpp>
#include <random>
#include <set>

#include "support/test_support.h"
#include "veld/base/crc32.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using json = nlohmann::json;

struct RunResult {
  int status = -1;
  std::string out;
  std::string err;
};

std::string shell_quote(const std::string& s) {
  std::string q = "'";
  for (char c : s) q += (c == '\'') ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

// Runs the veld command with arguments, stdin from /dev/null, capturing stdout and stderr.
RunResult run_veld(const std::vector<std::string>& args, const fs::path& scratch) {
  std::string cmd = "LC_ALL=C.UTF-8 " + shell_quote(VELD_CLI_PATH);
  for (const auto& a : args) cmd += " " + shell_quote(a);
  const fs::path out = scratch / "stdout.txt", err = scratch / "stderr.txt";
  cmd += " </dev/null >" + shell_quote(out.string()) + " 2>" + shell_quote(err.string());
  RunResult r;
  const int raw = std::system(cmd.c_str());
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  auto slurp = [](const fs::path& p) {
    std::ifstream in(p);
    return std::string(std::istreambuf_iterator<char>(in), {});
  };
  r.out = slurp(out);
  r.err = slurp(err);
  return r;
}

json load_truth(const fs::path& disc) {
  std::ifstream in(disc / "truth.json");
  return json::parse(in);
}

void copy_disc(const fs::path& from, const fs::path& to) {
  fs::create_directories(to.parent_path());
  fs::copy(from, to, fs::copy_options::recursive);
}

// Starts `veld extract bdmv rip` as a child process with stderr in err_path; before_exec runs in the
// child (resource limits, signal dispositions). Use wait_veld for its result.
pid_t start_extract(const fs::path& bdmv, const fs::path& rip, const fs::path& err_path,
                    void (*before_exec)() = nullptr) {
  const pid_t pid = fork();
  if (pid == 0) {
    if (!freopen(err_path.c_str(), "w", stderr) || !freopen("/dev/null", "w", stdout) ||
        !freopen("/dev/null", "r", stdin)) {
      _exit(126);
    }
    if (before_exec) before_exec();
    execl(VELD_CLI_PATH, VELD_CLI_PATH, "extract", bdmv.c_str(), rip.c_str(), nullptr);
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

struct Gif {
  int width = 0, height = 0;
  std::vector<std::uint8_t> indices;
  std::array<std::array<int, 3>, 256> colours{};
  int colour_count = 0;
  int transparent = -1;
};

Gif read_gif(const fs::path& p) {
  int err = 0;
  GifFileType* g = DGifOpenFileName(p.c_str(), &err);
  if (!g) throw std::runtime_error("giflib cannot open " + p.string());
  if (DGifSlurp(g) != GIF_OK || g->ImageCount < 1) {
    DGifCloseFile(g, &err);
    throw std::runtime_error("giflib cannot read " + p.string());
  }
  Gif out;
  out.width = g->SWidth;
  out.height = g->SHeight;
  const SavedImage& img = g->SavedImages[0];
  const ColorMapObject* map = img.ImageDesc.ColorMap ? img.ImageDesc.ColorMap : g->SColorMap;
  if (map) {
    out.colour_count = map->ColorCount;
    for (int i = 0; i < map->ColorCount; ++i)
      out.colours[i] = {map->Colors[i].Red, map->Colors[i].Green, map->Colors[i].Blue};
  }
  GraphicsControlBlock gcb;
  if (DGifSavedExtensionToGCB(g, 0, &gcb) == GIF_OK) out.transparent = gcb.TransparentColor;
  const auto& d = img.ImageDesc;
  out.indices.assign(static_cast<std::size_t>(out.width) * out.height, 0);
  for (int y = 0; y < d.Height; ++y)
    for (int x = 0; x < d.Width; ++x)
      out.indices[static_cast<std::size_t>(y + d.Top) * out.width + x + d.Left] =
          img.RasterBits[static_cast<std::size_t>(y) * d.Width + x];
  DGifCloseFile(g, &err);
  return out;
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

TEST(ExtractCommand, SecondRunAsksThenReplacesEveryEarlierPicture) {
  const fs::path disc = test::test_discs_dir() / "menu";
  test::TempDir dir;
  const std::string bdmv = (disc / "BDMV").string(), rip = (dir / "rip").string();
  ASSERT_EQ(run_veld({"extract", bdmv, rip, "--quiet"}, dir.path()).status, 0);
  const fs::path images = dir / "rip" / "VELD" / "Images";
  test::write_file(images / "00000" / "stale.gif", test::hex_bytes("00"));

  // Without a terminal and without --yes the answer is no: nothing changes, exit 1.
  RunResult declined = run_veld({"extract", bdmv, rip}, dir.path());
  EXPECT_EQ(declined.status, 1);
  EXPECT_THAT(declined.err, HasSubstr("exists, overwrite ?"));
  EXPECT_TRUE(fs::exists(images / "00000" / "stale.gif"));

  RunResult again = run_veld({"extract", bdmv, rip, "--yes"}, dir.path());
  EXPECT_EQ(again.status, 0) << again.err;
  EXPECT_FALSE(fs::exists(images / "00000" / "stale.gif"));
  EXPECT_TRUE(fs::exists(images / "VELD.rip"));
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

  // A folder without index.bdmv: the disc model names the missing file.
  fs::create_directories(dir / "empty");
  RunResult no_index = run_veld({"extract", (dir / "empty").string(), (dir / "rip").string()}, dir.path());
  EXPECT_EQ(no_index.status, 2);
  EXPECT_THAT(no_index.err, HasSubstr("index.bdmv"));
  EXPECT_FALSE(fs::exists(dir / "rip" / "VELD"));  // the failed run removed the folders it made

  EXPECT_EQ(run_veld({}, dir.path()).status, 2);  // no command: a usage error
  EXPECT_EQ(run_veld({"--version"}, dir.path()).status, 0);

  RunResult empty = run_veld({"extract", "", (dir / "rip").string()}, dir.path());
  EXPECT_EQ(empty.status, 2);
  EXPECT_THAT(empty.err, HasSubstr("No BDMV folder set"));

  copy_disc(test::test_discs_dir() / "menu" / "BDMV", dir / "BDMV");
  test::write_file(dir / "BDMV" / "PLAYLIST" / "00000.mpls", test::hex_bytes("4D 50 4C 53 30 32"));
  RunResult broken = run_veld({"extract", (dir / "BDMV").string(), (dir / "rip2").string()}, dir.path());
  EXPECT_EQ(broken.status, 2);
  EXPECT_THAT(broken.err, HasSubstr("Error while analysing the file"));
  EXPECT_THAT(broken.err, HasSubstr("00000.mpls"));
}

// Ctrl-C while the clip stream is demultiplexed: the run stops cleanly with status 1 and no marker.
TEST(ExtractCommand, InterruptCancelsCleanly) {
  test::TempDir dir;
  copy_disc(test::test_discs_dir() / "popup" / "BDMV", dir / "BDMV");
  // Make the menu clip long enough to be caught mid-scan: 160 MiB of null packets after the stream.
  const fs::path m2ts = dir / "BDMV" / "STREAM" / "00000.m2ts";
  {
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
  const fs::path err_path = dir / "stderr.txt";
  const pid_t pid = start_extract(dir / "BDMV", dir / "rip", err_path);
  ASSERT_GT(pid, 0);
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
  ASSERT_TRUE(seen) << "the clip stream was never opened";
  kill(pid, SIGSTOP);
  kill(pid, SIGINT);
  kill(pid, SIGCONT);
  const RunResult r = wait_veld(pid, err_path);
  EXPECT_EQ(r.status, 1);
  EXPECT_THAT(r.err, HasSubstr("Cancelled."));
  // Nothing of the cancelled run is left: the work folder it made is gone.
  EXPECT_FALSE(fs::exists(dir / "rip" / "VELD"));
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
