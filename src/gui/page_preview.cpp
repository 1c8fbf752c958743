// SPDX-License-Identifier: GPL-3.0-or-later
#include "page_preview.h"

#include <QHelpEvent>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QToolTip>
#include <algorithm>

namespace veld::gui {
namespace {

constexpr int kMargin = 4;
constexpr int kCheck = 8;

void PaintCheckerboard(QPainter& painter, const QRect& area) {
  painter.save();
  painter.setClipRect(area);
  painter.fillRect(area, QColor(102, 102, 102));
  for (int y = area.top(); y <= area.bottom(); y += kCheck) {
    for (int x = area.left() + (((y - area.top()) / kCheck) % 2) * kCheck; x <= area.right(); x += 2 * kCheck) {
      painter.fillRect(QRect(x, y, kCheck, kCheck), QColor(153, 153, 153));
    }
  }
  painter.restore();
}

}  // namespace

PagePreview::PagePreview(QWidget* parent) : QWidget(parent) {
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(true);
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Expanding);
}

void PagePreview::setPage(const QImage& plane, const QVector<Box>& boxes) {
  plane_ = plane;
  boxes_ = boxes;
  selected_ = -1;
  update();
}

void PagePreview::setPlane(const QImage& plane) {
  plane_ = plane;
  update();
}

void PagePreview::clear() { setPage(QImage(), {}); }

void PagePreview::select(int index) {
  if (index < -1 || index >= boxes_.size()) index = -1;
  if (index == selected_) return;
  selected_ = index;
  update();
  emit buttonSelected(index);
}

QRectF PagePreview::planeRect() const {
  if (plane_.isNull()) return {};
  const QRectF area = QRectF(rect()).adjusted(kMargin, kMargin, -kMargin, -kMargin);
  if (area.width() <= 0 || area.height() <= 0) return {};
  const double scale = std::min(area.width() / plane_.width(), area.height() / plane_.height());
  const QSizeF size(plane_.width() * scale, plane_.height() * scale);
  return QRectF(area.center() - QPointF(size.width() / 2, size.height() / 2), size);
}

QRectF PagePreview::boxRect(int index) const {
  const QRectF target = planeRect();
  if (index < 0 || index >= boxes_.size() || target.isEmpty()) return {};
  const double scale = target.width() / plane_.width();
  const QRect& r = boxes_[index].rect;
  return QRectF(target.left() + r.x() * scale, target.top() + r.y() * scale, r.width() * scale, r.height() * scale);
}

int PagePreview::boxAt(QPointF point) const {
  int best = -1;
  double best_area = 0;
  for (int i = 0; i < boxes_.size(); ++i) {
    const QRectF r = boxRect(i);
    if (!r.contains(point)) continue;
    const double area = r.width() * r.height();
    if (best < 0 || area < best_area) {
      best = i;
      best_area = area;
    }
  }
  return best;
}

bool PagePreview::event(QEvent* event) {
  if (event->type() == QEvent::ToolTip) {
    auto* help = static_cast<QHelpEvent*>(event);
    const int i = boxAt(help->pos());
    if (i >= 0) {
      QToolTip::showText(help->globalPos(), boxes_[i].tip, this, boxRect(i).toAlignedRect());
    } else {
      QToolTip::hideText();
      event->ignore();
    }
    return true;
  }
  return QWidget::event(event);
}

void PagePreview::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  painter.fillRect(rect(), palette().color(QPalette::Window).darker(130));
  const QRectF target = planeRect();
  if (!target.isEmpty()) {
    PaintCheckerboard(painter, target.toAlignedRect());
    painter.setRenderHint(QPainter::SmoothPixmapTransform);
    painter.drawImage(target, plane_);
    painter.setRenderHint(QPainter::Antialiasing);
    for (int i = 0; i < boxes_.size(); ++i) {
      if (i != selected_) paintBox(painter, i);
    }
    if (selected_ >= 0) paintBox(painter, selected_);  // on top
  }
  if (hasFocus()) {
    painter.setPen(QPen(palette().color(QPalette::Highlight), 2));
    painter.setBrush(Qt::NoBrush);
    painter.drawRect(QRectF(rect()).adjusted(1, 1, -1, -1));
  }
}

void PagePreview::paintBox(QPainter& painter, int index) const {
  const Box& box = boxes_[index];
  const QRectF r = boxRect(index);
  const bool chosen = index == selected_;
  const QColor plain = box.edited ? QColor(255, 80, 220) : QColor(255, 210, 0);
  const QColor colour = chosen ? QColor(0, 200, 255) : box.shown ? plain : QColor(plain.red(), plain.green(), plain.blue(), 140);
  QPen pen(colour, chosen ? 3 : 1.5);
  if (!box.shown && !chosen) pen.setStyle(Qt::DashLine);
  painter.setPen(pen);
  painter.setBrush(chosen ? QColor(0, 200, 255, 50) : QColor(Qt::transparent));
  painter.drawRect(r);
  // The id in a small label at the top-left corner, inside the rectangle.
  const QString id = QString::number(box.id);
  const QFontMetrics metrics = painter.fontMetrics();
  const QRectF label(r.topLeft(), QSizeF(metrics.horizontalAdvance(id) + 6, metrics.height() + 2));
  painter.fillRect(label, colour);
  painter.setPen(Qt::black);
  painter.drawText(label, Qt::AlignCenter, id);
}

void PagePreview::mousePressEvent(QMouseEvent* event) {
  setFocus(Qt::MouseFocusReason);
  if (event->button() == Qt::LeftButton) select(boxAt(event->position()));
}

void PagePreview::keyPressEvent(QKeyEvent* event) {
  const int n = static_cast<int>(boxes_.size());
  if (n == 0) return QWidget::keyPressEvent(event);
  switch (event->key()) {
    case Qt::Key_Right:
    case Qt::Key_Down:
      select((selected_ + 1) % n);
      return;
    case Qt::Key_Left:
    case Qt::Key_Up:
      select(selected_ <= 0 ? n - 1 : selected_ - 1);
      return;
    case Qt::Key_Home:
      select(0);
      return;
    case Qt::Key_End:
      select(n - 1);
      return;
    default:
      break;
  }
  QWidget::keyPressEvent(event);
}

}  // namespace veld::gui
