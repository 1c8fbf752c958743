// SPDX-License-Identifier: GPL-3.0-or-later
// The message catalogue: every user-visible text with its id, in Simplified Chinese and English.
//
// The language is chosen once from the locale (LC_ALL, then LC_MESSAGES, then LANG; a value starting with
// "zh" picks Chinese) and can be forced for tests. Texts keep the printf-style placeholders of the
// original table ("%s", "%d") and are formatted with format_message().
#pragma once

#include <fmt/printf.h>

#include <string>
#include <string_view>

namespace veld {

enum class Language { kEnglish, kChinese };

// Texts without a number in the original string table carry ids from 9000 up.
enum MsgId : int {
  // Shell commands.
  kMsgNoBdmvFolder = 1020,       // "没有设置BDMV路径 ! "
  kMsgNoImageFolder = 1021,      // "没有设置图片路径 ! "
  kMsgNoIgStream = 1022,         // the given BDMV has no menu stream
  kMsgNoEditedImage = 1023,      // "%s" holds no edited button images
  kMsgAskCopyBack = 1024,        // replace the existing Blu-ray files automatically?
  kMsgCopyBackFailed = 1025,     // automatic replacement failed
  kMsgExtractDone = 1031,        // images extracted, located at "%s"
  kMsgReplaceDone = 1032,        // images replaced; new files in "%s"
  kMsgCopyBackDone = 1033,       // congratulations, the menu replacement is done
  // Progress labels.
  kStrParsing = 1108,
  kStrDemuxing = 1110,
  kStrBuilding = 1136,
  // Display words of the model objects.
  kStrIndex = 5061,
  kStrMovieObject = 5062,
  kStrPlaylists = 5063,
  kStrClips = 5064,
  kStrPlaylist = 5065,
  kStrClip = 5066,
  // Disc model.
  kMsgParseError = 5071,         // "%s": error while analysing the file
  kMsgNoPlaylist = 5072,
  kMsgNoClipInfo = 5073,
  kMsgNoClipStream = 5074,       // "%s": matching clip stream file not found
  // Demultiplexer.
  kMsgWrongM2ts = 5086,
  kMsgNoIgs = 5087,
  // Built-in texts.
  kMsgCannotCreate = 9001,       // "Can't create %s ! "
  kMsgFolderExists = 9002,       // "%s\n exists, overwrite ? "
  kMsgImageNotSupported = 9011,  // import check 0
  kMsgImageNot256 = 9012,        // import check 1
  kMsgImageSizeMismatch = 9013,  // import check 2
  kMsgPackEmpty = 9021,          // "Wrong: pack is empty ! "
  kMsgNotBdmvFolder = 9041,      // "%s" is not a BDMV folder (no index.bdmv)
  kMsgNoSuchFolder = 9042,       // "%s": no such folder
  kMsgBadLanguage = 9051,        // "%s" is not a three-letter ISO 639-2 language code
  kMsgImageForeignColour = 9101,  // an edited picture uses a colour the menu's palette lacks
  kMsgNoStcSequence = 9102,      // a clip without STC sequence cannot be remultiplexed
  kMsgNoRoom = 9103,             // copy-back: not enough free space
  kMsgCopyBackFile = 9104,       // copy-back: the file that failed
  kMsgNotWorkFolder = 9105,      // replace: the folder is not named VELD
  kMsgBadSegmentFile = 9106,     // a rebuilt stream's segment file does not read
  kMsgShortClip = 9107,          // the old clip ends before the packets of an access unit
  kMsgPmtTooLong = 9108,         // the new PMT does not fit one section
  kMsgInPlaceFallback = 9140,    // clip %s: no in-place schedule (%s); remultiplexed in full
  kStrCancel = 9031,             // progress window button
  kStrAboutMenu = 9032,          // system menu item
  // The extract command's checks and its staged image folder.
  kMsgFolderExistsEdited = 9003,  // "%s" exists; %d pictures edited since the last extraction; overwrite?
  kMsgNoRipFolder = 9043,         // no output folder given
  kMsgIsFileNotBdmv = 9044,       // "%s" is a file, not a BDMV folder
  kMsgBdmvFolderHint = 9045,      // which folder the BDMV folder is
  kMsgDidYouMean = 9046,          // did you mean "%s"?
  kMsgRipInsideSource = 9047,     // output "%s" lies inside the BDMV folder "%s"
  kMsgSourceInsideWork = 9048,    // BDMV folder "%s" lies inside the work folder "%s"
  kMsgUsingBackup = 9049,         // "%s" cannot be used; its copy "%s" is read instead
  kMsgOldImagesLeft = 9050,       // the earlier pictures in "%s" could not all be deleted: "%s"
  // Robustness: the copy-back journal and the warnings of an extraction (ids from 9760 up).
  kMsgCopyBackJournal = 9760,         // "%s": the journal cannot be written: "%s"
  kMsgCopyBackFinished = 9761,        // the interrupted copy-back into "%s" was finished
  kMsgCopyBackUndone = 9762,          // the interrupted copy-back into "%s" was undone
  kMsgCopyBackStuck = 9763,           // the copy-back of journal "%s" can be neither finished nor undone: "%s"
  kMsgCopyBackJournalDamaged = 9764,  // the journal "%s" is damaged
  kMsgBytesUnread = 9765,             // file "%s": block "%s" at offset %d holds %d bytes that were not read
  kMsgIncompleteDisplaySet = 9800,    // "%s", PID %d: display set %d incomplete (%d whole segments, from %s)
  kStrWarningsCount = 9802,           // the window's box of several warnings: "%d warnings:"
  kMsgObjectNoPicture = 9801,         // "%s", display set %d: object %d, picture "%s", does not decode: "%s"
  // Edited pictures of any colours and sizes (ids from 9871 up).
  kMsgImageForeignColourHelp = 9871,  // a colour the palette lacks under --colours exact, and what helps
  kMsgImageColoursMapped = 9872,      // warning: pixels that took the nearest entry, the largest difference
  kMsgImageColoursAmbiguous = 9873,   // warning: pixels whose colour matched entries of several opacities
  kMsgImageOutOfFrame = 9874,         // a picture of another size leaves the video frame at its button
  kMsgImageCropped = 9875,            // an effect crops the object, so its size must stay
  kMsgImageOutOfWindow = 9876,        // the picture leaves the window of an effect
  kMsgImageObjectBuffer = 9877,       // the display set's objects would overflow the decoder's object buffer
  kMsgImageDecodeTime = 9878,         // the display set's objects would not be decoded in time
  kMsgImageNoComposition = 9879,      // another size, but no composition to place the object by
  kMsgImageResized = 9880,            // info: the object took the picture's size
  kMsgButtonMoved = 9881,             // info: a button moved to keep its centre
  kMsgEffectObjectMoved = 9882,       // info: an effect's object moved to keep its centre
  kCliColours = 9883,                 // help of --colours
  kCliDither = 9884,                  // help of --dither
  kCliAnchor = 9885,                  // help of --anchor
  kMsgClipStreamShort = 9810,         // clip stream "%s" shorter than its clip information "%s": %s packets, %s found
  kMsgBackupDiffers = 9811,           // "%s" differs from its backup copy "%s" from offset %s
  // Texts of the command line (ids from 9500 up).
  kCliAbout = 9500,
  kCliExample = 9501,
  kCliExtract = 9502,
  kCliBdmvArgument = 9503,
  kCliRipArgument = 9504,
  kCliYes = 9505,
  kCliQuiet = 9506,
  kCliHelp = 9507,
  kCliVersion = 9508,
  kCliLabelUsage = 9510,
  kCliLabelOptions = 9511,         // group of options
  kCliLabelSubcommands = 9512,     // group of commands
  kCliLabelPositionals = 9513,     // group of arguments
  kCliLabelOptionsWord = 9514,     // "[OPTIONS]" in the usage line
  kCliLabelSubcommandWord = 9515,  // "SUBCOMMAND" in the usage line
  kCliLabelRequired = 9516,
  kCliLabelText = 9517,            // type of a text argument
  kCliLabelExcludes = 9518,        // options that cannot be given together
  kCliLabelNeeds = 9519,           // options that need another
  kCliError = 9520,                // prefix of an error line
  kCliWarning = 9521,              // prefix of a warning line
  kCliCancelled = 9522,
  kCliSummary = 9523,              // clips, IG streams, display sets, images
  kCliSkipped = 9524,              // objects without a picture
  kCliEditHint = 9525,
  kCliPromptChoices = 9526,
  kCliAssumedYes = 9527,
  kCliAssumedNo = 9528,
  kCliUnknownCommand = 9529,
  kCliUnknownArgument = 9530,
  kCliMissingArgument = 9531,
  kCliMoreInformation = 9532,
  kCliCommandRequired = 9533,
  kCliReplace = 9534,
  kCliReplaceBdmvArgument = 9535,
  kCliWorkArgument = 9536,
  kCliCopyBack = 9537,
  kCliNoCopyBack = 9538,
  kCliIgLanguage = 9539,
  kCliReplaceYes = 9541,
  kCliReplaceSummary = 9542,       // pictures, IG streams, clips, playlists
  kCliWithWarnings = 9543,         // the summary's count of warnings
  kCliWithWarning = 9544,          // the same for one warning
  kCliRemux = 9560,                // --remux in-place|full
  // Desktop window (9200 up).
  kStrUsage = 1019,              // usage note in the main window's text pane
  kStrSourceLabel = 9201,        // "源BDMV文件:"
  kStrAboutButton = 9202,
  kStrWebButton = 9203,
  kStrExtractButton = 9204,
  kStrReplaceButton = 9205,
  kStrExitButton = 9206,
  kStrBrowseTip = 9207,
  kStrIgLanguageLabel = 9208,
  kStrIgLanguageHint = 9209,
  kStrChooseSource = 9210,
  kStrChooseRip = 9211,
  kStrChooseWork = 9212,
  kStrChooserHint = 9213,        // which folder name enables OK ("%s")
  kStrNewFolder = 9214,
  kStrOk = 9215,
  kStrYes = 9216,
  kStrNo = 9217,
  kStrFolderLabel = 9218,
  kStrAboutTitle = 9220,
  kStrFileDescription = 9221,
  kStrAppVersion = 9222,         // "%s, Version %s"
  kStrCompany = 9223,
  kStrLegal = 9224,
  kStrComments = 9225,
  kStrNewFolderName = 9226,
  // Display words of the composition model.
  kStrEpoch = 1630,
  kStrDisplaySet = 1631,
  kStrGraphics = 1632,
  kStrPalettes = 1633,
  kStrPage = 1637,
  kStrBog = 1638,
  kStrButton = 1639,
  kStrWindow = 1643,
  kStrCompositionObject = 1644,
  kStrEffect = 1645,
  kStrInEffect = 1647,
  kStrOutEffect = 1648,
  // Menu report, previews and picture formats (ids from 9700 up).
  kStrOptPreview = 9701,          // extract --preview
  kStrOptFormat = 9702,           // extract --format
  kStrShowCommand = 9703,         // the show subcommand
  kStrOptJson = 9704,             // show --json
  kMsgPreviewsDone = 9705,        // "%d page previews, located at: %s"
  kStrIgStream = 9710,            // report: "IG stream"
  kStrPlayItem = 9711,            // "play item %d"
  kStrAngle = 9712,               // angle (%2$d) of play item (%1$d)
  kStrSubPath = 9713,             // "sub-path %d, item %d"
  kStrAlwaysOn = 9714,            // always-on menu
  kStrPopUp = 9715,               // pop-up menu
  kStrMultiplexed = 9716,
  kStrPreloaded = 9717,
  kStrLanguage = 9718,
  kStrPicture = 9719,             // "picture"
  kStrNoPicture = 9720,           // "no picture (no palette or unusable data)"
  kStrUsedBy = 9721,              // "used by"
  kStrCommands = 9722,
  kStrNotUsed = 9723,             // "used by no page"
  kStrNoComposition = 9724,       // "no interactive composition: %s"
  // Disc check (ids from 9970 up).
  kStrCheckCommand = 9970,        // the check subcommand
  kStrOptCheckJson = 9971,        // check --json
  kStrCheckTitle = 9972,          // progress title "Checking"
  kMsgCheckClean = 9973,          // "%s: %d playlists, %d clips, %d source packets: no finding"
  kMsgCheckFindings = 9974,       // "%s: %d playlists, %d clips, %d source packets: %d findings"
  kMsgRebuiltClipFails = 9975,    // clip "%s": rebuilt clip fails a check (%s) the original passes (check %s)
  // Edits found by content, copies, dry run and copy-back listing (ids from 9940 up).
  kMsgEditsDiffer = 9940,         // two pictures of one object edited differently
  kMsgEditNoObject = 9941,        // edited pictures whose object the disc no longer has
  kMsgSkippedLink = 9942,         // a symbolic link named like a picture
  kMsgSkippedFolder = 9943,       // a folder named like a picture
  kMsgAnimatedGif = 9944,         // an animated GIF: first frame taken
  kMsgBadManifest = 9945,         // a manifest that cannot be read
  kMsgEditOne = 9946,             // "%s: 1 edit"
  kMsgEdits = 9947,               // "%s: %d edits"
  kMsgEditCopies = 9948,          // ", applied to %d copies in %s"
  kMsgDryRun = 9949,              // nothing was written
  kMsgDryRunNothing = 9950,       // no picture counts as edited
  kMsgDryRunStream = 9951,        // IG stream %d of clip %s would be rebuilt
  kMsgDryRunClip = 9952,          // clip %s would be remultiplexed
  kMsgReplaceDoneCopied = 9953,   // replaced, and copied from %s
  kMsgCopiedInto = 9954,          // "Copied into %s: %s"
  kMsgAskCopyBackFiles = 9955,    // copy these files into %s?
  kCliDryRun = 9956,              // replace --dry-run
  kMsgCopiesLine = 9957,
  kStrCopyOf = 9958,              // show: "copy of" a picture
  kStrCopiesIn = 9959,            // show: "copies in" display sets
};

// The language picked from the environment (read once), unless overridden.
Language ui_language();
// Forces a language (tests, command-line option); std::nullopt-like reset with reset_language().
void set_language(Language lang);
void reset_language();
// Language for a given locale value ("zh_CN.UTF-8" -> Chinese); exposed for tests.
Language language_from_locale(std::string_view lc_all, std::string_view lc_messages, std::string_view lang);

// The raw text of an id in the current (or given) language; an unknown id gives "#<id>".
std::string_view message_text(int id);
std::string_view message_text(int id, Language lang);

// A catalogue text as plain lines: "\r\n", "\n\r" and a lone "\r" become "\n"; blanks at the end of a line
// (" ! ") and trailing line breaks are dropped.
std::string plain_text(std::string_view text);

// The text of id with printf-style arguments ("%s", "%d").
template <typename... Args>
std::string format_message(int id, const Args&... args) {
  return fmt::sprintf(std::string(message_text(id)), args...);
}

}  // namespace veld
