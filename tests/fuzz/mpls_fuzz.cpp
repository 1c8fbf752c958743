// SPDX-License-Identifier: GPL-3.0-or-later
// Playlist file: the disc opening parses every playlist and builds the tracks of its first play item;
// the replacement composes the adjusted playlist again.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/disc/mpls.h"
#include "veld/disc/playlist.h"

using namespace veld;

VELD_FUZZ_TARGET(mpls) {
  CMplsObject playlist;
  std::string error;
  if (playlist.parse(ByteSpan(data, size), &error) <= 0) return 0;
  playlist.build_tracks();
  (void)print_mpls(playlist.data);
  const Bytes again = playlist.compose();
  SMplsData back;
  VELD_FUZZ_CHECK(parse_mpls(again, back, &error) > 0);
  VELD_FUZZ_CHECK(compose_mpls(back) == again);
  return 0;
}
