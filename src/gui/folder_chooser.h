// SPDX-License-Identifier: GPL-3.0-or-later
// A folder chooser: a folder tree, the chosen path in an edit box, New folder, OK and Cancel.
//
// With a required name, OK is enabled only while the chosen folder's own name equals it ignoring case
// (the source chooser wants "BDMV", the replace chooser "VELD"). Without one, any existing folder will do.
#pragma once

#include <QDialog>
#include <QString>
#include <optional>

class QFileSystemModel;
class QLineEdit;
class QPushButton;
class QTreeView;

namespace veld::gui {

class FolderChooser : public QDialog {
  Q_OBJECT
 public:
  FolderChooser(const QString& title, const QString& required_name, const QString& start, QWidget* parent);

  // The chosen folder as the edit box shows it.
  QString selectedPath() const;
  // Selects a folder (in the tree too, when it exists).
  void setSelectedPath(const QString& path);
  QPushButton* okButton() const { return ok_; }
  QTreeView* tree() const { return tree_; }

  // Opens a chooser modally; the chosen folder, or nothing on Cancel.
  static std::optional<QString> choose(const QString& title, const QString& required_name, const QString& start,
                                       QWidget* parent);

 private slots:
  void treeSelectionChanged();
  void pathEdited(const QString& text);
  void newFolder();

 private:
  void updateOk();

  QString required_;
  QFileSystemModel* model_;
  QTreeView* tree_;
  QLineEdit* path_;
  QPushButton* ok_;
  QPushButton* new_folder_;
};

}  // namespace veld::gui
