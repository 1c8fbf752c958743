// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/rle.h"

#include <fmt/format.h>

namespace veld {
namespace {

// Size of the code of one run of 1..kMaxRunLength pixels.
constexpr std::size_t CodeSize(std::size_t length, std::uint8_t colour) {
  if (colour == 0) return length <= 63 ? 2 : 3;
  if (length < 3) return length;
  return length <= 63 ? 3 : 4;
}

// Code of one run of 1..kMaxRunLength pixels; out has room for CodeSize(length, colour) bytes.
inline std::uint8_t* PutRun(std::size_t length, std::uint8_t colour, std::uint8_t* out) {
  if (colour == 0) {
    // A zero byte cannot stand for a pixel: colour 0 is always coded as a run, even of length 1.
    if (length <= 63) {
      out[0] = 0x00;
      out[1] = static_cast<std::uint8_t>(length);
      return out + 2;
    }
    out[0] = 0x00;
    out[1] = static_cast<std::uint8_t>(0x40 | (length >> 8));
    out[2] = static_cast<std::uint8_t>(length);
    return out + 3;
  }
  if (length < 3) {
    out[0] = colour;
    if (length == 2) out[1] = colour;
    return out + length;
  }
  if (length <= 63) {
    out[0] = 0x00;
    out[1] = static_cast<std::uint8_t>(0x80 | length);
    out[2] = colour;
    return out + 3;
  }
  out[0] = 0x00;
  out[1] = static_cast<std::uint8_t>(0xC0 | (length >> 8));
  out[2] = static_cast<std::uint8_t>(length);
  out[3] = colour;
  return out + 4;
}

// A run of any length >= 1, split into codes of at most kMaxRunLength pixels.
inline std::uint8_t* PutLongRun(std::size_t length, std::uint8_t colour, std::uint8_t* out) {
  while (length > kMaxRunLength) {
    out = PutRun(kMaxRunLength, colour, out);
    length -= kMaxRunLength;
  }
  return PutRun(length, colour, out);
}

// Codes one line; out has room for MaxEncodedLineSize(size).
std::uint8_t* PutLine(const std::uint8_t* row, std::size_t size, std::uint8_t* out) {
  const std::uint8_t* p = row;
  const std::uint8_t* const end = row + size;
  while (p < end) {
    const std::uint8_t colour = *p;
    const std::uint8_t* q = RunEnd(p + 1, end, colour);
    out = PutLongRun(static_cast<std::size_t>(q - p), colour, out);
    p = q;
  }
  out[0] = 0x00;
  out[1] = 0x00;
  return out + 2;
}

}  // namespace

std::size_t DecodeLine(ByteSpan code, std::span<std::uint8_t> row) {
  // Hot loop: plain pointers, each checked against its end before use.
  const std::uint8_t* p = code.data();
  const std::uint8_t* const end = p + code.size();
  std::uint8_t* out = row.data();
  std::size_t left = row.size();
  for (;;) {
    if (p == end) return 0;  // data ended before the end-of-line code
    const std::uint8_t b = *p++;
    if (b != 0) {
      if (left == 0) return 0;  // past the line's width
      *out++ = b;
      --left;
      continue;
    }
    if (p == end) return 0;
    const std::uint8_t flags = *p++;
    if (flags == 0) return static_cast<std::size_t>(p - code.data());
    std::size_t length = flags & 0x3F;
    if (flags & 0x40) {
      if (p == end) return 0;
      length = (length << 8) | *p++;
    }
    std::uint8_t colour = 0;
    if (flags & 0x80) {
      if (p == end) return 0;
      colour = *p++;
    }
    if (length > left) return 0;
    std::memset(out, colour, length);
    out += length;
    left -= length;
  }
}

std::optional<IndexedBitmap> DecodeObjectData(ByteSpan object_data, std::string* why) {
  const auto fail = [why](std::string reason) -> std::optional<IndexedBitmap> {
    if (why) *why = std::move(reason);
    return std::nullopt;
  };
  if (object_data.size() < kObjectDataHeaderSize) {
    return fail(fmt::format("its data has {} bytes, less than its {}-byte header", object_data.size(),
                            kObjectDataHeaderSize));
  }
  const std::uint8_t* head = object_data.data();
  if (std::size_t{load_be24(head)} + 3 != object_data.size()) {
    return fail(fmt::format("its data length says {} bytes, its fragments hold {}", load_be24(head),
                            object_data.size() - 3));
  }
  const std::size_t width = load_be16(head + 3);
  const std::size_t height = load_be16(head + 5);
  if (width == 0 || height == 0) return fail(fmt::format("its size is {} x {}", width, height));
  ByteSpan lines = object_data.subspan(kObjectDataHeaderSize);
  // Every line ends with a two-byte code, so the data bounds the height before anything is allocated.
  if (height > lines.size() / 2) {
    return fail(fmt::format("{} lines cannot fit in {} bytes of run-length code", height, lines.size()));
  }
  if (static_cast<std::int64_t>(width * height) > kMaxBitmapPixels) {
    return fail(fmt::format("its size {} x {} is larger than any picture", width, height));
  }

  IndexedBitmap bitmap;
  bitmap.width = static_cast<int>(width);
  bitmap.height = static_cast<int>(height);
  bitmap.pixels.assign(width * height, 0);
  std::size_t pos = 0;
  for (std::size_t y = 0; y < height; ++y) {
    const std::size_t used =
        DecodeLine(lines.subspan(pos), std::span<std::uint8_t>(bitmap.pixels.data() + y * width, width));
    if (used == 0) {
      return fail(fmt::format("line {} of {} runs past the width {} or ends without its end-of-line code", y + 1,
                              height, width));
    }
    pos += used;
  }
  return bitmap;
}

std::size_t WriteRun(std::size_t length, std::uint8_t colour, std::span<std::uint8_t> out) {
  if (length == 0) return 0;
  const std::size_t full_codes = (length - 1) / kMaxRunLength;
  const std::size_t needed =
      full_codes * CodeSize(kMaxRunLength, colour) + CodeSize(length - full_codes * kMaxRunLength, colour);
  if (out.size() < needed) return 0;
  return static_cast<std::size_t>(PutLongRun(length, colour, out.data()) - out.data());
}

std::size_t EncodeLine(std::span<const std::uint8_t> row, std::span<std::uint8_t> out) {
  if (out.size() < MaxEncodedLineSize(row.size())) return 0;
  return static_cast<std::size_t>(PutLine(row.data(), row.size(), out.data()) - out.data());
}

Bytes EncodeBitmap(const IndexedBitmap& bitmap) {
  if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.width > 0xFFFF || bitmap.height > 0xFFFF) return {};
  const auto width = static_cast<std::size_t>(bitmap.width);
  const auto height = static_cast<std::size_t>(bitmap.height);
  if (bitmap.pixels.size() != width * height) return {};

  // One allocation, sized for the worst case of every line.
  Bytes out(kObjectDataHeaderSize + height * MaxEncodedLineSize(width));
  std::uint8_t* const begin = out.data();
  std::uint8_t* p = begin + kObjectDataHeaderSize;
  const std::uint8_t* row = bitmap.pixels.data();
  for (std::size_t y = 0; y < height; ++y, row += width) p = PutLine(row, width, p);

  const auto total = static_cast<std::size_t>(p - begin);
  if (total - 3 > kMaxObjectDataLength) return {};
  store_be24(begin, static_cast<std::uint32_t>(total - 3));
  store_be16(begin + 3, static_cast<std::uint16_t>(width));
  store_be16(begin + 5, static_cast<std::uint16_t>(height));
  out.resize(total);
  return out;
}

}  // namespace veld
