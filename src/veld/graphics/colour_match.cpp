// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/colour_match.h"

#include <algorithm>
#include <cmath>
#include <limits>
#include <unordered_map>

namespace veld {
namespace {

constexpr double kFar = std::numeric_limits<double>::infinity();

double alpha_of(std::uint32_t argb) { return static_cast<double>(argb >> 24) / 255.0; }

double Linear(std::uint32_t component) {
  const double c = static_cast<double>(component & 0xFF) / 255.0;
  return c <= 0.04045 ? c / 12.92 : std::pow((c + 0.055) / 1.055, 2.4);
}

// A point of the matching space: OKLab and straight alpha.
struct SPoint {
  SOklab lab;
  double alpha = 0;
};

// The distance of a (possibly dithered) point to an entry, with the rules of ColourDistance.
double PointDistance(const SPoint& p, bool alpha_known, bool transparent, const SPoint& e) {
  const double dl = p.lab.L - e.lab.L, da = p.lab.a - e.lab.a, db = p.lab.b - e.lab.b;
  const double colour = dl * dl + da * da + db * db;
  if (!alpha_known) {
    if (transparent) return e.alpha;
    return e.alpha == 0 ? kFar : std::sqrt(colour);
  }
  const double dalpha = p.alpha - e.alpha;
  return std::sqrt(p.alpha * e.alpha * colour + dalpha * dalpha);
}

SPoint PointOf(std::uint32_t argb) { return SPoint{ToOklab(argb), alpha_of(argb)}; }

// The entries of the palette in the matching space, and which ids may be chosen.
struct SEntries {
  std::array<SPoint, 256> points{};
  std::vector<int> ids;
};

SEntries MakeEntries(const ArgbPalette& menu, const std::array<bool, 256>& defined) {
  SEntries e;
  for (int i = 0; i < 256; ++i) {
    if (!defined[static_cast<std::size_t>(i)]) continue;
    e.points[static_cast<std::size_t>(i)] = PointOf(menu[static_cast<std::size_t>(i)]);
    e.ids.push_back(i);
  }
  return e;
}

// The least distance and the entries that reach it.
struct SNearest {
  double distance = kFar;
  std::vector<int> tied;
};

SNearest Nearest(const SPoint& p, bool alpha_known, bool transparent, const SEntries& entries) {
  SNearest n;
  for (int id : entries.ids) {
    const double d = PointDistance(p, alpha_known, transparent, entries.points[static_cast<std::size_t>(id)]);
    if (d < n.distance) {
      n.distance = d;
      n.tied.assign(1, id);
    } else if (d == n.distance && d != kFar) {
      n.tied.push_back(id);
    }
  }
  return n;
}

// Picks among the tied entries of pixel i (the ambiguity rule) and counts an ambiguous pixel.
int Decide(const SNearest& n, const ArgbPalette& menu, const IndexedBitmap* original, std::size_t i,
           std::uint32_t colour, int x, int y, SColourMatch& out) {
  const int before = original ? original->pixels[i] : -1;
  bool ambiguous = false;
  const int id = ChooseTiedEntry(n.tied, menu, before, &ambiguous);
  if (ambiguous && out.ambiguous++ == 0) {
    out.ambiguous_colour = colour;
    out.ambiguous_x = x;
    out.ambiguous_y = y;
  }
  return id;
}

// Counts a pixel whose own colour lies at distance d from the palette.
void Record(double d, std::uint32_t colour, int x, int y, SColourMatch& out) {
  if (d <= 0) return;
  ++out.mapped;
  if (d > out.largest) {
    out.largest = d;
    out.largest_colour = colour;
    out.largest_x = x;
    out.largest_y = y;
  }
}

// Diffuses the error of one pixel into the working points of its neighbours that still take error.
void Diffuse(std::vector<SPoint>& work, const std::vector<bool>& takes, int w, int h, int x, int y,
             const SPoint& error, bool alpha_known) {
  static constexpr int kDx[4] = {1, -1, 0, 1};
  static constexpr int kDy[4] = {0, 1, 1, 1};
  static constexpr double kWeight[4] = {7.0 / 16, 3.0 / 16, 5.0 / 16, 1.0 / 16};
  for (int k = 0; k < 4; ++k) {
    const int nx = x + kDx[k], ny = y + kDy[k];
    if (nx < 0 || nx >= w || ny >= h) continue;
    const std::size_t j = static_cast<std::size_t>(ny) * static_cast<std::size_t>(w) + static_cast<std::size_t>(nx);
    if (!takes[j]) continue;
    SPoint& p = work[j];
    p.lab.L += error.lab.L * kWeight[k];
    p.lab.a += error.lab.a * kWeight[k];
    p.lab.b += error.lab.b * kWeight[k];
    if (alpha_known) p.alpha = std::clamp(p.alpha + error.alpha * kWeight[k], 0.0, 1.0);
  }
}

}  // namespace

SOklab ToOklab(std::uint32_t argb) {
  const double r = Linear(argb >> 16), g = Linear(argb >> 8), b = Linear(argb);
  const double l = std::cbrt(0.4122214708 * r + 0.5363325363 * g + 0.0514459929 * b);
  const double m = std::cbrt(0.2119034982 * r + 0.6806995451 * g + 0.1073969566 * b);
  const double s = std::cbrt(0.0883024619 * r + 0.2817188376 * g + 0.6299787005 * b);
  return SOklab{0.2104542553 * l + 0.7936177850 * m - 0.0040720468 * s,
                1.9779984951 * l - 2.4285922050 * m + 0.4505937099 * s,
                0.0259040371 * l + 0.7827717662 * m - 0.8086757660 * s};
}

double ColourDistance(std::uint32_t picture, bool alpha_known, std::uint32_t entry) {
  return PointDistance(PointOf(picture), alpha_known, (picture >> 24) == 0, PointOf(entry));
}

int ChooseTiedEntry(std::span<const int> tied, const ArgbPalette& menu, int original, bool* ambiguous) {
  *ambiguous = false;
  if (tied.empty()) return original >= 0 ? original : 0;
  if (std::find(tied.begin(), tied.end(), original) != tied.end()) return original;
  int best = tied.front();
  bool alphas_differ = false;
  for (int id : tied) {
    const std::uint32_t a = menu[static_cast<std::size_t>(id)] >> 24;
    const std::uint32_t b = menu[static_cast<std::size_t>(best)] >> 24;
    alphas_differ |= a != (menu[static_cast<std::size_t>(tied.front())] >> 24);
    if (a > b || (a == b && id < best)) best = id;
  }
  *ambiguous = alphas_differ;
  return best;
}

SColourMatch MatchColours(const SPictureColours& picture, const ArgbPalette& menu, const std::array<bool, 256>& defined,
                          const IndexedBitmap* original, const SImportOptions& options) {
  SColourMatch out;
  const int w = picture.width, h = picture.height;
  const std::size_t count = picture.argb.size();
  if (original && (original->width != w || original->height != h)) original = nullptr;
  const SEntries entries = MakeEntries(menu, defined);
  std::unordered_map<std::uint32_t, SNearest> cache;
  const auto nearest_of = [&](std::uint32_t c) -> const SNearest& {
    auto [it, fresh] = cache.try_emplace(c);
    if (fresh) it->second = Nearest(PointOf(c), picture.alpha_known, (c >> 24) == 0, entries);
    return it->second;
  };
  const auto fixed = [&](std::size_t i) { return picture.fixed.empty() ? -1 : picture.fixed[i]; };
  // Which pixels take diffused error: those whose own colour is not in the palette.
  std::vector<bool> takes(options.dither ? count : 0);
  std::vector<SPoint> work(options.dither ? count : 0);
  for (std::size_t i = 0; i < takes.size(); ++i) {
    takes[i] = fixed(i) < 0 && nearest_of(picture.argb[i]).distance > 0;
    work[i] = PointOf(picture.argb[i]);
  }
  out.bitmap = IndexedBitmap{w, h, std::vector<std::uint8_t>(count)};
  for (std::size_t i = 0; i < count; ++i) {
    const int x = static_cast<int>(i % static_cast<std::size_t>(std::max(w, 1)));
    const int y = static_cast<int>(i / static_cast<std::size_t>(std::max(w, 1)));
    if (fixed(i) >= 0) {
      out.bitmap.pixels[i] = static_cast<std::uint8_t>(fixed(i));
      continue;
    }
    const std::uint32_t c = picture.argb[i];
    const SNearest& own = nearest_of(c);
    if (own.distance > 0 && options.colours == ColourMode::kExact) {
      out.foreign = c;
      out.foreign_x = x;
      out.foreign_y = y;
      return out;
    }
    Record(own.distance, c, x, y, out);
    if (!options.dither || !takes[i]) {
      out.bitmap.pixels[i] = static_cast<std::uint8_t>(Decide(own, menu, original, i, c, x, y, out));
      continue;
    }
    const SNearest n = Nearest(work[i], picture.alpha_known, (c >> 24) == 0, entries);
    const int id = Decide(n, menu, original, i, c, x, y, out);
    const SPoint& e = entries.points[static_cast<std::size_t>(id)];
    const SPoint error{{work[i].lab.L - e.lab.L, work[i].lab.a - e.lab.a, work[i].lab.b - e.lab.b},
                       work[i].alpha - e.alpha};
    Diffuse(work, takes, w, h, x, y, error, picture.alpha_known);
    out.bitmap.pixels[i] = static_cast<std::uint8_t>(id);
  }
  out.ok = true;
  return out;
}

}  // namespace veld
