// SPDX-License-Identifier: GPL-3.0-or-later
// The Settings dialog on the sample disc: what it saves is read back and used (the picture format and
// previews of the next extraction, the folders the choosers open at), and the image editor it names is
// started on a picture whose edit the window then shows; an editor that does not exist is told at once.
#include <QBuffer>
#include <QCheckBox>
#include <QComboBox>
#include <QElapsedTimer>
#include <QFile>
#include <QLineEdit>
#include <QListWidget>
#include <QPainter>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <filesystem>
#include <functional>

#include "app_settings.h"
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
#include "settings_dialog.h"
#include "support/test_support.h"
#include "veld/app/commands.h"
#include "veld/app/edit_preview.h"
#include "veld/app/shell.h"
#include "veld/base/result.h"

namespace fs = std::filesystem;
using veld::gui::FolderChooser;
using veld::gui::MainWindow;
using veld::gui::PathText;
using veld::gui::SettingsDialog;
using veld::gui::test::ChooseFolder;
using veld::gui::test::ClickBoxButton;
using veld::gui::test::ModalScript;

namespace {

fs::path SampleDisc() { return veld::test::source_dir() / "examples" / "sample-disc" / "BDMV"; }
const char* const kPicture = "VELD/Images/00000/5120/Epoch1/DS1/0002";  // button 1, normal; no extension

QString Setting(std::string_view key) { return veld::gui::AppSettings().value(veld::gui::Key(key)).toString(); }

// Fills in the settings dialog as a user would and presses OK.
ModalScript::Step SetAndAccept(const QString& editor, int format, bool preview) {
  return [=](QWidget* w) {
    auto* d = qobject_cast<SettingsDialog*>(w);
    QVERIFY(d);
    d->editor()->setText(editor);
    d->format()->setCurrentIndex(format);
    d->preview()->setChecked(preview);
    d->accept();
  };
}

// Checks where a folder chooser opens, then cancels it.
ModalScript::Step ExpectChooserAt(const fs::path& folder, bool* seen) {
  return [folder, seen](QWidget* w) {
    auto* chooser = qobject_cast<FolderChooser*>(w);
    *seen = chooser && chooser->selectedPath() == PathText(folder);
    QVERIFY2(chooser, "no folder chooser");
    QCOMPARE(chooser->selectedPath(), PathText(folder));
    chooser->reject();
  };
}


int CountFiles(const fs::path& folder, const std::string& ext) {
  int n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.path().extension() == ext;
  return n;
}

// A window showing the menus of disc with their pictures extracted into rip; edit changes the pictures
// before the window reads them.
void ShowExtracted(MainWindow& w, const fs::path& rip, const fs::path& disc = SampleDisc(),
                   const std::function<void()>& edit = {}) {
  veld::test::RecordingMessenger m;
  veld::test::RecordingProgress p;
  QCOMPARE(veld::RunExtractCommand(disc, rip, m, p).result, int(veld::kResultOk));
  if (edit) edit();
  w.show();
  w.setSrcPath(PathText(disc));
  w.setWorkFolder(PathText(rip));
  QCOMPARE(w.showWorkFolderMenus(), int(veld::kResultOk));
  w.menuView()->preview()->select(0);
  w.menuView()->pictures()->list()->setCurrentRow(0);
}

// A shell script at path: it writes its arguments, one a line, to log, then negates the picture it was
// given in place with ImageMagick (every colour then lacks from the menu's palette).
void WriteEditorScript(const fs::path& path, const fs::path& log) {
  const std::string text = "#!/bin/sh\nprintf '%s\\n' \"$@\" > '" + log.string() + "'\nconvert \"$1\" -negate \"$1\"\n";
  veld::test::write_file(path, veld::ByteSpan(reinterpret_cast<const std::uint8_t*>(text.data()), text.size()));
  fs::permissions(path, fs::perms::owner_all);
}

// A copy of the sample disc in tmp/DISC: its BDMV folder.
fs::path CopySampleDisc(const veld::test::TempDir& tmp) {
  fs::create_directories(tmp / "DISC");
  fs::copy(SampleDisc(), tmp / "DISC" / "BDMV", fs::copy_options::recursive);
  return tmp / "DISC" / "BDMV";
}

// A truecolour RGBA PNG saved over the picture: an antialiased ellipse in a colour the palette lacks.
void PaintForeignEllipse(const fs::path& picture) {
  const QByteArray bytes = veld::gui::test::EllipsePng(QImage(PathText(picture)));
  veld::test::write_file(picture, veld::ByteSpan(reinterpret_cast<const std::uint8_t*>(bytes.data()),
                                                 static_cast<std::size_t>(bytes.size())));
}

int ThumbnailEdit(const MainWindow& w) {
  return w.menuView()->pictures()->list()->item(0)->data(veld::gui::ButtonPictures::kEditRole).toInt();
}

// What the app layer predicts for the first picture of the view taken in with import.
veld::SPicturePreview Predicted(const MainWindow& w, const fs::path& picture, const veld::SImportOptions& import) {
  const veld::SMenuModel& model = *w.menuView()->model();
  veld::test::RecordingMessenger m;
  veld::CEditRule rule;
  if (!veld::LoadEditRule(model, import, rule, m)) return {};
  const auto ref = veld::FindPictureRef(model, picture);
  return ref ? veld::PreviewPicture(model, *ref, rule) : veld::SPicturePreview{};
}

}  // namespace

class SettingsTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<veld::test::TempDir> config_;

 private slots:
  void initTestCase() {
    config_ = std::make_unique<veld::test::TempDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, PathText(config_->path()));
  }
  void init() {
    veld::set_language(veld::Language::kEnglish);
    veld::gui::AppSettings().clear();
  }
  void cleanup() { veld::reset_language(); }

  void okSavesTheSettingsAndTheDialogReadsThemBackCancelKeepsThem() {
    MainWindow w;
    ModalScript script;
    script.then(SetAndAccept(QStringLiteral("  gimp --new %f  "), 1, true));
    w.showSettings();
    QCOMPARE(script.pending(), 0);
    QCOMPARE(Setting(veld::kKeyEditor), QStringLiteral("gimp --new %f"));
    QCOMPARE(Setting(veld::kKeyFormat), QStringLiteral("png"));
    QCOMPARE(Setting(veld::kKeyPreview), QStringLiteral("true"));

    SettingsDialog again;
    QCOMPARE(again.editor()->text(), QStringLiteral("gimp --new %f"));
    QCOMPARE(again.format()->currentText(), QStringLiteral("PNG"));
    QVERIFY(again.preview()->isChecked());
    again.editor()->setText(QStringLiteral("krita %f"));
    again.format()->setCurrentIndex(0);
    again.reject();
    QCOMPARE(Setting(veld::kKeyEditor), QStringLiteral("gimp --new %f"));
    QCOMPARE(Setting(veld::kKeyFormat), QStringLiteral("png"));
    QCOMPARE(int(veld::gui::ExtractSettings().format), int(veld::ImageFormat::kPng));
  }

  void theFormatAndPreviewsChosenMakeTheNextExtraction() {
    veld::test::TempDir tmp;
    fs::create_directories(tmp / "rip");
    MainWindow w;
    w.show();
    w.setSrcPath(PathText(SampleDisc()));
    ModalScript script;
    script.then(SetAndAccept(QString(), 1, true));
    w.showSettings();
    script.then(ChooseFolder(tmp / "rip"));
    script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });
    QCOMPARE(w.extractImages(), int(veld::kResultOk));
    QCOMPARE(script.pending(), 0);
    QCOMPARE(script.unexpected, 0);
    const fs::path work = tmp / "rip" / "VELD";
    QVERIFY(CountFiles(work / "Images", ".png") > 0);
    QCOMPARE(CountFiles(work / "Images", ".gif"), 0);
    QVERIFY(fs::is_regular_file(tmp / "rip" / (std::string(kPicture) + ".png")));
    QVERIFY(CountFiles(work / "Preview", ".png") > 0);
  }

  void theChoosersOpenAtTheLastFoldersAlsoAfterARestart() {
    veld::test::TempDir tmp;
    fs::create_directories(tmp / "rip");
    fs::create_directories(tmp / "old" / "VELD");
    veld::gui::AppSettings().setValue(veld::gui::Key(veld::kKeyFixPath), PathText(tmp / "old" / "VELD") + "/");
    {
      MainWindow w;
      w.show();
      w.setSrcPath(PathText(SampleDisc()));
      ModalScript script;
      script.then(ChooseFolder(tmp / "rip"));
      script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });
      QCOMPARE(w.extractImages(), int(veld::kResultOk));
      bool seen = false;
      script.then(ExpectChooserAt(tmp / "rip", &seen));
      QCOMPARE(w.extractImages(), int(veld::kResultCancelled));
      QVERIFY(seen);
      w.accept();  // Exit saves the folders
    }
    MainWindow w;
    w.show();
    ModalScript script;
    bool rip_seen = false, work_seen = false;
    script.then(ExpectChooserAt(tmp / "rip", &rip_seen));
    QCOMPARE(w.extractImages(), int(veld::kResultCancelled));
    script.then(ExpectChooserAt(tmp / "old" / "VELD", &work_seen));
    QCOMPARE(w.replaceImages(), int(veld::kResultCancelled));
    QVERIFY(rip_seen);
    QVERIFY(work_seen);
    QCOMPARE(script.unexpected, 0);
  }

  void theEditorOfTheSettingsGetsThePicturesPathAndItsEditIsShown() {
    veld::test::TempDir tmp;
    const fs::path rip = tmp / "rip with spaces";
    fs::create_directories(tmp / "my editor");
    const fs::path script_path = tmp / "my editor" / "negate it.sh";
    const fs::path log = tmp / "arguments.txt";
    WriteEditorScript(script_path, log);
    veld::gui::AppSettings().setValue(veld::gui::Key(veld::kKeyEditor),
                                      QLatin1Char('"') + PathText(script_path) + QStringLiteral("\" %f"));
    MainWindow w;
    ShowExtracted(w, rip);
    veld::gui::ButtonPictures* pictures = w.menuView()->pictures();
    const fs::path gif = rip / (std::string(kPicture) + ".gif");
    QCOMPARE(pictures->currentFile(), PathText(gif));
    QVERIFY(!w.menuView()->pageMarked(0));
    QVERIFY(pictures->openButton()->isEnabled());
    ModalScript script;
    pictures->openButton()->click();
    // The editor saved the negated picture in place: the watch reads it as replace will take it.
    QTRY_VERIFY_WITH_TIMEOUT(w.menuView()->pageMarked(0), 5000);
    QCOMPARE(script.unexpected, 0);
    QFile args(PathText(log));
    QVERIFY(args.open(QIODevice::ReadOnly));
    QCOMPARE(QString::fromUtf8(args.readAll()), PathText(gif) + QLatin1Char('\n'));  // one argument, spaces kept
    QTRY_COMPARE(pictures->list()->item(0)->data(veld::gui::ButtonPictures::kEditRole).toInt(),
                 int(veld::EPictureEdit::kEdited));
    // What the thumbnail shows is the app layer's prediction for the negated file.
    veld::test::RecordingMessenger m;
    veld::CEditRule rule;
    QVERIFY(veld::LoadEditRule(*w.menuView()->model(), {}, rule, m));
    const auto ref = veld::FindPictureRef(*w.menuView()->model(), gif);
    QVERIFY(ref);
    const veld::SPicturePreview predicted = veld::PreviewPicture(*w.menuView()->model(), *ref, rule);
    QCOMPARE(int(predicted.state), int(veld::EPictureEdit::kEdited));
    const QImage shown = pictures->list()->item(0)->data(veld::gui::ButtonPictures::kImageRole).value<QImage>();
    QVERIFY(veld::gui::test::SamePixels(shown, veld::gui::ToQImage(predicted.image)));
    QCOMPARE(w.menuView()->editedList()->list()->count(), 1);
  }

  void anEditorThatDoesNotExistIsToldAtOnce() {
    veld::test::TempDir tmp;
    const QString command = QLatin1Char('"') + PathText(tmp / "no such editor") + QStringLiteral("\" %f");
    veld::gui::AppSettings().setValue(veld::gui::Key(veld::kKeyEditor), command);
    MainWindow w;
    ShowExtracted(w, tmp / "rip");
    ModalScript script;
    script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });
    QElapsedTimer clock;
    clock.start();
    w.menuView()->pictures()->openButton()->click();
    QVERIFY(clock.elapsed() < 5000);
    QCOMPARE(script.pending(), 0);
    QCOMPARE(script.boxes.size(), 1);
    QVERIFY2(script.boxes[0].contains(QStringLiteral("could not be started")), qPrintable(script.boxes[0]));
    QVERIFY2(script.boxes[0].contains(command), qPrintable(script.boxes[0]));
    QVERIFY(!w.menuView()->pageMarked(0));
  }

  void theReplaceOptionsAreSavedInTheCommandLinesWords() {
    SettingsDialog d;
    QCOMPARE(d.colours()->currentIndex(), 0);
    QCOMPARE(d.anchor()->currentIndex(), 0);
    QVERIFY(d.dither()->isEnabled());
    d.dither()->setChecked(true);
    d.colours()->setCurrentIndex(1);
    QVERIFY(!d.dither()->isEnabled());  // exact colours leave nothing to dither
    d.anchor()->setCurrentIndex(1);
    d.accept();
    QCOMPARE(Setting(veld::kKeyColours), QStringLiteral("exact"));
    QCOMPARE(Setting(veld::kKeyDither), QStringLiteral("true"));
    QCOMPARE(Setting(veld::kKeyAnchor), QStringLiteral("centre"));
    const veld::SImportOptions import = veld::gui::ImportSettings();
    QCOMPARE(int(import.colours), int(veld::ColourMode::kExact));
    QVERIFY(import.dither);
    QCOMPARE(int(import.anchor), int(veld::ButtonAnchor::kCentre));

    SettingsDialog again;
    QCOMPARE(again.colours()->currentIndex(), 1);
    QVERIFY(again.dither()->isChecked());
    QCOMPARE(again.anchor()->currentIndex(), 1);
    // Each choice is reached from the keyboard: its label's mnemonic, and the tab order.
    again.show();
    QVERIFY(QTest::qWaitForWindowActive(&again));
    QTest::keyClick(&again, Qt::Key_K, Qt::AltModifier);
    QTRY_VERIFY(again.anchor()->hasFocus());
    QTest::keyClick(&again, Qt::Key_C, Qt::AltModifier);
    QTRY_VERIFY(again.colours()->hasFocus());
    again.colours()->setCurrentIndex(0);
    QTest::keyClick(again.colours(), Qt::Key_Tab);
    QTRY_VERIFY(again.dither()->hasFocus());
  }

  void exactColoursRefuseTheEditInThePreviewAndInReplaceAsTheCommandLineDoes() {
    veld::test::TempDir tmp;
    const fs::path disc = CopySampleDisc(tmp);
    const fs::path work = tmp / "rip" / "VELD";
    const fs::path gif = tmp / "rip" / (std::string(kPicture) + ".gif");
    veld::gui::AppSettings().setValue(veld::gui::Key(veld::kKeyColours), QStringLiteral("exact"));
    MainWindow w;
    ShowExtracted(w, tmp / "rip", disc, [&] { PaintForeignEllipse(gif); });
    QCOMPARE(ThumbnailEdit(w), int(veld::EPictureEdit::kRefused));

    ModalScript script;
    script.then(ChooseFolder(work));
    script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });  // the refusal
    QCOMPARE(w.replaceImages(), int(veld::kResultFailed));
    QCOMPARE(script.pending(), 0);
    QCOMPARE(script.unexpected, 0);
    QVERIFY(!fs::exists(work / "Stream" / "00000.m2ts"));
    veld::ReplaceOptions options;
    options.colours = veld::ColourMode::kExact;
    options.copy_back = false;
    veld::test::RecordingMessenger cli;
    veld::test::RecordingProgress p;
    QCOMPARE(veld::RunReplaceCommand(disc, work, options, cli, p).result, int(veld::kResultFailed));
    QVERIFY(!cli.shown.empty());
    QCOMPARE(script.boxes.last(), veld::gui::FromUtf8(veld::plain_text(cli.shown.back().text)));

    // Nearest colours chosen in the settings: the shown picture is taken in again.
    script.then([](QWidget* d) {
      auto* settings = qobject_cast<SettingsDialog*>(d);
      QVERIFY(settings);
      settings->colours()->setCurrentIndex(0);
      settings->accept();
    });
    w.showSettings();
    QCOMPARE(script.pending(), 0);
    QTRY_COMPARE(ThumbnailEdit(w), int(veld::EPictureEdit::kEdited));
  }

  void ditherSetIsWhatTheWindowsReplaceWritesAndWhatItsPreviewShows() {
    veld::test::TempDir tmp;
    const fs::path disc = CopySampleDisc(tmp);
    const fs::path work = tmp / "rip" / "VELD";
    const fs::path gif = tmp / "rip" / (std::string(kPicture) + ".gif");
    veld::gui::AppSettings().setValue(veld::gui::Key(veld::kKeyDither), true);
    MainWindow w;
    ShowExtracted(w, tmp / "rip", disc, [&] { PaintForeignEllipse(gif); });
    veld::SImportOptions dithered;
    dithered.dither = true;
    const veld::SPicturePreview with = Predicted(w, gif, dithered);
    const veld::SPicturePreview without = Predicted(w, gif, {});
    QCOMPARE(int(with.state), int(veld::EPictureEdit::kEdited));
    QCOMPARE(int(without.state), int(veld::EPictureEdit::kEdited));
    QVERIFY(!veld::gui::test::SamePixels(veld::gui::ToQImage(with.image), veld::gui::ToQImage(without.image)));
    const QImage shown = w.menuView()->pictures()->list()->item(0)->data(veld::gui::ButtonPictures::kImageRole).value<QImage>();
    QVERIFY(veld::gui::test::SamePixels(shown, veld::gui::ToQImage(with.image)));

    ModalScript script;
    script.then(ChooseFolder(work));
    script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });   // colours mapped
    script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("&No")); });  // no copy-back
    script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });   // done
    script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });   // the counts
    QCOMPARE(w.replaceImages(), int(veld::kResultOk));
    QCOMPARE(script.unexpected, 0);
    const veld::Bytes written = veld::test::read_file(work / "Stream" / "00000.m2ts");
    // The command line writes the same clip with --dither, another without.
    veld::ReplaceOptions options;
    options.copy_back = false;
    veld::test::RecordingMessenger m;
    veld::test::RecordingProgress p;
    QCOMPARE(veld::RunReplaceCommand(disc, work, options, m, p).result, int(veld::kResultOk));
    QVERIFY(veld::test::read_file(work / "Stream" / "00000.m2ts") != written);
    options.dither = true;
    QCOMPARE(veld::RunReplaceCommand(disc, work, options, m, p).result, int(veld::kResultOk));
    QVERIFY(veld::test::read_file(work / "Stream" / "00000.m2ts") == written);
  }
};

QTEST_MAIN(SettingsTest)
#include "settings_test.moc"
