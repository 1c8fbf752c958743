// SPDX-License-Identifier: GPL-3.0-or-later
// The progress window: a title with the percentage, inside it the step with its percentage, a status
// text (the file being read or written), a progress bar and Cancel.
//
// The pipeline runs on a worker thread and reports through GuiProgress, whose hooks reach the window as
// queued signals. Cancel, Esc and the close button set the cancellation flag that the pipeline sees at
// its next progress check; the window then hides and stays hidden.
#pragma once

#include <QDialog>
#include <QObject>
#include <QString>
#include <QWidget>

#include "veld/base/progress.h"

class QLabel;
class QProgressBar;
class QPushButton;

namespace veld::gui {

// Progress whose drawing hooks are forwarded as signals; safe to drive from any thread.
class GuiProgress : public QObject, public Progress {
  Q_OBJECT
 public:
  explicit GuiProgress(QObject* parent = nullptr) : QObject(parent) {}

 signals:
  void windowTitleChanged(const QString& text);
  void statusChanged(const QString& text);
  void positionChanged(int position);
  void barVisibleChanged(bool visible);
  // "Step: 42%", the step's name and the percentage reached.
  void stepChanged(const QString& text);

 protected:
  void on_window_title(const std::string& text) override;
  void on_title(const std::string& text) override;
  void on_status(const std::string& text) override;
  void on_position(int position, int percent) override;
  void on_bar_visible(bool visible) override;
};

// The status text: four lines high; a line that does not fit (a long path) loses its middle.
class StatusText : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kLines = 4;
  explicit StatusText(QWidget* parent = nullptr);
  void setText(const QString& text);
  const QString& text() const { return text_; }
  // The lines as drawn at the current width.
  QStringList shownLines() const;
  QSize sizeHint() const override;

 protected:
  void paintEvent(QPaintEvent* event) override;

 private:
  QString text_;
};

class ProgressDialog : public QDialog {
  Q_OBJECT
 public:
  ProgressDialog(GuiProgress& progress, QWidget* owner);

  QPushButton* cancelButton() const { return cancel_; }
  QProgressBar* bar() const { return bar_; }
  StatusText* statusText() const { return status_; }
  QLabel* stepText() const { return step_; }
  bool wasCancelled() const { return progress_.cancelled(); }

 public slots:
  // Cancel button, Esc and the close button all end here.
  void cancelRun();
  void reject() override;

 protected:
  void closeEvent(QCloseEvent* event) override;

 private:
  GuiProgress& progress_;
  QWidget* owner_;
  QLabel* step_;
  StatusText* status_;
  QProgressBar* bar_;
  QPushButton* cancel_;
};

}  // namespace veld::gui
