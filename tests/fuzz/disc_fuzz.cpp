// SPDX-License-Identifier: GPL-3.0-or-later
// The whole disc: a BDMV folder carried in one input (see ReadBundle) opened and extracted as the
// extract command does it, pictures included.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/app/commands.h"

using namespace veld;

VELD_FUZZ_TARGET(disc) {
  const std::filesystem::path root = fuzz::FreshScratchFolder("disc");
  const std::filesystem::path bdmv = root / "BDMV";
  std::filesystem::create_directories(bdmv);
  fuzz::WriteBundle(fuzz::ReadBundle(ByteSpan(data, size)), bdmv);
  fuzz::QuietMessenger messenger;
  fuzz::QuietProgress progress;
  const ExtractOutcome out = RunExtractCommand(bdmv, root / "rip", messenger, progress);
  VELD_FUZZ_CHECK(out.result == 0 || messenger.errors > 0);
  return 0;
}
