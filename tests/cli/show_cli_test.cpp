// SPDX-License-Identifier: GPL-3.0-or-later
// End-to-end tests of `veld show`: on every generated disc the JSON report lists exactly the pages,
// effects, button overlap groups, buttons, neighbours, commands and objects that the generator wrote
// (its truth file); the text report carries the same facts; errors end with status 2.
#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <fstream>
#include <nlohmann/json.hpp>
#include <map>
#include <set>

#include <fmt/format.h>

#include "cli/cli_support.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::Not;
using json = nlohmann::json;

std::vector<fs::path> GeneratedDiscs() {
  std::vector<fs::path> discs;
  for (const auto& entry : fs::directory_iterator(test::test_discs_dir())) {
    if (fs::exists(entry.path() / "truth.json")) discs.push_back(entry.path());
  }
  std::sort(discs.begin(), discs.end());
  return discs;
}

json Show(const fs::path& disc, const test::TempDir& scratch) {
  const auto r = test::run_veld({"show", "--json", (disc / "BDMV").string()}, scratch.path());
  EXPECT_EQ(r.status, 0) << r.err;
  EXPECT_EQ(r.err, "");
  return json::parse(r.out);
}

json Effects(const json& got) {
  json windows = json::array();
  for (const auto& w : got["windows"]) windows.push_back({w["id"], w["x"], w["y"], w["width"], w["height"]});
  json effects = json::array();
  for (const auto& e : got["effects"]) {
    json objects = json::array();
    for (const auto& o : e["objects"]) {
      json crop = o["crop"].is_null() ? json(nullptr)
                                      : json::array({o["crop"]["x"], o["crop"]["y"], o["crop"]["width"],
                                                     o["crop"]["height"]});
      objects.push_back({o["object"], o["window"], o["x"], o["y"], crop});
    }
    effects.push_back({{"duration", e["duration"]}, {"palette_id", e["palette"]}, {"objects", objects}});
  }
  return {{"windows", windows}, {"effects", effects}};
}

// The report's composition in the layout of the truth file.
json CompositionAsTruth(const json& got) {
  json pages = json::array();
  for (const auto& p : got["pages"]) {
    json bogs = json::array();
    for (const auto& bog : p["bogs"]) {
      json buttons = json::array();
      for (const auto& b : bog["buttons"]) {
        json commands = json::array();
        for (const auto& c : b["commands"]) commands.push_back(c["bytes"]);
        const auto& n = b["neighbours"];
        buttons.push_back({{"id", b["id"]},
                           {"numeric", b["numeric_value"]},
                           {"auto_action", b["auto_action"]},
                           {"x", b["x"]},
                           {"y", b["y"]},
                           {"neighbours", {n["up"], n["down"], n["left"], n["right"]}},
                           {"normal", {b["normal"]["start"], b["normal"]["end"]}},
                           {"normal_repeat", b["normal"]["repeat"]},
                           {"selected", {b["selected"]["start"], b["selected"]["end"]}},
                           {"selected_repeat", b["selected"]["repeat"]},
                           {"selected_sound", b["selected"]["sound"]},
                           {"activated", {b["activated"]["start"], b["activated"]["end"]}},
                           {"activated_sound", b["activated"]["sound"]},
                           {"commands", commands}});
      }
      bogs.push_back({{"default_button", bog["default_button"]}, {"buttons", buttons}});
    }
    pages.push_back({{"id", p["id"]},
                     {"version", p["version"]},
                     {"palette_id", p["palette"]},
                     {"default_selected", p["default_selected_button"]},
                     {"default_activated", p["default_activated_button"]},
                     {"animation_frame_rate", p["animation_frame_rate_code"]},
                     {"uo_mask", p["uo_mask_table"]},
                     {"in_effects", Effects(p["in_effects"])},
                     {"out_effects", Effects(p["out_effects"])},
                     {"bogs", bogs}});
  }
  const bool multiplexed = got["stream_model"] == "multiplexed";
  return {{"stream_model", multiplexed ? 0 : 1},
          {"popup", got["user_interface_model"] == "pop_up"},
          {"user_timeout", got["user_time_out_duration"]},
          {"composition_timeout", multiplexed ? got["composition_time_out_pts"] : json(0)},
          {"selection_timeout", multiplexed ? got["selection_time_out_pts"] : json(0)},
          {"pages", pages}};
}

