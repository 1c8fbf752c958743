// SPDX-License-Identifier: GPL-3.0-or-later
// The menus in the window, on the sample disc: after an extraction (or on opening its work folder) the
// tree, the page preview with its buttons, and the chosen button's pictures as the extraction wrote them.
#include <QComboBox>
#include <QFileInfo>
#include <QHelpEvent>
#include <QLabel>
#include <QListWidget>
#include <QSettings>
#include <QTest>
#include <QToolTip>
#include <QTreeWidget>
#include <filesystem>

#include "button_pictures.h"
#include "folder_chooser.h"
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
using veld::gui::MainWindow;
using veld::gui::MenuView;
using veld::gui::PagePreview;
using veld::gui::PathText;
using veld::gui::test::ModalScript;

using veld::gui::test::SamePixels;

namespace {

fs::path SampleDisc() { return veld::test::source_dir() / "examples" / "sample-disc" / "BDMV"; }

// Extracts the sample disc through the window into rip (the chooser, then the closing box).
int ExtractSample(MainWindow& w, const fs::path& rip) {
  w.setSrcPath(PathText(SampleDisc()));
  ModalScript script;
  script.then([rip](QWidget* d) {
    auto* chooser = qobject_cast<veld::gui::FolderChooser*>(d);
    if (!chooser) return;
    chooser->setSelectedPath(PathText(rip));
    chooser->okButton()->click();
  });
  script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("OK")); });
  const int result = w.extractImages();
  return script.unexpected == 0 && script.pending() == 0 ? result : -1;
}

// Qt's own GIF reader, independent of the core's: the picture as RGBA.
QImage ReadWithQt(const QString& file) { return QImage(file).convertToFormat(QImage::Format_RGBA8888); }

}  // namespace

class MenuViewTest : public QObject {
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

  void afterAnExtractionTheTreeAndPreviewFollowTheModel() {
    veld::test::TempDir tmp;
    MainWindow w;
    w.show();
    QVERIFY(!w.menuView()->isVisible());
    QCOMPARE(ExtractSample(w, tmp.path()), int(veld::kResultOk));
    MenuView* view = w.menuView();
    QVERIFY(view->isVisible());
    QVERIFY(view->model() && view->model()->extracted);
    // The tree: clip, IG stream, display sets, pages.
    QTreeWidget* tree = view->tree();
    QCOMPARE(tree->topLevelItemCount(), 1);
    QCOMPARE(tree->topLevelItem(0)->text(0), QStringLiteral("Clip 00000"));
    QCOMPARE(tree->topLevelItem(0)->child(0)->text(0), QStringLiteral("IG stream PID 5120 (0x1400), eng"));
    QCOMPARE(view->pageCount(), 4);
    QCOMPARE(view->currentPage(), 0);
    // The arrow keys walk the tree: down from the first page is the second.
    tree->setFocus();
    QTest::keyClick(tree, Qt::Key_Down);
    QCOMPARE(view->currentPage(), 1);
    QTest::keyClick(tree, Qt::Key_Up);
    QCOMPARE(view->currentPage(), 0);
    // Enter on a page leaves the window open (it is not the Exit button's), and Tab reaches every part.
    QTest::keyClick(tree, Qt::Key_Return);
    QVERIFY(w.isVisible());
    QApplication::setActiveWindow(&w);
    tree->setFocus();
    for (QWidget* next : {static_cast<QWidget*>(view->states()), static_cast<QWidget*>(view->preview()),
                          static_cast<QWidget*>(view->pictures()->list())}) {
      QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
      QCOMPARE(QApplication::focusWidget(), next);
    }
    // The preview: the page at the video's aspect, a rectangle per button of the model.
    PagePreview* preview = view->preview();
    const veld::SMenuPage* page = view->page();
    QVERIFY(page);
    QCOMPARE(preview->plane().size(), QSize(page->width, page->height));
    const QRectF plane = preview->planeRect();
    QVERIFY(qAbs(plane.width() / plane.height() - double(page->width) / page->height) < 0.01);
    QCOMPARE(preview->boxes().size(), qsizetype(page->buttons.size()));
    for (int i = 0; i < preview->boxes().size(); ++i) {
      const veld::SMenuButton& b = page->buttons[static_cast<std::size_t>(i)];
      QCOMPARE(preview->boxes()[i].id, b.id);
      QCOMPARE(preview->boxes()[i].rect, QRect(b.x, b.y, b.width, b.height));
      QCOMPARE(preview->boxAt(preview->boxRect(i).center()), i);
    }
  }

