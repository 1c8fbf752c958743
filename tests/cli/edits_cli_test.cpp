// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of how `veld replace` finds edits (by content, whatever the time stamp or format) and
// takes an edit into every copy of its picture, on a generated disc and on the sample disc.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <map>
#include <set>

#include "cli/cli_support.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using test::RunResult;
using test::run_veld;

fs::path sample_disc() { return fs::path(VELD_FIXTURES_DIR) / ".." / ".." / "examples" / "sample-disc"; }

struct Work {
  test::TempDir dir;
  fs::path disc, vfolder, images;
  explicit Work(const fs::path& source) {
    test::copy_disc(source, dir / "disc");
    disc = dir / "disc";
    const RunResult r = run_veld({"extract", (disc / "BDMV").string(), (dir / "rip").string()}, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    vfolder = dir / "rip" / "VELD";
    images = vfolder / "Images";
  }
  RunResult replace(std::vector<std::string> extra = {"--no-copy-back"}) {
    std::vector<std::string> args = {"replace", (disc / "BDMV").string(), vfolder.string()};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_veld(args, dir.path());
  }
  bool rebuilt() const { return fs::exists(vfolder / "Stream") && !fs::is_empty(vfolder / "Stream"); }
};

// The pictures of one stream folder that have copies (same name and indices in other display sets),
// by their DS1 path: every copy.
std::map<fs::path, std::vector<fs::path>> copies_in(const fs::path& images) {
  std::map<std::pair<std::string, std::vector<std::uint8_t>>, std::vector<fs::path>> by;
  for (const auto& e : fs::recursive_directory_iterator(images)) {
    if (!e.is_regular_file() || e.path().extension() != ".gif") continue;
    const fs::path stream = e.path().parent_path().parent_path().parent_path();
    const test::Gif g = test::read_gif(e.path());
    by[{(stream / e.path().filename()).string(), g.indices}].push_back(e.path());
  }
  std::map<fs::path, std::vector<fs::path>> out;
  for (auto& [key, paths] : by) {
    if (paths.size() < 2) continue;
    std::sort(paths.begin(), paths.end());
    out[paths.front()] = paths;
  }
  return out;
}

// Paints a block of the picture with another index of its palette; the file keeps its old time stamp
// ("cp -p" of an edit made elsewhere).
std::vector<std::uint8_t> paint(const fs::path& gif, int offset = 0) {
  const auto before = fs::last_write_time(gif);
  test::Gif g = test::read_gif(gif);
  const std::uint8_t centre = g.indices[g.indices.size() / 2];
  std::uint8_t other = centre;
  for (std::uint8_t i : g.indices)
    if (i != centre && i != g.transparent) other = i;
  if (other == centre) other = static_cast<std::uint8_t>(centre + 1);
  // offset 1 paints another block (the lower right quarter), so that two edits differ.
  const int x0 = offset ? g.width / 2 : g.width / 4, y0 = offset ? g.height / 2 : g.height / 4;
  for (int y = y0; y < y0 + g.height / 4; ++y)
    for (int x = x0; x < x0 + g.width / 4; ++x) g.indices[static_cast<std::size_t>(y) * g.width + x] = other;
  test::write_gif_indices(gif, g.indices);
  fs::last_write_time(gif, before);
  return g.indices;
}

class EditsOnDisc : public ::testing::TestWithParam<std::string> {
 protected:
  fs::path source() const { return GetParam() == "sample" ? sample_disc() : test::test_discs_dir() / GetParam(); }
};

// One copy edited: every copy in the rebuilt stream carries the edit, and libbluray draws it.
TEST_P(EditsOnDisc, AnEditOfOneCopyReachesEveryCopy) {
  Work w(source());
  const auto copies = copies_in(w.images);
  ASSERT_FALSE(copies.empty()) << "the disc repeats no picture";
  const auto& [first, all] = *copies.begin();
  const fs::path edited = all.back();  // the last copy, say DS2 of the menu sent again
  const std::vector<std::uint8_t> indices = paint(edited);
  RunResult r = w.replace({"--copy-back"});
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr(fs::relative(edited, w.images).generic_string() + ": 1 edit, applied to " +
                               std::to_string(all.size()) + " copies in DS"));
  EXPECT_THAT(r.out, Not(HasSubstr("Use them to replace")));
  const std::string copied = "Copied into " + (w.disc / "BDMV").string() + ": STREAM/";
  EXPECT_THAT(r.out, HasSubstr(copied));
  EXPECT_EQ(r.out.find(copied), r.out.rfind(copied)) << "the copied files are listed twice:\n" << r.out;
  EXPECT_THAT(r.out, HasSubstr("BACKUP: CLIPINF/"));
  // Extracted again from the new disc: every copy has the edit.
  r = run_veld({"extract", (w.disc / "BDMV").string(), (w.dir / "rip2").string(), "--preview"}, w.dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path images2 = w.dir / "rip2" / "VELD" / "Images";
  for (const fs::path& p : all) EXPECT_EQ(test::read_gif(images2 / fs::relative(p, w.images)).indices, indices) << p;
  // libbluray draws the page with the edit, as the previews of the rebuilt disc show it in one of the
  // copies' display sets: the page's in-effect, then the page.
  std::string steps;
  for (const char* name : {"page0_in1.png", "page0.png"}) {
    std::string step;
    for (const fs::path& p : all) {
      const fs::path page = w.dir / "rip2" / "VELD" / "Preview" / fs::relative(p.parent_path(), w.images) / name;
      if (fs::exists(page)) step += (step.empty() ? "" : ",") + page.string();
    }
    if (!step.empty()) steps += " --expect " + test::shell_quote(step);
  }
  ASSERT_FALSE(steps.empty());
  r = test::run_shell(test::shell_quote(VELD_BDCHECK_PATH) + " " + test::shell_quote(w.disc.string()) + steps,
                      w.dir.path());
  EXPECT_EQ(r.status, 0) << r.out << r.err;
  // `veld show` lists the picture once, its copies pointing to it.
  r = run_veld({"show", (w.disc / "BDMV").string()}, w.dir.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("copies in DS"));
  EXPECT_THAT(r.out, HasSubstr("copy of Images/"));
}

TEST_P(EditsOnDisc, CopiesEditedDifferentlyAreRefusedAndNothingIsWritten) {
  Work w(source());
  const auto copies = copies_in(w.images);
  ASSERT_FALSE(copies.empty());
  const auto& all = copies.begin()->second;
  paint(all.front(), 0);
  paint(all.back(), 1);
  const auto disc_before = test::tree_hashes(w.disc);
  const RunResult r = w.replace({"--copy-back"});
  EXPECT_EQ(r.status, 2) << r.out;
  EXPECT_THAT(r.err, HasSubstr(all.front().string()));
  EXPECT_THAT(r.err, HasSubstr(all.back().string()));
  EXPECT_THAT(r.err, HasSubstr("edited differently"));
  EXPECT_FALSE(w.rebuilt());
  EXPECT_EQ(test::tree_hashes(w.disc), disc_before);
}

INSTANTIATE_TEST_SUITE_P(Discs, EditsOnDisc, ::testing::Values("menu", "sample"));

// The first picture of the first display set of the generated menu.
fs::path first_picture(const Work& w) { return w.images / "00000" / "5120" / "Epoch1" / "DS1" / "0002.gif"; }

TEST(EditsFound, WhateverTheTimeStamp) {
  Work w(test::test_discs_dir() / "menu");
  const fs::path pic = first_picture(w);
  // An unchanged re-save (same pixels, a new time) is no edit.
  test::write_gif_indices(pic, test::read_gif(pic).indices);
  test::touch_after(pic, w.images / "VELD.rip", 5);
  RunResult r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("holds no edited button images"));
  // An edit 0.1 s after the extraction, and one copied in with its old time (cp -p): both taken.
  paint(pic);
  test::touch_after(pic, w.images / "VELD.rip", 0, 100000000);
  r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Pictures imported: 1,"));
  EXPECT_THAT(r.out, HasSubstr("Written into " + (w.vfolder / "Stream").string() + ": "));
  test::touch_after(pic, w.images / "VELD.rip", -3600);
  r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Pictures imported: 1,"));
}

