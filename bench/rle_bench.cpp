// SPDX-License-Identifier: GPL-3.0-or-later
// Run-length decode and encode speed of graphics objects, in megapixels per CPU second, on menu-like
// pictures: a full 1920 x 1080 overlay and a single button.
#include <benchmark/benchmark.h>

#include <time.h>

#include <cstdint>
#include <random>

#include <fmt/format.h>

#include "veld/graphics/rle.h"

namespace {

// A transparent plane with rows of rounded buttons: a vertical gradient of 16 palette entries, a two-pixel
// anti-aliased border and text-like strokes of a few colours inside; the look of an authored menu page.
veld::IndexedBitmap MenuPicture(int width, int height, int columns, int rows) {
  veld::IndexedBitmap b{width, height, std::vector<std::uint8_t>(static_cast<std::size_t>(width) * height, 0)};
  std::mt19937 rng(42);
  const int cell_w = width / columns;
  const int cell_h = height / rows;
  for (int r = 0; r < rows; ++r) {
    for (int c = 0; c < columns; ++c) {
      const int x0 = c * cell_w + cell_w / 10, x1 = (c + 1) * cell_w - cell_w / 10;
      const int y0 = r * cell_h + cell_h / 6, y1 = (r + 1) * cell_h - cell_h / 6;
      const int radius = (y1 - y0) / 4;
      for (int y = y0; y < y1; ++y) {
        for (int x = x0; x < x1; ++x) {
          // Rounded corners: distance from the nearest corner centre.
          const int cx = x < x0 + radius ? x0 + radius : x >= x1 - radius ? x1 - radius - 1 : x;
          const int cy = y < y0 + radius ? y0 + radius : y >= y1 - radius ? y1 - radius - 1 : y;
          const int d2 = (x - cx) * (x - cx) + (y - cy) * (y - cy);
          if (d2 > radius * radius) continue;
          std::uint8_t colour = static_cast<std::uint8_t>(16 + (y - y0) * 16 / (y1 - y0));  // gradient
          if (d2 > (radius - 2) * (radius - 2) || y < y0 + 2 || y >= y1 - 2) colour = 40 + (d2 & 1);  // border
          b.pixels[static_cast<std::size_t>(y) * width + x] = colour;
        }
      }
      // Text: glyph-sized strokes on a baseline in the middle of the button.
      const int text_y = (y0 + y1) / 2 - 12;
      for (int gx = x0 + radius; gx + 14 < x1 - radius; gx += 18) {
        for (int s = 0; s < 3; ++s) {
          const bool vertical = rng() % 2;
          const int sx = gx + static_cast<int>(rng() % 10), sy = text_y + static_cast<int>(rng() % 16);
          const int len = 6 + static_cast<int>(rng() % 10);
          for (int i = 0; i < len; ++i) {
            for (int t = 0; t < 3; ++t) {
              const int x = vertical ? sx + t : sx + i, y = vertical ? sy + i : sy + t;
              if (x < x1 && y < y1) b.pixels[static_cast<std::size_t>(y) * width + x] = t == 1 ? 250 : 251;
            }
          }
        }
      }
    }
  }
  return b;
}

// CPU time of this thread: the machine may be shared, so wall time would measure the neighbours too.
double ThreadCpuSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return static_cast<double>(ts.tv_sec) + static_cast<double>(ts.tv_nsec) * 1e-9;
}

// Reports megapixels per CPU second as the label (counters would print "k/s" scaled values).
void SetRate(benchmark::State& state, const veld::IndexedBitmap& picture, std::size_t code_bytes,
             double start_cpu) {
  const double pixels = static_cast<double>(picture.pixels.size());
  const double seconds = ThreadCpuSeconds() - start_cpu;
  const double mpixels = pixels * static_cast<double>(state.iterations()) / 1e6;
  state.SetLabel(fmt::format("{:.1f} MPixel/s ({} x {}, {} code bytes)", seconds > 0 ? mpixels / seconds : 0.0,
                             picture.width, picture.height, code_bytes));
  state.SetItemsProcessed(static_cast<std::int64_t>(pixels) * state.iterations());
}

const veld::IndexedBitmap& Picture(int which) {
  static const veld::IndexedBitmap plane = MenuPicture(1920, 1080, 3, 6);
  static const veld::IndexedBitmap button = MenuPicture(400, 90, 1, 1);
  return which == 0 ? plane : button;
}

void BM_Decode(benchmark::State& state) {
  const veld::IndexedBitmap& picture = Picture(static_cast<int>(state.range(0)));
  const veld::Bytes code = veld::EncodeBitmap(picture);
  const double start = ThreadCpuSeconds();
  for (auto _ : state) {
    auto bitmap = veld::DecodeObjectData(code);
    benchmark::DoNotOptimize(bitmap);
    if (!bitmap || bitmap->pixels != picture.pixels) state.SkipWithError("decode mismatch");
  }
  SetRate(state, picture, code.size(), start);
}

void BM_Encode(benchmark::State& state) {
  const veld::IndexedBitmap& picture = Picture(static_cast<int>(state.range(0)));
  std::size_t size = 0;
  const double start = ThreadCpuSeconds();
  for (auto _ : state) {
    veld::Bytes code = veld::EncodeBitmap(picture);
    size = code.size();
    benchmark::DoNotOptimize(code);
  }
  SetRate(state, picture, size, start);
}

// Argument 0: the 1920 x 1080 menu plane; 1: one 400 x 90 button.
BENCHMARK(BM_Decode)->Arg(0)->Arg(1);
BENCHMARK(BM_Encode)->Arg(0)->Arg(1);

}  // namespace
