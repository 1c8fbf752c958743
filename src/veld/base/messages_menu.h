// SPDX-License-Identifier: GPL-3.0-or-later
// Message ids of the window's menu view: the tree of clips, IG streams, display sets and pages, the page
// preview and the pictures of a button (ids from 9600 up); their texts are in the catalogue with the
// others (messages.cpp).
#pragma once

#include "veld/base/messages.h"

namespace veld {

enum MenuMsgId : int {
  kStrMenuTree = 9600,            // heading of the tree, and its accessible name
  kStrMenuClip = 9601,            // "Clip %s"
  kStrMenuStream = 9602,          // "IG stream PID %d (0x%04X), %s" (its language)
  kStrMenuDisplaySet = 9603,      // "Display set %d"
  kStrMenuPage = 9604,            // "Page %d, %d buttons"
  kStrMenuButtonTip = 9605,       // "Button %d: %d, %d, %d x %d" (the tooltip's first line)
  kStrMenuNormal = 9606,          // the three button states
  kStrMenuSelected = 9607,
  kStrMenuActivated = 9608,
  kStrMenuShownAs = 9609,         // label of the choice of the states the preview draws
  kStrMenuAsPlayer = 9610,        // the first choice: as a player first shows the page
  kStrMenuNoPicture = 9611,       // "object %d: no picture"
  kStrMenuPictureText = 9612,     // "%s\n%s\n%d x %d, %s bytes" under a thumbnail: state, file, sizes
  kStrMenuChooseButton = 9613,    // hint before a button is chosen
  kStrMenuPreview = 9614,         // accessible name of the preview
  kStrMenuPictures = 9615,        // accessible name of the thumbnails
  kStrMenuButtonHeading = 9616,   // "Button %d of page %d: its pictures"
  kStrMenuNone = 9617,            // "none": a stream without a language code, a state without pictures
  kStrMenuNoExtraction = 9618,    // the work folder holds no extraction: no pictures to show
  kStrMenuStateLine = 9619,       // "%s: %s" a state and its files, in the tooltip
  kStrMenuFrame = 9620,           // "%s, frame %d of %d": a state of several objects (an animation)
};

}  // namespace veld
