// SPDX-License-Identifier: GPL-3.0-or-later
#include "folder_chooser.h"

#include <QDialogButtonBox>
#include <QDir>
#include <QFileInfo>
#include <QFileSystemModel>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QTreeView>
#include <QVBoxLayout>

#include "qt_text.h"
#include "veld/app/shell.h"

namespace veld::gui {

FolderChooser::FolderChooser(const QString& title, const QString& required_name, const QString& start,
                             QWidget* parent)
    : QDialog(parent), required_(required_name) {
  setObjectName(QStringLiteral("folderChooser"));
  setWindowTitle(title);
  model_ = new QFileSystemModel(this);
  model_->setFilter(QDir::AllDirs | QDir::NoDotAndDotDot | QDir::Drives);
  model_->setRootPath(QStringLiteral("/"));
  model_->setReadOnly(false);  // New folder renames in place

  tree_ = new QTreeView(this);
  tree_->setObjectName(QStringLiteral("folderTree"));
  tree_->setModel(model_);
  for (int c = 1; c < model_->columnCount(); ++c) tree_->hideColumn(c);
  tree_->setHeaderHidden(true);
  tree_->setEditTriggers(QAbstractItemView::EditKeyPressed);

  path_ = new QLineEdit(this);
  path_->setObjectName(QStringLiteral("folderPath"));
  auto* hint = new QLabel(this);
  hint->setObjectName(QStringLiteral("hint"));
  if (!required_.isEmpty()) {
    hint->setText(FromUtf8(format_message(kStrChooserHint, required_.toStdString())));
  } else {
    hint->setText(title);
  }

  auto* buttons = new QDialogButtonBox(this);
  new_folder_ = buttons->addButton(Text(kStrNewFolder), QDialogButtonBox::ActionRole);
  new_folder_->setObjectName(QStringLiteral("newFolderButton"));
  ok_ = buttons->addButton(Text(kStrOk), QDialogButtonBox::AcceptRole);
  ok_->setObjectName(QStringLiteral("okButton"));
  ok_->setDefault(true);
  QPushButton* cancel = buttons->addButton(Text(kStrCancel), QDialogButtonBox::RejectRole);
  cancel->setObjectName(QStringLiteral("cancelButton"));

  auto* path_row = new QHBoxLayout;
  path_row->addWidget(new QLabel(Text(kStrFolderLabel), this));
  path_row->addWidget(path_, 1);
  auto* layout = new QVBoxLayout(this);
  layout->addWidget(hint);
  layout->addWidget(tree_, 1);
  layout->addLayout(path_row);
  layout->addWidget(buttons);
  resize(520, 460);

  connect(buttons, &QDialogButtonBox::accepted, this, &QDialog::accept);
  connect(buttons, &QDialogButtonBox::rejected, this, &QDialog::reject);
  connect(new_folder_, &QPushButton::clicked, this, &FolderChooser::newFolder);
  connect(tree_->selectionModel(), &QItemSelectionModel::currentChanged, this,
          &FolderChooser::treeSelectionChanged);
  connect(path_, &QLineEdit::textEdited, this, &FolderChooser::pathEdited);
  connect(model_, &QFileSystemModel::fileRenamed, this,
          [this](const QString& folder, const QString&, const QString& name) {
            setSelectedPath(QDir(folder).filePath(name));
          });

  setSelectedPath(start.isEmpty() ? QDir::homePath() : start);
}

QString FolderChooser::selectedPath() const { return path_->text(); }

void FolderChooser::setSelectedPath(const QString& path) {
  QString clean = path;
  if (clean.size() > 1 && clean.endsWith(QLatin1Char('/'))) clean = QDir::cleanPath(clean);
  path_->setText(clean);
  const QModelIndex index = model_->index(clean);
  if (index.isValid()) {
    const QSignalBlocker block(tree_->selectionModel());
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
  }
  updateOk();
}

void FolderChooser::treeSelectionChanged() {
  const QModelIndex index = tree_->currentIndex();
  if (index.isValid()) path_->setText(model_->filePath(index));
  updateOk();
}

void FolderChooser::pathEdited(const QString& text) {
  const QModelIndex index = model_->index(text);
  if (index.isValid() && QFileInfo(text).isDir()) {
    const QSignalBlocker block(tree_->selectionModel());
    tree_->setCurrentIndex(index);
    tree_->scrollTo(index);
  }
  updateOk();
}

void FolderChooser::updateOk() {
  const QString path = selectedPath();
  bool ok = !path.isEmpty() && QFileInfo(path).isDir();
  if (ok && !required_.isEmpty()) ok = FolderNameIs(PathFrom(path), required_.toStdString());
  ok_->setEnabled(ok);
}

void FolderChooser::newFolder() {
  const QString parent_path = selectedPath();
  if (!QFileInfo(parent_path).isDir()) return;
  const QString base = Text(kStrNewFolderName);
  QString name = base;
  for (int n = 2; QFileInfo::exists(QDir(parent_path).filePath(name)); ++n) name = QStringLiteral("%1 %2").arg(base).arg(n);
  const QModelIndex parent = model_->index(parent_path);
  const QModelIndex made = model_->mkdir(parent, name);
  if (!made.isValid()) return;
  tree_->setCurrentIndex(made);
  tree_->edit(made);
}

std::optional<QString> FolderChooser::choose(const QString& title, const QString& required_name,
                                             const QString& start, QWidget* parent) {
  FolderChooser chooser(title, required_name, start, parent);
  if (chooser.exec() != QDialog::Accepted) return std::nullopt;
  return chooser.selectedPath();
}

}  // namespace veld::gui
