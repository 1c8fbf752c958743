// SPDX-License-Identifier: GPL-3.0-or-later
// The window's model of a disc's menus, on the sample disc: the same tree and buttons as "veld show
// --json", the picture files the extraction wrote, and pages drawn as the extraction's previews.
#include "veld/app/menu_model.h"

#include <gtest/gtest.h>

#include <cstring>
#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "veld/app/commands.h"
#include "veld/app/show_command.h"
#include "veld/base/result.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using json = nlohmann::json;

fs::path SampleDisc() { return test::source_dir() / "examples" / "sample-disc" / "BDMV"; }

// One extraction (with previews) of the sample disc for all tests here.
class MenuModelTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    tmp_ = new test::TempDir;
    test::RecordingMessenger m;
    test::RecordingProgress p;
    const ExtractOutcome out = RunExtractCommand(SampleDisc(), tmp_->path(), m, p, {ImageFormat::kGif, true});
    ASSERT_EQ(out.result, kResultOk) << m.all_text();
    ASSERT_EQ(BuildMenuModel(SampleDisc(), WorkFolderOf(tmp_->path()), model_, p, m), kResultOk) << m.all_text();
    const ShowOutcome shown = RunShowCommand(SampleDisc(), true, m, p);
    ASSERT_EQ(shown.result, kResultOk) << m.all_text();
    show_ = json::parse(shown.report);
  }
  static void TearDownTestSuite() {
    delete tmp_;
    tmp_ = nullptr;
  }
  static fs::path Work() { return tmp_->path() / "VELD"; }

  static inline test::TempDir* tmp_ = nullptr;
  static inline SMenuModel model_;
  static inline json show_;
};

TEST_F(MenuModelTest, TreeAgreesWithTheShowReport) {
  EXPECT_TRUE(model_.extracted);
  EXPECT_EQ(model_.work, Work());
  ASSERT_EQ(model_.clips.size(), show_["clips"].size());
  ASSERT_FALSE(model_.clips.empty());
  int pages = 0;
  for (std::size_t c = 0; c < model_.clips.size(); ++c) {
    const json& jc = show_["clips"][c];
    EXPECT_EQ(model_.clips[c].name, jc["clip"].get<std::string>());
    ASSERT_EQ(model_.clips[c].streams.size(), jc["ig_streams"].size());
    for (std::size_t s = 0; s < model_.clips[c].streams.size(); ++s) {
      const SMenuStream& st = model_.clips[c].streams[s];
      const json& js = jc["ig_streams"][s];
      EXPECT_EQ(st.pid, js["pid"].get<int>());
      EXPECT_EQ(st.language, js["language"].get<std::string>());
      ASSERT_EQ(js["epochs"].size(), 1u);  // one epoch: the picture folders count display sets through
      const json& sets = js["epochs"][0]["display_sets"];
      ASSERT_EQ(st.display_sets.size(), sets.size());
      for (std::size_t d = 0; d < sets.size(); ++d) {
        const json& composition = sets[d]["composition"];
        const std::size_t expected = composition.is_object() ? composition["pages"].size() : 0;
        EXPECT_EQ(st.display_sets[d].pages.size(), expected) << "display set " << d + 1;
        pages += static_cast<int>(expected);
      }
    }
  }
  EXPECT_GT(pages, 0);
}

