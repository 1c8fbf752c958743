// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of `veld extract --preview` and `--format png`: the page previews equal the plane that
// libbluray's HDMV menu engine draws (veld_bdcheck keeps it from libbluray's overlay callbacks and
// compares it at each flush), and the PNG pictures carry the generator's indices and each palette entry's
// alpha, read with libpng.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <png.h>

#include <cmath>
#include <csetjmp>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include <fmt/format.h>

#include "cli/cli_support.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using json = nlohmann::json;

test::RunResult Extract(const fs::path& disc, const fs::path& rip, const std::vector<std::string>& options,
                        const test::TempDir& scratch) {
  std::vector<std::string> args{"extract", (disc / "BDMV").string(), rip.string()};
  args.insert(args.end(), options.begin(), options.end());
  return test::run_veld(args, scratch.path());
}

// Runs veld_bdcheck on a disc root with the arguments.
test::RunResult Bdcheck(const fs::path& disc, const std::vector<std::string>& args, const fs::path& scratch) {
  std::string cmd = test::shell_quote(VELD_BDCHECK_PATH) + " " + test::shell_quote(disc.string());
  for (const auto& a : args) cmd += " " + test::shell_quote(a);
  return test::run_shell(cmd, scratch);
}

// "a,b": the preview of both display sets (a player may have taken in the second one by then).
std::string EitherDisplaySet(const fs::path& stream, const std::string& name) {
  return fmt::format("{},{}", (stream / "Epoch1/DS1" / name).string(), (stream / "Epoch1/DS2" / name).string());
}

TEST(PreviewCli, PagesEqualLibbluraysPlaneBeforeAndAfterAButtonCommand) {
  test::TempDir dir;
  const fs::path disc = test::test_discs_dir() / "menu";
  const auto r = Extract(disc, dir.path(), {"--preview"}, dir);
  ASSERT_EQ(r.status, 0) << r.err;
  const fs::path stream = dir / "VELD/Preview/00000/5120";
  EXPECT_THAT(r.out, HasSubstr("13 page previews, located at: " + (dir / "VELD/Preview").string()));
  for (const char* name : {"page0.png", "page0_in1.png", "page0_in2.png", "page0_out1.png", "page1.png",
                           "page1_in1.png"}) {
    EXPECT_TRUE(fs::exists(stream / "Epoch1/DS1" / name)) << name;
    EXPECT_TRUE(fs::exists(stream / "Epoch1/DS2" / name)) << name;
  }
  EXPECT_TRUE(fs::exists(stream / "contact_sheet.png"));
  // The first page (after its in-effects), then DOWN and ENTER on button 2, whose command is
  // "SetButtonPage 101 1": the out-effect of page 0 (a cropped object) and page 1.
  const auto check = Bdcheck(disc,
                             {"--expect", EitherDisplaySet(stream, "page0_in1.png"), "--expect",
                              EitherDisplaySet(stream, "page0.png"), "--press", "down,enter", "--expect",
                              EitherDisplaySet(stream, "page0_out1.png"), "--expect", EitherDisplaySet(stream, "page1.png")},
                             dir.path());
  EXPECT_EQ(check.status, 0) << check.out << check.err;
  EXPECT_THAT(check.out, HasSubstr("page1.png equals the plane of flush"));

  // The check can fail: the first page is not page 1.
  const auto wrong =
      Bdcheck(disc, {"--quiet", "--max-seconds", "3", "--expect", EitherDisplaySet(stream, "page1.png")}, dir.path());
  EXPECT_EQ(wrong.status, 1);
  EXPECT_THAT(wrong.err, HasSubstr("no plane of"));
}

TEST(PreviewCli, PopUpMenuEqualsLibbluraysPlane) {
  test::TempDir dir;
  const fs::path disc = test::test_discs_dir() / "popup";
  ASSERT_EQ(Extract(disc, dir.path(), {"--preview", "--quiet"}, dir).status, 0);
  const fs::path ds = dir / "VELD/Preview/00000/5120/Epoch1/DS1";
  // Played in real time (the clip is three seconds long): the in-effect, then the page.
  const auto check = Bdcheck(disc,
                             {"--realtime", "--press", "popup", "--expect", (ds / "page0_in1.png").string(), "--expect",
                              (ds / "page0.png").string()},
                             dir.path());
  EXPECT_EQ(check.status, 0) << check.out << check.err;
}

