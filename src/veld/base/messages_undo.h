// SPDX-License-Identifier: GPL-3.0-or-later
// Message ids of the undo of a copy-back, the work folder's lock and a clip cut short while it is mapped
// (ids from 9780 up); their texts are in the catalogue with the others (messages.cpp).
#pragma once

#include "veld/base/messages.h"

namespace veld {

enum UndoMsgId : int {
  kMsgClipShrank = 9780,       // "%s": the file became shorter while it was read (%s bytes, now %s)
  kMsgWorkBusy = 9781,         // the work folder "%s" is in use by process %s ("%s")
  kMsgWorkBusyUnknown = 9782,  // the work folder "%s" is in use by another process
  kMsgWorkLockFailed = 9783,   // the work folder "%s" cannot be locked: "%s"
  kMsgUndoFinished = 9784,     // the interrupted undo in "%s" was finished
  kMsgUndoUndone = 9785,       // the interrupted undo in "%s" was undone
  kMsgNothingToUndo = 9786,    // "%s" holds no copy-back to undo
  kMsgAskUndo = 9787,          // put back into "%s" the %d files the copy-back of "%s" replaced, remove %d?
  kMsgUndoDone = 9788,         // the copy-back of "%s" into "%s" is undone:
  kMsgUndoRestored = 9789,     // "%s" put back
  kMsgUndoRemoved = 9790,      // "%s" removed
  kMsgUndoDamaged = 9791,      // the undo entry "%s" is damaged or incomplete: "%s"
  kMsgUndoKeep = 9792,         // the replaced files cannot be kept in "%s": "%s"
  kMsgUndoFailed = 9793,       // the undo failed; the BDMV folder is as it was
  kCliUndo = 9794,
  kCliUndoYes = 9795,
  kCliUndoWorkArgument = 9796,
  kStrUndoButton = 9797,
  kStrChooseUndoWork = 9798,
};

}  // namespace veld
