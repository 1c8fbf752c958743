// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures of the chosen button: one thumbnail per object of its normal, selected and activated
// states (every frame of an animation), each with its state, file name, size in pixels and in bytes; an
// edited picture shows the pixels replace will put on the disc and is marked, a refused one names the
// refusal. Under them, and in each thumbnail's context menu: open in the image editor, replace, revert.
#pragma once

#include <QWidget>
#include <string>

#include "veld/app/menu_model.h"

class QLabel;
class QListWidget;
class QPushButton;

namespace veld::gui {

class EditWatch;

class ButtonPictures : public QWidget {
  Q_OBJECT
 public:
  // Item data of each thumbnail: the picture as read from its file (a null image when it has none) and
  // the file's path.
  static constexpr int kImageRole = Qt::UserRole;
  static constexpr int kFileRole = Qt::UserRole + 1;
  // The picture's edit as an EPictureEdit value.
  static constexpr int kEditRole = Qt::UserRole + 2;
  // The state the picture belongs to, as an EButtonState value.
  static constexpr int kStateRole = Qt::UserRole + 3;

  explicit ButtonPictures(QWidget* parent = nullptr);
  // Where the thumbnails take the edits from (may be nullptr).
  void setEdits(const EditWatch* edits) { edits_ = edits; }

  // The button's pictures; page_id names it in the heading.
  void showButton(const SMenuButton& button, int page_id);
  // No button chosen: a hint instead of pictures.
  void clear();

  QListWidget* list() const { return list_; }
  QLabel* heading() const { return heading_; }
  QPushButton* openButton() const { return open_; }
  QPushButton* replaceButton() const { return replace_; }
  QPushButton* revertButton() const { return revert_; }
  // The chosen thumbnail's file ("" when none).
  QString currentFile() const;

 signals:
  void openRequested(const QString& file);
  void replaceRequested(const QString& file);
  void revertRequested(const QString& file);
  // A thumbnail was chosen (a click or the arrow keys; not when showButton fills the list): its state.
  void stateChosen(EButtonState state);

 private:
  void updateActions();
  void showMenu(const QPoint& at);
  // One thumbnail of the state of that index; state_name says which state (and frame) it shows.
  void addPicture(const std::string& state_name, const SMenuPicture& picture, int state_index);

  QLabel* heading_;
  QListWidget* list_;
  QPushButton* open_;
  QPushButton* replace_;
  QPushButton* revert_;
  const EditWatch* edits_ = nullptr;
  bool filling_ = false;  // showButton or clear is changing the list
};

}  // namespace veld::gui
