// SPDX-License-Identifier: GPL-3.0-or-later
#include "veld/graphics/image_file.h"

#include <gif_lib.h>
#include <png.h>

#include <algorithm>
#include <csetjmp>
#include <cstring>
#include <memory>
#include <optional>

#include <fmt/format.h>

#include "veld/base/bytes.h"
#include "veld/base/file.h"
#include "veld/base/messages.h"
#include "veld/graphics/gif_writer.h"
#include "veld/graphics/png_file.h"

namespace veld {
namespace {

// ---------------------------------------------------------------------------------------------------
// GIF writing

// The GIF file of a bitmap: the palette's RGB in the global colour table, its lowest entry with alpha 0
// as the transparent index (and background colour).
Bytes EncodeGif(const IndexedBitmap& bitmap, const ArgbPalette& palette) {
  SGifColours colours;
  for (int i = 0; i < 256; ++i) {
    const std::uint32_t argb = palette[static_cast<std::size_t>(i)];
    colours.rgb[i][0] = static_cast<std::uint8_t>(argb >> 16);
    colours.rgb[i][1] = static_cast<std::uint8_t>(argb >> 8);
    colours.rgb[i][2] = static_cast<std::uint8_t>(argb);
    if (colours.transparent < 0 && (argb >> 24) == 0) colours.transparent = i;
  }
  colours.background = colours.transparent >= 0 ? colours.transparent : 0;
  return WriteGifFile(bitmap, colours);
}

// ---------------------------------------------------------------------------------------------------
// GIF reading

struct MemorySource {
  ByteSpan data;
  std::size_t pos = 0;
};

int GifRead(GifFileType* gif, GifByteType* buffer, int size) {
  auto* src = static_cast<MemorySource*>(gif->UserData);
  if (size <= 0) return 0;
  const std::size_t n = std::min(static_cast<std::size_t>(size), src->data.size() - src->pos);
  std::memcpy(buffer, src->data.data() + src->pos, n);
  src->pos += n;
  return static_cast<int>(n);
}

struct GifReaderCloser {
  void operator()(GifFileType* gif) const {
    int error = 0;
    DGifCloseFile(gif, &error);
  }
};

// Skips the sub-blocks of an extension whose first block has been read.
bool SkipExtension(GifFileType* gif, GifByteType* block) {
  while (block != nullptr) {
    if (DGifGetExtensionNext(gif, &block) == GIF_ERROR) return false;
  }
  return true;
}

// Reads the records up to the first frame's descriptor; transparent: the colour the graphic control
// extension before it names. false for a file without a frame or a damaged one.
bool ReadToFirstFrame(GifFileType* gif, int& transparent) {
  for (;;) {
    GifRecordType type = UNDEFINED_RECORD_TYPE;
    if (DGifGetRecordType(gif, &type) == GIF_ERROR) return false;
    if (type == TERMINATE_RECORD_TYPE) return false;  // no frame at all
    if (type == EXTENSION_RECORD_TYPE) {
      int code = 0;
      GifByteType* block = nullptr;
      if (DGifGetExtension(gif, &code, &block) == GIF_ERROR) return false;
      GraphicsControlBlock gcb;
      if (code == GRAPHICS_EXT_FUNC_CODE && block != nullptr && block[0] >= 4 &&
          DGifExtensionToGCB(block[0], block + 1, &gcb) == GIF_OK) {
        transparent = gcb.TransparentColor;
      }
      if (!SkipExtension(gif, block)) return false;
      continue;
    }
    return type == IMAGE_DESC_RECORD_TYPE && DGifGetImageDesc(gif) != GIF_ERROR;
  }
}

// The lines of the frame whose descriptor was read, onto the screen-sized bitmap.
bool ReadFrame(GifFileType* gif, IndexedBitmap& bitmap) {
  const GifImageDesc& frame = gif->Image;
  const int width = bitmap.width, height = bitmap.height;
  std::vector<GifPixelType> line(static_cast<std::size_t>(frame.Width) + 1);
  // Row order of the stored lines: top to bottom, or the four passes of an interlaced frame.
  static constexpr int kPassStart[4] = {0, 4, 2, 1};
  static constexpr int kPassStep[4] = {8, 8, 4, 2};
  const int passes = frame.Interlace ? 4 : 1;
  for (int pass = 0; pass < passes; ++pass) {
    const int start = frame.Interlace ? kPassStart[pass] : 0;
    const int step = frame.Interlace ? kPassStep[pass] : 1;
    for (int y = start; y < frame.Height; y += step) {
      if (frame.Width > 0 && DGifGetLine(gif, line.data(), frame.Width) == GIF_ERROR) return false;
      // The frame may lie partly outside the logical screen: only the covered part is kept.
      const int screen_y = frame.Top + y;
      if (screen_y >= height || frame.Left >= width) continue;
      const int count = std::min(frame.Width, width - frame.Left);
      std::memcpy(bitmap.pixels.data() + static_cast<std::size_t>(screen_y) * width + frame.Left, line.data(),
                  static_cast<std::size_t>(count));
    }
  }
  return true;
}

LoadedImage LoadGif(ByteSpan data) {
  LoadedImage result;  // kNotImage until the first frame has been read whole
  MemorySource src{data};
  int status = 0;
  std::unique_ptr<GifFileType, GifReaderCloser> gif(DGifOpen(&src, GifRead, &status));
  if (!gif) return result;
  const int width = gif->SWidth;
  const int height = gif->SHeight;
  if (width <= 0 || height <= 0 || std::int64_t{width} * height > kMaxBitmapPixels) return result;

  int transparent = NO_TRANSPARENT_COLOR;
  if (!ReadToFirstFrame(gif.get(), transparent)) return result;

  const GifImageDesc& frame = gif->Image;
  if (frame.Width < 0 || frame.Height < 0 || frame.Left < 0 || frame.Top < 0) return result;
  // A frame is decoded whole even where it leaves the screen; a huge one only comes from a damaged file.
  if (std::int64_t{frame.Width} * frame.Height > kMaxBitmapPixels) return result;
  IndexedBitmap bitmap;
  bitmap.width = width;
  bitmap.height = height;
  bitmap.pixels.assign(static_cast<std::size_t>(width) * static_cast<std::size_t>(height),
                       static_cast<std::uint8_t>(gif->SBackGroundColor));
  if (!ReadFrame(gif.get(), bitmap)) return result;
  result.check = ImageCheck::kOk;
  result.bitmap = std::move(bitmap);
  result.format = ImageFormat::kGif;
  const ColorMapObject* map = frame.ColorMap ? frame.ColorMap : gif->SColorMap;
  if (map && map->Colors) {
    result.palette_size = std::min(map->ColorCount, 256);
    for (int i = 0; i < result.palette_size; ++i) {
      const GifColorType& c = map->Colors[i];
      const std::uint32_t alpha = i == transparent ? 0 : 0xFF;
      result.palette[static_cast<std::size_t>(i)] = (alpha << 24) | (std::uint32_t{c.Red} << 16) |
                                                     (std::uint32_t{c.Green} << 8) | c.Blue;
    }
  }
  return result;
}

// ---------------------------------------------------------------------------------------------------
// PNG reading. libpng reports errors by longjmp; the functions that call it keep only trivially
// destructible locals, and every C++ object is made outside them.

struct PngReader {
  MemorySource src;
  png_structp png = nullptr;
  png_infop info = nullptr;
  png_uint_32 width = 0;
  png_uint_32 height = 0;
  int bit_depth = 0;
  int colour_type = 0;
  int passes = 1;
  std::size_t row_bytes = 0;
  ArgbPalette palette{};  // PLTE with tRNS alpha
  int palette_size = 0;