TEST(EditsFound, WhateverTheFormatOrExtension) {
  Work w(test::test_discs_dir() / "menu");
  const fs::path pic = first_picture(w);
  const fs::path png = fs::path(pic).replace_extension(".png");
  const std::string py = "/usr/bin/python3 -c \"import sys; from PIL import Image; im = Image.open(sys.argv[1]); "
                         "im = im.convert('RGBA'); w, h = im.size; c = im.getpixel((0, 0)); "
                         "[im.putpixel((x, y), c) for x in range(w // 4, w // 2) for y in range(h // 4, h // 2)]; "
                         "im.save(sys.argv[2], format='PNG')\" ";
  // A PNG saved beside its GIF (RGBA, as Pillow saves it).
  RunResult e = test::run_shell(py + test::shell_quote(pic.string()) + " " + test::shell_quote(png.string()), w.dir.path());
  ASSERT_EQ(e.status, 0) << e.err;
  RunResult r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("0002.png: 1 edit"));
  // RGBA PNG content under the GIF's name.
  fs::rename(png, pic);
  r = w.replace();
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("0002.gif: 1 edit"));
}

TEST(EditsFound, GifAndPngEditedDifferentlyAreRefused) {
  Work w(test::test_discs_dir() / "menu");
  const fs::path pic = first_picture(w);
  const fs::path png = fs::path(pic).replace_extension(".png");
  fs::copy_file(pic, png);
  paint(pic, 0);
  paint(png, 1);  // giflib writes it: GIF content under the PNG name, read by its content
  const RunResult r = w.replace();
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr(pic.string()));
  EXPECT_THAT(r.err, HasSubstr(png.string()));
  EXPECT_FALSE(w.rebuilt());
}

