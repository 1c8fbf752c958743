// SPDX-License-Identifier: GPL-3.0-or-later
#include "button_pictures.h"

#include <QFileInfo>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QScrollBar>
#include <QVBoxLayout>

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
  const QRect area = target.toAlignedRect();
  painter.fillRect(area, QColor(102, 102, 102));
  for (int y = area.top(); y <= area.bottom(); y += 8)
    for (int x = area.left() + ((y - area.top()) / 8 % 2) * 8; x <= area.right(); x += 16)
      painter.fillRect(QRect(x, y, 8, 8).intersected(area), QColor(153, 153, 153));
  painter.setRenderHint(QPainter::SmoothPixmapTransform);
  painter.drawImage(target, image);
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
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(heading_);
  layout->addWidget(list_);
  clear();
}

void ButtonPictures::clear() {
  list_->clear();
  heading_->setText(Text(kStrMenuChooseButton));
}

void ButtonPictures::showButton(const SMenuButton& button, int page_id) {
  list_->clear();
  heading_->setText(FromUtf8(format_message(kStrMenuButtonHeading, button.id, page_id)));
  for (int s = 0; s < kButtonStateCount; ++s) {
    const auto& pictures = button.states[static_cast<std::size_t>(s)];
    const int frames = static_cast<int>(pictures.size());
    std::string state(message_text(StateText(s)));
    for (int f = 0; f < frames; ++f) {
      addPicture(frames == 1 ? state : format_message(kStrMenuFrame, state, f + 1, frames),
                 pictures[static_cast<std::size_t>(f)]);
    }
  }
  if (list_->count() > 0) list_->setCurrentRow(0);
}

void ButtonPictures::addPicture(const std::string& state_name, const SMenuPicture& picture) {
  QImage image;
  QString text;
  if (!picture.file.empty()) {
    if (const auto loaded = LoadMenuPicture(picture.file)) image = ToQImage(*loaded);
  }
  if (image.isNull()) {
    text = FromUtf8(state_name) + QStringLiteral("\n") + FromUtf8(format_message(kStrMenuNoPicture, picture.object_id));
  } else {
    const QFileInfo info(PathText(picture.file));
    text = FromUtf8(format_message(kStrMenuPictureText, state_name, info.fileName().toStdString(),
                                   image.width(), image.height(), std::to_string(info.size())));
  }
  auto* item = new QListWidgetItem(QIcon(Thumbnail(image)), text, list_);
  item->setData(kImageRole, image);
  item->setData(kFileRole, PathText(picture.file));
  item->setToolTip(PathText(picture.file));
  item->setTextAlignment(Qt::AlignHCenter | Qt::AlignTop);
}

}  // namespace veld::gui
