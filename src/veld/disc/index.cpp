// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/index.h"

#include <algorithm>

#include "veld/clip/clpi.h"

namespace veld {
namespace {

SIndexObjectRef parse_object_ref(ByteReader& parent) {
  ByteReader r = parent.sub(12, "object reference");
  SIndexObjectRef ref;
  const std::uint8_t b0 = r.u8();
  ref.ObjectType = b0 >> 6;
  ref.TitleAccessType = (b0 >> 4) & 3;
  r.skip(3);
  ref.PlaybackType = r.u8() >> 6;
  r.skip(1);
  if (ref.is_hdmv()) {
    ref.MovieObject = r.u16();
    ref.BDJO_FileName = "00000";
  } else {
    ref.MovieObject = 0xFFFF;
    ref.BDJO_FileName = r.text(5);
  }
  return ref;
}

}  // namespace

int parse_index(ByteSpan file, SIndexData& out, std::string* error, CUnreadBytes* unread) {
  out = SIndexData{};
  CUnreadBytes notes;
  try {
    ByteReader h(file, "index header");
    ByteSpan b = h.bytes(4);
    std::copy(b.begin(), b.end(), out.TypeIndicator.begin());
    b = h.bytes(4);
    std::copy(b.begin(), b.end(), out.Version.begin());
    out.IndexsStartAddress = h.u32();
    out.ExtensionDataStartAddress = h.u32();
    b = h.bytes(24);
    std::copy(b.begin(), b.end(), out.Reserved.begin());
    out.AppInfoBDMVLength = h.u32();
    out.AppInfoFlags = h.u16();
    b = h.bytes(32);
    std::copy(b.begin(), b.end(), out.ContentProviderUserData.begin());

    if (out.IndexsStartAddress > file.size()) h.fail("Indexes start address beyond the end of the file");
    ByteReader ix(file.subspan(out.IndexsStartAddress), "Indexes", out.IndexsStartAddress);
    out.IndexesLength = ix.u32();
    ByteReader body = ix.sub(out.IndexesLength, "Indexes");
    out.FirstPlayback = parse_object_ref(body);
    out.TopMenu = parse_object_ref(body);
    const std::uint16_t titles = body.u16();
    body.need(std::size_t{titles} * 12);
    out.Titles.reserve(titles);
    for (std::uint16_t i = 0; i < titles; ++i) out.Titles.push_back(parse_object_ref(body));
    NoteUnread(body, &notes);
    std::size_t consumed = ix.absolute_pos();

    consumed = parse_file_ext_data(file, out.ExtensionDataStartAddress, out.ExtensionData, consumed);
    if (unread) unread->insert(unread->end(), notes.begin(), notes.end());
    return static_cast<int>(std::min<std::size_t>(consumed, INT32_MAX));
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return 0;
  }
}

}  // namespace veld
