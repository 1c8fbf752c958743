// SPDX-License-Identifier: GPL-3.0-or-later
// The run-length code of graphics objects (object data of ODS segments) and its decoder and encoder.
//
// Object data, big-endian: ObjectDataLength (24 bits, the bytes after this field), ObjectWidth (16),
// ObjectHeight (16), then ObjectHeight coded lines, top line first. A line is a sequence of codes
// ended by 0x00 0x00:
//   C (C != 0)                      one pixel of colour C
//   0x00 00LLLLLL (L != 0)          L pixels (1..63) of colour 0
//   0x00 01LLLLLL LLLLLLLL          L pixels (14-bit length) of colour 0
//   0x00 10LLLLLL C                 L pixels (6-bit length) of colour C
//   0x00 11LLLLLL LLLLLLLL C        L pixels (14-bit length) of colour C
//   0x00 0x00                       end of line
// Pixels that a short line does not reach keep colour 0.
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>

#include "veld/base/bytes.h"
#include "veld/graphics/bitmap.h"

namespace veld {

inline constexpr std::size_t kObjectDataHeaderSize = 7;  // ObjectDataLength, ObjectWidth, ObjectHeight
inline constexpr std::size_t kMaxRunLength = 16383;      // 14-bit run length
inline constexpr std::size_t kMaxObjectDataLength = 0xFFFFFF;

// Decodes joined object data (starting with ObjectDataLength). std::nullopt when it is malformed: shorter
// than its header, ObjectDataLength + 3 differing from the data's size, a zero width or height, a line
// whose runs go past ObjectWidth, data ending before ObjectHeight end-of-line codes, or a size above
// kMaxBitmapPixels; *why (when given) then says which. Bytes after the last line are ignored.
std::optional<IndexedBitmap> DecodeObjectData(ByteSpan object_data, std::string* why = nullptr);

// Decodes one line into row (every pixel the codes reach is written; the rest of row is untouched).
// Returns the bytes consumed including the end-of-line code, or 0 when the codes run past the row or the
// data ends before the end-of-line code.
std::size_t DecodeLine(ByteSpan code, std::span<std::uint8_t> row);

// Object data with its 7-byte header for an indexed bitmap; empty when the bitmap is inconsistent
// (a side of 0 or above 65,535, a pixel count that differs from width × height) or its code
// would not fit the 24-bit ObjectDataLength. Runs longer than kMaxRunLength are split into several codes.
Bytes EncodeBitmap(const IndexedBitmap& bitmap);

// The largest code of one line of `width` pixels (pixels alternating between colour 0 and another
// colour, plus the end-of-line code).
constexpr std::size_t MaxEncodedLineSize(std::size_t width) { return (3 * width + 1) / 2 + 2; }

// Codes one line into out, end-of-line code included. Returns the bytes written, or 0 when out is
// smaller than MaxEncodedLineSize(row.size()).
std::size_t EncodeLine(std::span<const std::uint8_t> row, std::span<std::uint8_t> out);

// Codes a run of `length` (>= 1) pixels of `colour` into out, split into runs of at most kMaxRunLength.
// Returns the bytes written, or 0 when length is 0 or out is too small.
std::size_t WriteRun(std::size_t length, std::uint8_t colour, std::span<std::uint8_t> out);

}  // namespace veld
