// SPDX-License-Identifier: GPL-3.0-or-later
// What the window does to one picture file of the work folder: open it in the image editor, put another
// picture in its place, put the extracted original back. An edit is never replaced without asking.
#pragma once

#include <QString>

#include "veld/app/menu_model.h"

class QWidget;

namespace veld::gui {

// The editor command of the settings with the picture put in: every %f becomes the quoted path (without
// %f the path is added at the end); split as a shell splits words. Empty when command is empty.
QStringList EditorArguments(const QString& command, const QString& file);

// Starts the editor of the settings detached, or, when none is set, the desktop's default for the file's
// type. false when it could not be started (told in a box).
bool OpenInEditor(QWidget* parent, const QString& file);

// Puts chosen (asked for in a file dialog when empty) in the work folder as the picture of file, asking
// first when the picture is edited. Result 0, 1 (declined) or 2 (failed, told).
int ReplacePicture(QWidget* parent, const SMenuModel& model, const QString& file, QString chosen = {});

// Puts back the extracted original of file after asking. Result as ReplacePicture's.
int RevertPictureFile(QWidget* parent, const SMenuModel& model, const QString& file);

}  // namespace veld::gui
