// SPDX-License-Identifier: GPL-3.0-or-later
// The pictures of the chosen button: one thumbnail per object of its normal, selected and activated
// states (every frame of an animation), each with its state, file name, size in pixels and in bytes.
#pragma once

#include <QWidget>
#include <string>

#include "veld/app/menu_model.h"

class QLabel;
class QListWidget;

namespace veld::gui {

class ButtonPictures : public QWidget {
  Q_OBJECT
 public:
  // Item data of each thumbnail: the picture as read from its file (a null image when it has none) and
  // the file's path.
  static constexpr int kImageRole = Qt::UserRole;
  static constexpr int kFileRole = Qt::UserRole + 1;

  explicit ButtonPictures(QWidget* parent = nullptr);

  // The button's pictures; page_id names it in the heading.
  void showButton(const SMenuButton& button, int page_id);
  // No button chosen: a hint instead of pictures.
  void clear();

  QListWidget* list() const { return list_; }
  QLabel* heading() const { return heading_; }

 private:
  // One thumbnail; state_name says which state (and frame) it shows.
  void addPicture(const std::string& state_name, const SMenuPicture& picture);

  QLabel* heading_;
  QListWidget* list_;
};

}  // namespace veld::gui
