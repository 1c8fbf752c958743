// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/png_file.h"

#include <png.h>

#include <csetjmp>
#include <cstdio>
#include <vector>

#include <fmt/format.h>

namespace veld {
namespace {

// libpng reports errors by longjmp: the functions that call it keep only trivially destructible locals,
// and every C++ object they use is made by their callers.
struct PngWriter {
  Bytes* out = nullptr;
  png_structp png = nullptr;
  png_infop info = nullptr;
  char message[200] = {};

  ~PngWriter() {
    if (png) png_destroy_write_struct(&png, info ? &info : nullptr);
  }
};

void PngAppend(png_structp png, png_bytep data, png_size_t size) {
  auto* writer = static_cast<PngWriter*>(png_get_io_ptr(png));
  writer->out->insert(writer->out->end(), data, data + size);
}

void PngFlush(png_structp) {}

void PngError(png_structp png, png_const_charp text) {
  auto* writer = static_cast<PngWriter*>(png_get_error_ptr(png));
  if (writer && text) std::snprintf(writer->message, sizeof writer->message, "%s", text);
  png_longjmp(png, 1);
}

void PngWarning(png_structp, png_const_charp) {}

struct PngLayout {
  int width = 0;
  int height = 0;
  int colour_type = 0;
  const png_color* plte = nullptr;  // colour type 3 only
  int plte_count = 0;
  const png_byte* trns = nullptr;
  int trns_count = 0;
  png_bytep* rows = nullptr;
};

bool PngWrite(PngWriter* w, const PngLayout* layout) {
  w->png = png_create_write_struct(PNG_LIBPNG_VER_STRING, w, PngError, PngWarning);
  if (!w->png) return false;
  w->info = png_create_info_struct(w->png);
  if (!w->info) return false;
  if (setjmp(png_jmpbuf(w->png))) return false;
  png_set_write_fn(w->png, w, PngAppend, PngFlush);
  // Fast settings: these pictures are written once per extraction, and most of their area is flat.
  png_set_compression_level(w->png, 3);
  png_set_IHDR(w->png, w->info, static_cast<png_uint_32>(layout->width), static_cast<png_uint_32>(layout->height), 8,
               layout->colour_type, PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  if (layout->colour_type == PNG_COLOR_TYPE_PALETTE) {
    png_set_filter(w->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_NONE);
    png_set_PLTE(w->png, w->info, layout->plte, layout->plte_count);
    if (layout->trns_count > 0) png_set_tRNS(w->png, w->info, layout->trns, layout->trns_count, nullptr);
  } else {
    png_set_filter(w->png, PNG_FILTER_TYPE_BASE, PNG_FILTER_SUB);
  }
  png_write_info(w->png, w->info);
  png_write_image(w->png, layout->rows);
  png_write_end(w->png, w->info);
  return true;
}

std::optional<Bytes> Encode(const PngLayout& layout, std::string* error) {
  Bytes out;
  PngWriter writer;
  writer.out = &out;
  if (!PngWrite(&writer, &layout)) {
    if (error) *error = writer.message[0] ? writer.message : "PNG encoder error";
    return std::nullopt;
  }
  return out;
}

bool CheckSize(int width, int height, std::size_t bytes, std::size_t per_pixel, std::string* error) {
  // PNG allows up to 2^31 - 1 per side; the pictures here are bounded by kMaxBitmapPixels.
  if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxBitmapPixels ||
      bytes != static_cast<std::size_t>(width) * static_cast<std::size_t>(height) * per_pixel) {
    if (error) {
      *error = fmt::format("the picture is empty or inconsistent ({} x {}, {} bytes)", width, height, bytes);
    }
    return false;
  }
  return true;
}

}  // namespace

std::optional<Bytes> EncodeIndexedPng(const IndexedBitmap& bitmap, const ArgbPalette& palette, std::string* error) {
  if (!CheckSize(bitmap.width, bitmap.height, bitmap.pixels.size(), 1, error)) return std::nullopt;
  png_color colours[256];
  png_byte alpha[256];
  int last_translucent = -1;
  for (int i = 0; i < 256; ++i) {
    const std::uint32_t argb = palette[static_cast<std::size_t>(i)];
    colours[i].red = static_cast<png_byte>(argb >> 16);
    colours[i].green = static_cast<png_byte>(argb >> 8);
    colours[i].blue = static_cast<png_byte>(argb);
    alpha[i] = static_cast<png_byte>(argb >> 24);
    if (alpha[i] != 255) last_translucent = i;
  }
  std::vector<png_bytep> rows(static_cast<std::size_t>(bitmap.height));
  for (int y = 0; y < bitmap.height; ++y) {
    // libpng only reads the rows it is given.
    rows[static_cast<std::size_t>(y)] =
        const_cast<png_bytep>(bitmap.pixels.data() + static_cast<std::size_t>(y) * bitmap.width);
  }
  PngLayout layout;
  layout.width = bitmap.width;
  layout.height = bitmap.height;
  layout.colour_type = PNG_COLOR_TYPE_PALETTE;
  layout.plte = colours;
  layout.plte_count = 256;
  layout.trns = alpha;
  layout.trns_count = last_translucent + 1;
  layout.rows = rows.data();
  return Encode(layout, error);
}

std::optional<Bytes> EncodeRgbaPng(const RgbaImage& image, std::string* error) {
  if (!CheckSize(image.width, image.height, image.pixels.size(), 4, error)) return std::nullopt;
  std::vector<png_bytep> rows(static_cast<std::size_t>(image.height));
  for (int y = 0; y < image.height; ++y) {
    rows[static_cast<std::size_t>(y)] =
        const_cast<png_bytep>(image.pixels.data() + static_cast<std::size_t>(y) * image.width * 4);
  }
  PngLayout layout;
  layout.width = image.width;
  layout.height = image.height;
  layout.colour_type = PNG_COLOR_TYPE_RGB_ALPHA;
  layout.rows = rows.data();
  return Encode(layout, error);
}

}  // namespace veld
