// SPDX-License-Identifier: GPL-3.0-or-later
// Reader and writer of the playlist file (PLAYLIST/nnnnn.mpls).
//
// The reader trusts nothing: every block is read through a reader bounded by its own length field, and a
// length or count that points outside its block makes the whole parse fail (result 0 with the reason).
// The writer recomputes every length, count and start address, and writes back every byte the reader
// kept: reserved bytes and bits, the bytes a block's length leaves after its content, and the padding
// between blocks, so that compose(parse(x)) == x. A count or length that does not fit its field is a
// std::length_error naming the element. It composes into a buffer that grows, so a playlist of any
// size is written whole.
#pragma once

#include <cstdint>
#include <string>

#include "veld/base/bytes.h"
#include "veld/disc/mpls_data.h"

namespace veld {

// The buffer size a playlist is normally composed into; larger playlists are still written whole.
inline constexpr std::size_t kMplsComposeBuffer = 614400;

// Parses the bytes of a whole playlist file into *data (its previous content is discarded). Returns the
// number of bytes accounted for, greater than 0 on success; 0 on a malformed file, with the reason
// (element and offset) in *error when error is not null. Blocks whose length leaves bytes after their
// content are noted in *unread (when given).
std::int64_t parse_mpls(ByteSpan file, SMplsData& data, std::string* error = nullptr, CUnreadBytes* unread = nullptr);

// Composes the whole file. The AppInfoPlayList is always 18 bytes at offset 40, the PlayList follows
// at 58, then the marks and the extension data.
Bytes compose_mpls(const SMplsData& data);

// Element codecs, each the mirror of the other (exposed for the tests). The readers take a reader
// positioned at the element and leave it after the element; they throw ParseError. Bytes that a block's
// length leaves after its content are noted in *unread (when given).
UO_MASK_TABLE read_uo_mask(ByteReader& r);
STREAM_ENTRY read_stream_entry(ByteReader& r, CUnreadBytes* unread = nullptr);
void write_stream_entry(ByteWriter& w, const STREAM_ENTRY& e);
STREAM_ATTRIBUTES read_stream_attributes(ByteReader& r, CUnreadBytes* unread = nullptr);
void write_stream_attributes(ByteWriter& w, const STREAM_ATTRIBUTES& a);
REF_LIST read_ref_list(ByteReader& r);
void write_ref_list(ByteWriter& w, const REF_LIST& l);
STN_TABLE read_stn_table(ByteReader& r, CUnreadBytes* unread = nullptr);
void write_stn_table(ByteWriter& w, const STN_TABLE& t);
PLAY_ITEM read_play_item(ByteReader& r, CUnreadBytes* unread = nullptr);
void write_play_item(ByteWriter& w, const PLAY_ITEM& item);
SUB_PLAY_ITEM read_sub_play_item(ByteReader& r, CUnreadBytes* unread = nullptr);
void write_sub_play_item(ByteWriter& w, const SUB_PLAY_ITEM& item);
SUB_PATH read_sub_path(ByteReader& r, CUnreadBytes* unread = nullptr);
void write_sub_path(ByteWriter& w, const SUB_PATH& path);

// The record as "Field: value" lines, one block per element, indented by nesting (for reports and
// golden tests). Enumerated values are followed by their display text.
std::string print_mpls(const SMplsData& data);

}  // namespace veld
