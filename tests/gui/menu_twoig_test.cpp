// SPDX-License-Identifier: GPL-3.0-or-later
// The menus in the window on a generated disc with two IG streams in one clip: both appear in the tree,
// a page of the second shows its own buttons and pictures, as the extraction wrote them for that stream.
#include <QListWidget>
#include <QSettings>
#include <QTest>
#include <QTreeWidget>
#include <filesystem>

#include "button_pictures.h"
#include "main_window.h"
#include "menu_view.h"
#include "modal_script.h"
#include "page_preview.h"
#include "qt_text.h"
#include "support/test_support.h"
#include "veld/app/commands.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"

namespace fs = std::filesystem;
using veld::gui::ButtonPictures;
using veld::gui::MenuView;
using veld::gui::PathText;

using veld::gui::test::SamePixels;

namespace {

// The tree item of the clip's stream whose text is text, or nullptr.
QTreeWidgetItem* StreamItem(QTreeWidget* tree, const QString& text) {
  for (int c = 0; c < tree->topLevelItemCount(); ++c) {
    QTreeWidgetItem* clip = tree->topLevelItem(c);
    for (int s = 0; s < clip->childCount(); ++s)
      if (clip->child(s)->text(0) == text) return clip->child(s);
  }
  return nullptr;
}

}  // namespace

class MenuTwoStreamsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<veld::test::TempDir> config_;

 private slots:
  void initTestCase() {
    config_ = std::make_unique<veld::test::TempDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, PathText(config_->path()));
  }
  void init() { veld::set_language(veld::Language::kEnglish); }
  void cleanup() { veld::reset_language(); }

  void bothStreamsAppearAndAPageOfTheSecondShowsItsPictures() {
    const fs::path disc = veld::test::test_discs_dir() / "twoig" / "BDMV";
    veld::test::TempDir tmp;
    veld::test::RecordingMessenger m;
    veld::test::RecordingProgress p;
    QCOMPARE(veld::RunExtractCommand(disc, tmp.path(), m, p).result, int(veld::kResultOk));
    veld::gui::MainWindow w;
    w.show();
    w.setSrcPath(PathText(disc));
    w.setWorkFolder(PathText(tmp.path()));
    QCOMPARE(w.showWorkFolderMenus(), int(veld::kResultOk));
    MenuView* view = w.menuView();
    QTreeWidget* tree = view->tree();
    QVERIFY(StreamItem(tree, QStringLiteral("IG stream PID 5120 (0x1400), eng")));
    QTreeWidgetItem* second = StreamItem(tree, QStringLiteral("IG stream PID 5121 (0x1401), fra"));
    QVERIFY(second);
    QVERIFY(second->childCount() > 0 && second->child(0)->childCount() > 0);

    // The first page of the second stream, chosen in the tree: its buttons in the preview.
    tree->setCurrentItem(second->child(0)->child(0));
    const veld::SMenuPage* page = view->page();
    QVERIFY(page && !page->buttons.empty());
    const veld::SMenuStream& stream = view->model()->clips[0].streams[1];
    QCOMPARE(int(stream.pid), 0x1401);
    QCOMPARE(&stream.display_sets[0].pages[0], page);
    QCOMPARE(view->preview()->boxes().size(), qsizetype(page->buttons.size()));
    for (int i = 0; i < view->preview()->boxes().size(); ++i)
      QCOMPARE(view->preview()->boxes()[i].id, page->buttons[static_cast<std::size_t>(i)].id);

    // A button's thumbnail: the pixels of that stream's extracted picture, read by Qt.
    view->preview()->select(0);
    QListWidget* list = view->pictures()->list();
    QVERIFY(list->count() > 0);
    const QString file = list->item(0)->data(ButtonPictures::kFileRole).toString();
    QVERIFY2(file.startsWith(PathText(tmp / "VELD" / "Images" / "00000" / "5121")), qPrintable(file));
    const QImage shown = list->item(0)->data(ButtonPictures::kImageRole).value<QImage>();
    QVERIFY2(SamePixels(shown.convertToFormat(QImage::Format_RGBA8888),
                        QImage(file).convertToFormat(QImage::Format_RGBA8888)),
             qPrintable(file));
  }
};

QTEST_MAIN(MenuTwoStreamsTest)
#include "menu_twoig_test.moc"
