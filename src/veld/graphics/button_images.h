// Taking an edited button image back into the menu.
#pragma once

#include <cstdint>
#include <filesystem>

#include "veld/base/messenger.h"
#include "veld/graphics/display_set.h"

namespace veld {

// Reads the picture at path and makes its pixels the new object data of the object (entry ids of the
// menu's own palette). The three checks, each shown through messenger as an error naming the file:
//   0 the file is not a picture, 1 it is not 8-bit indexed, 2 its size differs from the object's
//   (the object's segments are then unchanged). false after a failed check.
bool ImportButtonImage(CDsData& ds, std::uint16_t object_id, const std::filesystem::path& path,
                       Messenger& messenger);

}  // namespace veld
