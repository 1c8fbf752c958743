// SPDX-License-Identifier: GPL-3.0-or-later
// The menus of a disc in the main window: a tree of clips, IG streams, display sets and pages; the chosen
// page's preview with its buttons, drawn as a player first shows it or with every button in one state;
// and the pictures of the chosen button. Choosing one of its pictures draws the page with that button in
// the picture's state, the others as before. The work folder's pictures are watched: the page is drawn with
// the edits as replace will take them, and edited pictures and their buttons and pages are marked; a tab
// lists the edited pictures before and after.
#pragma once

#include <QWidget>
#include <memory>
#include <vector>

#include "veld/app/menu_model.h"
#include "veld/graphics/colour_match.h"

class QComboBox;
class QTabWidget;
class QTreeWidget;
class QTreeWidgetItem;

namespace veld::gui {

class ButtonPictures;
class EditWatch;
class EditedList;
class PagePreview;

class MenuView : public QWidget {
  Q_OBJECT
 public:
  explicit MenuView(QWidget* parent = nullptr);

  // Shows the model's tree and its first page, the edits taken in with import as replace will.
  void setModel(std::shared_ptr<const SMenuModel> model, const SImportOptions& import = {});
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
  EditWatch* edits() const { return edits_; }
  EditedList* editedList() const { return edited_; }
  QTabWidget* tabs() const { return tabs_; }
  // Whether the tree marks the page as holding an edited picture.
  bool pageMarked(int index) const;

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
  // The current page's plane: its buttons as the states choice says, the button of index chosen_button_
  // in chosen_state_ when one is chosen.
  QImage plane() const;
  // A picture of the chosen button was chosen: the page drawn with the button in its state.
  void chooseState(EButtonState state);
  // The watch read the edits again: redraw, mark, list.
  void editsChanged();
  void markTree();
  bool buttonEdited(const SMenuButton& button) const;
  // The watch of the edits, and the tabs of the chosen button's pictures and of the edited pictures.
  void buildTabs();
  void connectActions();

  std::shared_ptr<const SMenuModel> model_;
  std::vector<SMenuPageRef> pages_;
  std::vector<QTreeWidgetItem*> page_items_;
  int current_ = -1;
  int chosen_button_ = -1;  // the button drawn in chosen_state_ (an index into the page's buttons), or -1
  EButtonState chosen_state_ = EButtonState::kNormal;
  bool restoring_ = false;  // the pictures' row is put back after a redraw: no choice of the user
  QTreeWidget* tree_;
  QComboBox* states_;
  PagePreview* preview_;
  ButtonPictures* pictures_;
  EditWatch* edits_;
  EditedList* edited_;
  QTabWidget* tabs_;
};

}  // namespace veld::gui
