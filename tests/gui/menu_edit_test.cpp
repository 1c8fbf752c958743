// SPDX-License-Identifier: GPL-3.0-or-later
// Editing in the window, on the sample disc: a picture changed on disk by another program is marked and
// drawn as replace will take it; that prediction is what replace and a new extraction give; Revert puts
// the extracted bytes back.
#include <QBuffer>
#include <QComboBox>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <filesystem>

#include "button_pictures.h"
#include "edited_list.h"
#include "folder_chooser.h"
#include "main_window.h"
#include "menu_view.h"
#include "modal_script.h"
#include "page_preview.h"
#include "picture_actions.h"
#include "qt_image.h"
#include "qt_text.h"
#include "support/test_support.h"
#include "veld/app/commands.h"
#include "veld/app/edit_preview.h"
#include "veld/base/result.h"
#include "veld/graphics/image_file.h"
#include "veld/pipeline/manifest.h"

namespace fs = std::filesystem;
using veld::gui::PathText;

namespace {

fs::path SampleDisc() { return veld::test::source_dir() / "examples" / "sample-disc" / "BDMV"; }
const char* const kPicture = "VELD/Images/00000/5120/Epoch1/DS1/0002.gif";  // button 1, normal

// A truecolour edit as editors save one, RGBA PNG: the picture mirrored (its text reads the other way),
// an antialiased ellipse over it in a colour the palette lacks.
QByteArray EditedPng(const fs::path& original) {
  return veld::gui::test::EllipsePng(QImage(PathText(original)).mirrored(true, false));
}

// Written as an editor that saves by rename does: a new file moved over the name.
void SaveByRename(const fs::path& to, const QByteArray& bytes) {
  const fs::path staged = to.parent_path() / ".edit.tmp";
  veld::test::write_file(staged, veld::ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                static_cast<std::size_t>(bytes.size())));
  fs::rename(staged, to);
}

// What the app layer predicts for the page: its stream with the work folder's edits, drawn.
QImage PredictedPage(const veld::SMenuModel& model, veld::EPageButtons buttons) {
  veld::test::RecordingMessenger m;
  veld::CEditRule rule;
  if (!veld::LoadEditRule(model, {}, rule, m)) return {};
  const veld::SStreamEdits edits = veld::ApplyStreamEdits(model, 0, 0, rule);
  const veld::CGsData* segments = edits.segments ? &*edits.segments : nullptr;
  return veld::gui::ToQImage(veld::DrawMenuPage(model, veld::SMenuPageRef{}, buttons, segments));
}

// A copy of the sample disc in tmp/DISC: its BDMV folder.
fs::path CopySampleDisc(const veld::test::TempDir& tmp) {
  fs::create_directories(tmp / "DISC");
  fs::copy(SampleDisc(), tmp / "DISC" / "BDMV", fs::copy_options::recursive);
  return tmp / "DISC" / "BDMV";
}

}  // namespace

class MenuEditTest : public QObject {
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

