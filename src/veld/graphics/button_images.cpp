#include "veld/graphics/button_images.h"

#include <fmt/format.h>

#include <array>

#include "veld/base/messages.h"
#include "veld/graphics/composition.h"

namespace veld {
namespace {

constexpr std::uint32_t kRgbMask = 0x00FFFFFF;
std::uint32_t alpha_of(std::uint32_t argb) { return argb >> 24; }

// Does the picture's colour `file` stand for the menu entry `menu`?
bool same_colour(std::uint32_t file, std::uint32_t menu, ImageFormat format) {
  if ((file & kRgbMask) != (menu & kRgbMask)) return false;
  if (format == ImageFormat::kPng) return alpha_of(file) == alpha_of(menu);
  // GIF holds one transparent colour and no other alpha: its transparent index must land on a fully
  // transparent entry; its other colours carry no alpha to compare.
  return alpha_of(file) != 0 || alpha_of(menu) == 0;
}

}  // namespace

bool MatchPicturePalette(LoadedImage& image, const ArgbPalette& menu, std::string* foreign, int* x, int* y) {
  std::array<bool, 256> used{};
  for (std::uint8_t p : image.bitmap.pixels) used[p] = true;
  // Indices past the file's colour table have no colour of their own: they are taken as they are.
  const auto colour_known = [&](int i) { return i < image.palette_size; };
  bool unchanged = true;
  for (int i = 0; i < 256 && unchanged; ++i) {
    if (used[static_cast<std::size_t>(i)] && colour_known(i))
      unchanged = same_colour(image.palette[static_cast<std::size_t>(i)], menu[static_cast<std::size_t>(i)], image.format);
  }
  if (unchanged) return true;

  std::array<int, 256> map{};
  for (int i = 0; i < 256; ++i) {
    map[static_cast<std::size_t>(i)] = i;
    if (!used[static_cast<std::size_t>(i)] || !colour_known(i)) continue;
    const std::uint32_t c = image.palette[static_cast<std::size_t>(i)];
    if (same_colour(c, menu[static_cast<std::size_t>(i)], image.format)) continue;
    int found = -1;
    for (int j = 0; j < 256; ++j) {
      if (!same_colour(c, menu[static_cast<std::size_t>(j)], image.format)) continue;
      if (found < 0) found = j;
      // An opaque GIF colour prefers an opaque entry over a translucent one of the same RGB.
      if (image.format == ImageFormat::kGif && alpha_of(c) != 0 && alpha_of(menu[static_cast<std::size_t>(j)]) == 0xFF) {
        found = j;
        break;
      }
      if (image.format != ImageFormat::kGif || alpha_of(c) == 0) break;
    }
    if (found < 0) {
      const std::uint32_t rgb = c & kRgbMask;
      if (foreign) {
        *foreign = image.format == ImageFormat::kPng ? fmt::format("#{:06X}{:02X}", rgb, alpha_of(c))
                                                     : fmt::format("#{:06X}", rgb);
      }
      const auto& px = image.bitmap.pixels;
      const std::size_t at = static_cast<std::size_t>(std::find(px.begin(), px.end(), static_cast<std::uint8_t>(i)) - px.begin());
      const int w = std::max(image.bitmap.width, 1);
      if (x) *x = static_cast<int>(at % static_cast<std::size_t>(w));
      if (y) *y = static_cast<int>(at / static_cast<std::size_t>(w));
      return false;
    }
    map[static_cast<std::size_t>(i)] = found;
  }
  for (std::uint8_t& p : image.bitmap.pixels) p = static_cast<std::uint8_t>(map[p]);
  return true;
}

bool ImportButtonImage(CDsData& ds, std::uint16_t object_id, const std::filesystem::path& path,
                       Messenger& messenger) {
  LoadedImage image = LoadIndexedImage(path);
  ImageCheck check = image.check;
  if (check == ImageCheck::kOk) {
    const SObjectSize size = ObjectSize(ds, object_id);
    if (size.width != image.bitmap.width || size.height != image.bitmap.height) check = ImageCheck::kSizeMismatch;
  }
  if (check == ImageCheck::kOk) {
    // The colours the extraction gave the picture: the GIF conversion for a GIF, the matrix of the video for
    // a PNG; a picture an editor converted from the other format is taken with the other conversion.
    const ColourMatrix png = PictureMatrix(ds);
    const ColourMatrix own = image.format == ImageFormat::kPng ? png : ColourMatrix::kGif;
    const ColourMatrix other = image.format == ImageFormat::kPng ? ColourMatrix::kGif : png;
    std::string foreign;
    int x = 0, y = 0;
    if (const std::optional<ArgbPalette> menu = ObjectPalette(ds, object_id, own);
        menu && !MatchPicturePalette(image, *menu, &foreign, &x, &y) &&
        !MatchPicturePalette(image, *ObjectPalette(ds, object_id, other), nullptr, nullptr, nullptr)) {
      messenger.show(MessageKind::kError, format_message(kMsgImageForeignColour, path.string(), foreign, x, y));
      return false;
    }
    if (!ReplaceObjectFromBitmap(ds, object_id, image.bitmap)) check = ImageCheck::kSizeMismatch;
  }
  if (check == ImageCheck::kOk) return true;
  messenger.show(MessageKind::kError, ImageCheckMessage(check, path));
  return false;
}

}  // namespace veld
