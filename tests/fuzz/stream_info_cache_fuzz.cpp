// SPDX-License-Identifier: GPL-3.0-or-later
// The stream-information cache reader (".rsif" beside a rebuilt IG stream).
#include "fuzz_support.h"
#include "fuzz_target.h"
#include "veld/mux/raw_track.h"

using namespace veld;

VELD_FUZZ_TARGET(stream_info_cache) {
  std::string error;
  const std::optional<SStreamInfoCache> cache = ReadStreamInfoCache(ByteSpan(data, size), &error);
  if (!cache) return 0;
  // A cache that reads is written back to bytes that read to the same analysis.
  const std::optional<SStreamInfoCache> back = ReadStreamInfoCache(WriteStreamInfoCache(*cache), &error);
  VELD_FUZZ_CHECK(back && back->index == cache->index && back->file_size == cache->file_size &&
                  back->stream_type == cache->stream_type);
  return 0;
}