  void aPictureChangedOnDiskIsMarkedAndDrawnThenRevertRestoresItsBytes() {
    veld::test::TempDir tmp;
    veld::test::RecordingMessenger m;
    veld::test::RecordingProgress p;
    QCOMPARE(veld::RunExtractCommand(SampleDisc(), tmp.path(), m, p).result, int(veld::kResultOk));
    veld::gui::MainWindow w;
    w.show();
    w.setSrcPath(PathText(SampleDisc()));
    w.setWorkFolder(PathText(tmp.path()));
    QCOMPARE(w.showWorkFolderMenus(), int(veld::kResultOk));
    veld::gui::MenuView* view = w.menuView();
    view->states()->setCurrentIndex(1);  // every button in its normal state
    view->preview()->select(0);
    const QImage before = view->preview()->plane();
    QVERIFY(!view->pageMarked(0));

    // Another program saves a truecolour PNG beside the GIF, by rename: marked within a second.
    const fs::path gif = tmp / kPicture;
    const veld::Bytes original = veld::test::read_file(gif);
    const fs::path png = fs::path(gif).replace_extension(".png");
    SaveByRename(png, EditedPng(gif));
    QTRY_VERIFY_WITH_TIMEOUT(view->pageMarked(0), 1000);
    QVERIFY(view->preview()->boxes()[0].edited);
    QVERIFY(view->pageMarked(2));  // display set 2 sends the same page again: its copy takes the edit
    QListWidget* thumbs = view->pictures()->list();
    QCOMPARE(thumbs->item(0)->data(veld::gui::ButtonPictures::kEditRole).toInt(),
             int(veld::EPictureEdit::kEdited));
    QVERIFY(thumbs->item(0)->text().startsWith(QStringLiteral("Normal [edited]")));
    // The page drawn is the app layer's prediction, and differs from the disc's.
    const QImage predicted = PredictedPage(*view->model(), veld::EPageButtons::kNormal);
    QVERIFY(!predicted.isNull());
    QCOMPARE(view->preview()->plane(), predicted);
    QVERIFY(predicted != before);
    QCOMPARE(view->editedList()->list()->count(), 1);

    // Revert (asked first) puts the extracted GIF back byte for byte and removes the other edit.
    SaveByRename(gif, EditedPng(gif));
    veld::gui::test::ModalScript script;
    script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("&Yes")); });
    thumbs->setCurrentRow(0);
    QTRY_VERIFY(view->pictures()->revertButton()->isEnabled());
    view->pictures()->revertButton()->click();
    QCOMPARE(script.pending(), 0);
    QCOMPARE(script.unexpected, 0);
    QVERIFY(veld::test::read_file(gif) == original);
    QVERIFY(!fs::exists(png));
    QTRY_VERIFY_WITH_TIMEOUT(!view->pageMarked(0), 1000);
    QCOMPARE(view->preview()->plane(), before);
  }

  void replacePictureTakesTheFileUnderThePicturesNameAndAsksBeforeReplacingAnEdit() {
    veld::test::TempDir tmp;
    veld::test::RecordingMessenger m;
    veld::test::RecordingProgress p;
    QCOMPARE(veld::RunExtractCommand(SampleDisc(), tmp.path(), m, p).result, int(veld::kResultOk));
    veld::gui::MainWindow w;
    w.setSrcPath(PathText(SampleDisc()));
    w.setWorkFolder(PathText(tmp.path()));
    QCOMPARE(w.showWorkFolderMenus(), int(veld::kResultOk));
    const fs::path gif = tmp / kPicture;
    const fs::path png = fs::path(gif).replace_extension(".png");
    const fs::path chosen = tmp / "new.png";
    SaveByRename(chosen, EditedPng(gif));
    SaveByRename(png, EditedPng(chosen));  // an edit already there, under the other extension
    veld::gui::test::ModalScript script;
    script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("&No")); });
    script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("&Yes")); });
    const veld::SMenuModel& model = *w.menuView()->model();
    QCOMPARE(veld::gui::ReplacePicture(&w, model, PathText(gif), PathText(chosen)), int(veld::kResultCancelled));
    QVERIFY(fs::exists(png));  // declined: the edit stays
    QCOMPARE(veld::gui::ReplacePicture(&w, model, PathText(gif), PathText(chosen)), int(veld::kResultOk));
    QCOMPARE(script.unexpected, 0);
    QVERIFY(veld::test::read_file(gif) == veld::test::read_file(chosen));
    QVERIFY(!fs::exists(png));  // no second edit left beside it
  }

  void theEndBoxOfAReplaceNamesTheFilesWritten() {
    veld::test::TempDir tmp;
    const fs::path disc = CopySampleDisc(tmp);
    veld::test::RecordingMessenger m;
    veld::test::RecordingProgress p;
    QCOMPARE(veld::RunExtractCommand(disc, tmp / "rip", m, p).result, int(veld::kResultOk));
    const fs::path gif = tmp / "rip" / kPicture;
    SaveByRename(gif, EditedPng(gif));
    veld::gui::MainWindow w;
    w.show();
    w.setSrcPath(PathText(disc));
    const fs::path work = tmp / "rip" / "VELD";
    veld::gui::test::ModalScript script;
    script.then([work](QWidget* d) {
      auto* chooser = qobject_cast<veld::gui::FolderChooser*>(d);
      if (!chooser) return;
      chooser->setSelectedPath(PathText(work));
      chooser->okButton()->click();
    });
    // The colours the truecolour edit lacks are mapped: a warning first.
    script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("OK")); });
    script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("&No")); });  // no copy
    script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("OK")); });   // done
    script.then([](QWidget* box) { veld::gui::test::ClickBoxButton(box, QStringLiteral("OK")); });   // the end
    QCOMPARE(w.replaceImages(), int(veld::kResultOk));
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(script.pending(), 0);
    const QString end = script.boxes.last();
    QVERIFY2(end.contains(QStringLiteral("Pictures imported: 1,")), qPrintable(end));
    const QString written = QStringLiteral("Written into ") + PathText(work / "Stream") + QStringLiteral(": ");
    QVERIFY2(end.contains(written + QStringLiteral("00000.m2ts, 00000.clpi")), qPrintable(end));
    QVERIFY(fs::is_regular_file(work / "Stream" / "00000.m2ts"));
  }

  void thePredictionIsWhatReplaceAndANewExtractionGive() {
    veld::test::TempDir tmp;
    const fs::path disc = CopySampleDisc(tmp);
    veld::test::RecordingMessenger m;
    veld::test::RecordingProgress p;
    QCOMPARE(veld::RunExtractCommand(disc, tmp / "rip", m, p).result, int(veld::kResultOk));
    const fs::path gif = tmp / "rip" / kPicture;
    SaveByRename(gif, EditedPng(gif));
    veld::SMenuModel model;
    QCOMPARE(veld::BuildMenuModel(disc, tmp / "rip" / "VELD", model, p, m), int(veld::kResultOk));
    veld::CEditRule rule;
    QVERIFY(veld::LoadEditRule(model, {}, rule, m));
    const std::optional<veld::SPictureRef> ref = veld::FindPictureRef(model, gif);
    QVERIFY(ref);
    const veld::SPicturePreview predicted = veld::PreviewPicture(model, *ref, rule);
    QVERIFY2(predicted.state == veld::EPictureEdit::kEdited, predicted.message.c_str());

    veld::ReplaceOptions options;
    options.copy_back = true;
    QCOMPARE(veld::RunReplaceCommand(disc, tmp / "rip" / "VELD", options, m, p).result, int(veld::kResultOk));
    QCOMPARE(veld::RunExtractCommand(disc, tmp / "again", m, p).result, int(veld::kResultOk));
    // Every copy of the object in the rebuilt disc holds the predicted indices and colours.
    for (const char* ds : {"DS1", "DS2"}) {
      const fs::path copy = tmp / "again" / "VELD/Images/00000/5120/Epoch1" / ds / "0002.gif";
      const veld::LoadedImage read = veld::LoadIndexedImage(copy);
      QCOMPARE(int(read.check), int(veld::ImageCheck::kOk));
      QVERIFY2(veld::PictureHashes(read) ==
                   veld::WrittenPictureHashes(predicted.bitmap, predicted.palette, veld::ImageFormat::kGif),
               ds);
    }
  }
};

QTEST_MAIN(MenuEditTest)
#include "menu_edit_test.moc"
