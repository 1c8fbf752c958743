// SPDX-License-Identifier: GPL-3.0-or-later
#include "button_pictures.h"

#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QMenu>
#include <QPainter>
#include <QPushButton>
#include <QScrollBar>
#include <QVBoxLayout>

#include "edit_watch.h"
#include "qt_image.h"
#include "qt_text.h"
#include "veld/base/messages_menu.h"

namespace veld::gui {
namespace {

constexpr QSize kThumbnail(160, 64);

int StateText(int state) {
  switch (static_cast<EButtonState>(state)) {
    case EButtonState::kSelected:
      return kStrMenuSelected;
    case EButtonState::kActivated:
      return kStrMenuActivated;
    case EButtonState::kNormal:
      break;
  }
  return kStrMenuNormal;
}

// The picture scaled to fit the thumbnail (never enlarged beyond twice), centred over a checkerboard.
QPixmap Thumbnail(const QImage& image) {
  QPixmap pixmap(kThumbnail);
  pixmap.fill(Qt::transparent);
  if (image.isNull()) return pixmap;
  QSizeF size = image.size().scaled(kThumbnail, Qt::KeepAspectRatio);
  if (size.width() > image.width() * 2) size = image.size() * 2;
  const QRectF target(QPointF((kThumbnail.width() - size.width()) / 2, (kThumbnail.height() - size.height()) / 2),
                      size);
  QPainter painter(&pixmap);
  DrawOnCheckerboard(painter, target, image);
  return pixmap;
}

}  // namespace

ButtonPictures::ButtonPictures(QWidget* parent) : QWidget(parent) {
  heading_ = new QLabel(this);
  heading_->setObjectName(QStringLiteral("buttonPicturesHeading"));
  heading_->setWordWrap(true);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("buttonPictureList"));
  list_->setAccessibleName(Text(kStrMenuPictures));
  list_->setViewMode(QListView::IconMode);
  list_->setFlow(QListView::LeftToRight);
  list_->setWrapping(false);
  list_->setMovement(QListView::Static);
  list_->setResizeMode(QListView::Adjust);
  list_->setIconSize(kThumbnail);
  list_->setSpacing(6);
  list_->setWordWrap(true);
  list_->setUniformItemSizes(true);
  list_->setGridSize(QSize(kThumbnail.width() + 40, kThumbnail.height() + 3 * fontMetrics().height() + 16));
  list_->setFixedHeight(list_->gridSize().height() + list_->horizontalScrollBar()->sizeHint().height() + 8);
  heading_->setBuddy(list_);
  list_->setContextMenuPolicy(Qt::CustomContextMenu);
  open_ = new QPushButton(Text(kStrEditOpen), this);
  open_->setObjectName(QStringLiteral("openInEditorButton"));
  replace_ = new QPushButton(Text(kStrEditReplace), this);
  replace_->setObjectName(QStringLiteral("replacePictureButton"));
  revert_ = new QPushButton(Text(kStrEditRevert), this);
  revert_->setObjectName(QStringLiteral("revertPictureButton"));
  auto* actions = new QHBoxLayout;
  for (QPushButton* b : {open_, replace_, revert_}) {
    b->setAutoDefault(false);
    actions->addWidget(b);
  }
  actions->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(heading_);
  layout->addWidget(list_);
  layout->addLayout(actions);
  connect(open_, &QPushButton::clicked, this, [this] { emit openRequested(currentFile()); });
  connect(replace_, &QPushButton::clicked, this, [this] { emit replaceRequested(currentFile()); });
  connect(revert_, &QPushButton::clicked, this, [this] { emit revertRequested(currentFile()); });
  connect(list_, &QListWidget::currentRowChanged, this, &ButtonPictures::updateActions);
  connect(list_, &QListWidget::currentItemChanged, this, [this](QListWidgetItem* item) {
    if (!filling_ && item) emit stateChosen(static_cast<EButtonState>(item->data(kStateRole).toInt()));
  });
  connect(list_, &QWidget::customContextMenuRequested, this, &ButtonPictures::showMenu);
  clear();
}

void ButtonPictures::clear() {
  filling_ = true;
  list_->clear();
  filling_ = false;
  heading_->setText(Text(kStrMenuChooseButton));
  updateActions();
}