  void aChosenButtonShowsItsPicturesAsTheirFilesHoldThem() {
    veld::test::TempDir tmp;
    MainWindow w;
    w.show();
    QCOMPARE(ExtractSample(w, tmp.path()), int(veld::kResultOk));
    MenuView* view = w.menuView();
    PagePreview* preview = view->preview();
    // Hovering names the button and its pictures (its selected state is an animation of four); a click
    // chooses it.
    const QPoint at = preview->boxRect(0).center().toPoint();
    QHelpEvent help(QEvent::ToolTip, at, preview->mapToGlobal(at));
    QApplication::sendEvent(preview, &help);
    QTRY_VERIFY(QToolTip::isVisible());
    const QString tip = QToolTip::text();
    QVERIFY2(tip.startsWith(QStringLiteral("Button 1: 760, 500, 400 x 80\nNormal: 0002.gif\n")), qPrintable(tip));
    QVERIFY2(tip.contains(QStringLiteral("Selected: 0011.gif, 0012.gif, 0013.gif, 0014.gif")), qPrintable(tip));
    QTest::mouseClick(preview, Qt::LeftButton, {}, at);
    QCOMPARE(preview->selected(), 0);
    // Its pictures: every state's objects, each thumbnail's pixels those of its file.
    QListWidget* list = view->pictures()->list();
    QCOMPARE(list->count(), 6);
    for (int i = 0; i < list->count(); ++i) {
      const QString file = list->item(i)->data(ButtonPictures::kFileRole).toString();
      QVERIFY(file.startsWith(PathText(tmp / "VELD" / "Images" / "00000" / "5120" / "Epoch1" / "DS1")));
      const QImage shown = list->item(i)->data(ButtonPictures::kImageRole).value<QImage>();
      QVERIFY2(SamePixels(shown, ReadWithQt(file)), qPrintable(file));
      QVERIFY(list->item(i)->text().contains(QFileInfo(file).fileName()));
      QVERIFY(list->item(i)->text().contains(QStringLiteral("400 x 80")));
    }
    QVERIFY2(list->item(2)->text().startsWith(QStringLiteral("Selected, frame 2 of 4\n0012.gif")),
             qPrintable(list->item(2)->text()));
    // The keyboard moves the choice; another state redraws the page and keeps the button.
    preview->setFocus();
    QTest::keyClick(preview, Qt::Key_Right);
    QCOMPARE(preview->selected(), 1);
    QCOMPARE(list->count(), 3);
    const QImage as_player = preview->plane();
    view->states()->setCurrentIndex(3);  // every button activated
    QVERIFY(preview->plane() != as_player);
    QCOMPARE(preview->selected(), 1);
  }

  void aChosenPictureDrawsThePageWithItsButtonInThatState() {
    // PNG pictures are converted with the page's own colour matrix: their pixels are the page's.
    veld::test::TempDir tmp;
    veld::test::RecordingMessenger m;
    veld::test::RecordingProgress p;
    veld::ExtractRequest request;
    request.format = veld::ImageFormat::kPng;
    QCOMPARE(veld::RunExtractCommand(SampleDisc(), tmp.path(), m, p, request).result, int(veld::kResultOk));
    MainWindow w;
    w.show();
    w.setSrcPath(PathText(SampleDisc()));
    w.setWorkFolder(PathText(tmp.path()));
    QCOMPARE(w.showWorkFolderMenus(), int(veld::kResultOk));
    MenuView* view = w.menuView();
    PagePreview* preview = view->preview();
    preview->select(0);
    const QImage as_player = preview->plane();
    const veld::SMenuButton& b = view->page()->buttons[0];
    // The arrow keys reach the last thumbnail: the activated state.
    QListWidget* list = view->pictures()->list();
    list->setFocus();
    QTest::keyClick(list, Qt::Key_End);
    QCOMPARE(list->currentItem()->data(ButtonPictures::kStateRole).toInt(), int(veld::EButtonState::kActivated));
    const QImage activated = list->currentItem()->data(ButtonPictures::kImageRole).value<QImage>();
    QVERIFY(!activated.isNull());
    const QImage drawn = preview->plane().convertToFormat(QImage::Format_RGBA8888);
    QVERIFY(SamePixels(drawn.copy(b.x, b.y, activated.width(), activated.height()),
                       activated.convertToFormat(QImage::Format_RGBA8888)));
    QVERIFY(drawn != as_player.convertToFormat(QImage::Format_RGBA8888));
    QCOMPARE(preview->selected(), 0);
    // Every other button as the player shows the page: outside the button nothing changed.
    const QRect button(b.x, b.y, activated.width(), activated.height());
    for (int y = 0; y < drawn.height(); y += 2)
      for (int x = 0; x < drawn.width(); x += 2)
        if (!button.contains(x, y) && drawn.pixel(x, y) != as_player.pixel(x, y)) QFAIL("changed outside the button");
    // Another button chosen: the page as the player shows it again.
    preview->select(1);
    QCOMPARE(preview->plane(), as_player);
  }

  void openingAnExtractedWorkFolderShowsItsMenus() {
    veld::test::TempDir tmp;
    {
      MainWindow first;
      QCOMPARE(ExtractSample(first, tmp.path()), int(veld::kResultOk));
    }
    veld::set_language(veld::Language::kChinese);
    MainWindow w;
    w.show();
    w.setSrcPath(PathText(SampleDisc()));
    w.setWorkFolder(PathText(tmp.path()));  // as veld-gui BDMV WORK names it
    QCOMPARE(w.showWorkFolderMenus(), int(veld::kResultOk));
    QVERIFY(w.menuView()->isVisible());
    QCOMPARE(w.menuView()->pageCount(), 4);
    QCOMPARE(w.menuView()->tree()->headerItem()->text(0), QStringLiteral("光盘菜单"));
    // A folder without an extraction shows nothing.
    veld::test::TempDir empty;
    MainWindow other;
    other.setSrcPath(PathText(SampleDisc()));
    other.setWorkFolder(PathText(empty.path()));
    QCOMPARE(other.showWorkFolderMenus(), int(veld::kResultOk));
    QVERIFY(other.menuView()->isHidden());
  }
};

QTEST_MAIN(MenuViewTest)
#include "menu_view_test.moc"