// A previews folder that cannot be made fails the run, which leaves no pictures behind.
TEST(PreviewCli, FailedPreviewFailsTheRun) {
  test::TempDir dir;
  fs::create_directories(dir / "VELD");
  test::write_file(dir / "VELD/Preview", Bytes{'x'});  // a file where the folder goes
  const auto r = Extract(test::test_discs_dir() / "menu", dir.path(), {"--preview", "--yes"}, dir);
  EXPECT_EQ(r.status, 2);
  EXPECT_THAT(r.err, HasSubstr("Preview"));
  EXPECT_TRUE(fs::is_regular_file(dir / "VELD/Preview"));
  EXPECT_FALSE(fs::exists(dir / "VELD/Images/VELD.rip"));
}

struct PngPicture {
  int colour_type = -1;
  std::vector<png_color> plte;
  std::vector<png_byte> trns;
  Bytes indices;
};

PngPicture ReadIndexedPng(const fs::path& path) {
  PngPicture out;
  FILE* f = std::fopen(path.c_str(), "rb");
  if (!f) {
    ADD_FAILURE() << "cannot open " << path;
    return out;
  }
  png_structp png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png_create_info_struct(png);
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_read_struct(&png, &info, nullptr);
    std::fclose(f);
    ADD_FAILURE() << "libpng cannot read " << path;
    return out;
  }
  png_init_io(png, f);
  png_read_info(png, info);
  out.colour_type = png_get_color_type(png, info);
  png_colorp plte = nullptr;
  int n = 0;
  if (png_get_PLTE(png, info, &plte, &n)) out.plte.assign(plte, plte + n);
  png_bytep trns = nullptr;
  int t = 0;
  if (png_get_tRNS(png, info, &trns, &t, nullptr)) out.trns.assign(trns, trns + t);
  const std::size_t w = png_get_image_width(png, info), h = png_get_image_height(png, info);
  out.indices.resize(w * h);
  for (std::size_t y = 0; y < h; ++y) png_read_row(png, out.indices.data() + y * w, nullptr);
  png_destroy_read_struct(&png, &info, nullptr);
  std::fclose(f);
  return out;
}

// BT.709 studio range to RGB, written from the matrix's inverse.
std::array<int, 3> Bt709(int y, int cr, int cb) {
  const double Y = (y - 16) / 219.0, Pb = (cb - 128) / 224.0, Pr = (cr - 128) / 224.0;
  const double r = Y + 1.5748 * Pr, b = Y + 1.8556 * Pb, g = (Y - 0.2126 * r - 0.0722 * b) / 0.7152;
  auto c = [](double v) { return static_cast<int>(std::clamp(std::lround(v * 255.0), 0L, 255L)); };
  return {c(r), c(g), c(b)};
}

TEST(PngCli, PicturesCarryTheIndicesAndEachPaletteEntrysAlpha) {
  for (const char* variant : {"menu", "popup", "twoig"}) {
    SCOPED_TRACE(variant);
    test::TempDir dir;
    const fs::path disc = test::test_discs_dir() / variant;
    const auto r = Extract(disc, dir.path(), {"--format", "png", "--quiet"}, dir);
    ASSERT_EQ(r.status, 0) << r.err;
    const json truth = test::load_truth(disc);
    int checked = 0;
    for (const auto& [clip_name, clip] : truth["clips"].items()) {
      for (const auto& [pid_hex, ig] : clip["ig"].items()) {
        const int pid = std::stoi(pid_hex, nullptr, 16);
        for (const auto& ds : ig["display_sets"]) {
          for (const auto& o : ds["objects"]) {
            const fs::path path = dir / fmt::format("VELD/Images/{}/{}/Epoch1/DS{}/{:04d}.png", clip_name, pid,
                                                    ds["ds"].get<int>(), o["id"].get<int>() + 1);
            SCOPED_TRACE(path.string());
            ASSERT_TRUE(fs::exists(path));
            EXPECT_FALSE(fs::exists(fs::path(path).replace_extension(".gif")));
            const PngPicture png = ReadIndexedPng(path);
            ASSERT_EQ(png.colour_type, PNG_COLOR_TYPE_PALETTE);
            EXPECT_EQ(test::sha256_hex(png.indices), o["pixels_sha256"]);
            ASSERT_EQ(png.plte.size(), 256u);
            std::vector<int> alpha(256, 255);
            for (std::size_t i = 0; i < png.trns.size(); ++i) alpha[i] = png.trns[i];
            std::vector<bool> defined(256, false);
            for (const auto& e : o["palette"]) {
              const int id = e[0];
              defined[static_cast<std::size_t>(id)] = true;
              EXPECT_EQ(alpha[static_cast<std::size_t>(id)], e[4].get<int>()) << "entry " << id;
              const auto rgb = Bt709(e[1], e[2], e[3]);
              const png_color& c = png.plte[static_cast<std::size_t>(id)];
              EXPECT_LE(std::abs(c.red - rgb[0]), 1) << "entry " << id;
              EXPECT_LE(std::abs(c.green - rgb[1]), 1) << "entry " << id;
              EXPECT_LE(std::abs(c.blue - rgb[2]), 1) << "entry " << id;
            }
            for (int i = 0; i < 256; ++i) {
              if (!defined[static_cast<std::size_t>(i)]) {
                EXPECT_EQ(alpha[static_cast<std::size_t>(i)], 0) << i;
              }
            }
            ++checked;
          }
        }
      }
    }
    EXPECT_GT(checked, 8);
  }
}

