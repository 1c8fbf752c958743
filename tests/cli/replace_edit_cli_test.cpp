// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of `veld replace` with pictures edited as users edit them: antialiased true-colour
// text (ImageMagick, Pillow), a line drawn on a GIF over translucent white, and a wider button. The
// nearest colours are checked by tests/fixtures/check_nearest.py, which shares no code with VELD; the
// wider button is drawn by libbluray (tests/fixtures/bdcheck.c).
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <regex>

#include <fmt/format.h>

#include "cli/cli_support.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using test::RunResult;
using test::run_veld;

const fs::path kStream = fs::path("00000") / "5120" / "Epoch1";

// A copy of the menu disc and its extraction (GIF or PNG pictures).
struct EditWork {
  test::TempDir dir;
  fs::path disc;
  fs::path vfolder;
  fs::path images;
  std::string format;

  explicit EditWork(std::string fmt = "gif", bool preview = false) : format(std::move(fmt)) {
    test::copy_disc(test::test_discs_dir() / "menu", dir / "disc");
    disc = dir / "disc";
    std::vector<std::string> args = {"extract", (disc / "BDMV").string(), (dir / "rip").string(), "--format", format};
    if (preview) args.push_back("--preview");
    const RunResult r = run_veld(args, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    vfolder = dir / "rip" / "VELD";
    images = vfolder / "Images";
  }
  fs::path picture(const std::string& ds, int object_id) const {
    return images / kStream / ds / fmt::format("{:04d}.{}", object_id + 1, format);
  }
  // Runs a shell command with PIC standing for the picture, and dates the picture after the extraction.
  void edit(const fs::path& pic, std::string command) const {
    for (std::size_t at = command.find("PIC"); at != std::string::npos; at = command.find("PIC", at + 1))
      command.replace(at, 3, test::shell_quote(pic.string()));
    const RunResult e = test::run_shell(command, dir.path());
    ASSERT_EQ(e.status, 0) << command << "\n" << e.err;
    test::touch_after(pic, images / "VELD.rip", 2);
  }
  RunResult replace(std::vector<std::string> extra = {}) {
    std::vector<std::string> args = {"replace", (disc / "BDMV").string(), vfolder.string(), "--no-copy-back"};
    args.insert(args.end(), extra.begin(), extra.end());
    return run_veld(args, dir.path());
  }
  bool stream_written() const { return fs::exists(vfolder / "Stream" / "00000.m2ts"); }
  // Puts the rebuilt clip into the disc and extracts it again into rip2 (in the given format).
  fs::path extract_again(const std::string& fmt, std::vector<std::string> extra = {}) {
    for (const auto& e : fs::directory_iterator(vfolder / "Stream")) {
      const std::string ext = e.path().extension().string();
      const char* to = ext == ".m2ts" ? "STREAM" : ext == ".clpi" ? "CLIPINF" : ext == ".mpls" ? "PLAYLIST" : nullptr;
      if (to) fs::copy_file(e.path(), disc / "BDMV" / to / e.path().filename(), fs::copy_options::overwrite_existing);
    }
    std::vector<std::string> args = {"extract", (disc / "BDMV").string(), (dir / "rip2").string(), "--format", fmt,
                                     "--yes"};
    args.insert(args.end(), extra.begin(), extra.end());
    const RunResult r = run_veld(args, dir.path());
    EXPECT_EQ(r.status, 0) << r.err;
    return dir / "rip2" / "VELD" / "Images" / kStream;
  }
};

// The numbers of the warning about mapped colours: pixels, largest difference, palette file.
struct Mapped {
  int pixels = -1;
  double largest = -1;
  std::string palette;
};
Mapped mapped_warning(const std::string& text) {
  static const std::regex warning(
      R"((\d+) pixels have colours that are not in the menu's palette and took the nearest entry; the largest )"
      R"(difference is ([0-9.]+) \(OKLab\).*Paint with (palette\d+\.gpl))");
  std::smatch m;
  Mapped out;
  if (std::regex_search(text, m, warning)) out = {std::stoi(m[1]), std::stod(m[2]), m[3]};
  return out;
}

// Replaces with --colours exact (refused), then with the default (accepted with a warning), extracts again
// and lets the independent checker confirm that every pixel took a nearest entry.
void CheckNearestImport(EditWork& w, const fs::path& pic) {
  const fs::path edited = w.dir / ("edited" + pic.extension().string());
  fs::copy_file(pic, edited);
  RunResult r = w.replace({"--colours", "exact"});
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr(pic.string()));
  EXPECT_THAT(r.err, HasSubstr("which is not in the menu's palette"));
  EXPECT_THAT(r.err, HasSubstr("Use --colours nearest"));
  EXPECT_THAT(r.err, HasSubstr(".gpl in the same folder"));
  EXPECT_FALSE(w.stream_written());

