// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/disc/movie_object.h"

#include <algorithm>

#include <fmt/format.h>

#include "veld/clip/clpi.h"

namespace veld {

int parse_movie_objects(ByteSpan file, SMovieObjectData& out, std::string* error, CUnreadBytes* unread) {
  out = SMovieObjectData{};
  CUnreadBytes notes;
  try {
    ByteReader h(file, "movie-object header");
    ByteSpan b = h.bytes(4);
    std::copy(b.begin(), b.end(), out.TypeIndicator.begin());
    b = h.bytes(4);
    std::copy(b.begin(), b.end(), out.Version.begin());
    out.ExtensionDataStartAddress = h.u32();
    b = h.bytes(28);
    std::copy(b.begin(), b.end(), out.Reserved.begin());

    out.MovieObjectsLength = h.u32();
    ByteReader body = h.sub(out.MovieObjectsLength, "MovieObjects");
    body.skip(4);
    const std::uint16_t count = body.u16();
    body.need(std::size_t{count} * 4);
    out.MovieObjects.resize(count);
    for (std::size_t i = 0; i < count; ++i) {
      CMovieObject& mo = out.MovieObjects[i];
      const std::uint8_t flags = body.u8();
      mo.ResumeIntentionFlag = flags & 0x80;
      mo.MenuCallMask = flags & 0x40;
      mo.TitleSearchMask = flags & 0x20;
      body.skip(1);
      const std::uint16_t commands = body.u16();
      body.need(std::size_t{commands} * 12);
      mo.NavCmds.name = fmt::format("MovieObject#{}", i);
      mo.NavCmds.commands.resize(commands);
      for (NavCommand& c : mo.NavCmds.commands) {
        ByteSpan cb = body.bytes(12);
        std::copy(cb.begin(), cb.end(), c.begin());
      }
    }
    NoteUnread(body, &notes);
    std::size_t consumed = h.absolute_pos();

    consumed = parse_file_ext_data(file, out.ExtensionDataStartAddress, out.ExtensionData, consumed);
    if (unread) unread->insert(unread->end(), notes.begin(), notes.end());
    return static_cast<int>(std::min<std::size_t>(consumed, INT32_MAX));
  } catch (const ParseError& e) {
    if (error) *error = e.what();
    return 0;
  }
}

}  // namespace veld
