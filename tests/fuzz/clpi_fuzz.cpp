// SPDX-License-Identifier: GPL-3.0-or-later
// Clip information file: the disc opening parses it (CClpiObject::parse builds the clip's tracks); a
// parsed record is written again by the remultiplexing and dumped by the disc report.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/clip/clpi.h"
#include "veld/clip/clpi_dump.h"

using namespace veld;

VELD_FUZZ_TARGET(clpi) {
  CClpiObject clip;
  std::string error;
  if (clip.parse(ByteSpan(data, size), &error) <= 0) return 0;
  (void)dump_clpi(clip.data);
  // What the writer makes of any record the reader accepted reads back.
  const Bytes again = write_clpi(clip.data);
  SClpiData back;
  VELD_FUZZ_CHECK(parse_clpi(again, back, &error) > 0);
  return 0;
}
