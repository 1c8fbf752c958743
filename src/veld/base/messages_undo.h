// Message ids of the undo of a copy-back, the work folder's lock and a clip cut short while it is mapped
// (ids from 9880 up); their texts are in the catalogue with the others (messages.cpp).
#pragma once

#include "veld/base/messages.h"

namespace veld {

enum UndoMsgId : int {
  kMsgClipShrank = 9880,       // "%s": the file became shorter while it was read (%s bytes, now %s)
  kMsgWorkBusy = 9881,         // the work folder "%s" is in use by process %s ("%s")
  kMsgWorkBusyUnknown = 9882,  // the work folder "%s" is in use by another process
  kMsgWorkLockFailed = 9883,   // the work folder "%s" cannot be locked: "%s"
  kMsgUndoFinished = 9884,     // the interrupted undo in "%s" was finished
  kMsgUndoUndone = 9885,       // the interrupted undo in "%s" was undone
  kMsgNothingToUndo = 9886,    // "%s" holds no copy-back to undo
  kMsgAskUndo = 9887,          // put back into "%s" the %d files the copy-back of "%s" replaced, remove %d?
  kMsgUndoDone = 9888,         // the copy-back of "%s" into "%s" is undone:
  kMsgUndoRestored = 9889,     // "%s" put back
  kMsgUndoRemoved = 9890,      // "%s" removed
  kMsgUndoDamaged = 9891,      // the undo entry "%s" is damaged or incomplete: "%s"
  kMsgUndoKeep = 9892,         // the replaced files cannot be kept in "%s": "%s"
  kMsgUndoFailed = 9893,       // the undo failed; the BDMV folder is as it was
  kCliUndo = 9894,
  kCliUndoYes = 9895,
  kCliUndoWorkArgument = 9896,
  kStrUndoButton = 9897,
  kStrChooseUndoWork = 9898,
};

}  // namespace veld