  r = w.replace();
  ASSERT_EQ(r.status, 0) << r.err;
  const Mapped m = mapped_warning(r.out + r.err);
  ASSERT_GT(m.pixels, 0) << r.out << r.err;
  EXPECT_EQ(m.palette, "palette0.gpl");  // the PLAY button is shown with palette 0
  const fs::path again = w.extract_again(w.format) / "DS1" / pic.filename();
  const RunResult c = test::run_checker(
      "check_nearest.py", {edited.string(), again.string(), (pic.parent_path() / m.palette).string()}, w.dir.path());
  ASSERT_EQ(c.status, 0) << c.out << c.err;
  static const std::regex numbers(R"(mapped (\d+) largest ([0-9.]+))");
  std::smatch n;
  ASSERT_TRUE(std::regex_search(c.out, n, numbers)) << c.out;
  EXPECT_EQ(std::stoi(n[1]), m.pixels);
  EXPECT_NEAR(std::stod(n[2]), m.largest, 0.0015);
}

TEST(ReplaceAnyColours, ImageMagickTextOnAGif) {
  EditWork w("gif");
  const fs::path pic = w.picture("DS1", 1);
  w.edit(pic, "convert PIC -font DejaVu-Sans -pointsize 30 -fill 'rgb(6,6,255)' -annotate +40+52 'Lecture' "
              "gif:PIC.new && mv PIC.new PIC");
  CheckNearestImport(w, pic);
}

TEST(ReplaceAnyColours, PillowTextOnATrueColourPng) {
  EditWork w("png");
  const fs::path pic = w.picture("DS1", 1);
  w.edit(pic, test::shell_quote(VELD_PYTHON) + " " + test::shell_quote(std::string(VELD_FIXTURES_DIR) + "/draw_text.py") +
                  " PIC Jouer 30 14 6 6 255");
  // Pillow saved it as true colour: no palette at all.
  const RunResult t = test::run_shell(test::shell_quote(VELD_PYTHON) +
                                          " -c 'import sys; from PIL import Image; print(Image.open(sys.argv[1]).mode)' " +
                                          test::shell_quote(pic.string()),
                                      w.dir.path());
  EXPECT_EQ(t.out, "RGBA\n");
  CheckNearestImport(w, pic);
}

TEST(ReplaceAnyColours, GimpPalettesBesideThePictures) {
  EditWork w("gif");
  const std::string gpl = test::slurp(w.images / kStream / "DS1" / "palette0.gpl");
  EXPECT_EQ(gpl.rfind("GIMP Palette\nName: DS1 palette 0\nColumns: 16\n#\n", 0), 0u) << gpl;
  EXPECT_THAT(gpl, HasSubstr("254 254 254\tentry 1 alpha 255\n"));
  EXPECT_THAT(gpl, HasSubstr("254 254 254\tentry 9 alpha 160\n"));
  for (const char* ds : {"DS1", "DS2"})
    for (int id = 0; id < 4; ++id) EXPECT_TRUE(fs::exists(w.images / kStream / ds / fmt::format("palette{}.gpl", id)));
}

