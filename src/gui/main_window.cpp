// SPDX-License-Identifier: GPL-3.0-or-later
#include "main_window.h"

#include <fmt/format.h>

#include <algorithm>
#include <initializer_list>

#include <QCloseEvent>
#include <QDesktopServices>
#include <QDragEnterEvent>
#include <QDropEvent>
#include <QFileInfo>
#include <QGridLayout>
#include <QHBoxLayout>
#include <QIcon>
#include <QLabel>
#include <QLineEdit>
#include <QMessageBox>
#include <QMimeData>
#include <QPushButton>
#include <QRegularExpressionValidator>
#include <QSettings>
#include <QTextBlock>
#include <QTextCursor>
#include <QTextEdit>
#include <QTreeWidget>
#include <QUrl>
#include <QVBoxLayout>

#include "app_settings.h"
#include "command_session.h"
#include "folder_chooser.h"
#include "edit_watch.h"
#include "menu_view.h"
#include "settings_dialog.h"
#include "qt_text.h"
#include "veld/app/commands.h"
#include "veld/app/menu_model.h"
#include "veld/pipeline/output_names.h"
#include "veld/app/replace_summary.h"
#include "veld/app/shell.h"
#include "veld/base/messages_menu.h"
#include "veld/base/messages_undo.h"
#include "veld/base/result.h"

// The icons are compiled into the window's static library; a static library's resources must be
// registered by name.
static void InitResources() { Q_INIT_RESOURCE(veld); }