QString ButtonPictures::currentFile() const {
  const QListWidgetItem* item = list_->currentItem();
  return item ? item->data(kFileRole).toString() : QString();
}

void ButtonPictures::updateActions() {
  const QListWidgetItem* item = list_->currentItem();
  const bool file = item && !item->data(kFileRole).toString().isEmpty();
  open_->setEnabled(file);
  replace_->setEnabled(file);
  revert_->setEnabled(file && item->data(kEditRole).toInt() != static_cast<int>(EPictureEdit::kOriginal));
}

void ButtonPictures::showMenu(const QPoint& at) {
  QListWidgetItem* item = list_->itemAt(at);
  if (!item) return;
  list_->setCurrentItem(item);
  QMenu menu(this);
  for (QPushButton* b : {open_, replace_, revert_}) {
    QAction* action = menu.addAction(b->text(), b, &QPushButton::click);
    action->setEnabled(b->isEnabled());
  }
  menu.exec(list_->viewport()->mapToGlobal(at));
}

void ButtonPictures::showButton(const SMenuButton& button, int page_id) {
  filling_ = true;
  list_->clear();
  heading_->setText(FromUtf8(format_message(kStrMenuButtonHeading, button.id, page_id)));
  for (int s = 0; s < kButtonStateCount; ++s) {
    const auto& pictures = button.states[static_cast<std::size_t>(s)];
    const int frames = static_cast<int>(pictures.size());
    std::string state(message_text(StateText(s)));
    for (int f = 0; f < frames; ++f) {
      addPicture(frames == 1 ? state : format_message(kStrMenuFrame, state, f + 1, frames),
                 pictures[static_cast<std::size_t>(f)], s);
    }
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
  filling_ = false;
  updateActions();
}

void ButtonPictures::addPicture(const std::string& state_name, const SMenuPicture& picture, int state_index) {
  QImage image;
  QString text;
  const SPicturePreview* edit = edits_ ? edits_->preview(PathText(picture.file)) : nullptr;
  const SPicturePreview* copy = edits_ ? edits_->copy(PathText(picture.file)) : nullptr;
  const EPictureEdit state = edit ? edit->state : EPictureEdit::kOriginal;
  if (copy) {
    image = ToQImage(copy->image);  // a copy: the edit of another display set's picture reaches it
  } else if (state == EPictureEdit::kEdited) {
    image = ToQImage(edit->image);  // as replace will map it
  } else if (!picture.file.empty()) {
    if (const auto loaded = LoadMenuPicture(picture.file)) image = ToQImage(*loaded);
  }
  if (image.isNull()) {
    text = FromUtf8(state_name) + QStringLiteral("\n") + FromUtf8(format_message(kStrMenuNoPicture, picture.object_id));
  } else {
    const QFileInfo info(PathText(picture.file));
    text = FromUtf8(format_message(kStrMenuPictureText, state_name, info.fileName().toStdString(),
                                   image.width(), image.height(), std::to_string(info.size())));
  }
  if (state != EPictureEdit::kOriginal || copy) {
    const int mark = state == EPictureEdit::kRefused ? kStrEditRefusedMark : kStrEditMark;
    const qsizetype end = text.indexOf(QLatin1Char('\n'));
    text = FromUtf8(format_message(mark, text.left(end).toStdString())) + text.mid(end);
  }
  auto* item = new QListWidgetItem(QIcon(Thumbnail(image)), text, list_);
  item->setData(kImageRole, image);
  item->setData(kFileRole, PathText(picture.file));
  item->setData(kEditRole, static_cast<int>(state));
  item->setData(kStateRole, state_index);
  QString tip = PathText(picture.file);
  if (state == EPictureEdit::kRefused) tip += QStringLiteral("\n\n") + FromUtf8(format_message(kStrEditRefusedTip, edit->message));
  else if (state == EPictureEdit::kEdited && !edit->message.empty()) tip += QStringLiteral("\n\n") + FromUtf8(edit->message);
  if (state == EPictureEdit::kRefused) item->setForeground(QColor(200, 30, 30));
  if (state == EPictureEdit::kEdited || copy) item->setForeground(QColor(190, 40, 160));
  item->setToolTip(tip);
  item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

}  // namespace veld::gui
