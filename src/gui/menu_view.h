// SPDX-License-Identifier: GPL-3.0-or-later
// The menus of a disc in the main window: a tree of clips, IG streams, display sets and pages; the chosen
// page's preview with its buttons, drawn as a player first shows it or with every button in one state;
// and the pictures of the chosen button.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "veld/app/menu_model.h"

class QComboBox;
class QTreeWidget;
class QTreeWidgetItem;

namespace veld::gui {

class ButtonPictures;
class PagePreview;

class MenuView : public QWidget {
  Q_OBJECT
 public:
  explicit MenuView(QWidget* parent = nullptr);

  // Shows the model's tree and its first page.
  void setModel(std::shared_ptr<const SMenuModel> model);
  const SMenuModel* model() const { return model_.get(); }

  // Pages in tree order; selects one (its tree item too).
  int pageCount() const { return static_cast<int>(pages_.size()); }
  void selectPage(int index);
  int currentPage() const { return current_; }
  const SMenuPage* page() const;

  QTreeWidget* tree() const { return tree_; }
  QComboBox* states() const { return states_; }
  PagePreview* preview() const { return preview_; }
  ButtonPictures* pictures() const { return pictures_; }

 protected:
  // Enter in the tree, preview or pictures stays here: it must not press the window's default button.
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void fillTree();
  QTreeWidgetItem* pageItem(QTreeWidgetItem* parent, const SMenuPage& page, const SMenuPageRef& ref);
  void showPage(int index);
  void showButton(int index);
  // Draws the current page in the chosen state; keep_button keeps the chosen button (a new state only).
  void redraw(bool keep_button);

  std::shared_ptr<const SMenuModel> model_;
  std::vector<SMenuPageRef> pages_;
  std::vector<QTreeWidgetItem*> page_items_;
  int current_ = -1;
  QTreeWidget* tree_;
  QComboBox* states_;
  PagePreview* preview_;
  ButtonPictures* pictures_;
};

}  // namespace veld::gui