namespace veld::gui {
namespace fs = std::filesystem;

namespace {

// The usage note: lines that start with a tab are indented as a block (wrapped lines keep the indent),
// the first line (the title) and the other lines that do not start with a tab are bold.
void ShowUsage(QTextEdit* pane, const QString& text) {
  pane->clear();
  QTextCursor cursor(pane->document());
  const int indent = pane->fontMetrics().horizontalAdvance(QStringLiteral("MM"));
  bool first = true;
  for (const QString& line : text.split(QLatin1Char('\n'))) {
    QTextBlockFormat block;
    QTextCharFormat chars;
    QString shown = line;
    if (line.startsWith(QLatin1Char('\t'))) {
      shown = line.mid(1);
      block.setLeftMargin(indent);
    } else if (!line.isEmpty()) {
      chars.setFontWeight(QFont::Bold);
    }
    if (first) {
      chars.setFontWeight(QFont::Bold);  // the title line
      cursor.setBlockFormat(block);
      first = false;
    } else {
      cursor.insertBlock(block);
    }
    cursor.insertText(shown, chars);
  }
  pane->moveCursor(QTextCursor::Start);
}

QPushButton* Button(int text, const char* name, QWidget* parent) {
  auto* b = new QPushButton(Text(text), parent);
  b->setObjectName(QLatin1String(name));
  b->setAutoDefault(false);
  return b;
}

}  // namespace

namespace {

// Widgets in the order Tab moves through them.
void ChainTabOrder(std::initializer_list<QWidget*> widgets) {
  QWidget* previous = nullptr;
  for (QWidget* w : widgets) {
    if (previous) QWidget::setTabOrder(previous, w);
    previous = w;
  }
}

// The language field for the rebuilt menus: up to three lower-case letters.
QLineEdit* LanguageField(QWidget* parent) {
  auto* field = new QLineEdit(parent);
  field->setObjectName(QStringLiteral("igLanguage"));
  field->setPlaceholderText(Text(kStrIgLanguageHint));
  field->setMaxLength(3);
  field->setValidator(new QRegularExpressionValidator(QRegularExpression(QStringLiteral("[a-z]{0,3}")), field));
  field->setFixedWidth(field->fontMetrics().horizontalAdvance(QStringLiteral("MMMMMMMM")) + 12);
  return field;
}

QPushButton* BrowseButton(QWidget* parent) {
  auto* browse = new QPushButton(parent);
  browse->setObjectName(QStringLiteral("browseButton"));
  browse->setIcon(QIcon(QStringLiteral(":/veld/folder.svg")));
  browse->setIconSize(QSize(16, 16));
  browse->setToolTip(Text(kStrBrowseTip));
  browse->setAccessibleName(Text(kStrBrowseTip));
  browse->setAutoDefault(false);
  return browse;
}

}  // namespace

MainWindow::MainWindow(QWidget* parent) : QDialog(parent) {
  InitResources();
  setObjectName(QStringLiteral("mainWindow"));
  setWindowTitle(QStringLiteral("VELD"));
  setWindowIcon(QIcon(QStringLiteral(":/veld/veld.svg")));
  setWindowFlags(windowFlags() | Qt::WindowMinimizeButtonHint | Qt::WindowMaximizeButtonHint);
  setAcceptDrops(true);

  auto* label = new QLabel(Text(kStrSourceLabel), this);
  QPushButton* browse = BrowseButton(this);
  source_edit_ = new QLineEdit(this);
  source_edit_->setObjectName(QStringLiteral("sourcePath"));
  source_edit_->setReadOnly(true);
  label->setBuddy(browse);
  auto* source_row = new QHBoxLayout;
  source_row->addWidget(label);
  source_row->addWidget(browse);
  source_row->addWidget(source_edit_, 1);

  QPushButton* about = Button(kStrAboutButton, "aboutButton", this);
  QPushButton* web = Button(kStrWebButton, "webButton", this);
  QPushButton* extract = Button(kStrExtractButton, "extractButton", this);
  QPushButton* replace = Button(kStrReplaceButton, "replaceButton", this);
  QPushButton* undo = Button(kStrUndoButton, "undoButton", this);
  QPushButton* settings = Button(kStrSettingsButton, "settingsButton", this);
  QPushButton* exit = Button(kStrExitButton, "exitButton", this);
  exit->setDefault(true);
  auto* buttons = new QHBoxLayout;
  for (QPushButton* b : {about, web}) buttons->addWidget(b);
  buttons->addStretch(1);
  for (QPushButton* b : {extract, replace, undo, settings, exit}) buttons->addWidget(b);

  auto* language_label = new QLabel(Text(kStrIgLanguageLabel), this);
  ig_language_ = LanguageField(this);
  language_label->setBuddy(ig_language_);
  auto* language_row = new QHBoxLayout;
  language_row->addStretch(1);
  language_row->addWidget(language_label);
  language_row->addWidget(ig_language_);

  usage_ = new QTextEdit(this);
  usage_->setObjectName(QStringLiteral("usagePane"));
  usage_->setReadOnly(true);
  usage_->setAcceptRichText(false);
  ShowUsage(usage_, FromUtf8(message_text(kStrUsage)));
  menus_ = new MenuView(this);
  menus_->hide();

  auto* layout = new QVBoxLayout(this);
  layout->addLayout(source_row);
  layout->addLayout(buttons);
  layout->addLayout(language_row);
  layout->addWidget(usage_, 1);
  layout->addWidget(menus_, 1);
  ChainTabOrder({browse, source_edit_, about, web, extract, replace, undo, settings, ig_language_, exit, usage_,
                 menus_->tree()});

  connect(browse, &QPushButton::clicked, this, &MainWindow::chooseSource);
  connect(about, &QPushButton::clicked, this, &MainWindow::showAbout);
  connect(web, &QPushButton::clicked, this, &MainWindow::openWebSite);
  connect(extract, &QPushButton::clicked, this, &MainWindow::extractImages);
  connect(replace, &QPushButton::clicked, this, &MainWindow::replaceImages);
  connect(undo, &QPushButton::clicked, this, &MainWindow::undoCopyBack);
  connect(settings, &QPushButton::clicked, this, &MainWindow::showSettings);
  connect(exit, &QPushButton::clicked, this, &MainWindow::accept);

  resize(720, 560);
  loadSettings();
}

void MainWindow::loadSettings() {
  QSettings s = AppSettings();
  src_path_ = s.value(Key(kKeySrcPath)).toString();
  rip_path_ = s.value(Key(kKeyRipPath)).toString();
  fix_path_ = s.value(Key(kKeyFixPath)).toString();
  source_edit_->setText(src_path_);
}

void MainWindow::saveSettings() const {
  QSettings s = AppSettings();
  s.setValue(Key(kKeySrcPath), src_path_);
  s.setValue(Key(kKeyRipPath), rip_path_);
  s.setValue(Key(kKeyFixPath), fix_path_);
  s.sync();
}

void MainWindow::setSrcPath(const QString& path) {
  src_path_ = path;
  source_edit_->setText(path);
  source_edit_->setCursorPosition(static_cast<int>(path.size()));
}

void MainWindow::setWorkFolder(const QString& path) {
  const fs::path folder = PathFrom(path);
  const std::string work_name = SOutputNames()[SOutputNames::kWork];
  const bool is_work = FolderNameIs(folder, work_name);
  const fs::path work = is_work ? folder : folder / work_name;
  const fs::path rip = is_work ? folder.parent_path() : folder;
  rip_path_ = PathText(WithTrailingSeparator(rip));
  fix_path_ = PathText(WithTrailingSeparator(work));
}

void MainWindow::chooseSource() {
  const auto chosen = FolderChooser::choose(Text(kStrChooseSource), Key(kSourceFolderName), src_path_, this);
  if (chosen) setSrcPath(*chosen);
}

int MainWindow::extractImages() {
  GuiMessenger messenger(this);
  if (!CheckSourceSet(PathFrom(src_path_), messenger)) return kResultFailed;
  const auto chosen = FolderChooser::choose(Text(kStrChooseRip), QString(), rip_path_, this);
  if (!chosen) return kResultCancelled;
  rip_path_ = PathText(WithTrailingSeparator(PathFrom(*chosen)));
  const fs::path source = PathFrom(src_path_);
  const fs::path rip = PathFrom(*chosen);
  CommandSession session(this);
  const ExtractOutcome out = session.run<ExtractOutcome>(
      [&, request = ExtractSettings()](Messenger& m, Progress& p) { return RunExtractCommand(source, rip, m, p, request); });
  if (out.result == kResultOk && out.found) showMenus(WorkFolderOf(rip));
  return out.result;
}

int MainWindow::replaceImages() {
  GuiMessenger messenger(this);
  if (!CheckSourceSet(PathFrom(src_path_), messenger)) return kResultFailed;
  ReplaceOptions options;
  options.ig_language = ig_language_->text().toStdString();
  const SImportOptions import = ImportSettings();
  options.colours = import.colours;
  options.dither = import.dither;
  options.anchor = import.anchor;
  if (!CheckIgLanguage(options.ig_language, messenger)) {
    ig_language_->setFocus();
    return kResultFailed;
  }
  const QString work_name = FromUtf8(SOutputNames()[SOutputNames::kWork]);
  const auto chosen = FolderChooser::choose(Text(kStrChooseWork), work_name, fix_path_, this);
  if (!chosen) return kResultCancelled;
  fix_path_ = PathText(WithTrailingSeparator(PathFrom(*chosen)));
  const fs::path source = PathFrom(src_path_);
  const fs::path work = PathFrom(*chosen);
  // Checked here too so that no progress window opens for a folder without pictures.
  if (!CheckImageFolder(work, messenger)) return kResultFailed;
  CommandSession session(this);
  const ReplaceOutcome out = session.run<ReplaceOutcome>(
      [&](Messenger& m, Progress& p) { return RunReplaceCommand(source, work, options, m, p); });
  // The counts and the files the command line prints close the command here too.
  if (out.result == kResultOk && out.edited) messenger.show(MessageKind::kInfo, ReplaceEndText(out, false));
  // The pages then show the rebuilt disc: read again once copied into it, else drawn with the edits.
  if (out.result == kResultOk && out.copied_back && menus_->isVisible()) showMenus(WorkFolderOf(work));
  else if (menus_->isVisible()) menus_->edits()->refresh();
  return out.result;
}

int MainWindow::undoCopyBack() {
  const QString work_name = FromUtf8(SOutputNames()[SOutputNames::kWork]);
  const auto chosen = FolderChooser::choose(Text(kStrChooseUndoWork), work_name, fix_path_, this);
  if (!chosen) return kResultCancelled;
  fix_path_ = PathText(WithTrailingSeparator(PathFrom(*chosen)));
  const fs::path work = PathFrom(*chosen);
  CommandSession session(this);
  const UndoOutcome out =
      session.run<UndoOutcome>([&](Messenger& m, Progress&) { return RunUndoCommand(work, m); });
  return out.result;
}

int MainWindow::showMenus(const fs::path& work) {
  const fs::path source = PathFrom(src_path_);
  auto model = std::make_shared<SMenuModel>();
  CommandSession session(this);
  const int result = session.run<int>(
      [&](Messenger& m, Progress& p) { return BuildMenuModel(source, work, *model, p, m); });
  if (result != kResultOk) return result;
  menus_->setModel(std::move(model), ImportSettings());
  usage_->hide();
  menus_->show();
  // Room for the tree, a page at a readable size and the thumbnails.
  resize(std::max(width(), 1040), std::max(height(), 760));
  menus_->tree()->setFocus();
  return result;
}

int MainWindow::showWorkFolderMenus() {
  const fs::path work = WorkFolderOf(PathFrom(fix_path_));
  if (src_path_.isEmpty() || !HoldsExtraction(work)) return kResultOk;
  return showMenus(work);
}

void MainWindow::showSettings() {
  SettingsDialog dialog(this);
  // The pictures shown are taken in again as the next replace will take them.
  if (dialog.exec() == QDialog::Accepted && menus_->model()) menus_->edits()->setImport(ImportSettings());
}

void MainWindow::showAbout() {
  const std::string lines = fmt::format(
      "{}\n{}\n{}\n{}\n{}", message_text(kStrFileDescription),
      format_message(kStrAppVersion, "VELD", VELD_VERSION), message_text(kStrCompany), message_text(kStrLegal),
      message_text(kStrComments));
  QMessageBox box(this);
  box.setObjectName(QStringLiteral("aboutBox"));
  box.setWindowTitle(Text(kStrAboutTitle));
  box.setIconPixmap(windowIcon().pixmap(64, 64));
  box.setText(FromUtf8(lines));
  box.addButton(Text(kStrOk), QMessageBox::AcceptRole);
  box.exec();
}

void MainWindow::openWebSite() {
  const std::filesystem::path doc = DocumentationFile();
  if (!doc.empty()) QDesktopServices::openUrl(QUrl::fromLocalFile(FromUtf8(doc.string())));
}

void MainWindow::accept() {
  saveSettings();
  QDialog::accept();
}

void MainWindow::closeEvent(QCloseEvent* event) {
  // A command still running keeps the window; otherwise close without saving.
  if (CommandSession::current()) {
    event->ignore();
    return;
  }
  QDialog::closeEvent(event);
}

std::optional<QString> MainWindow::dropFolder(const QMimeData* mime) const {
  if (!mime || !mime->hasUrls() || mime->urls().size() != 1) return std::nullopt;
  const QUrl url = mime->urls().front();
  if (!url.isLocalFile()) return std::nullopt;
  QString path = url.toLocalFile();
  if (path.size() > 1 && path.endsWith(QLatin1Char('/'))) path.chop(1);
  if (!QFileInfo(path).isDir() || !FolderNameIs(PathFrom(path), kSourceFolderName)) return std::nullopt;
  return path;
}

void MainWindow::dragEnterEvent(QDragEnterEvent* event) {
  if (dropFolder(event->mimeData())) event->acceptProposedAction();
}

void MainWindow::dropEvent(QDropEvent* event) {
  const auto folder = dropFolder(event->mimeData());
  if (!folder) return;
  setSrcPath(*folder);
  event->acceptProposedAction();
}

}  // namespace veld::gui
