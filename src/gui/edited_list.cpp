// SPDX-License-Identifier: GPL-3.0-or-later
#include "edited_list.h"

#include <QDir>
#include <QFileInfo>
#include <QHBoxLayout>
#include <QLabel>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QVBoxLayout>

#include "edit_watch.h"
#include "qt_image.h"
#include "qt_text.h"
#include "veld/base/messages_menu.h"

namespace veld::gui {
namespace {

constexpr QSize kHalf(150, 60);
constexpr int kGap = 12;

// One picture scaled into its half over a checkerboard (never enlarged beyond twice).
void DrawHalf(QPainter& painter, const QImage& image, int left) {
  if (image.isNull()) return;
  QSizeF size = image.size().scaled(kHalf, Qt::KeepAspectRatio);
  if (size.width() > image.width() * 2) size = image.size() * 2;
  const QRectF target(QPointF(left + (kHalf.width() - size.width()) / 2, (kHalf.height() - size.height()) / 2), size);
  DrawOnCheckerboard(painter, target, image);
}

// Before and after side by side, an arrow between them.
QPixmap BeforeAfter(const QImage& before, const QImage& after) {
  QPixmap pixmap(kHalf.width() * 2 + kGap, kHalf.height());
  pixmap.fill(Qt::transparent);
  QPainter painter(&pixmap);
  DrawHalf(painter, before, 0);
  DrawHalf(painter, after, kHalf.width() + kGap);
  painter.setPen(QPen(QColor(190, 40, 160), 2));
  const int mid = kHalf.height() / 2;
  const int x = kHalf.width() + 2;
  painter.drawLine(x, mid, x + kGap - 4, mid);
  painter.drawLine(x + kGap - 8, mid - 4, x + kGap - 4, mid);
  painter.drawLine(x + kGap - 8, mid + 4, x + kGap - 4, mid);
  return pixmap;
}

}  // namespace

EditedList::EditedList(const EditWatch& edits, QWidget* parent) : QWidget(parent), edits_(edits) {
  setObjectName(QStringLiteral("editedList"));
  empty_ = new QLabel(Text(kStrEditNone), this);
  list_ = new QListWidget(this);
  list_->setObjectName(QStringLiteral("editedPictureList"));
  list_->setAccessibleName(Text(kStrEditListTitle));
  list_->setIconSize(QSize(kHalf.width() * 2 + kGap, kHalf.height()));
  list_->setSpacing(4);
  open_ = new QPushButton(Text(kStrEditOpen), this);
  open_->setObjectName(QStringLiteral("editedOpenButton"));
  revert_ = new QPushButton(Text(kStrEditRevert), this);
  revert_->setObjectName(QStringLiteral("editedRevertButton"));
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {open_, revert_}) {
    b->setAutoDefault(false);
    buttons->addWidget(b);
  }
  buttons->addStretch(1);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(0, 0, 0, 0);
  layout->addWidget(empty_);
  layout->addWidget(list_, 1);
  layout->addLayout(buttons);
  connect(open_, &QPushButton::clicked, this, [this] { emit openRequested(currentFile()); });
  connect(revert_, &QPushButton::clicked, this, [this] { emit revertRequested(currentFile()); });
  connect(list_, &QListWidget::currentRowChanged, this, [this](int row) {
    open_->setEnabled(row >= 0);
    revert_->setEnabled(row >= 0);
  });
  refresh();
}

QString EditedList::currentFile() const {
  const QListWidgetItem* item = list_->currentItem();
  return item ? item->data(kFileRole).toString() : QString();
}

void EditedList::refresh() {
  const QString chosen = currentFile();
  list_->clear();
  for (const QString& file : edits_.editedFiles()) {
    const SPicturePreview* p = edits_.preview(file);
    QImage after = ToQImage(p->image);
    if (p->state == EPictureEdit::kRefused) {
      if (const auto loaded = LoadMenuPicture(PathFrom(file))) after = ToQImage(*loaded);
    }
    // The picture named as replace names it: its place below the image folder.
    const QFileInfo info(file);
    const QString name = QDir(info.path() + QStringLiteral("/../../../..")).relativeFilePath(file);
    QString text = FromUtf8(format_message(kStrEditBeforeAfter, name.toStdString()));
    if (p->state == EPictureEdit::kRefused) text = FromUtf8(format_message(kStrEditRefusedMark, text.toStdString()));
    auto* item = new QListWidgetItem(QIcon(BeforeAfter(ToQImage(p->original), after)), text, list_);
    item->setData(kFileRole, file);
    const std::string tip = p->state == EPictureEdit::kRefused ? format_message(kStrEditRefusedTip, p->message)
                                                                : p->message;
    item->setToolTip(file + (tip.empty() ? QString() : QStringLiteral("\n\n") + FromUtf8(tip)));
    if (file == chosen) list_->setCurrentItem(item);
  }
  empty_->setVisible(list_->count() == 0);
  if (!list_->currentItem() && list_->count() > 0) list_->setCurrentRow(0);
  open_->setEnabled(list_->currentItem() != nullptr);
  revert_->setEnabled(list_->currentItem() != nullptr);
}

}  // namespace veld::gui