TEST(ReplaceAnyColours, LineOnTheAudioButtonKeepsItsTranslucentWhite) {
  EditWork w("gif");
  // The AUDIO button's normal state (object 30): white text (opaque) on a border of white at alpha 160;
  // in the GIF both are the same white.
  const RunResult before = run_veld({"extract", (w.disc / "BDMV").string(), (w.dir / "png").string(), "--format", "png"},
                                    w.dir.path());
  ASSERT_EQ(before.status, 0) << before.err;
  const fs::path pic = w.picture("DS1", 30);
  w.edit(pic, "convert PIC +antialias -stroke black -strokewidth 1 -draw 'line 40,40 360,40' gif:PIC.new && mv PIC.new PIC");
  const RunResult r = w.replace();
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out + r.err, Not(HasSubstr("differ only in transparency")));
  const fs::path again = w.extract_again("png") / "DS1" / "0031.png";
  const fs::path old = w.dir / "png" / "VELD" / "Images" / kStream / "DS1" / "0031.png";
  // Pillow compares the two extractions: off the line every pixel keeps its colour and alpha.
  const RunResult c = test::run_shell(
      test::shell_quote(VELD_PYTHON) + " -c " +
          test::shell_quote("import sys; from PIL import Image\n"
                            "a = Image.open(sys.argv[1]).convert('RGBA'); b = Image.open(sys.argv[2]).convert('RGBA')\n"
                            "w = a.width; pa = list(a.getdata()); pb = list(b.getdata())\n"
                            "off = [i for i in range(len(pa)) if i // w != 40 and pa[i] != pb[i]]\n"
                            "t = sum(1 for i in range(len(pa)) if pa[i][3] == 160 and i // w != 40)\n"
                            "k = sum(1 for i in range(len(pa)) if pa[i][3] == 160 and pb[i][3] == 160 and i // w != 40)\n"
                            "line = sum(1 for x in range(40, 361) if pb[40 * w + x][:3] == (0, 0, 0))\n"
                            "print(len(off), t, k, line)") +
          " " + test::shell_quote(old.string()) + " " + test::shell_quote(again.string()),
      w.dir.path());
  ASSERT_EQ(c.status, 0) << c.err;
  int off = -1, translucent = -1, kept = -1, line = -1;
  ASSERT_EQ(std::sscanf(c.out.c_str(), "%d %d %d %d", &off, &translucent, &kept, &line), 4) << c.out;
  EXPECT_EQ(off, 0);
  EXPECT_GT(translucent, 2000);
  EXPECT_EQ(kept, translucent);
  EXPECT_GT(line, 300);
}

