// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/rle.h"

#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <vector>

#include "support/test_support.h"

namespace veld {
namespace {

using test::hex_bytes;

Bytes EncodeRow(const std::vector<std::uint8_t>& row) {
  Bytes out(MaxEncodedLineSize(row.size()));
  const std::size_t n = EncodeLine(row, out);
  out.resize(n);
  return out;
}

Bytes RunCode(std::size_t length, std::uint8_t colour) {
  Bytes out(64);
  out.resize(WriteRun(length, colour, out));
  return out;
}

IndexedBitmap Make(int width, int height, std::vector<std::uint8_t> pixels) {
  return IndexedBitmap{width, height, std::move(pixels)};
}

// A decoder written from the code table alone, with checked element access, to compare against.
std::optional<IndexedBitmap> ReferenceDecode(const Bytes& data) {
  if (data.size() < 7) return std::nullopt;
  const std::size_t declared = (std::size_t{data[0]} << 16) | (data[1] << 8) | data[2];
  if (declared + 3 != data.size()) return std::nullopt;
  IndexedBitmap bmp{(data[3] << 8) | data[4], (data[5] << 8) | data[6], {}};
  if (bmp.width == 0 || bmp.height == 0 || std::int64_t{bmp.width} * bmp.height > kMaxBitmapPixels) return std::nullopt;
  bmp.pixels.assign(static_cast<std::size_t>(bmp.width) * bmp.height, 0);
  std::size_t pos = 7;
  auto next = [&]() -> std::optional<std::uint8_t> {
    if (pos >= data.size()) return std::nullopt;
    return data.at(pos++);
  };
  for (int y = 0; y < bmp.height; ++y) {
    int x = 0;
    for (;;) {
      auto b = next();
      if (!b) return std::nullopt;
      int length = 1, colour = *b;
      if (*b == 0) {
        auto f = next();
        if (!f) return std::nullopt;
        if (*f == 0) break;
        length = *f & 0x3F;
        if (*f & 0x40) {
          auto lo = next();
          if (!lo) return std::nullopt;
          length = length * 256 + *lo;
        }
        colour = 0;
        if (*f & 0x80) {
          auto c = next();
          if (!c) return std::nullopt;
          colour = *c;
        }
      }
      if (x + length > bmp.width) return std::nullopt;
      for (int i = 0; i < length; ++i) bmp.pixels.at(static_cast<std::size_t>(y) * bmp.width + x++) = colour;
    }
  }
  return bmp;
}

TEST(RunLengthCode, LineVectors) {
  EXPECT_EQ(EncodeRow(std::vector<std::uint8_t>(10, 0)), hex_bytes("00 0A 00 00"));
  EXPECT_EQ(EncodeRow(std::vector<std::uint8_t>(64, 0)), hex_bytes("00 40 40 00 00"));
  EXPECT_EQ(EncodeRow({5, 5, 7}), hex_bytes("05 05 07 00 00"));
  EXPECT_EQ(EncodeRow({5, 5, 5}), hex_bytes("00 83 05 00 00"));
  EXPECT_EQ(EncodeRow(std::vector<std::uint8_t>(300, 9)), hex_bytes("00 C1 2C 09 00 00"));
  EXPECT_EQ(EncodeRow({}), hex_bytes("00 00"));
  EXPECT_EQ(EncodeRow({0, 3, 0}), hex_bytes("00 01 03 00 01 00 00"));

  std::vector<std::uint8_t> row(64, 0xEE);
  EXPECT_EQ(DecodeLine(hex_bytes("00 40 40 00 00"), row), 5u);
  EXPECT_EQ(row, std::vector<std::uint8_t>(64, 0));
}

TEST(RunLengthCode, WriteRunCoversEveryFormAndItsBoundaries) {
  EXPECT_EQ(RunCode(1, 0), hex_bytes("00 01"));
  EXPECT_EQ(RunCode(63, 0), hex_bytes("00 3F"));
  EXPECT_EQ(RunCode(64, 0), hex_bytes("00 40 40"));
  EXPECT_EQ(RunCode(16383, 0), hex_bytes("00 7F FF"));
  EXPECT_EQ(RunCode(1, 5), hex_bytes("05"));
  EXPECT_EQ(RunCode(2, 5), hex_bytes("05 05"));
  EXPECT_EQ(RunCode(3, 5), hex_bytes("00 83 05"));
  EXPECT_EQ(RunCode(63, 5), hex_bytes("00 BF 05"));
  EXPECT_EQ(RunCode(64, 5), hex_bytes("00 C0 40 05"));
  EXPECT_EQ(RunCode(16383, 0xFF), hex_bytes("00 FF FF FF"));
  // Runs longer than a 14-bit length are split; the rest is coded in its own best form.
  EXPECT_EQ(RunCode(16384, 5), hex_bytes("00 FF FF 05 05"));
  EXPECT_EQ(RunCode(16385, 0), hex_bytes("00 7F FF 00 02"));
  EXPECT_EQ(RunCode(3 * 16383 + 70, 7), hex_bytes("00 FF FF 07 00 FF FF 07 00 FF FF 07 00 C0 46 07"));
  // Nothing to code, or no room for it.
  Bytes small(3);
  EXPECT_EQ(WriteRun(0, 5, small), 0u);
  EXPECT_EQ(WriteRun(64, 5, small), 0u);
  EXPECT_EQ(WriteRun(16384, 5, std::span<std::uint8_t>(small.data(), 2)), 0u);
  EXPECT_EQ(WriteRun(3, 5, small), 3u);
  EXPECT_EQ(WriteRun(2, 5, std::span<std::uint8_t>(small.data(), 2)), 2u);
}

TEST(RunLengthCode, DecodeLineReadsEveryForm) {
  std::vector<std::uint8_t> row(16383 + 8, 0xEE);
  // single pixel, short zero run, long zero run, short colour run, long colour run, end
  const Bytes code = hex_bytes("07 00 02 00 40 41 00 84 09 00 C0 41 0A 00 00");
  ASSERT_EQ(DecodeLine(code, row), code.size());
  std::vector<std::uint8_t> expect;
  expect.push_back(7);
  expect.insert(expect.end(), 2, 0);
  expect.insert(expect.end(), 65, 0);
  expect.insert(expect.end(), 4, 9);
  expect.insert(expect.end(), 65, 10);
  EXPECT_TRUE(std::equal(expect.begin(), expect.end(), row.begin()));
  EXPECT_EQ(row[expect.size()], 0xEE) << "pixels after the line's codes are left alone";

  // Stops exactly at the end code and reports what it consumed.
  EXPECT_EQ(DecodeLine(hex_bytes("01 02 00 00 05 05"), row), 4u);
}

TEST(RunLengthCode, DecodeLineRejectsOverrunsAndMissingEnd) {
  std::vector<std::uint8_t> row(4, 0);
  EXPECT_EQ(DecodeLine(hex_bytes("01 02 03 04 05 00 00"), row), 0u) << "fifth single pixel";
  EXPECT_EQ(DecodeLine(hex_bytes("00 05 00 00"), row), 0u) << "zero run past the width";
  EXPECT_EQ(DecodeLine(hex_bytes("01 00 84 02 00 00"), row), 0u) << "colour run past the width";
  EXPECT_EQ(DecodeLine(hex_bytes("00 C0 05 02 00 00"), row), 0u) << "long colour run past the width";
  EXPECT_EQ(DecodeLine(hex_bytes("00 84 02 00 00"), row), 5u) << "a run that fills the row exactly";
  for (const char* cut : {"", "01", "01 00", "00 40", "00 C0", "00 C0 04", "00 80", "00 84 02"}) {
    EXPECT_EQ(DecodeLine(hex_bytes(cut), row), 0u) << "data ends inside a line: " << cut;
  }
  std::vector<std::uint8_t> empty;
  EXPECT_EQ(DecodeLine(hex_bytes("00 00"), empty), 2u);
  EXPECT_EQ(DecodeLine(hex_bytes("01 00 00"), empty), 0u);
}

TEST(ObjectData, AllZeroTwoByTwoObject) {
  const Bytes expected = hex_bytes("00 00 0C 00 02 00 02 00 02 00 00 00 02 00 00");
  ASSERT_EQ(expected.size(), 15u);
  EXPECT_EQ(EncodeBitmap(Make(2, 2, {0, 0, 0, 0})), expected);
  const auto decoded = DecodeObjectData(expected);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, Make(2, 2, {0, 0, 0, 0}));
}

TEST(ObjectData, ShortLinesKeepColourZeroAndTrailingBytesAreIgnored) {
  // 4 x 2: first line codes one pixel only, second line is full.
  const Bytes data = hex_bytes("00 00 0E 00 04 00 02 07 00 00 00 84 03 00 00 AA BB");
  const auto decoded = DecodeObjectData(data);
  ASSERT_TRUE(decoded);
  EXPECT_EQ(*decoded, Make(4, 2, {7, 0, 0, 0, 3, 3, 3, 3}));
}

TEST(ObjectData, RejectsInconsistentHeaders) {
  const Bytes good = EncodeBitmap(Make(3, 2, {1, 2, 3, 0, 0, 4}));
  ASSERT_TRUE(DecodeObjectData(good));
  Bytes longer = good;
  longer.push_back(0);
  EXPECT_FALSE(DecodeObjectData(longer)) << "ObjectDataLength one short of the data";
  Bytes wrong = good;
  wrong[2] += 1;
  EXPECT_FALSE(DecodeObjectData(wrong)) << "ObjectDataLength one more than the data";
  EXPECT_FALSE(DecodeObjectData({}));
  EXPECT_FALSE(DecodeObjectData(hex_bytes("00 00 03 00 01 00")));
  // A height that the data cannot hold is refused before anything is allocated.
  EXPECT_FALSE(DecodeObjectData(hex_bytes("00 00 06 00 01 00 02 00 00 00")));
  // 65,535 end codes would do for the lines, but not 65,535 x 65,535 pixels.
  Bytes huge = {0x01, 0xFF, 0xFE, 0xFF, 0xFF, 0xFF, 0xFF};
  huge.resize(7 + 2 * 65535, 0);
  EXPECT_FALSE(DecodeObjectData(huge));
  // An object without pixels has nothing to show or edit.
  EXPECT_FALSE(DecodeObjectData(hex_bytes("00 00 04 00 00 00 00")));
  EXPECT_FALSE(DecodeObjectData(hex_bytes("00 00 06 00 00 00 01 00 00")));
  EXPECT_FALSE(DecodeObjectData(hex_bytes("00 00 04 00 05 00 00")));
}

TEST(ObjectData, EncodeRefusesInconsistentBitmaps) {
  EXPECT_TRUE(EncodeBitmap(Make(2, 2, {1, 2, 3})).empty());
  EXPECT_TRUE(EncodeBitmap(Make(-1, 0, {})).empty());
  EXPECT_TRUE(EncodeBitmap(Make(0, 0, {})).empty());
  EXPECT_TRUE(EncodeBitmap(Make(5, 0, {})).empty());
  EXPECT_TRUE(EncodeBitmap(Make(65536, 1, std::vector<std::uint8_t>(65536, 1))).empty());
  // 65,535 x 200 alternating pixels need more than a 24-bit ObjectDataLength.
  IndexedBitmap big{65535, 200, std::vector<std::uint8_t>(65535u * 200u)};
  for (std::size_t i = 0; i < big.pixels.size(); i += 2) big.pixels[i] = 1;
  EXPECT_TRUE(EncodeBitmap(big).empty());
}

TEST(ObjectData, WorstCaseLineFillsTheReservedSizeExactly) {
  for (std::size_t width : {1u, 2u, 3u, 7u, 8u, 1919u, 1920u}) {
    std::vector<std::uint8_t> row(width);
    for (std::size_t x = 1; x < width; x += 2) row[x] = 200;  // 0, C, 0, C, ...
    Bytes out(MaxEncodedLineSize(width));
    EXPECT_EQ(EncodeLine(row, out), MaxEncodedLineSize(width)) << width;
    std::vector<std::uint8_t> back(width, 0xEE);
    EXPECT_EQ(DecodeLine(out, back), out.size());
    EXPECT_EQ(back, row);
    Bytes too_small(MaxEncodedLineSize(width) - 1);
    EXPECT_EQ(EncodeLine(row, too_small), 0u);
  }
}

TEST(ObjectData, RoundTripsPicturesOfEveryRunShape) {
  std::mt19937 rng(1234);
  auto random_picture = [&](int width, int height, int max_run) {
    IndexedBitmap b{width, height, {}};
    b.pixels.reserve(static_cast<std::size_t>(width) * height);
    while (b.pixels.size() < static_cast<std::size_t>(width) * height) {
      const int run = 1 + static_cast<int>(rng() % static_cast<unsigned>(max_run));
      const auto colour = static_cast<std::uint8_t>(rng() % 3 == 0 ? 0 : rng() % 256);
      for (int i = 0; i < run && b.pixels.size() < static_cast<std::size_t>(width) * height; ++i)
        b.pixels.push_back(colour);
    }
    return b;
  };
  const IndexedBitmap cases[] = {
      random_picture(1, 1, 1),      random_picture(17, 9, 3),     random_picture(300, 40, 70),
      random_picture(720, 30, 400), random_picture(1920, 4, 20000),
      // Rows wider than one 14-bit run, in both colour 0 and another colour.
      Make(40000, 2, [] {
        std::vector<std::uint8_t> p(80000, 0);
        std::fill(p.begin() + 40000, p.end(), 3);
        return p;
      }()),
  };
  for (const IndexedBitmap& picture : cases) {
    const Bytes code = EncodeBitmap(picture);
    ASSERT_FALSE(code.empty());
    const auto back = DecodeObjectData(code);
    ASSERT_TRUE(back) << picture.width << "x" << picture.height;
    EXPECT_EQ(*back, picture) << picture.width << "x" << picture.height;
    EXPECT_EQ(ReferenceDecode(code), back);
  }
}

TEST(RunLengthCode, RunsEndWhereverTheColourChanges) {
  // Two runs split at every position of rows up to three words long.
  for (std::size_t width = 1; width <= 24; ++width) {
    for (std::size_t split = 1; split <= width; ++split) {
      std::vector<std::uint8_t> row(width, 4);
      std::fill(row.begin() + static_cast<std::ptrdiff_t>(split), row.end(), 0);
      Bytes expect = RunCode(split, 4);
      if (split < width) {
        const Bytes second = RunCode(width - split, 0);
        expect.insert(expect.end(), second.begin(), second.end());
      }
      expect.insert(expect.end(), {0, 0});
      EXPECT_EQ(EncodeRow(row), expect) << width << " " << split;
    }
  }
}

TEST(ObjectData, MalformedDataIsRejectedWithoutHarm) {
  std::mt19937 rng(99);
  IndexedBitmap picture{37, 11, {}};
  for (int i = 0; i < 37 * 11; ++i) picture.pixels.push_back(static_cast<std::uint8_t>((i / 5) % 4 * 60));
  const Bytes good = EncodeBitmap(picture);
  ASSERT_TRUE(DecodeObjectData(good));

  // Truncated at every length, once with the original header and once with a header that agrees with the
  // shorter size: the last line always lacks its end code.
  for (std::size_t n = 0; n < good.size(); ++n) {
    Bytes cut(good.begin(), good.begin() + static_cast<std::ptrdiff_t>(n));
    EXPECT_FALSE(DecodeObjectData(cut)) << n;
    if (n >= 7) {
      store_be24(cut.data(), static_cast<std::uint32_t>(n - 3));
      EXPECT_FALSE(DecodeObjectData(cut)) << "consistent header, " << n;
    }
  }
  // Random byte flips after the length field: whatever the decoder accepts, a plain decoder accepts too,
  // with the same pixels.
  int accepted = 0;
  for (int round = 0; round < 4000; ++round) {
    Bytes bad = good;
    const int flips = 1 + static_cast<int>(rng() % 4);
    for (int f = 0; f < flips; ++f) {
      bad[3 + rng() % (bad.size() - 3)] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
    }
    const auto got = DecodeObjectData(bad);
    EXPECT_EQ(got, ReferenceDecode(bad)) << round;
    if (got) {
      ++accepted;
      EXPECT_EQ(got->pixels.size(), static_cast<std::size_t>(got->width) * got->height);
    }
  }
  EXPECT_GT(accepted, 0) << "some flips only change colours";

  // Random code bytes under a consistent header of a small size: same verdict as the plain decoder.
  for (int round = 0; round < 3000; ++round) {
    Bytes data(7 + rng() % 120);
    for (auto& b : data) b = static_cast<std::uint8_t>(rng() % 4 == 0 ? 0 : rng());
    store_be24(data.data(), static_cast<std::uint32_t>(data.size() - 3));
    store_be16(data.data() + 3, static_cast<std::uint16_t>(rng() % 300));
    store_be16(data.data() + 5, static_cast<std::uint16_t>(rng() % 6));
    EXPECT_EQ(DecodeObjectData(data), ReferenceDecode(data)) << round;
  }
}

}  // namespace
}  // namespace veld