TEST_F(MenuModelTest, ButtonsAndTheirPicturesAgreeWithTheShowReport) {
  const SMenuPageRef ref{0, 0, 0, 0};
  const SMenuPage* page = FindMenuPage(model_, ref);
  ASSERT_NE(page, nullptr);
  const json& js = show_["clips"][0]["ig_streams"][0];
  const json& ds = js["epochs"][0]["display_sets"][0];
  EXPECT_EQ(page->width, js["video"]["width"].get<int>());
  EXPECT_EQ(page->height, js["video"]["height"].get<int>());
  std::vector<json> buttons;
  for (const json& bog : ds["composition"]["pages"][0]["bogs"])
    for (const json& b : bog["buttons"]) buttons.push_back(b);
  ASSERT_EQ(page->buttons.size(), buttons.size());
  ASSERT_FALSE(buttons.empty());
  auto picture_of = [&](int object) -> fs::path {
    for (const json& o : ds["objects"])
      if (o["id"].get<int>() == object && o["picture"].is_string()) return Work() / o["picture"].get<std::string>();
    return {};
  };
  for (std::size_t i = 0; i < buttons.size(); ++i) {
    const SMenuButton& b = page->buttons[i];
    EXPECT_EQ(b.id, buttons[i]["id"].get<int>());
    EXPECT_EQ(b.x, buttons[i]["x"].get<int>());
    EXPECT_EQ(b.y, buttons[i]["y"].get<int>());
    EXPECT_EQ(b.width, buttons[i]["width"].get<int>());
    EXPECT_EQ(b.height, buttons[i]["height"].get<int>());
    const char* names[] = {"normal", "selected", "activated"};
    for (int s = 0; s < kButtonStateCount; ++s) {
      const int start = buttons[i][names[s]]["start"].get<int>();
      if (start == 0xFFFF) {  // the state shows no object
        EXPECT_TRUE(b.states[s].empty());
        continue;
      }
      ASSERT_FALSE(b.states[s].empty()) << "button " << b.id << " " << names[s];
      EXPECT_EQ(b.states[s].front().object_id, start);
      EXPECT_EQ(b.states[s].front().file, picture_of(start)) << "button " << b.id << " " << names[s];
      EXPECT_TRUE(fs::is_regular_file(b.states[s].front().file));
    }
  }
}

TEST_F(MenuModelTest, PagesAreDrawnAsTheExtractionsPreviewsAndInTheChosenState) {
  const SMenuPageRef ref{0, 0, 0, 0};
  const SMenuPage* page = FindMenuPage(model_, ref);
  ASSERT_NE(page, nullptr);
  const RgbaImage drawn = DrawMenuPage(model_, ref);
  ASSERT_EQ(drawn.width, page->width);
  ASSERT_EQ(drawn.height, page->height);
  const std::string pid = std::to_string(model_.clips[0].streams[0].pid);
  const fs::path preview = Work() / "Preview" / model_.clips[0].name / pid / "Epoch1" / "DS1" /
                           ("page" + std::to_string(page->id) + ".png");
  const std::optional<RgbaImage> written = LoadMenuPicture(preview);
  ASSERT_TRUE(written) << preview;
  EXPECT_TRUE(*written == drawn);
  // Every shown button in one state: the pixels change inside the buttons only.
  const RgbaImage normal = DrawMenuPage(model_, ref, EPageButtons::kNormal);
  const RgbaImage selected = DrawMenuPage(model_, ref, EPageButtons::kSelected);
  ASSERT_EQ(normal.pixels.size(), selected.pixels.size());
  EXPECT_FALSE(normal == selected);
  auto inside = [&](int x, int y) {
    for (const SMenuButton& b : page->buttons)
      if (x >= b.x && y >= b.y && x < b.x + b.width && y < b.y + b.height) return true;
    return false;
  };
  for (int y = 0; y < normal.height; ++y) {
    for (int x = 0; x < normal.width; ++x) {
      if (inside(x, y)) continue;
      ASSERT_EQ(std::memcmp(normal.pixel(x, y), selected.pixel(x, y), 4), 0) << x << "," << y;
    }
  }
  EXPECT_TRUE(DrawMenuPage(model_, SMenuPageRef{0, 0, 0, 99}).pixels.empty());
}

TEST(MenuModel, WorkFolderIsTheVeldFolderOrTheOneInIt) {
  EXPECT_EQ(WorkFolderOf("/home/u/rip"), fs::path("/home/u/rip/VELD"));
  EXPECT_EQ(WorkFolderOf("/home/u/rip/"), fs::path("/home/u/rip/VELD"));
  EXPECT_EQ(WorkFolderOf("/home/u/rip/VELD"), fs::path("/home/u/rip/VELD"));
  EXPECT_EQ(WorkFolderOf(""), fs::path());
  EXPECT_FALSE(HoldsExtraction("/nonexistent/VELD"));
  EXPECT_FALSE(LoadMenuPicture("/nonexistent/0001.gif"));
}

}  // namespace
}  // namespace veld
