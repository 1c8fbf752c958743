// SPDX-License-Identifier: GPL-3.0-or-later
// How many frames a GIF file holds: the pictures are read by their first frame, and a picture saved as an
// animation loses the others, which the user is told.
#pragma once

#include "veld/base/bytes.h"

namespace veld {

// The number of image frames of a GIF file's bytes; 0 when the bytes are not a GIF, or a damaged one
// (the frames before the damage are not counted either).
int CountGifFrames(ByteSpan data);

}  // namespace veld
