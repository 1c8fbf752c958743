// SPDX-License-Identifier: GPL-3.0-or-later
// Run-length code of object data: decoded as the extraction does, and a decoded bitmap coded again as
// the replacement does.
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/graphics/rle.h"

using namespace veld;

VELD_FUZZ_TARGET(rle) {
  const std::optional<IndexedBitmap> bitmap = DecodeObjectData(ByteSpan(data, size));
  if (!bitmap) return 0;
  const Bytes code = EncodeBitmap(*bitmap);
  VELD_FUZZ_CHECK(!code.empty());
  const std::optional<IndexedBitmap> back = DecodeObjectData(code);
  VELD_FUZZ_CHECK(back && back->pixels == bitmap->pixels && back->width == bitmap->width &&
                  back->height == bitmap->height);
  return 0;
}
