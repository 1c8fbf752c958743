// SPDX-License-Identifier: GPL-3.0-or-later
// The IG streams of the generated test discs, checked against their truth files.
#include "veld/graphics/gs_data.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <random>
#include <nlohmann/json.hpp>

#include "support/test_support.h"
#include "veld/graphics/button_images.h"
#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"
#include "veld/graphics/gs_parser.h"
#include "veld/graphics/rle.h"
#include "veld/graphics/segment_file.h"

namespace veld {
namespace {

namespace fs = std::filesystem;

struct IgStream {
  std::string name;  // variant/segment file
  fs::path file;
  nlohmann::json truth;  // the PID's "ig" entry
};

std::vector<IgStream> GeneratedIgStreams() {
  std::vector<IgStream> out;
  const fs::path root = test::test_discs_dir();
  std::vector<fs::path> variants;
  for (const auto& entry : fs::directory_iterator(root)) {
    if (fs::exists(entry.path() / "truth.json")) variants.push_back(entry.path());
  }
  std::sort(variants.begin(), variants.end());
  for (const auto& dir : variants) {
    const Bytes text = test::read_file(dir / "truth.json");
    const auto truth = nlohmann::json::parse(text.begin(), text.end());
    for (const auto& [clip, info] : truth.at("clips").items()) {
      if (!info.contains("ig")) continue;
      for (const auto& [pid, ig] : info.at("ig").items()) {
        const std::string file = ig.at("segment_file").get<std::string>();
        out.push_back({dir.filename().string() + "/" + file, dir / file, ig});
      }
    }
  }
  return out;
}

std::vector<CDsData*> DisplaySets(CGsData& gs) {
  std::vector<CDsData*> out;
  for (auto& epoch : gs.Epochs) {
    for (auto& ds : epoch.DisplaySets) out.push_back(&ds);
  }
  return out;
}

TEST(GeneratedDiscs, EveryIgStreamIsWrittenBackByteForByte) {
  const auto streams = GeneratedIgStreams();
  ASSERT_GE(streams.size(), 5u);
  for (const auto& s : streams) {
    SCOPED_TRACE(s.name);
    const Bytes file = test::read_file(s.file);
    CGsData gs;
    std::string error;
    ASSERT_TRUE(ReadGraphicsStream(s.file, gs, &error)) << error;
    EXPECT_TRUE(gs.HasIcs);
    EXPECT_EQ(gs.DisplaySetCount(), s.truth.at("display_sets").size());
    Bytes out;
    ASSERT_TRUE(WriteGraphicsStream(out, gs, &error)) << error;
    EXPECT_EQ(out.size(), file.size());
    EXPECT_TRUE(out == file);

    // The indexer sees one access unit per segment and the stream's video descriptor.
    CGsParser parser;
    ASSERT_EQ(parser.Parse(s.file), CGsParser::kEnd) << parser.Error();
    EXPECT_TRUE(parser.IsIg());
    EXPECT_EQ(parser.Info().Width, gs.Width);
    EXPECT_EQ(parser.Info().Height, gs.Height);
    std::size_t segments = 0;
    for (CDsData* ds : DisplaySets(gs)) {
      segments += ds->IcsArray.size() + ds->PdsFolder.size() + ds->OdsArray.size() + 1;
    }
    EXPECT_EQ(parser.Info().AccessUnits, segments);
    EXPECT_EQ(parser.Info().TotalBytes, file.size() - 10 * segments);
  }
}

TEST(GeneratedDiscs, CompositionsSurviveParseWriteParse) {
  for (const auto& s : GeneratedIgStreams()) {
    SCOPED_TRACE(s.name);
    CGsData gs;
    ASSERT_TRUE(ReadGraphicsStream(s.file, gs));
    int n = 0;
    for (CDsData* ds : DisplaySets(gs)) {
      SCOPED_TRACE(++n);
      std::string error;
      const auto ic = ParseComposition(*ds, &error);
      ASSERT_TRUE(ic.has_value()) << error;
      EXPECT_FALSE(ic->Pages.empty());
      EXPECT_EQ(ic->CompositionLength + 3, JoinIcsFragments(*ds).size());
      Bytes written;
      ASSERT_GT(ic->Write(&written, SIcWriteOptions{true}), 0u);
      CIcData again;
      ASSERT_EQ(again.Parse(written, &error), static_cast<long>(written.size())) << error;
      EXPECT_TRUE(again == *ic);
      EXPECT_TRUE(written == JoinIcsFragments(*ds));
    }
  }
}

TEST(GeneratedDiscs, EveryObjectDecodesToTheTruthWithItsPalette) {
  std::size_t objects = 0;
  for (const auto& s : GeneratedIgStreams()) {
    SCOPED_TRACE(s.name);
    CGsData gs;
    ASSERT_TRUE(ReadGraphicsStream(s.file, gs));
    const auto sets = DisplaySets(gs);
    const auto& truth_sets = s.truth.at("display_sets");
    ASSERT_EQ(sets.size(), truth_sets.size());
    for (std::size_t i = 0; i < sets.size(); ++i) {
      const CDsData& ds = *sets[i];
      const auto& truth = truth_sets[i];
      SCOPED_TRACE(truth.at("ds").get<int>());
      const auto ic = ParseComposition(ds);
      ASSERT_TRUE(ic.has_value());
      std::vector<std::uint16_t> listed = ListObjects(ds);
      std::vector<std::uint16_t> expected;
      for (const auto& o : truth.at("objects")) expected.push_back(o.at("id").get<std::uint16_t>());
      std::sort(listed.begin(), listed.end());
      std::sort(expected.begin(), expected.end());
      EXPECT_EQ(listed, expected);
      for (const auto& o : truth.at("objects")) {
        const auto id = o.at("id").get<std::uint16_t>();
        SCOPED_TRACE(id);
        const std::uint8_t palette_id = FindObjectPalette(*ic, id);
        EXPECT_EQ(palette_id, o.at("palette_id").get<int>());
        const auto decoded = DecodeObjectBitmap(ds, id, palette_id);
        ASSERT_TRUE(decoded.has_value());
        EXPECT_EQ(decoded->bitmap.width, o.at("width").get<int>());
        EXPECT_EQ(decoded->bitmap.height, o.at("height").get<int>());
        EXPECT_EQ(test::sha256_hex(decoded->bitmap.pixels), o.at("pixels_sha256").get<std::string>());
        std::vector<SPaletteEntry> entries;
        for (const auto& e : o.at("palette")) {
          entries.push_back({e[0].get<std::uint8_t>(), e[1].get<std::uint8_t>(), e[2].get<std::uint8_t>(),
                             e[3].get<std::uint8_t>(), e[4].get<std::uint8_t>()});
        }
        const ArgbPalette expected_palette = PaletteToArgb(entries);
        for (std::size_t k = 0; k < expected_palette.size(); ++k) {
          ASSERT_EQ(decoded->palette[k], expected_palette[k]) << "palette entry " << k;
        }
        ++objects;
      }
    }
  }
  EXPECT_GT(objects, 50u);
}

TEST(GeneratedDiscs, ReplacingEveryObjectByItsOwnPixelsKeepsTheStream) {
  // Every object replaced by its own decoded pixels (new fragments, version 0): the rewritten stream
  // reads back with the same pixels for every object.
  for (const auto& s : GeneratedIgStreams()) {
    SCOPED_TRACE(s.name);
    CGsData gs;
    ASSERT_TRUE(ReadGraphicsStream(s.file, gs));
    std::vector<std::vector<Bytes>> before;
    for (CDsData* ds : DisplaySets(gs)) {
      auto& row = before.emplace_back();
      for (const auto id : ListObjects(*ds)) {
        const auto decoded = DecodeObjectData(JoinObjectFragments(*ds, id));
        ASSERT_TRUE(decoded.has_value());
        row.push_back(decoded->pixels);
        ASSERT_TRUE(ReplaceObjectFromBitmap(*ds, id, *decoded));
      }
    }
    Bytes out;
    std::string error;
    ASSERT_TRUE(WriteGraphicsStream(out, gs, &error)) << error;
    CGsData again;
    ASSERT_TRUE(ReadGraphicsStream(out, again, &error)) << error;
    const auto sets = DisplaySets(again);
    ASSERT_EQ(sets.size(), before.size());
    for (std::size_t i = 0; i < sets.size(); ++i) {
      const auto ids = ListObjects(*sets[i]);
      ASSERT_EQ(ids.size(), before[i].size());
      for (std::size_t k = 0; k < ids.size(); ++k) {
        EXPECT_EQ(DecodeObjectData(JoinObjectFragments(*sets[i], ids[k]))->pixels, before[i][k]);
      }
    }
  }
}


TEST(GeneratedDiscs, APictureMirroredByAnotherToolIsImported) {
  if (std::system("convert -version > /dev/null 2>&1") != 0) GTEST_SKIP() << "ImageMagick's convert is missing";
  const auto streams = GeneratedIgStreams();
  ASSERT_FALSE(streams.empty());
  CGsData gs;
  ASSERT_TRUE(ReadGraphicsStream(streams.front().file, gs));
  CDsData& ds = *DisplaySets(gs).front();
  const auto ic = ParseComposition(ds);
  ASSERT_TRUE(ic.has_value());
  test::TempDir dir;
  int imported = 0;
  int asymmetric = 0;
  for (const auto id : ListObjects(ds)) {
    SCOPED_TRACE(id);
    const auto object = DecodeObjectBitmap(ds, id, FindObjectPalette(*ic, id));
    ASSERT_TRUE(object.has_value());
    const fs::path original = dir / "original.gif";
    const fs::path edited = ImageFileName(dir.path(), id);
    ASSERT_EQ(SaveObjectImage(object->bitmap, object->palette, original), "");
    // Mirror the picture left to right; the tool keeps the colour table as it is.
    const std::string command = "convert '" + original.string() + "' -flop '" + edited.string() + "'";
    ASSERT_EQ(std::system(command.c_str()), 0) << command;
    test::RecordingMessenger messenger;
    ASSERT_TRUE(ImportButtonImage(ds, id, edited, messenger)) << messenger.all_text();
    IndexedBitmap mirrored = object->bitmap;
    for (int y = 0; y < mirrored.height; ++y) {
      auto row = mirrored.pixels.begin() + static_cast<std::ptrdiff_t>(y) * mirrored.width;
      std::reverse(row, row + mirrored.width);
    }
    const auto back = DecodeObjectData(JoinObjectFragments(ds, id));
    ASSERT_TRUE(back.has_value());
    EXPECT_TRUE(back->pixels == mirrored.pixels);
    if (mirrored.pixels != object->bitmap.pixels) ++asymmetric;
    if (++imported == 4) break;
  }
  EXPECT_GT(asymmetric, 0);  // the mirror changed something
}

// Reads a damaged stream and, when it is accepted, runs the whole chain on it; nothing may crash.
void Exercise(ByteSpan data) {
  CGsData gs;
  if (!ReadGraphicsStream(data, gs)) return;
  for (CDsData* ds : DisplaySets(gs)) {
    const auto ic = ParseComposition(*ds);
    if (ic) ic->Write(nullptr);
    for (const auto id : ListObjects(*ds)) {
      DecodeObjectBitmap(*ds, id, ic ? FindObjectPalette(*ic, id) : kNoPalette);
    }
  }
  Bytes out;
  WriteGraphicsStream(out, gs);
}

TEST(GeneratedDiscs, DamagedStreamsAreRejectedWithoutCrash) {
  const auto streams = GeneratedIgStreams();
  // The smallest stream, cut at every length.
  const auto smallest = std::min_element(streams.begin(), streams.end(), [](const IgStream& a, const IgStream& b) {
    return fs::file_size(a.file) < fs::file_size(b.file);
  });
  ASSERT_NE(smallest, streams.end());
  const Bytes file = test::read_file(smallest->file);
  std::size_t accepted = 0;
  for (std::size_t n = 0; n < file.size(); ++n) {
    CGsData gs;
    if (ReadGraphicsStream(ByteSpan(file).first(n), gs)) {
      ++accepted;
      EXPECT_LT(gs.DisplaySetCount(), smallest->truth.at("display_sets").size());
    }
  }
  EXPECT_LT(accepted, file.size() / 4);
  // Every stream with random bit flips, through the whole chain and the indexer.
  std::mt19937 rng(2026);
  test::TempDir dir;
  for (const auto& s : streams) {
    const Bytes good = test::read_file(s.file);
    for (int round = 0; round < 60; ++round) {
      Bytes bad = good;
      const int flips = 1 + static_cast<int>(rng() % 8);
      for (int i = 0; i < flips; ++i) bad[rng() % bad.size()] ^= static_cast<std::uint8_t>(1u << (rng() % 8));
      Exercise(bad);
      if (round % 10 == 0) {
        test::write_file(dir / "bad.ig", bad);
        CGsParser parser;
        const int r = parser.Parse(dir / "bad.ig");
        EXPECT_NE(r, CGsParser::kOpenFailed) << parser.Error();
        EXPECT_LE(parser.Info().TotalBytes, bad.size());
      }
    }
  }
}

}  // namespace
}  // namespace veld
