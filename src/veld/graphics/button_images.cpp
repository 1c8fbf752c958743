#include "veld/graphics/button_images.h"

#include "veld/graphics/composition.h"
#include "veld/graphics/image_file.h"

namespace veld {

bool ImportButtonImage(CDsData& ds, std::uint16_t object_id, const std::filesystem::path& path,
                       Messenger& messenger) {
  const LoadedImage image = LoadIndexedImage(path);
  ImageCheck check = image.check;
  if (check == ImageCheck::kOk && !ReplaceObjectFromBitmap(ds, object_id, image.bitmap)) {
    check = ImageCheck::kSizeMismatch;
  }
  if (check == ImageCheck::kOk) return true;
  messenger.show(MessageKind::kError, ImageCheckMessage(check, path));
  return false;
}

}  // namespace veld