TEST(ShowCli, JsonListsExactlyWhatTheGeneratorWroteOnEveryDisc) {
  const auto discs = GeneratedDiscs();
  ASSERT_GE(discs.size(), 4u);
  for (const fs::path& disc : discs) {
    SCOPED_TRACE(disc.filename().string());
    test::TempDir scratch;
    const json truth = test::load_truth(disc);
    const json report = Show(disc, scratch);
    ASSERT_EQ(report["format"], "veld-show");
    ASSERT_EQ(report["version"], 1);

    // Exactly the clips with IG streams, in clip order.
    std::vector<std::string> want_clips;
    for (const auto& [name, clip] : truth["clips"].items()) {
      if (!clip["ig"].empty()) want_clips.push_back(name);
    }
    std::sort(want_clips.begin(), want_clips.end());
    std::vector<std::string> got_clips;
    for (const auto& c : report["clips"]) got_clips.push_back(c["clip"]);
    ASSERT_EQ(got_clips, want_clips);

    for (const auto& clip : report["clips"]) {
      const json& want_clip = truth["clips"][clip["clip"].get<std::string>()];
      std::vector<std::string> want_pids;
      for (const auto& [pid, ig] : want_clip["ig"].items()) want_pids.push_back(pid);
      std::vector<std::string> got_pids;
      for (const auto& s : clip["ig_streams"]) got_pids.push_back(fmt::format("0x{:04X}", s["pid"].get<int>()));
      ASSERT_EQ(got_pids, want_pids);

      for (const auto& stream : clip["ig_streams"]) {
        const std::string pid = fmt::format("0x{:04X}", stream["pid"].get<int>());
        SCOPED_TRACE(clip["clip"].get<std::string>() + " " + pid);
        const json& want = want_clip["ig"][pid];
        EXPECT_EQ(stream["language"], want_clip["pids"][pid]["language"]);
        ASSERT_EQ(stream["epochs"].size(), 1u) << "all display sets of a stream are one epoch";
        const json& sets = stream["epochs"][0]["display_sets"];
        ASSERT_EQ(sets.size(), want["display_sets"].size());
        for (std::size_t d = 0; d < sets.size(); ++d) {
          const json& ds = sets[d];
          const json& want_ds = want["display_sets"][d];
          SCOPED_TRACE(fmt::format("DS{}", d + 1));
          EXPECT_EQ(ds["ds"], want_ds["ds"]);
          EXPECT_EQ(ds["composition_number"], want_ds["composition_number"]);
          EXPECT_EQ(ds["composition_state"], want_ds["composition_state"]);
          ASSERT_FALSE(ds["composition"].is_null()) << ds.value("composition_error", "");
          EXPECT_EQ(CompositionAsTruth(ds["composition"]), want_ds["composition"]);
          // A button's size is that of its normal state's first object.
          std::map<int, std::pair<int, int>> sizes;
          for (const auto& o : want_ds["objects"]) sizes[o["id"]] = {o["width"], o["height"]};
          for (const auto& page : ds["composition"]["pages"]) {
            for (const auto& bog : page["bogs"]) {
              for (const auto& b : bog["buttons"]) {
                const auto it = sizes.find(b["normal"]["start"].get<int>());
                const std::pair<int, int> want_size = it == sizes.end() ? std::pair{0, 0} : it->second;
                EXPECT_EQ(std::make_pair(b["width"].get<int>(), b["height"].get<int>()), want_size) << b["id"];
              }
            }
          }
          if (d == 0) {
            EXPECT_EQ(stream["user_interface_model"], want_ds["composition"]["popup"] ? "pop_up" : "always_on");
            EXPECT_EQ(stream["stream_model"], want_ds["composition"]["stream_model"] == 1 ? "preloaded" : "multiplexed");
          }
          // Objects: each once, with size, palette, fragments and the picture extraction writes.
          ASSERT_EQ(ds["objects"].size(), want_ds["objects"].size());
          for (std::size_t i = 0; i < ds["objects"].size(); ++i) {
            const json& o = ds["objects"][i];
            const json& w = want_ds["objects"][i];
            EXPECT_EQ(o["id"], w["id"]);
            EXPECT_EQ(o["width"], w["width"]);
            EXPECT_EQ(o["height"], w["height"]);
            EXPECT_EQ(o["palette"], w["palette_id"]);
            EXPECT_EQ(o["fragments"], w["ods_fragments"]);
            EXPECT_EQ(o["picture"], fmt::format("Images/{}/{}/Epoch1/DS{}/{:04d}.gif", clip["clip"].get<std::string>(),
                                                 stream["pid"].get<int>(), d + 1, w["id"].get<int>() + 1));
            EXPECT_FALSE(o["used_by"].empty()) << "every generated object is shown by some page";
          }
        }
      }
    }
  }
}

