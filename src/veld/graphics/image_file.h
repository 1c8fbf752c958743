// SPDX-License-Identifier: GPL-3.0-or-later
// Button image files: one picture per graphics object, written for the user to edit and read back as the
// object's new pixels.
//
// GIF (the default) files are 8-bit GIF89a pictures of the object's size whose pixel values are the object's palette
// entry ids and whose 256-entry global colour table is the object's ARGB palette (RGB only; GIF has no
// alpha). The lowest entry id whose alpha is 0 becomes the transparent index; the image is not interlaced.
// PNG files (ImageFormat::kPng) are 8-bit indexed PNG pictures whose palette (PLTE) carries the colours
// and whose tRNS chunk carries each entry's alpha, so semi-transparent entries keep their transparency; their
// colours use the matrix of the menu's video height (palette.h), GIF colours the GIF conversion.
// When a file is read back its pixel values are taken as palette entry ids; its own colour table is
// ignored, so an editor must keep the palette and its order.
#pragma once

#include <filesystem>
#include <string>
#include <string_view>

#include "veld/base/bytes.h"

#include "veld/graphics/bitmap.h"
#include "veld/graphics/palette.h"

namespace veld {

enum class ImageFormat { kGif, kPng };
// ".gif" or ".png".
std::string_view ImageExtension(ImageFormat format);

// "<ds_folder>/%04d.gif" of object_id + 1 (object 0 -> 0001.gif, 41 -> 0042.gif, 9999 -> 10000.gif), or
// ".png" for PNG pictures.
std::filesystem::path ImageFileName(const std::filesystem::path& ds_folder, int object_id,
                                    ImageFormat format = ImageFormat::kGif);
// The picture of an object as an extraction left it: the ".png" file when it exists and the ".gif" file
// does not, otherwise the ".gif" name (whose content, not name, then decides how it is read).
std::filesystem::path ExistingImageFile(const std::filesystem::path& ds_folder, int object_id);

// Writes the bitmap as a GIF or PNG file (an existing file is overwritten). Returns "" on success,
// otherwise the error text (the system's text for a failed file write), for the caller to report.
std::string SaveObjectImage(const IndexedBitmap& bitmap, const ArgbPalette& palette,
                            const std::filesystem::path& path, ImageFormat format = ImageFormat::kGif);

// Writes encoded bytes to path (created or truncated). "" on success, otherwise the system's text; a
// file that could not be written whole is removed.
std::string WritePictureFile(const std::filesystem::path& path, ByteSpan data);

// Outcome of reading back an edited picture; the values are the import checks 0..2.
enum class ImageCheck {
  kOk,
  kNotImage,      // check 0: the file does not load as a picture
  kNot256,        // check 1: a picture, but not 8-bit indexed
  kSizeMismatch,  // check 2: decided by the caller, which knows the object's size
};

struct LoadedImage {
  ImageCheck check = ImageCheck::kNotImage;
  IndexedBitmap bitmap;  // the palette indices when check is kOk
  ImageFormat format = ImageFormat::kGif;  // the file's format, when check is kOk
  // The file's own colour table (0xAARRGGBB), palette_size entries long. GIF colours are opaque except
  // the frame's transparent index (alpha 0); PNG colours carry their tRNS alpha (255 without one).
  ArgbPalette palette{};
  int palette_size = 0;
  // LoadPicture of a true-colour or grey PNG: the pixels as RGBA (bitmap and palette then stay empty).
  bool true_colour = false;
  RgbaImage rgba;
};

// Reads a picture as palette indices. The file's content decides the format, not its name:
// - GIF: the first frame's indices as stored, in a bitmap of the logical-screen size (pixels the frame
//   does not cover get the background colour index);
// - PNG with a palette (colour type 3, bit depth 1, 2, 4 or 8): its indices;
// - PNG without a palette (RGB, RGBA, grey, any depth): read as RGBA into truecolour; with at most 256
//   colours also as indices of a table of its colours (format kPng), otherwise kNot256;
// - any other picture (BMP, JPEG, TIFF): kNot256;
// - anything else, an unreadable file, or a damaged GIF or PNG: kNotImage.
LoadedImage LoadIndexedImage(const std::filesystem::path& path);
// LoadIndexedImage, except that with true_colour a PNG without a palette is read too, as RGBA.
LoadedImage LoadPicture(const std::filesystem::path& path, bool true_colour);

// The message of a failed check, naming the file, in the language of the message catalogue; "" for kOk.
std::string ImageCheckMessage(ImageCheck check, const std::filesystem::path& path);

}  // namespace veld
