// SPDX-License-Identifier: GPL-3.0-or-later
#include "menu_view.h"

#include <algorithm>

#include <QComboBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QKeyEvent>
#include <QLabel>
#include <QListWidget>
#include <QSplitter>
#include <QTabWidget>
#include <QTreeWidget>
#include <QVBoxLayout>

#include "button_pictures.h"
#include "edit_watch.h"
#include "edited_list.h"
#include "picture_actions.h"
#include "page_preview.h"
#include "qt_image.h"
#include "qt_text.h"
#include "veld/base/messages_menu.h"

namespace veld::gui {
namespace {

constexpr int kPageRole = Qt::UserRole;  // a page item's index into the pages, -1 on other items
constexpr int kTextRole = Qt::UserRole + 1;  // a page item's text without the edit mark

QTreeWidgetItem* Item(QTreeWidgetItem* parent, const std::string& text) {
  auto* item = new QTreeWidgetItem(parent, QStringList{FromUtf8(text)});
  item->setData(0, kPageRole, -1);
  item->setExpanded(true);
  return item;
}

// "Normal: 0002.gif" (or "none") for the tooltip of a button.
QString StateLine(int text, const std::vector<SMenuPicture>& pictures) {
  QStringList names;
  for (const SMenuPicture& p : pictures) {
    if (!p.file.empty()) names << PathText(p.file.filename());
  }
  const std::string files = names.isEmpty() ? std::string(message_text(kStrMenuNone)) : names.join(", ").toStdString();
  return FromUtf8(format_message(kStrMenuStateLine, std::string(message_text(text)), files));
}

QString ButtonTip(const SMenuButton& b) {
  QStringList lines{FromUtf8(format_message(kStrMenuButtonTip, b.id, b.x, b.y, b.width, b.height))};
  lines << StateLine(kStrMenuNormal, b.states[0]) << StateLine(kStrMenuSelected, b.states[1])
        << StateLine(kStrMenuActivated, b.states[2]);
  return lines.join(QLatin1Char('\n'));
}

}  // namespace

MenuView::MenuView(QWidget* parent) : QWidget(parent) {
  setObjectName(QStringLiteral("menuView"));
  tree_ = new QTreeWidget(this);
  tree_->setObjectName(QStringLiteral("menuTree"));
  tree_->setHeaderLabel(Text(kStrMenuTree));
  tree_->setAccessibleName(Text(kStrMenuTree));
  tree_->setUniformRowHeights(true);
  tree_->header()->setSectionResizeMode(QHeaderView::ResizeToContents);

  auto* states_label = new QLabel(Text(kStrMenuShownAs), this);
  states_ = new QComboBox(this);
  states_->setObjectName(QStringLiteral("buttonStates"));
  for (int text : {kStrMenuAsPlayer, kStrMenuNormal, kStrMenuSelected, kStrMenuActivated}) states_->addItem(Text(text));
  states_label->setBuddy(states_);

  preview_ = new PagePreview(this);
  preview_->setObjectName(QStringLiteral("pagePreview"));
  preview_->setAccessibleName(Text(kStrMenuPreview));
  pictures_ = new ButtonPictures(this);
  pictures_->setObjectName(QStringLiteral("buttonPictures"));
  buildTabs();

  auto* states_row = new QHBoxLayout;
  states_row->addWidget(states_label);
  states_row->addWidget(states_);
  states_row->addStretch(1);
  auto* right = new QWidget(this);
  auto* column = new QVBoxLayout(right);
  column->setContentsMargins(0, 0, 0, 0);
  column->addLayout(states_row);
  column->addWidget(preview_, 1);
  column->addWidget(tabs_);

  auto* splitter = new QSplitter(Qt::Horizontal, this);
  splitter->addWidget(tree_);
  splitter->addWidget(right);
  splitter->setStretchFactor(0, 0);
  splitter->setStretchFactor(1, 1);
  splitter->setSizes({290, 700});
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(splitter);

  setTabOrder(tree_, states_);
  setTabOrder(states_, preview_);
  setTabOrder(preview_, pictures_->list());

  connect(tree_, &QTreeWidget::currentItemChanged, this, [this](QTreeWidgetItem* item) {
    const int index = item ? item->data(0, kPageRole).toInt() : -1;
    if (index >= 0) showPage(index);
  });
  connect(states_, &QComboBox::currentIndexChanged, this, [this] { redraw(true); });
  connect(preview_, &PagePreview::buttonSelected, this, &MenuView::showButton);
  connect(pictures_, &ButtonPictures::stateChosen, this, &MenuView::chooseState);
  connect(edits_, &EditWatch::editsChanged, this, &MenuView::editsChanged);
  connectActions();
}

void MenuView::buildTabs() {
  edits_ = new EditWatch(this);
  pictures_->setEdits(edits_);
  edited_ = new EditedList(*edits_, this);
  tabs_ = new QTabWidget(this);
  tabs_->setObjectName(QStringLiteral("pictureTabs"));
  tabs_->addTab(pictures_, Text(kStrMenuPictures));
  tabs_->addTab(edited_, Text(kStrEditListTitle));
}

void MenuView::connectActions() {
  const auto open = [this](const QString& file) { OpenInEditor(this, file); };
  const auto replace = [this](const QString& file) {
    if (model_ && ReplacePicture(this, *model_, file) == 0) edits_->refresh();
  };
  const auto revert = [this](const QString& file) {
    if (model_ && RevertPictureFile(this, *model_, file) == 0) edits_->refresh();
  };
  connect(pictures_, &ButtonPictures::openRequested, this, open);
  connect(pictures_, &ButtonPictures::replaceRequested, this, replace);
  connect(pictures_, &ButtonPictures::revertRequested, this, revert);
  connect(edited_, &EditedList::openRequested, this, open);
  connect(edited_, &EditedList::revertRequested, this, revert);
}

bool MenuView::buttonEdited(const SMenuButton& button) const {
  for (const auto& state : button.states)
    for (const SMenuPicture& picture : state)
      if (!picture.file.empty() && edits_->changed(PathText(picture.file))) return true;
  return false;
}

bool MenuView::pageMarked(int index) const {
  if (!model_ || index < 0 || index >= pageCount()) return false;
  const SMenuPage* p = FindMenuPage(*model_, pages_[static_cast<std::size_t>(index)]);
  return p && std::any_of(p->buttons.begin(), p->buttons.end(), [this](const SMenuButton& b) { return buttonEdited(b); });
}

void MenuView::markTree() {
  for (int i = 0; i < pageCount(); ++i) {
    QTreeWidgetItem* item = page_items_[static_cast<std::size_t>(i)];
    const QString text = item->data(0, kTextRole).toString();
    const bool marked = pageMarked(i);
    item->setText(0, marked ? FromUtf8(format_message(kStrEditMark, text.toStdString())) : text);
    item->setForeground(0, marked ? QBrush(QColor(190, 40, 160)) : QBrush());
    const SMenuPageRef& ref = pages_[static_cast<std::size_t>(i)];
    const QString refusal = edits_->refusal(ref.clip, ref.stream);
    item->setToolTip(0, refusal.isEmpty() ? QString() : FromUtf8(format_message(kStrEditStreamRefused, refusal.toStdString())));
  }
}

void MenuView::editsChanged() {
  markTree();
  edited_->refresh();
  const int row = pictures_->list()->currentRow();
  redraw(true);
  restoring_ = true;
  if (row >= 0 && row < pictures_->list()->count()) pictures_->list()->setCurrentRow(row);
  restoring_ = false;
}

void MenuView::setModel(std::shared_ptr<const SMenuModel> model, const SImportOptions& import) {
  model_ = std::move(model);
  current_ = -1;
  tree_->clear();
  pages_.clear();
  page_items_.clear();
  edits_->setModel(model_, import);  // the edits first: the first page is drawn with them
  fillTree();
  if (!pages_.empty()) selectPage(0);
  markTree();
}

void MenuView::fillTree() {
  tree_->clear();
  pages_.clear();
  page_items_.clear();
  if (!model_) return;
  for (std::size_t c = 0; c < model_->clips.size(); ++c) {
    const SMenuClip& clip = model_->clips[c];
    auto* clip_item = Item(tree_->invisibleRootItem(), format_message(kStrMenuClip, clip.name));
    for (std::size_t s = 0; s < clip.streams.size(); ++s) {
      const SMenuStream& st = clip.streams[s];
      const std::string language = st.language.empty() ? std::string(message_text(kStrMenuNone)) : st.language;
      auto* stream_item = Item(clip_item, format_message(kStrMenuStream, int{st.pid}, int{st.pid}, language));
      for (std::size_t d = 0; d < st.display_sets.size(); ++d) {
        const SMenuDisplaySet& ds = st.display_sets[d];
        auto* ds_item = Item(stream_item, format_message(kStrMenuDisplaySet, ds.number));
        for (std::size_t p = 0; p < ds.pages.size(); ++p) pageItem(ds_item, ds.pages[p], SMenuPageRef{c, s, d, p});
      }
    }
  }
}

QTreeWidgetItem* MenuView::pageItem(QTreeWidgetItem* parent, const SMenuPage& page, const SMenuPageRef& ref) {
  const int buttons = static_cast<int>(page.buttons.size());
  QTreeWidgetItem* item = Item(parent, format_message(kStrMenuPage, page.id, buttons));
  item->setData(0, kPageRole, static_cast<int>(pages_.size()));
  item->setData(0, kTextRole, item->text(0));
  pages_.push_back(ref);
  page_items_.push_back(item);
  return item;
}

void MenuView::selectPage(int index) {
  if (index < 0 || index >= pageCount()) return;
  tree_->setCurrentItem(page_items_[static_cast<std::size_t>(index)]);
  showPage(index);
}

const SMenuPage* MenuView::page() const {
  if (!model_ || current_ < 0) return nullptr;
  return FindMenuPage(*model_, pages_[static_cast<std::size_t>(current_)]);
}

void MenuView::showPage(int index) {
  if (index == current_) return;
  current_ = index;
  redraw(false);
}

QImage MenuView::plane() const {
  const SMenuPage* p = page();
  if (!p) return {};
  const auto buttons = static_cast<EPageButtons>(std::max(0, states_->currentIndex()));
  const SMenuPageRef& ref = pages_[static_cast<std::size_t>(current_)];
  SButtonStateOverride chosen;
  if (chosen_button_ >= 0 && chosen_button_ < static_cast<int>(p->buttons.size()))
    chosen = ButtonStateOverride(p->buttons[static_cast<std::size_t>(chosen_button_)].id, chosen_state_);
  return ToQImage(DrawMenuPage(*model_, ref, buttons, edits_->segments(ref.clip, ref.stream), chosen));
}

void MenuView::chooseState(EButtonState state) {
  if (restoring_ || preview_->selected() < 0) return;
  chosen_button_ = preview_->selected();
  chosen_state_ = state;
  const QImage drawn = plane();
  if (!drawn.isNull()) preview_->setPlane(drawn);
}

void MenuView::redraw(bool keep_button) {
  const SMenuPage* p = page();
  pictures_->clear();
  if (!keep_button) chosen_button_ = -1;
  if (!p) {
    preview_->clear();
    return;
  }
  const QImage plane = this->plane();
  QVector<PagePreview::Box> boxes;
  for (const SMenuButton& b : p->buttons) {
    const bool edited = buttonEdited(b);
    QString tip = ButtonTip(b);
    if (edited) tip = FromUtf8(format_message(kStrEditMark, tip.toStdString()));
    boxes.push_back({b.id, QRect(b.x, b.y, b.width, b.height), b.shown, tip, edited});
  }
  QImage shown = plane;
  if (shown.isNull() && p->width > 0 && p->height > 0) {
    shown = QImage(p->width, p->height, QImage::Format_RGBA8888);
    shown.fill(Qt::transparent);
  }
  const int selected = preview_->selected();
  preview_->setPage(shown, boxes);
  if (keep_button && selected >= 0) preview_->select(selected);
}

void MenuView::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) {
    event->accept();
    return;
  }
  QWidget::keyPressEvent(event);
}

void MenuView::showButton(int index) {
  // Another button (or none): the one drawn in a state of its own goes back to the states choice.
  if (chosen_button_ >= 0 && chosen_button_ != index) {
    chosen_button_ = -1;
    const QImage drawn = plane();
    if (!drawn.isNull()) preview_->setPlane(drawn);
  }
  const SMenuPage* p = page();
  if (!p || index < 0 || index >= static_cast<int>(p->buttons.size())) {
    pictures_->clear();
    return;
  }
  pictures_->showButton(p->buttons[static_cast<std::size_t>(index)], p->id);
}

}  // namespace veld::gui