// Where each generated disc plays its menu clips (the generator's playlists, see bdgen/disc.py).
TEST(ShowCli, NamesThePlaylistsThatPlayEachMenuClip) {
  const std::map<std::string, std::map<std::string, json>> want = {
      {"menu", {{"00000", json::parse(R"([{"playlist":"00000","kind":"play_item","item":0}])")}}},
      {"twoig", {{"00000", json::parse(R"([{"playlist":"00000","kind":"play_item","item":0}])")}}},
      {"popup", {{"00000", json::parse(R"([{"playlist":"00000","kind":"play_item","item":0}])")}}},
      {"subpath", {{"00002", json::parse(R"([{"playlist":"00001","kind":"sub_path","sub_path":0,"item":0}])")}}},
  };
  for (const auto& [variant, clips] : want) {
    SCOPED_TRACE(variant);
    test::TempDir scratch;
    const json report = Show(test::test_discs_dir() / variant, scratch);
    ASSERT_EQ(report["clips"].size(), clips.size());
    for (const auto& c : report["clips"]) EXPECT_EQ(c["playlists"], clips.at(c["clip"])) << c["clip"];
  }
}

TEST(ShowCli, TextReportCarriesTheSameFacts) {
  test::TempDir scratch;
  const fs::path disc = test::test_discs_dir() / "menu";
  const auto r = test::run_veld({"show", (disc / "BDMV").string()}, scratch.path());
  ASSERT_EQ(r.status, 0) << r.err;
  EXPECT_THAT(r.out, HasSubstr("Clip 00000"));
  EXPECT_THAT(r.out, HasSubstr("Playlist 00000: play item 0"));
  EXPECT_THAT(r.out, HasSubstr("IG stream PID 0x1400 (5120), language eng, always-on menu, multiplexed, 1920 x 1080"));
  EXPECT_THAT(r.out, HasSubstr("DisplaySet 2: CompositionNumber 1, CompositionState 1 (Acquisition Point)"));
  EXPECT_THAT(r.out, HasSubstr("Page#1: Version 0, PaletteIdRef 1, DefaultSelectedButtonId 101"));
  EXPECT_THAT(r.out, HasSubstr("Button#2: NumbericValue 2, AutoActionFlag 0, 760,620 400 x 80\n"
                               "              Up 1, Down 3, Left 2, Right 2\n"));
  EXPECT_THAT(r.out, HasSubstr("Selected: SoundId 255, StartObjectId 10, EndObjectId 13, RepeatFlag 1"));
  EXPECT_THAT(r.out, HasSubstr("SetButtonPage 101 1 0"));
  EXPECT_THAT(r.out, HasSubstr("Composition Object: ObjectIdRef 1, WindowIdRef 0, 760,500, crop 0,0 400 x 40"));
  EXPECT_THAT(r.out, HasSubstr("ObjectId 50: 1600 x 200, 2 ODS, PaletteIdRef 0, picture "
                               "Images/00000/5120/Epoch1/DS1/0051.gif"));
  EXPECT_THAT(r.out, HasSubstr("used by: Page#0 Button#1 Normal; Page#0 Out Effect 1"));

  // Chinese headings with the same fields.
  const auto zh = test::run_veld({"show", (disc / "BDMV").string()}, scratch.path(),
                                 "env -u LC_ALL -u LC_MESSAGES LANG=zh_CN.UTF-8");
  ASSERT_EQ(zh.status, 0) << zh.err;
  EXPECT_THAT(zh.out, HasSubstr("素材 00000"));
  EXPECT_THAT(zh.out, HasSubstr("播放列表 00000: 播放项 0"));
  EXPECT_THAT(zh.out, HasSubstr("页面#1: Version 0, PaletteIdRef 1"));
  EXPECT_THAT(zh.out, Not(HasSubstr("used by")));
}

TEST(ShowCli, RefusesWhatIsNoDisc) {
  test::TempDir scratch;
  const auto missing = test::run_veld({"show", (scratch.path() / "nothing").string()}, scratch.path());
  EXPECT_EQ(missing.status, 2);
  EXPECT_THAT(missing.err, HasSubstr("No such folder"));
  EXPECT_EQ(missing.out, "");
  // The disc's root instead of its BDMV folder: the message names the folder that was meant.
  const auto root = test::run_veld({"show", (test::test_discs_dir() / "menu").string()}, scratch.path());
  EXPECT_EQ(root.status, 2);
  EXPECT_THAT(root.err, HasSubstr("Did you mean " + (test::test_discs_dir() / "menu/BDMV").string()));
}

}  // namespace
}  // namespace veld
