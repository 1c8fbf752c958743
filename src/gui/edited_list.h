// SPDX-License-Identifier: GPL-3.0-or-later
// The edited pictures of the work folder, each as the disc holds it beside what replace will put there
// (a refused one beside its file, with the refusal), and Revert, which puts the extracted original back.
#pragma once

#include <QWidget>

class QLabel;
class QListWidget;
class QPushButton;

namespace veld::gui {

class EditWatch;

class EditedList : public QWidget {
  Q_OBJECT
 public:
  // Item data: the picture's file.
  static constexpr int kFileRole = Qt::UserRole;

  explicit EditedList(const EditWatch& edits, QWidget* parent = nullptr);

  // Reads the edits again (the watch changed).
  void refresh();

  QListWidget* list() const { return list_; }
  QPushButton* revertButton() const { return revert_; }
  QPushButton* openButton() const { return open_; }

 signals:
  void openRequested(const QString& file);
  void revertRequested(const QString& file);

 private:
  QString currentFile() const;

  const EditWatch& edits_;
  QLabel* empty_;
  QListWidget* list_;
  QPushButton* open_;
  QPushButton* revert_;
};

}  // namespace veld::gui
