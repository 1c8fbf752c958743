// SPDX-License-Identifier: GPL-3.0-or-later
// The main window: the source BDMV folder, the two commands and the undo of a copy-back, Settings, About, Web site,
// Exit and the usage text.
#pragma once

#include <QDialog>
#include <QString>
#include <filesystem>
#include <memory>
#include <optional>

class QLineEdit;
class QMimeData;
class QPushButton;
class QTextEdit;

namespace veld::gui {

class MenuView;

class MainWindow : public QDialog {
  Q_OBJECT
 public:
  explicit MainWindow(QWidget* parent = nullptr);

  const QString& srcPath() const { return src_path_; }
  const QString& ripPath() const { return rip_path_; }
  const QString& fixPath() const { return fix_path_; }
  // The menus of the last extraction or opened work folder (hidden until there are some).
  MenuView* menuView() const { return menus_; }
  // Sets the source folder as the chooser or a drop does.
  void setSrcPath(const QString& path);
  // Opens the choosers of both commands at a work folder: the "VELD" folder itself, or the folder that
  // holds it (as veld-gui's second argument names it).
  void setWorkFolder(const QString& path);

 public slots:
  void chooseSource();
  // The commands; their result: 0 success, 1 cancelled or declined, 2 failure (already shown).
  int extractImages();
  int replaceImages();
  // Puts back the originals of the last copy-back from a chosen work folder.
  int undoCopyBack();
  // Reads the source's menus (off the user-interface thread, with the progress window) and shows them
  // with the pictures of the VELD work folder work; result as the commands'.
  int showMenus(const std::filesystem::path& work);
  // At start: shows the menus when the work folder set by setWorkFolder holds an extraction.
  int showWorkFolderMenus();
  void showAbout();
  // The settings: editor command, picture format, previews, and how replace takes edited pictures in.
  void showSettings();
  void openWebSite();
  // Exit: saves the remembered folders, then closes.
  void accept() override;

 protected:
  void closeEvent(QCloseEvent* event) override;
  void dragEnterEvent(QDragEnterEvent* event) override;
  void dropEvent(QDropEvent* event) override;

 private:
  void loadSettings();
  void saveSettings() const;
  std::optional<QString> dropFolder(const QMimeData* mime) const;

  QString src_path_;
  QString rip_path_;  // with a trailing '/'
  QString fix_path_;  // with a trailing '/'
  QLineEdit* source_edit_;
  QLineEdit* ig_language_;
  QTextEdit* usage_;
  MenuView* menus_;
};

}  // namespace veld::gui
