// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/mux/inplace_scan.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "support/test_support.h"
#include "veld/clip/ig_track.h"

namespace veld {
namespace {

// The scan that the menu-reading pass makes as its packet observer must be the one a pass of its own
// makes, packet for packet, and must find as many display sets as the parsed stream holds.
TEST(InPlaceScan, TheMenuPassGathersWhatAPassOfItsOwnDoes) {
  int clips = 0;
  for (const auto& disc : std::filesystem::directory_iterator(test::test_discs_dir())) {
    const auto streams = disc.path() / "BDMV" / "STREAM";
    if (!std::filesystem::is_directory(streams)) continue;
    for (const auto& e : std::filesystem::directory_iterator(streams)) {
      if (e.path().extension() != ".m2ts") continue;
      SCOPED_TRACE(e.path().string());
      CInPlaceScan observed;
      std::vector<SClipIgStream> loaded;
      Progress progress;
      test::RecordingMessenger messenger;
      File clip;
      ASSERT_TRUE(clip.open(e.path(), File::Mode::kRead));
      if (LoadClipIgStreams(clip, loaded, progress, messenger, {}, &observed) != 0) continue;  // no menu
      CInPlaceScan own;
      const int fd = ::open(e.path().c_str(), O_RDONLY | O_CLOEXEC);
      ASSERT_GE(fd, 0);
      std::string error;
      ASSERT_TRUE(own.read(fd, std::filesystem::file_size(e.path()), progress, error)) << error;
      ::close(fd);
      ASSERT_EQ(observed.packets(), own.packets());
      EXPECT_EQ(observed.packets(), std::filesystem::file_size(e.path()) / 192);
      for (const SClipIgStream& s : loaded) {
        const SPidScan& a = observed.pid(s.pid);
        const SPidScan& b = own.pid(s.pid);
        ASSERT_FALSE(a.slots.empty());
        ASSERT_EQ(a.slots.size(), b.slots.size());
        for (std::size_t i = 0; i < a.slots.size(); ++i) {
          ASSERT_EQ(a.slots[i].spn, b.slots[i].spn) << i;
          ASSERT_EQ(a.slots[i].atc, b.slots[i].atc) << i;
          ASSERT_EQ(observed.clock().stc(a.slots[i].atc), own.clock().stc(b.slots[i].atc)) << i;
        }
        EXPECT_EQ(a.headers, b.headers);
        EXPECT_EQ(a.ds_first, b.ds_first);
        EXPECT_EQ(a.first_cc, b.first_cc);
        EXPECT_EQ(a.ds_first.size(), s.data.DisplaySetCount());
      }
      ++clips;
    }
  }
  EXPECT_GE(clips, 6);
}

}  // namespace
}  // namespace veld
