// SPDX-License-Identifier: GPL-3.0-or-later
// The edits of the shown work folder, kept current: every picture folder and picture file of the model is
// watched, and a change (a save in place, or an editor's save by rename, which replaces the file) makes
// the edits be read again shortly after, as replace would take them (app/edit_preview.h).
#pragma once

#include <QObject>
#include <QString>
#include <QTimer>
#include <map>
#include <memory>
#include <vector>

#include "veld/app/edit_preview.h"
#include "veld/app/menu_model.h"

class QFileSystemWatcher;

namespace veld::gui {

class EditWatch : public QObject {
  Q_OBJECT
 public:
  // How long after the last change the edits are read again: an editor writes a file in several steps.
  static constexpr int kSettleMs = 150;

  explicit EditWatch(QObject* parent = nullptr);

  // Watches the pictures of the model's work folder (nothing when it holds no extraction) and reads them.
  void setModel(std::shared_ptr<const SMenuModel> model, const SImportOptions& import = {});
  // Takes the pictures in another way (the settings changed) and reads them again.
  void setImport(const SImportOptions& import);
  // Reads every picture again now, then tells editsChanged.
  void refresh();

  // What replace makes of the picture of that file (a path the model names); nullptr for other files.
  const SPicturePreview* preview(const QString& file) const;
  bool edited(const QString& file) const;
  // A picture whose own files are not edited but whose object replace changes (a copy of an edited
  // picture): its new pixels; nullptr otherwise.
  const SPicturePreview* copy(const QString& file) const;
  // Edited, or changed as a copy: what the marks show.
  bool changed(const QString& file) const { return edited(file) || copy(file); }
  // The stream with its edits applied (nullptr when none changed it), and its refusal ("" when none).
  const CGsData* segments(std::size_t clip, std::size_t stream) const;
  QString refusal(std::size_t clip, std::size_t stream) const;
  // The pictures that count as edited or refused, in the model's order.
  QStringList editedFiles() const;
  QFileSystemWatcher* watcher() const { return watcher_; }

 signals:
  void editsChanged();

 private:
  void rewatch();
  void findCopies();

  std::shared_ptr<const SMenuModel> model_;
  SImportOptions import_;
  QFileSystemWatcher* watcher_;
  QTimer settle_;
  std::vector<QString> files_;  // the model's picture files, each once
  std::map<QString, SPicturePreview> previews_;
  std::map<QString, SPicturePreview> copies_;
  std::map<std::pair<std::size_t, std::size_t>, SStreamEdits> streams_;
};

}  // namespace veld::gui
