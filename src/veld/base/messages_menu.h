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
  // Editing in the window: the edits found, the editor, the list of edited pictures, the settings.
  kStrEditWriteFailed = 9621, // "%s" cannot be written: %s
  kStrEditRevertGone = 9622, // the disc no longer holds the picture "%s" as it was extracted: it was left as it is
  kStrEditMark = 9623,      // "%s [edited]": a tree item, thumbnail or list entry whose picture is edited
  kStrEditRefusedTip = 9624, // "Replace will refuse this picture:\n%s"
  kStrEditOpen = 9625,      // button and menu entry: open the picture in the image editor
  kStrEditReplace = 9626,   // button and menu entry: put another picture in its place
  kStrEditRevert = 9627,    // button and menu entry: put the extracted original back
  kStrEditChoosePicture = 9628, // title of the file dialog: "Picture for %s"
  kStrEditPictureFilter = 9629, // file dialog filter
  kStrEditAskReplace = 9630, // "%s" is edited; replace its edit with "%s"?
  kStrEditAskRevert = 9631, // put back the extracted original of "%s"? its edit is lost
  kStrEditListTitle = 9632, // title of the list of edited pictures
  kStrEditBeforeAfter = 9633, // "%s\nbefore | after" under an entry of the list
  kStrEditNone = 9634,      // the list holds no edited picture
  kStrEditOpenFailed = 9635, // the image editor "%s" could not be started
  kStrSettingsButton = 9636, // button of the main window
  kStrSettingsTitle = 9637, // title of the settings dialog
  kStrSettingsEditor = 9638, // label of the editor command
  kStrSettingsFormat = 9639, // label of the picture format choice
  kStrSettingsPreview = 9640, // check box: previews with the extraction
  kStrEditStreamRefused = 9641, // "Replace will refuse the edits of this stream:\n%s"
  kStrProgressStep = 9642,  // "%s: %d%%" the step and its percentage inside the progress window
  kStrEditRefusedMark = 9643, // "%s [refused]": a thumbnail or list entry replace will refuse
  kStrReplaceWrittenInto = 9644, // "Written into %s: %s": the files a replace wrote and left in its folder
  // The settings of the window's replace: how edited pictures are taken in (replace's --colours, --dither
  // and --anchor).
  kStrSettingsReplace = 9660,     // title of their group
  kStrSettingsColours = 9661,     // label of the choice for colours the palette lacks
  kStrSettingsNearest = 9662,     // its choices: the nearest entry
  kStrSettingsExact = 9663,       //   refuse the picture
  kStrSettingsDither = 9664,      // check box: dither the colours the palette lacks
  kStrSettingsAnchor = 9665,      // label of the choice for a picture of another size
  kStrSettingsTopLeft = 9666,     // its choices: the button keeps its top-left corner
  kStrSettingsCentre = 9667,      //   the button keeps its centre
};

}  // namespace veld
