// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/ts/pmt_language.h"

#include <algorithm>

#include "veld/base/bytes.h"
#include "veld/base/crc32.h"

namespace veld {
namespace {

constexpr std::uint8_t kIso639LanguageTag = 0x0A;

// The language code's bytes in the descriptor loop [at, end), or nullptr.
std::uint8_t* find_language(std::uint8_t* at, const std::uint8_t* end) {
  while (at + 2 <= end) {
    const std::size_t len = at[1];
    if (at + 2 + len > end) return nullptr;
    if (at[0] == kIso639LanguageTag && len >= 4) return at + 2;
    at += 2 + len;
  }
  return nullptr;
}

}  // namespace

PmtLanguagePatch SetPmtLanguage(std::span<std::uint8_t, 188> packet, std::uint16_t es_pid,
                                const std::array<char, 3>& language) {
  std::uint8_t* p = packet.data();
  const int afc = (p[3] >> 4) & 3;
  if (p[0] != 0x47 || !(p[1] & 0x40) || !(afc & 1)) return PmtLanguagePatch::kUnfit;
  const std::size_t payload = afc == 3 ? 5 + std::size_t{p[4]} : 4;
  if (payload >= 188) return PmtLanguagePatch::kUnfit;
  const std::size_t start = payload + 1 + p[payload];  // after the pointer field
  if (start + 12 > 188 || p[start] != 0x02) return PmtLanguagePatch::kUnfit;
  const std::size_t length = load_be16(p + start + 1) & 0x0FFF;
  const std::size_t end = start + 3 + length;  // the CRC's last byte + 1
  if (length < 13 || end > 188) return PmtLanguagePatch::kUnfit;
  std::uint8_t* es = p + start + 12 + (load_be16(p + start + 10) & 0x0FFF);
  const std::uint8_t* es_end = p + end - 4;
  while (es + 5 <= es_end) {
    const std::size_t info = load_be16(es + 3) & 0x0FFF;
    if (es + 5 + info > es_end) return PmtLanguagePatch::kUnfit;
    if ((load_be16(es + 1) & 0x1FFF) == es_pid) {
      std::uint8_t* code = find_language(es + 5, es + 5 + info);
      if (!code) return PmtLanguagePatch::kNoLanguage;
      std::copy(language.begin(), language.end(), code);
      store_be32(p + end - 4, crc32_mpeg(ByteSpan(p + start, end - 4 - start)));
      return PmtLanguagePatch::kDone;
    }
    es += 5 + info;
  }
  return es == es_end ? PmtLanguagePatch::kNoStream : PmtLanguagePatch::kUnfit;
}

}  // namespace veld