TEST(ReplaceAnySize, WiderButtonKeepsItsCentreAndLibblurayDrawsIt) {
  EditWork w("gif", true);
  // Object 3 is the normal state of button 2 (SCENES at 760, 620, 400 x 80); both display sets show it.
  // Only DS1's picture is edited: DS2 holds a copy, whose button must move as well.
  // 20 black columns (a palette colour) on each side, so that the page shows where the button now starts.
  w.edit(w.picture("DS1", 3), "convert PIC -background black -gravity center -extent 440x80 gif:PIC.new && mv PIC.new PIC");
  const RunResult r = w.replace({"--anchor", "centre"});
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out + r.err, HasSubstr("0004.gif: the object is now 440 x 80 (it was 400 x 80)"));
  EXPECT_THAT(r.out + r.err, HasSubstr("0004.gif: button 2 of page 0 moved from 760, 620 to 740, 620 to keep its centre"));
  const fs::path old_previews = w.dir / "old-previews";
  fs::rename(w.vfolder / "Preview", old_previews);
  const fs::path again = w.extract_again("gif", {"--preview"});
  EXPECT_EQ(test::read_gif(again / "DS1" / "0004.gif").width, 440);
  // libbluray draws the menu of the rebuilt disc as the new previews show it.
  const fs::path previews = w.dir / "rip2" / "VELD" / "Preview" / kStream;
  const std::string both = (previews / "DS1" / "page0.png").string() + "," + (previews / "DS2" / "page0.png").string();
  const std::string in1 = (previews / "DS1" / "page0_in1.png").string() + "," + (previews / "DS2" / "page0_in1.png").string();
  RunResult b = test::run_shell(test::shell_quote(VELD_BDCHECK_PATH) + " " + test::shell_quote(w.disc.string()) +
                                    " --expect " + test::shell_quote(in1) + " --expect " + test::shell_quote(both),
                                w.dir.path());
  EXPECT_EQ(b.status, 0) << b.out << b.err;
  EXPECT_THAT(b.out, HasSubstr("page0.png equals the plane of flush"));
  // On both pages the picture changed from 20 pixels left of the old button on (Pillow: the box of the
  // difference).
  for (const char* ds : {"DS1", "DS2"}) {
    b = test::run_shell(test::shell_quote(VELD_PYTHON) + " -c " +
                            test::shell_quote("import sys; from PIL import Image, ImageChops\n"
                                              "a = Image.open(sys.argv[1]).convert('RGBA'); b = Image.open(sys.argv[2]).convert('RGBA')\n"
                                              "d = ImageChops.difference(a, b).split(); m = d[0]\n"
                                              "for band in d[1:]: m = ImageChops.lighter(m, band)\n"
                                              "print(m.getbbox())") +
                            " " + test::shell_quote((old_previews / kStream / ds / "page0.png").string()) + " " +
                            test::shell_quote((previews / ds / "page0.png").string()),
                        w.dir.path());
    ASSERT_EQ(b.status, 0) << b.err;
    std::smatch m;
    const std::regex box(R"(\((\d+), (\d+), (\d+), (\d+)\))");
    ASSERT_TRUE(std::regex_search(b.out, m, box)) << ds << " " << b.out;
    EXPECT_EQ(std::stoi(m[1]), 740) << ds;
    EXPECT_GE(std::stoi(m[2]), 620) << ds;
    EXPECT_LE(std::stoi(m[3]), 740 + 440) << ds;
    EXPECT_LE(std::stoi(m[4]), 620 + 80) << ds;
  }
}

TEST(ReplaceAnySize, RefusedWithTheNumbers) {
  EditWork w("gif");
  const fs::path pic = w.picture("DS1", 30);  // AUDIO, button 3 at 760, 740, 400 x 80
  const fs::path saved = w.dir / "saved.gif";
  fs::copy_file(pic, saved);
  struct Row {
    const char* what;
    std::string size;
    std::vector<std::string> options;
    std::vector<std::string> says;
  } rows[] = {
      {"leaves the frame", "1200x80", {},
       {"is 1200 x 80 pixels, the object was 400 x 80", "button 3 (page 0), 760, 740", "1920 x 1080 video frame",
        "at most 1160 x 80", "--anchor"}},
      {"fits with its centre kept but decodes too late", "1200x360", {"--anchor", "centre"},
       {"is 1200 x 360 pixels", "would be decoded only 750 ticks (90 kHz) after the menu is shown",
        "Make the picture smaller (the object was 400 x 80)"}},
  };
  for (const Row& r : rows) {
    fs::copy_file(saved, pic, fs::copy_options::overwrite_existing);
    w.edit(pic, "convert PIC -background none -gravity center -extent " + r.size + " gif:PIC.new && mv PIC.new PIC");
    const RunResult x = w.replace(r.options);
    EXPECT_EQ(x.status, 2) << r.what;
    EXPECT_THAT(x.err, HasSubstr(pic.string())) << r.what;
    for (const std::string& s : r.says) EXPECT_THAT(x.err, HasSubstr(s)) << r.what;
    EXPECT_FALSE(w.stream_written()) << r.what;
  }
}

}  // namespace
}  // namespace veld