// extract --format png, an editor (Pillow) paints in two pictures keeping their palette, replace, and a
// new extraction gives the edited indices back, every other picture as it was, and the palettes' alpha.
TEST(PngCli, EditedPicturesRoundTripThroughReplace) {
  test::TempDir dir;
  const fs::path disc = test::test_discs_dir() / "menu";
  test::copy_disc(disc, dir / "target");
  ASSERT_EQ(Extract(disc, dir / "rip", {"--format", "png", "--quiet"}, dir).status, 0);
  const fs::path images = dir / "rip/VELD/Images";
  const fs::path ds1 = images / "00000/5120/Epoch1/DS1";
  std::map<std::string, Bytes> edited;
  for (const char* name : {"0002.png", "0061.png"}) {
    const fs::path p = ds1 / name;
    // Paints a rectangle with an index the picture uses other than the one at its centre, and saves the
    // picture with its palette and transparency, as an editor does.
    const std::string script =
        "import sys; from PIL import Image; im = Image.open(sys.argv[1]); t = im.info['transparency']; "
        "c = im.getpixel((im.width // 2, im.height // 2)); o = [v for v in sorted(set(im.getdata())) if v != c][0]; "
        "[im.putpixel((x, y), o) for x in range(20, 60) for y in range(10, 30)]; im.save(sys.argv[1], transparency=t)";
    const auto e = test::run_shell(test::shell_quote(VELD_PYTHON) + " -c " + test::shell_quote(script) + " " +
                                       test::shell_quote(p.string()),
                                   dir.path());
    ASSERT_EQ(e.status, 0) << e.err;
    test::touch_after(p, images / "VELD.rip", 2);
    edited[name] = ReadIndexedPng(p).indices;
  }
  const auto r = test::run_veld(
      {"replace", (dir / "target/BDMV").string(), (dir / "rip/VELD").string(), "--copy-back"}, dir.path());
  ASSERT_EQ(r.status, 0) << r.out << r.err;
  EXPECT_THAT(r.out, HasSubstr("Pictures imported: 2,"));

  ASSERT_EQ(Extract(dir / "target", dir / "rip2", {"--format", "png", "--quiet"}, dir).status, 0);
  ASSERT_EQ(Extract(disc, dir / "pristine", {"--format", "png", "--quiet"}, dir).status, 0);
  int compared = 0;
  for (const auto& e : fs::recursive_directory_iterator(dir / "pristine/VELD/Images")) {
    if (e.path().extension() != ".png") continue;
    const fs::path rel = fs::relative(e.path(), dir / "pristine/VELD/Images");
    const PngPicture now = ReadIndexedPng(dir / "rip2/VELD/Images" / rel);
    const PngPicture was = ReadIndexedPng(e.path());
    // Copies of an edited picture in later display sets (same object, same pixels) take the edit too.
    const std::string name = rel.filename().string();
    const bool is_edited =
        edited.count(name) && was.indices == ReadIndexedPng(dir / "pristine/VELD/Images/00000/5120/Epoch1/DS1" / name).indices;
    EXPECT_EQ(now.indices, is_edited ? edited[rel.filename().string()] : was.indices) << rel;
    if (is_edited) {
      EXPECT_NE(now.indices, was.indices) << rel << ": the edit shows";
    }
    EXPECT_EQ(now.trns, was.trns) << rel;
    ++compared;
  }
  EXPECT_EQ(compared, 36);
}

}  // namespace
}  // namespace veld
