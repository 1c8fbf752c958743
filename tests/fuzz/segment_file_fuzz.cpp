// SPDX-License-Identifier: GPL-3.0-or-later
// Segment file of one graphics stream, as the extraction reads it after demultiplexing: the display
// sets, the composition of each, every object it defines with its palette; and the stream written back
// as the replacement writes a rebuilt one.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/segment_file.h"

using namespace veld;

VELD_FUZZ_TARGET(segment_file) {
  CGsData stream;
  std::string error;
  if (!ReadGraphicsStream(ByteSpan(data, size), stream, &error)) return 0;
  for (const CEpochData& epoch : stream.Epochs) {
    for (const CDsData& ds : epoch.DisplaySets) {
      (void)PrintDisplaySet(ds);
      const std::optional<CIcData> composition = ParseComposition(ds, &error);
      for (const std::uint16_t id : ListObjects(ds)) {
        const std::uint8_t palette = composition ? FindObjectPalette(*composition, id) : kNoPalette;
        (void)DecodeObjectBitmap(ds, id, palette);
        (void)ObjectPalette(ds, id);
        (void)ObjectSize(ds, id);
      }
    }
  }
  Bytes out;
  if (WriteGraphicsStream(out, stream, &error)) {
    // What the writer wrote reads back with the same number of display sets.
    CGsData back;
    VELD_FUZZ_CHECK(ReadGraphicsStream(out, back, &error));
    VELD_FUZZ_CHECK(back.DisplaySetCount() == stream.DisplaySetCount());
  }
  return 0;
}