  ~PngReader() {
    if (png) png_destroy_read_struct(&png, info ? &info : nullptr, nullptr);
  }
};

void PngRead(png_structp png, png_bytep buffer, png_size_t size) {
  auto* src = static_cast<MemorySource*>(png_get_io_ptr(png));
  if (size > src->data.size() - src->pos) png_error(png, "unexpected end of file");
  std::memcpy(buffer, src->data.data() + src->pos, size);
  src->pos += size;
}

void PngError(png_structp png, png_const_charp) { png_longjmp(png, 1); }
void PngWarning(png_structp, png_const_charp) {}

// Reads the header and prepares the transforms: palette images are read as one index per byte.
bool PngReadHeader(PngReader* r) {
  r->png = png_create_read_struct(PNG_LIBPNG_VER_STRING, nullptr, PngError, PngWarning);
  if (!r->png) return false;
  r->info = png_create_info_struct(r->png);
  if (!r->info) return false;
  if (setjmp(png_jmpbuf(r->png))) return false;
  png_set_read_fn(r->png, &r->src, PngRead);
  png_read_info(r->png, r->info);
  r->width = png_get_image_width(r->png, r->info);
  r->height = png_get_image_height(r->png, r->info);
  r->bit_depth = png_get_bit_depth(r->png, r->info);
  r->colour_type = png_get_color_type(r->png, r->info);
  png_colorp plte = nullptr;
  int plte_count = 0;
  if (png_get_PLTE(r->png, r->info, &plte, &plte_count) == PNG_INFO_PLTE && plte) {
    png_bytep trns = nullptr;
    int trns_count = 0;
    png_get_tRNS(r->png, r->info, &trns, &trns_count, nullptr);
    r->palette_size = std::min(plte_count, 256);
    for (int i = 0; i < r->palette_size; ++i) {
      const std::uint32_t alpha = trns && i < trns_count ? trns[i] : 0xFF;
      r->palette[static_cast<std::size_t>(i)] = (alpha << 24) | (std::uint32_t{plte[i].red} << 16) |
                                                 (std::uint32_t{plte[i].green} << 8) | plte[i].blue;
    }
  }
  if (r->colour_type == PNG_COLOR_TYPE_PALETTE && r->bit_depth < 8) png_set_packing(r->png);
  if (r->colour_type != PNG_COLOR_TYPE_PALETTE) {
    // True-colour and grey pictures are read as 8-bit RGBA, straight alpha (a tRNS colour becomes alpha 0).
    png_set_expand(r->png);
    png_set_strip_16(r->png);
    png_set_gray_to_rgb(r->png);
    if ((r->colour_type & PNG_COLOR_MASK_ALPHA) == 0) png_set_add_alpha(r->png, 0xFF, PNG_FILLER_AFTER);
  }
  r->passes = png_set_interlace_handling(r->png);
  png_read_update_info(r->png, r->info);
  r->row_bytes = png_get_rowbytes(r->png, r->info);
  return true;
}

// Reads every row; rows[i] receives row i (for a picture that is only checked, all point to one buffer).
bool PngReadRows(PngReader* r, png_bytep* rows) {
  if (setjmp(png_jmpbuf(r->png))) return false;
  for (int pass = 0; pass < r->passes; ++pass) {
    for (png_uint_32 y = 0; y < r->height; ++y) png_read_row(r->png, rows[y], nullptr);
  }
  return true;
}

LoadedImage LoadPng(ByteSpan data, bool true_colour) {
  LoadedImage result;
  PngReader reader;
  reader.src.data = data;
  if (!PngReadHeader(&reader)) return result;
  if (reader.width == 0 || reader.height == 0 ||
      std::int64_t{reader.width} * std::int64_t{reader.height} > kMaxBitmapPixels) {
    return result;
  }
  const bool indexed = reader.colour_type == PNG_COLOR_TYPE_PALETTE;
  if (indexed && reader.row_bytes != reader.width) return result;  // one index per byte after unpacking
  if (!indexed && reader.row_bytes != std::size_t{reader.width} * 4) return result;  // RGBA after the transforms

  // Every row is kept when the pixels are wanted; a picture without a palette that is only checked is
  // still decoded whole (into one reused row), so that a damaged file is told apart from a true-colour one.
  const bool keep = indexed || true_colour;
  const std::size_t row_size = indexed ? std::size_t{reader.width} : reader.row_bytes;
  std::vector<std::uint8_t> pixels(keep ? row_size * reader.height : row_size);
  std::vector<png_bytep> rows(reader.height);
  for (png_uint_32 y = 0; y < reader.height; ++y) rows[y] = pixels.data() + (keep ? std::size_t{y} * row_size : 0);
  if (!PngReadRows(&reader, rows.data())) return result;
  if (!indexed) {
    result.check = ImageCheck::kNot256;
    if (!true_colour) return result;
    result.check = ImageCheck::kOk;
    result.format = ImageFormat::kPng;
    result.true_colour = true;
    result.rgba.width = static_cast<int>(reader.width);
    result.rgba.height = static_cast<int>(reader.height);
    result.rgba.pixels = std::move(pixels);
    return result;
  }
  result.check = ImageCheck::kOk;
  result.format = ImageFormat::kPng;
  result.palette = reader.palette;
  result.palette_size = reader.palette_size;
  result.bitmap.width = static_cast<int>(reader.width);
  result.bitmap.height = static_cast<int>(reader.height);
  result.bitmap.pixels = std::move(pixels);
  return result;
}

// ---------------------------------------------------------------------------------------------------
// Signatures

bool StartsWith(ByteSpan data, std::string_view magic) {
  return data.size() >= magic.size() && std::memcmp(data.data(), magic.data(), magic.size()) == 0;
}

bool IsGif(ByteSpan d) { return StartsWith(d, "GIF87a") || StartsWith(d, "GIF89a"); }
bool IsPng(ByteSpan d) { return StartsWith(d, "\x89PNG\r\n\x1a\n"); }
bool IsJpeg(ByteSpan d) { return StartsWith(d, "\xFF\xD8\xFF"); }
bool IsTiff(ByteSpan d) { return StartsWith(d, std::string_view("II*\0", 4)) || StartsWith(d, std::string_view("MM\0*", 4)); }

bool IsBmp(ByteSpan d) {
  // "BM", then a known DIB header size at offset 14 (core, info and its V2 to V5 extensions).
  if (!StartsWith(d, "BM") || d.size() < 18) return false;
  const std::uint32_t dib = d[14] | (d[15] << 8) | (std::uint32_t{d[16]} << 16) | (std::uint32_t{d[17]} << 24);
  return dib == 12 || dib == 40 || dib == 52 || dib == 56 || dib == 64 || dib == 108 || dib == 124;
}

}  // namespace

std::string_view ImageExtension(ImageFormat format) { return format == ImageFormat::kPng ? ".png" : ".gif"; }

std::filesystem::path ImageFileName(const std::filesystem::path& ds_folder, int object_id, ImageFormat format) {
  return ds_folder / fmt::format("{:04d}{}", object_id + 1, ImageExtension(format));
}

std::filesystem::path ExistingImageFile(const std::filesystem::path& ds_folder, int object_id) {
  const std::filesystem::path gif = ImageFileName(ds_folder, object_id, ImageFormat::kGif);
  const std::filesystem::path png = ImageFileName(ds_folder, object_id, ImageFormat::kPng);
  std::error_code ec;
  if (!std::filesystem::exists(gif, ec) && std::filesystem::exists(png, ec)) return png;
  return gif;
}

std::string WritePictureFile(const std::filesystem::path& path, ByteSpan data) {
  File file;
  if (!file.open(path, File::Mode::kCreate)) return file.error();
  if (!file.write(data)) {
    // A full disk leaves no half-written picture behind for the user to edit.
    std::string error = file.error();
    file.close();
    std::error_code ec;
    if (std::filesystem::is_regular_file(path, ec)) std::filesystem::remove(path, ec);
    return error;
  }
  return {};
}

std::string SaveObjectImage(const IndexedBitmap& bitmap, const ArgbPalette& palette,
                            const std::filesystem::path& path, ImageFormat format) {
  if (bitmap.width <= 0 || bitmap.height <= 0 || bitmap.width > 0xFFFF || bitmap.height > 0xFFFF ||
      bitmap.pixels.size() != static_cast<std::size_t>(bitmap.width) * static_cast<std::size_t>(bitmap.height)) {
    return fmt::format("{}: the picture is empty or inconsistent ({} x {}, {} pixels)", path.string(),
                       bitmap.width, bitmap.height, bitmap.pixels.size());
  }
  if (format == ImageFormat::kGif) return WritePictureFile(path, EncodeGif(bitmap, palette));
  std::string error;
  const std::optional<Bytes> encoded = EncodeIndexedPng(bitmap, palette, &error);
  if (!encoded) return fmt::format("{}: {}", path.string(), error);
  return WritePictureFile(path, *encoded);
}

LoadedImage LoadIndexedImage(const std::filesystem::path& path) { return LoadPicture(path, false); }

LoadedImage LoadPicture(const std::filesystem::path& path, bool true_colour) {
  std::string error;
  const std::optional<Bytes> data = read_whole_file(path, &error);
  if (!data) return {};
  const ByteSpan bytes(*data);
  if (IsGif(bytes)) return LoadGif(bytes);
  if (IsPng(bytes)) return LoadPng(bytes, true_colour);
  if (IsBmp(bytes) || IsJpeg(bytes) || IsTiff(bytes)) {
    LoadedImage other;
    other.check = ImageCheck::kNot256;
    return other;
  }
  return {};
}

std::string ImageCheckMessage(ImageCheck check, const std::filesystem::path& path) {
  switch (check) {
    case ImageCheck::kOk:
      return {};
    case ImageCheck::kNotImage:
      return format_message(kMsgImageNotSupported, path.string());
    case ImageCheck::kNot256:
      return format_message(kMsgImageNot256, path.string());
    case ImageCheck::kSizeMismatch:
      return format_message(kMsgImageSizeMismatch, path.string());
  }
  return {};
}

}  // namespace veld
