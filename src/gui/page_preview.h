// SPDX-License-Identifier: GPL-3.0-or-later
// The preview of a menu page: the page's graphics plane scaled to fit (keeping its aspect ratio) over a
// checkerboard that shows where it is transparent, every button's rectangle and id drawn over it. A
// button's tooltip names it and its pictures; a click, or the arrow keys, select a button.
#pragma once

#include <QImage>
#include <QRect>
#include <QString>
#include <QVector>
#include <QWidget>

namespace veld::gui {

class PagePreview : public QWidget {
  Q_OBJECT
 public:
  struct Box {
    int id = 0;
    QRect rect;       // on the page, in its pixels
    bool shown = false;  // the button the page shows in its overlap group
    QString tip;
    bool edited = false;  // a picture of the button is edited: drawn in the edit colour
  };

  explicit PagePreview(QWidget* parent = nullptr);

  // The page's plane (its size is the page's) and its buttons; no button is selected afterwards.
  void setPage(const QImage& plane, const QVector<Box>& boxes);
  // Another plane of the same page (a button drawn in another state): the buttons and the choice stay.
  void setPlane(const QImage& plane);
  void clear();

  const QImage& plane() const { return plane_; }
  const QVector<Box>& boxes() const { return boxes_; }
  int selected() const { return selected_; }
  // Selects the button of that index (-1: none) and tells buttonSelected when it changes.
  void select(int index);

  // Where the plane is drawn in the widget, and where a button's rectangle is.
  QRectF planeRect() const;
  QRectF boxRect(int index) const;
  // The button under a point of the widget (the smallest when they overlap), or -1.
  int boxAt(QPointF point) const;

  QSize sizeHint() const override { return {640, 360}; }
  QSize minimumSizeHint() const override { return {240, 135}; }

 signals:
  void buttonSelected(int index);

 protected:
  bool event(QEvent* event) override;
  void paintEvent(QPaintEvent* event) override;
  void mousePressEvent(QMouseEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;

 private:
  void paintBox(QPainter& painter, int index) const;

  QImage plane_;
  QVector<Box> boxes_;
  int selected_ = -1;
};

}  // namespace veld::gui
