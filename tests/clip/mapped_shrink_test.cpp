// SPDX-License-Identifier: GPL-3.0-or-later
// A clip that another program cuts short while VELD reads it through a mapping: an error naming the file,
// not a SIGBUS that ends the process.
#include <gtest/gtest.h>
#include <sys/wait.h>
#include <unistd.h>

#include "support/test_support.h"
#include "veld/clip/demux.h"
#include "veld/graphics/ig_track.h"
#include "veld/clip/rip_index.h"

namespace veld {
namespace {
namespace fs = std::filesystem;

// Cuts the file to `length` from another process.
void cut_by_another_process(const fs::path& path, off_t length) {
  const pid_t child = fork();
  if (child == 0) _exit(::truncate(path.c_str(), length) == 0 ? 0 : 1);
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
}

// A clip of two and a half 30 MiB blocks (sparse: no packet starts with a sync byte, so the scan skips
// them but reads every packet's first byte).
fs::path make_clip(const test::TempDir& dir) {
  const fs::path path = dir / "00001.m2ts";
  test::write_file(path, Bytes{});
  fs::resize_file(path, kDemuxBlockSize * 5 / 2);
  return path;
}

// Cuts the clip to 1 MiB when the scan reports its first progress past the start (after the first block).
class CuttingProgress : public Progress {
 public:
  explicit CuttingProgress(fs::path path) : path_(std::move(path)) {}
  bool cut = false;

 protected:
  void on_position(int, int percent) override {
    if (percent > 0 && !cut) {
      cut_by_another_process(path_, 1 << 20);
      cut = true;
    }
  }

 private:
  fs::path path_;
};

TEST(MappedClipShrinks, TheScanFailsNamingTheFile) {
  test::TempDir dir;
  const fs::path path = make_clip(dir);
  CTrackInfoMap map;
  STrackInfo info;
  info.coding_type = 0x91;
  info.track = std::make_unique<SIgTrackFile>();
  info.track->attach(std::make_unique<CMemorySink>());
  map.add(0x1400, std::move(info));
  File f;
  ASSERT_TRUE(f.open(path, File::Mode::kRead));
  CuttingProgress progress(path);
  std::string error;
  EXPECT_EQ(demux_to_track_files(map, f, progress, &error), DemuxResult::kReadError);
  EXPECT_TRUE(progress.cut);
  EXPECT_NE(error.find(path.string()), std::string::npos) << error;
  EXPECT_NE(error.find("became shorter while it was read (78643200 bytes, now 1048576)"), std::string::npos) << error;
}

TEST(MappedClipShrinks, PacketCopiesPastTheNewEndReadZerosAndAreFlagged) {
  test::TempDir dir;
  const fs::path path = dir / "clip.m2ts";
  test::write_file(path, Bytes(192 * 100000, 0x47));
  File f;
  ASSERT_TRUE(f.open(path, File::Mode::kRead));
  CClipPacketSource source(f);
  ASSERT_TRUE(source.ok());
  Bytes out(192 * 10);
  const SPacketRange head{0, 9};
  ASSERT_TRUE(source.copy_packets({&head, 1}, out.data()));
  EXPECT_FALSE(source.shortened());
  cut_by_another_process(path, 192 * 1000);
  const SPacketRange tail{90000, 90009};
  ASSERT_TRUE(source.copy_packets({&tail, 1}, out.data()));
  EXPECT_TRUE(source.shortened());
  EXPECT_EQ(out, Bytes(out.size(), 0));
  EXPECT_NE(source.shortened_error().find(path.string()), std::string::npos);
  // Another mapping of the same process is not affected.
  CClipPacketSource again(f);
  EXPECT_FALSE(again.shortened());
  EXPECT_EQ(again.packet_count(), 1000u);
}

}  // namespace
}  // namespace veld
