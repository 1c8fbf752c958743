// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures written by the worker thread while a clip is scanned equal those written afterwards from
// the parsed stream; failures and cancellation end the worker cleanly.
#include "veld/pipeline/export_worker.h"

#include <gmock/gmock.h>
#include <gtest/gtest.h>

#include <map>

#include "support/test_support.h"
#include "veld/app/commands.h"
#include "veld/base/result.h"
#include "veld/graphics/segment_file.h"
#include "veld/pipeline/extract.h"

namespace veld {
namespace {
namespace fs = std::filesystem;
using ::testing::HasSubstr;

// Every file below root: its path relative to root and its bytes.
std::map<std::string, Bytes> Tree(const fs::path& root) {
  std::map<std::string, Bytes> files;
  for (const auto& e : fs::recursive_directory_iterator(root)) {
    if (e.is_regular_file()) files[fs::relative(e.path(), root).string()] = test::read_file(e.path());
  }
  return files;
}

CGsData ReadStream(const std::string& variant, const std::string& file) {
  CGsData gs;
  std::string error;
  EXPECT_TRUE(ReadGraphicsStream(test::test_discs_dir() / variant / "ig" / file, gs, &error)) << error;
  return gs;
}

std::unique_ptr<CStreamExporter> Exporter(const fs::path& root, ImageFormat format) {
  return std::make_unique<CStreamExporter>(root / "Images", root / "Preview", SOutputNames{}, format);
}

TEST(ExportWorker, WritesWhatTheSynchronousExportWrites) {
  const std::pair<const char*, const char*> streams[] = {{"menu", "00000_0x1400.ig"}, {"popup", "00000_0x1400.ig"}};
  for (const auto& [variant, file] : streams) {
    for (const ImageFormat format : {ImageFormat::kGif, ImageFormat::kPng}) {
      SCOPED_TRACE(std::string(variant) + (format == ImageFormat::kPng ? " png" : " gif"));
      const CGsData gs = ReadStream(variant, file);
      test::TempDir dir;
      test::RecordingMessenger messenger;
      ExtractStats direct;
      ASSERT_TRUE(ExportStreamImages(dir / "a/Images", gs, SOutputNames{}, messenger, direct, format,
                                     dir / "a/Preview"))
          << messenger.all_text();

      ExtractStats threaded;
      CExportWorker worker(1);  // a budget below one display set: each goes alone
      const std::size_t n = worker.AddStream(Exporter(dir / "b", format));
      for (const auto& ds : gs.Epochs[0].DisplaySets) worker.Post(n, ds);
      worker.Close(n);
      EXPECT_EQ(worker.Finish(threaded), "");
      EXPECT_FALSE(worker.failed());

      EXPECT_EQ(Tree(dir / "b"), Tree(dir / "a"));
      EXPECT_EQ(threaded.images, direct.images);
      EXPECT_EQ(threaded.previews, direct.previews);
      EXPECT_EQ(threaded.display_sets, direct.display_sets);
      EXPECT_GT(direct.images, 0);
      EXPECT_GT(direct.previews, 0);
    }
  }
}

TEST(ExportWorker, TwoStreamsKeepTheirOwnOrder) {
  const CGsData gs = ReadStream("menu", "00000_0x1400.ig");
  test::TempDir dir;
  CExportWorker worker;
  const std::size_t a = worker.AddStream(Exporter(dir / "a", ImageFormat::kGif));
  const std::size_t b = worker.AddStream(Exporter(dir / "b", ImageFormat::kGif));
  for (const auto& ds : gs.Epochs[0].DisplaySets) {
    worker.Post(a, ds);
    worker.Post(b, ds);
  }
  worker.Close(a);
  worker.Close(b);
  ExtractStats stats;
  EXPECT_EQ(worker.Finish(stats), "");
  EXPECT_EQ(stats.display_sets, 4);
  EXPECT_EQ(Tree(dir / "a"), Tree(dir / "b"));
  EXPECT_TRUE(fs::exists(dir / "a/Preview/contact_sheet.png"));
}

TEST(ExportWorker, TheFirstFailureIsReportedAndLaterWorkDropped) {
  const CGsData gs = ReadStream("menu", "00000_0x1400.ig");
  test::TempDir dir;
  test::write_file(dir / "blocked", Bytes{1});  // a file where a folder must go
  CExportWorker worker;
  const std::size_t n =
      worker.AddStream(std::make_unique<CStreamExporter>(dir / "blocked/Images", fs::path(), SOutputNames{},
                                                         ImageFormat::kGif));
  const std::size_t ok = worker.AddStream(Exporter(dir / "fine", ImageFormat::kGif));
  worker.Post(n, gs.Epochs[0].DisplaySets[0]);
  worker.Post(ok, gs.Epochs[0].DisplaySets[0]);
  worker.Post(n, gs.Epochs[0].DisplaySets[1]);
  ExtractStats stats;
  const std::string error = worker.Finish(stats);
  EXPECT_THAT(error, HasSubstr("Can't create"));
  EXPECT_THAT(error, HasSubstr("blocked/Images/Epoch1/DS1"));
  EXPECT_TRUE(worker.failed());
  EXPECT_FALSE(fs::exists(dir / "fine")) << "nothing is written after the first failure";
  EXPECT_EQ(stats.images, 0);
}

TEST(ExportWorker, CancelStopsWithoutWaitingForTheQueue) {
  const CGsData gs = ReadStream("menu", "00000_0x1400.ig");
  test::TempDir dir;
  {
    CExportWorker worker;
    const std::size_t n = worker.AddStream(Exporter(dir.path(), ImageFormat::kPng));
    for (int i = 0; i < 20; ++i) worker.Post(n, gs.Epochs[0].DisplaySets[0]);
    worker.Cancel();
    worker.Post(n, gs.Epochs[0].DisplaySets[0]);  // ignored
    ExtractStats stats;
    EXPECT_EQ(worker.Finish(stats), "");
    EXPECT_LT(stats.display_sets, 20);
  }
  {
    CExportWorker dropped;  // destroyed with work queued: joins without writing it all
    const std::size_t n = dropped.AddStream(Exporter(dir / "d", ImageFormat::kGif));
    for (int i = 0; i < 5; ++i) dropped.Post(n, gs.Epochs[0].DisplaySets[0]);
  }
}

TEST(ExtractCommand, CancelledRunWithPreviewsLeavesNoPreviewFolder) {
  test::TempDir dir;
  test::RecordingMessenger messenger;
  test::RecordingProgress progress;
  progress.cancel_after = 1;
  ExtractRequest request;
  request.preview = true;
  const ExtractOutcome out =
      RunExtractCommand(test::test_discs_dir() / "menu/BDMV", dir.path(), messenger, progress, request);
  EXPECT_EQ(out.result, kResultCancelled);
  EXPECT_FALSE(fs::exists(dir / "VELD/Preview"));
  EXPECT_FALSE(fs::exists(dir / "VELD/Images"));

  // A complete run writes them, and its stats count them.
  test::RecordingProgress go;
  const ExtractOutcome done =
      RunExtractCommand(test::test_discs_dir() / "twoig/BDMV", dir.path(), messenger, go, request);
  ASSERT_EQ(done.result, kResultOk) << messenger.all_text();
  EXPECT_EQ(done.stats.ig_streams, 2);
  EXPECT_EQ(done.stats.previews, 2 * 13);
  EXPECT_TRUE(fs::exists(dir / "VELD/Preview/00000/5121/contact_sheet.png"));
}

}  // namespace
}  // namespace veld
