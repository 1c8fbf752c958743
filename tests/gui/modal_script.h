// SPDX-License-Identifier: GPL-3.0-or-later
// Answers the modal dialogs a command opens (folder choosers, message boxes), one step per dialog, in
// the order they appear. A step that is missing, or a dialog left open, fails the test instead of hanging.
#pragma once

#include <QApplication>
#include <QBuffer>
#include <QImage>
#include <QMessageBox>
#include <QObject>
#include <QPainter>
#include <QPointer>
#include <QPushButton>
#include <QStringList>
#include <QTest>
#include <QTimer>
#include <QWidget>
#include <deque>
#include <filesystem>
#include <functional>

#include "folder_chooser.h"
#include "qt_text.h"

namespace veld::gui::test {

class ModalScript : public QObject {
  Q_OBJECT
 public:
  using Step = std::function<void(QWidget*)>;

  ModalScript() {
    connect(&timer_, &QTimer::timeout, this, &ModalScript::poll);
    timer_.start(5);
  }
  ~ModalScript() override { timer_.stop(); }

  void then(Step step) { steps_.push_back(std::move(step)); }
  int pending() const { return static_cast<int>(steps_.size()); }
  // The texts of every message box seen, in order.
  QStringList boxes;
  // Dialogs that appeared with no step left (each is closed).
  int unexpected = 0;

 private slots:
  void poll() {
    QWidget* w = QApplication::activeModalWidget();
    if (!w || w == handled_.data()) return;
    handled_ = w;
    if (auto* box = qobject_cast<QMessageBox*>(w)) boxes << box->text();
    if (steps_.empty()) {
      ++unexpected;
      QMetaObject::invokeMethod(w, "reject", Qt::QueuedConnection);
      return;
    }
    Step step = std::move(steps_.front());
    steps_.pop_front();
    step(w);
  }

 private:
  QTimer timer_;
  QPointer<QWidget> handled_;
  std::deque<Step> steps_;
};

// Clicks the button of a message box whose text is text.
inline void ClickBoxButton(QWidget* w, const QString& text) {
  auto* box = qobject_cast<QMessageBox*>(w);
  if (!box) return;
  for (QAbstractButton* b : box->buttons()) {
    if (b->text() == text) {
      b->click();
      return;
    }
  }
}

// Equal pixels; a fully transparent pixel's colour does not count.
inline bool SamePixels(const QImage& a, const QImage& b) {
  if (a.size() != b.size() || a.isNull()) return false;
  for (int y = 0; y < a.height(); ++y) {
    for (int x = 0; x < a.width(); ++x) {
      const QRgb p = a.pixel(x, y);
      const QRgb q = b.pixel(x, y);
      if (qAlpha(p) != qAlpha(q) || (qAlpha(p) != 0 && p != q)) return false;
    }
  }
  return true;
}

// Accepts a folder chooser at path (its OK must be enabled).
inline ModalScript::Step ChooseFolder(const std::filesystem::path& path) {
  return [path](QWidget* w) {
    auto* chooser = qobject_cast<FolderChooser*>(w);
    QVERIFY(chooser);
    chooser->setSelectedPath(PathText(path));
    QVERIFY(chooser->okButton()->isEnabled());
    chooser->okButton()->click();
  };
}

// The picture as a truecolour RGBA PNG with an antialiased ellipse over it in a colour the palette lacks.
inline QByteArray EllipsePng(QImage image) {
  image = image.convertToFormat(QImage::Format_ARGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setBrush(QColor(250, 250, 246));
  painter.setPen(Qt::NoPen);
  painter.drawEllipse(QRect(10, 10, image.width() / 3, image.height() - 20));
  painter.end();
  QByteArray bytes;
  QBuffer buffer(&bytes);
  buffer.open(QIODevice::WriteOnly);
  image.save(&buffer, "PNG");
  return bytes;
}

}  // namespace veld::gui::test