TEST(EditsFound, DryRunListsAndWritesNothing) {
  Work w(test::test_discs_dir() / "menu");
  paint(first_picture(w));
  const auto work_before = test::tree_hashes(w.dir / "rip");
  const auto disc_before = test::tree_hashes(w.disc);
  const RunResult r = w.replace({"--dry-run", "--copy-back"});
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("00000/5120/Epoch1/DS1/0002.gif: 1 edit"));
  EXPECT_THAT(r.out, HasSubstr("Would rebuild IG stream 5120 of clip 00000"));
  EXPECT_THAT(r.out, HasSubstr("Would remultiplex clip 00000.m2ts"));
  EXPECT_THAT(r.out, HasSubstr("Dry run: nothing was written."));
  EXPECT_EQ(test::tree_hashes(w.dir / "rip"), work_before);
  EXPECT_EQ(test::tree_hashes(w.disc), disc_before);
  EXPECT_FALSE(fs::exists(w.vfolder / "Stream"));
  EXPECT_FALSE(fs::exists(w.vfolder / "Igs"));
}

TEST(EditsFound, AnEditWhoseObjectIsGoneIsAnError) {
  Work w(test::test_discs_dir() / "menu");
  // A picture of a display set the disc does not have (as after a clip cut short).
  const fs::path ds = w.images / "00000" / "5120" / "Epoch1" / "DS99";
  fs::create_directories(ds);
  fs::copy_file(first_picture(w), ds / "0002.gif");
  paint(ds / "0002.gif");
  const RunResult r = w.replace({"--quiet", "--no-copy-back"});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr((ds / "0002.gif").string()));
  EXPECT_THAT(r.err, HasSubstr("no longer has"));
  EXPECT_FALSE(w.rebuilt());
}

TEST(EditsFound, SkippedEntriesAreWarnings) {
  Work w(test::test_discs_dir() / "menu");
  const fs::path ds = first_picture(w).parent_path();
  // A symbolic link and a folder named like pictures, and an animated GIF (first frame taken).
  fs::rename(ds / "0002.gif", w.dir / "0002.gif");
  fs::create_symlink(w.dir / "0002.gif", ds / "0002.gif");
  fs::remove(ds / "0004.gif");
  fs::create_directory(ds / "0004.gif");
  const fs::path pic = ds.parent_path() / "DS2" / "0002.gif";
  const RunResult e = test::run_shell("convert " + test::shell_quote(pic.string()) + " " + test::shell_quote(pic.string()) +
                                          " -loop 0 gif:" + test::shell_quote(pic.string() + ".anim") + " && mv " +
                                          test::shell_quote(pic.string() + ".anim") + " " + test::shell_quote(pic.string()),
                                      w.dir.path());
  ASSERT_EQ(e.status, 0) << e.err;
  const RunResult r = w.replace();
  EXPECT_THAT(r.err, HasSubstr((ds / "0002.gif").string() + "\nis a symbolic link"));
  EXPECT_THAT(r.err, HasSubstr((ds / "0004.gif").string() + "\nis a folder"));
  EXPECT_THAT(r.err, HasSubstr(pic.string() + "\nhas 2 frames: only the first is taken"));
}

TEST(EditsFound, MalformedManifestIsRefusedNamingTheLine) {
  Work w(test::test_discs_dir() / "menu");
  std::ofstream(w.images / "VELD.manifest", std::ios::app) << "broken line\n";
  const RunResult r = w.replace();
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("VELD.manifest"));
  EXPECT_THAT(r.err, HasSubstr("fields, expected 8"));
}

}  // namespace
}  // namespace veld
