// SPDX-License-Identifier: GPL-3.0-or-later
// The desktop window, driven as a user would: choosers, message boxes, progress window, settings.
#include <QDir>
#include <QDropEvent>
#include <QFile>
#include <QFileSystemModel>
#include <QLineEdit>
#include <QMimeData>
#include <QProgressBar>
#include <QPushButton>
#include <QSettings>
#include <QTest>
#include <QTextEdit>
#include <QTreeView>
#include <QUrl>
#include <algorithm>
#include <atomic>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <thread>

#include "cli/cli_support.h"
#include "command_session.h"
#include "folder_chooser.h"
#include "main_window.h"
#include "modal_script.h"
#include "progress_dialog.h"
#include "qt_text.h"
#include "support/test_support.h"
#include "veld/base/messages.h"
#include "veld/base/result.h"

namespace fs = std::filesystem;
using veld::gui::FolderChooser;
using veld::gui::MainWindow;
using veld::gui::PathText;
using veld::gui::test::ChooseFolder;
using veld::gui::test::ClickBoxButton;
using veld::gui::test::ModalScript;

namespace {

QPushButton* ButtonOf(QWidget* w, const char* name) { return w->findChild<QPushButton*>(QLatin1String(name)); }


ModalScript::Step Click(const QString& button) {
  return [button](QWidget* w) { ClickBoxButton(w, button); };
}

// Paints the top-left quarter of a picture with another index of its own, as an editor that keeps the
// palette would, and dates it after the extraction's marker.
void EditPicture(const fs::path& gif_path, const fs::path& marker) {
  veld::test::Gif gif = veld::test::read_gif(gif_path);
  const std::uint8_t first = gif.indices.front();
  std::uint8_t other = first;
  for (std::uint8_t i : gif.indices) other = i != first ? i : other;
  if (other == first) other = static_cast<std::uint8_t>(first == 1 ? 2 : 1);
  for (int y = 0; y < gif.height / 2; ++y)
    for (int x = 0; x < gif.width / 2; ++x) gif.indices[static_cast<std::size_t>(y) * gif.width + x] = other;
  veld::test::write_gif_indices(gif_path, gif.indices);
  veld::test::touch_after(gif_path, marker, 2);
}

fs::path FirstPicture(const fs::path& images) {
  std::vector<fs::path> all;
  for (const auto& e : fs::recursive_directory_iterator(images))
    if (e.path().extension() == ".gif") all.push_back(e.path());
  std::sort(all.begin(), all.end());
  return all.empty() ? fs::path() : all.front();
}

// A copy of the menu disc with its pictures extracted through the window into rip/VELD.
struct Extracted {
  veld::test::TempDir tmp;
  fs::path bdmv, work;
};
void ExtractCopy(Extracted& e, MainWindow& w) {
  e.bdmv = e.tmp / "disc" / "BDMV";
  e.work = e.tmp / "rip" / "VELD";
  veld::test::copy_disc(veld::test::test_discs_dir() / "menu" / "BDMV", e.bdmv);
  fs::create_directories(e.tmp / "rip");
  w.setSrcPath(PathText(e.bdmv));
  ModalScript script;
  script.then(ChooseFolder(e.tmp / "rip"));
  script.then(Click(QStringLiteral("OK")));
  QCOMPARE(w.extractImages(), int(veld::kResultOk));
}

int CountFiles(const fs::path& folder, const std::string& ext) {
  int n = 0;
  for (const auto& e : fs::recursive_directory_iterator(folder)) n += e.path().extension() == ext;
  return n;
}

}  // namespace

class GuiTest : public QObject {
  Q_OBJECT

 private:
  std::unique_ptr<veld::test::TempDir> config_;
  QString ini_;

 private slots:
  void initTestCase() {
    config_ = std::make_unique<veld::test::TempDir>();
    QSettings::setPath(QSettings::IniFormat, QSettings::UserScope, PathText(config_->path()));
    ini_ = PathText(config_->path() / "VELD" / "VELD.ini");
  }
  void init() {
    veld::set_language(veld::Language::kEnglish);
    QFile::remove(ini_);
  }
  void cleanup() { veld::reset_language(); }

  void sourceChooserEnablesOkOnlyForBdmv() {
    veld::test::TempDir tmp;
    for (const char* d : {"a/BDMV/STREAM", "b/bdmv", "c/BdMv", "d/BDMV2", "e/XBDMV"}) fs::create_directories(tmp / d);
    struct Case {
      std::string path;
      bool ok;
    };
    const Case cases[] = {
        {"a/BDMV", true},   {"b/bdmv", true},     {"c/BdMv/", true}, {"a/BDMV/STREAM", false},
        {"d/BDMV2", false}, {"e/XBDMV", false},   {"a", false},      {"f/BDMV", false},  // f does not exist
    };
    FolderChooser chooser(QStringLiteral("t"), QStringLiteral("BDMV"), QString(), nullptr);
    for (const auto& c : cases) {
      chooser.setSelectedPath(PathText(tmp / c.path));
      QVERIFY2(chooser.okButton()->isEnabled() == c.ok, c.path.c_str());
    }
    // Picking in the tree follows the same rule.
    chooser.setSelectedPath(PathText(tmp / "a"));
    QVERIFY(!chooser.okButton()->isEnabled());
    auto* model = qobject_cast<QFileSystemModel*>(chooser.tree()->model());
    QVERIFY(model);
    chooser.tree()->setCurrentIndex(model->index(PathText(tmp / "a" / "BDMV")));
    QCOMPARE(chooser.selectedPath(), PathText(tmp / "a" / "BDMV"));
    QVERIFY(chooser.okButton()->isEnabled());
    chooser.tree()->setCurrentIndex(model->index(PathText(tmp / "a" / "BDMV" / "STREAM")));
    QVERIFY(!chooser.okButton()->isEnabled());
  }

  void workChooserEnablesOkOnlyForVeldAndStartsAtTheRememberedFolder() {
    veld::test::TempDir tmp;
    fs::create_directories(tmp / "x" / "veld");
    fs::create_directories(tmp / "y" / "VELD2");
    FolderChooser chooser(QStringLiteral("t"), QStringLiteral("VELD"), PathText(tmp / "x" / "veld") + "/", nullptr);
    QCOMPARE(chooser.selectedPath(), PathText(tmp / "x" / "veld"));
    QVERIFY(chooser.okButton()->isEnabled());
    chooser.setSelectedPath(PathText(tmp / "y" / "VELD2"));
    QVERIFY(!chooser.okButton()->isEnabled());
    // Without a required name any existing folder will do.
    FolderChooser any(QStringLiteral("t"), QString(), PathText(tmp / "y" / "VELD2"), nullptr);
    QVERIFY(any.okButton()->isEnabled());
    any.setSelectedPath(PathText(tmp / "missing"));
    QVERIFY(!any.okButton()->isEnabled());
  }

  void newFolderIsMadeInTheChosenFolder() {
    veld::test::TempDir tmp;
    FolderChooser chooser(QStringLiteral("t"), QString(), PathText(tmp.path()), nullptr);
    ButtonOf(&chooser, "newFolderButton")->click();
    QVERIFY(fs::is_directory(tmp / "New folder"));
    QCOMPARE(chooser.selectedPath(), PathText(tmp / "New folder"));
    QVERIFY(chooser.okButton()->isEnabled());
  }

  void extractWithoutSourceShowsMessage1020AndNoChooser() {
    veld::set_language(veld::Language::kChinese);
    MainWindow w;
    w.setSrcPath(QString());
    ModalScript script;
    script.then(Click(QStringLiteral("确定")));
    QCOMPARE(w.extractImages(), int(veld::kResultFailed));
    QCOMPARE(script.boxes, QStringList{QStringLiteral("没有设置BDMV路径 !")});
    QCOMPARE(script.unexpected, 0);
    // The same for replace.
    script.then(Click(QStringLiteral("确定")));
    QCOMPARE(w.replaceImages(), int(veld::kResultFailed));
    QCOMPARE(script.boxes.size(), 2);
    QCOMPARE(script.boxes[1], QStringLiteral("没有设置BDMV路径 !"));
  }

  void replaceOnAWorkFolderWithoutImagesShowsMessage1021() {
    veld::test::TempDir tmp;
    fs::create_directories(tmp / "BDMV");
    fs::create_directories(tmp / "VELD");
    MainWindow w;
    w.setSrcPath(PathText(tmp / "BDMV"));
    ModalScript script;
    script.then(ChooseFolder(tmp / "VELD"));
    script.then(Click(QStringLiteral("OK")));
    QCOMPARE(w.replaceImages(), int(veld::kResultFailed));
    QCOMPARE(script.boxes, QStringList{QStringLiteral("No image folder set !")});
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(w.fixPath(), PathText(tmp / "VELD") + "/");
    QVERIFY(!fs::exists(tmp / "VELD" / "Stream"));
  }

  void cancellingAChooserEndsTheCommand() {
    veld::test::TempDir tmp;
    MainWindow w;
    w.setSrcPath(PathText(tmp / "BDMV"));
    ModalScript script;
    script.then([](QWidget* c) { ButtonOf(c, "cancelButton")->click(); });
    QCOMPARE(w.extractImages(), int(veld::kResultCancelled));
    QVERIFY(script.boxes.isEmpty());
    QVERIFY(w.ripPath().isEmpty());
  }

  void settingsAreSavedOnExitOnly() {
    MainWindow w;
    w.show();
    w.setSrcPath(QStringLiteral("/media/disc/BDMV"));
    w.close();  // the window's close button: nothing saved
    QVERIFY(!QFile::exists(ini_));
    MainWindow again;
    QVERIFY(again.srcPath().isEmpty());
    again.show();
    again.setSrcPath(QStringLiteral("/media/disc/BDMV"));
    QTest::keyClick(&again, Qt::Key_Escape);  // Esc closes without saving too
    QVERIFY(!QFile::exists(ini_));
    again.show();
    ButtonOf(&again, "exitButton")->click();
    QVERIFY(!again.isVisible());
    QFile f(ini_);
    QVERIFY(f.open(QIODevice::ReadOnly));
    const QString ini = QString::fromUtf8(f.readAll());
    QVERIFY2(ini.contains(QStringLiteral("[General]")), qPrintable(ini));
    QVERIFY2(ini.contains(QStringLiteral("SrcPath=/media/disc/BDMV")), qPrintable(ini));
    QVERIFY(ini.contains(QStringLiteral("RipPath=")));
    QVERIFY(ini.contains(QStringLiteral("FixPath=")));
    MainWindow third;
    QCOMPARE(third.srcPath(), QStringLiteral("/media/disc/BDMV"));
    QCOMPARE(third.findChild<QLineEdit*>(QStringLiteral("sourcePath"))->text(), QStringLiteral("/media/disc/BDMV"));
  }

  void droppingABdmvFolderSetsTheSource() {
    veld::test::TempDir tmp;
    fs::create_directories(tmp / "disc" / "bdmv");
    fs::create_directories(tmp / "other");
    MainWindow w;
    w.setSrcPath(QString());
    auto drop = [&w](const fs::path& p) {
      QMimeData mime;
      mime.setUrls({QUrl::fromLocalFile(PathText(p))});
      // As a desktop delivers it: the drop goes to the widget that accepted the drag's entry.
      QDragEnterEvent enter(QPoint(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&w, &enter);
      if (!enter.isAccepted()) return false;
      QDropEvent event(QPointF(10, 10), Qt::CopyAction, &mime, Qt::LeftButton, Qt::NoModifier);
      QApplication::sendEvent(&w, &event);
      return event.isAccepted();
    };
    QVERIFY(!drop(tmp / "other"));
    QVERIFY(w.srcPath().isEmpty());
    QVERIFY(drop(tmp / "disc" / "bdmv"));
    QCOMPARE(w.srcPath(), PathText(tmp / "disc" / "bdmv"));
  }

  void windowTextsFollowTheLanguage() {
    veld::set_language(veld::Language::kChinese);
    MainWindow zh;
    QCOMPARE(ButtonOf(&zh, "extractButton")->text(), QStringLiteral("提取按钮图片"));
    QCOMPARE(ButtonOf(&zh, "replaceButton")->text(), QStringLiteral("替换按钮图片"));
    QCOMPARE(ButtonOf(&zh, "exitButton")->text(), QStringLiteral("退出"));
    const QString usage = zh.findChild<QTextEdit*>(QStringLiteral("usagePane"))->toPlainText();
    QVERIFY(usage.contains(QStringLiteral("VELD")));
    QVERIFY(usage.contains(QStringLiteral("备份BDMV")));
    QVERIFY(zh.findChild<QTextEdit*>(QStringLiteral("usagePane"))->isReadOnly());
    veld::set_language(veld::Language::kEnglish);
    MainWindow en;
    QCOMPARE(ButtonOf(&en, "extractButton")->text(), QStringLiteral("Extract button images"));
    QVERIFY(en.findChild<QTextEdit*>(QStringLiteral("usagePane"))->toPlainText().contains(QStringLiteral("back up")));
  }

  void aboutNamesTheProgramAndItsVersion() {
    MainWindow w;
    ModalScript script;
    script.then(Click(QStringLiteral("OK")));
    ButtonOf(&w, "aboutButton")->click();
    QCOMPARE(script.pending(), 0);
    QCOMPARE(script.boxes.size(), 1);
    QVERIFY2(script.boxes[0].contains(QStringLiteral("VELD, Version " VELD_VERSION)), qPrintable(script.boxes[0]));
  }

  void progressTitleShowsThePercentage() {
    veld::gui::GuiProgress progress;
    veld::gui::ProgressDialog dialog(progress, nullptr);
    dialog.show();
    // Driven from another thread, as the pipeline does.
    std::thread worker([&] {
      progress.set_title("Demuxing");
      progress.set_status("/media/disc/BDMV/STREAM/00000.m2ts");
      progress.set_position(37);
    });
    worker.join();
    QTRY_COMPARE(dialog.windowTitle(), QStringLiteral("Demuxing [37%]"));
    QCOMPARE(dialog.bar()->value(), 37);
    QCOMPARE(dialog.statusText()->text(), QStringLiteral("/media/disc/BDMV/STREAM/00000.m2ts"));
    // The same percentage again leaves the title alone.
    dialog.setWindowTitle(QStringLiteral("marker"));
    progress.set_position(37);
    QCoreApplication::processEvents();
    QCOMPARE(dialog.windowTitle(), QStringLiteral("marker"));
  }

  void longStatusPathsLoseTheirMiddle() {
    veld::gui::StatusText text;
    text.resize(200, text.sizeHint().height());
    const QString path = QStringLiteral("/home/user/a/very/long/folder/name/that/goes/on/and/on/BDMV/STREAM/00042.m2ts");
    text.setText(path);
    const QStringList lines = text.shownLines();
    QCOMPARE(lines.size(), 1);
    QVERIFY(lines[0] != path);
    QVERIFY(lines[0].startsWith(QStringLiteral("/home")));
    QVERIFY(lines[0].endsWith(QStringLiteral("m2ts")));
    QVERIFY(lines[0].contains(QChar(0x2026)));
  }

  void escapeCancelsAndHidesTheProgressWindow() {
    veld::gui::GuiProgress progress;
    veld::gui::ProgressDialog dialog(progress, nullptr);
    dialog.show();
    QVERIFY(progress.set_position(10));
    QTest::keyClick(&dialog, Qt::Key_Escape);
    QVERIFY(progress.cancelled());
    QVERIFY(!dialog.isVisible());
    QVERIFY(!progress.set_position(20));
    QVERIFY(!progress.set_status("later"));
  }

  void cancelStopsTheWorkerAtItsNextProgressCheck() {
    QWidget owner;
    owner.show();
    veld::gui::CommandSession session(&owner);
    std::atomic<int> checks{0};
    QTimer::singleShot(50, [&] {
      QVERIFY(!owner.isEnabled());  // the main window is disabled meanwhile
      QVERIFY(session.dialog()->isVisible());
      session.dialog()->cancelButton()->click();
    });
    const int result = session.run<int>([&](veld::Messenger&, veld::Progress& p) {
      for (int i = 0;; i = (i + 1) % 100) {
        ++checks;
        if (!p.set_position(i)) return int(veld::kResultCancelled);
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
    });
    QCOMPARE(result, int(veld::kResultCancelled));
    QVERIFY(checks > 0);
    QVERIFY(owner.isEnabled());
    QVERIFY(session.dialog() == nullptr);
  }

  // Warnings wait and come together: one box before the next message (several of them counted, every
  // one under Details), and what is left when the command ends.
  void warningsAreGatheredIntoOneBox() {
    QWidget owner;
    owner.show();
    ModalScript script;
    QString details;
    script.then([&details](QWidget* w) {
      details = qobject_cast<QMessageBox*>(w)->detailedText();
      ClickBoxButton(w, QStringLiteral("OK"));
    });
    script.then(Click(QStringLiteral("OK")));
    script.then(Click(QStringLiteral("OK")));
    veld::gui::CommandSession session(&owner);
    session.run<int>([](veld::Messenger& m, veld::Progress&) {
      for (int i = 1; i <= 5; ++i) m.show(veld::MessageKind::kWarning, "damaged " + std::to_string(i));
      m.show(veld::MessageKind::kInfo, "done");
      m.show(veld::MessageKind::kWarning, "late");
      return 0;
    });
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(script.boxes.size(), 3);
    QCOMPARE(script.boxes[0], QStringLiteral("5 warnings:\n\ndamaged 1\n\ndamaged 2\n\ndamaged 3\n…"));
    QCOMPARE(details, QStringLiteral("damaged 1\n\ndamaged 2\n\ndamaged 3\n\ndamaged 4\n\ndamaged 5"));
    QCOMPARE(script.boxes[1], QStringLiteral("done"));
    QCOMPARE(script.boxes[2], QStringLiteral("late"));
  }

  void extractThroughTheWindow() {
    const fs::path disc = veld::test::test_discs_dir() / "menu" / "BDMV";
    veld::test::TempDir tmp;
    MainWindow w;
    w.show();
    w.setSrcPath(PathText(disc));
    ModalScript script;
    script.then(ChooseFolder(tmp.path()));
    script.then([&w](QWidget* box) {
      QVERIFY(w.isEnabled());  // restored before the closing message
      QVERIFY(veld::gui::CommandSession::current()->dialog()->isHidden());
      ClickBoxButton(box, QStringLiteral("OK"));
    });
    QCOMPARE(w.extractImages(), int(veld::kResultOk));
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(script.pending(), 0);
    const fs::path images = tmp / "VELD" / "Images";
    QCOMPARE(script.boxes.size(), 1);
    QVERIFY2(script.boxes[0].startsWith(QStringLiteral("The button images of the given BDMV were extracted !\nLocated at: ")),
             qPrintable(script.boxes[0]));
    QVERIFY(script.boxes[0].contains(PathText(images)));
    QVERIFY(fs::exists(images / "VELD.rip"));
    QVERIFY(CountFiles(images, ".gif") > 0);
    QCOMPARE(w.ripPath(), PathText(tmp.path()) + "/");
    QVERIFY(w.isEnabled());
  }

  void cancelDuringAnExtractReturns1() {
    const fs::path disc = veld::test::test_discs_dir() / "menu" / "BDMV";
    veld::test::TempDir tmp;
    fs::create_directories(tmp / "VELD");  // the reuse question holds the worker until answered
    MainWindow w;
    w.show();
    w.setSrcPath(PathText(disc));
    ModalScript script;
    script.then(ChooseFolder(tmp.path()));
    script.then([](QWidget* box) {
      // Cancel in the progress window, then agree to reuse the folder: the pipeline stops at its first
      // progress check.
      veld::gui::CommandSession::current()->dialog()->cancelButton()->click();
      ClickBoxButton(box, QStringLiteral("&Yes"));
    });
    QCOMPARE(w.extractImages(), int(veld::kResultCancelled));
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(script.boxes.size(), 1);
    QVERIFY(script.boxes[0].endsWith(QStringLiteral("exists, overwrite ?")));
    QVERIFY(!fs::exists(tmp / "VELD" / "Images" / "VELD.rip"));
    QCOMPARE(CountFiles(tmp / "VELD", ".gif"), 0);
  }

  void replaceThroughTheWindowAndCopyBack() {
    MainWindow w;
    w.show();
    Extracted e;
    ExtractCopy(e, w);
    if (QTest::currentTestFailed()) return;
    const fs::path pic = FirstPicture(e.work / "Images");
    QVERIFY(!pic.empty());
    EditPicture(pic, e.work / "Images" / "VELD.rip");
    const auto before = veld::test::tree_hashes(e.bdmv);
    w.findChild<QLineEdit*>(QStringLiteral("igLanguage"))->setText(QStringLiteral("fra"));

    ModalScript script;
    script.then(ChooseFolder(e.work));
    script.then(Click(QStringLiteral("&Yes")));   // copy the files it names into the BDMV folder
    script.then(Click(QStringLiteral("OK")));     // done, and the files copied
    script.then(Click(QStringLiteral("OK")));     // the counts the command line prints
    QCOMPARE(w.replaceImages(), int(veld::kResultOk));
    QCOMPARE(script.unexpected, 0);
    QCOMPARE(script.boxes.size(), 3);
    QVERIFY2(script.boxes[0].startsWith(QStringLiteral("Copy the new files into")), qPrintable(script.boxes[0]));
    QVERIFY2(script.boxes[0].contains(QStringLiteral("00000.m2ts")), qPrintable(script.boxes[0]));
    QVERIFY2(script.boxes[1].startsWith(QStringLiteral("The button images of the given BDMV were replaced !")),
             qPrintable(script.boxes[1]));
    QVERIFY(script.boxes[1].contains(PathText(e.work / "Stream")));
    // The files copied are listed once, in the copy-back's box; the end box gives the counts.
    const QString copied = QStringLiteral("Copied into ") + PathText(e.bdmv) + QStringLiteral(": STREAM/");
    QVERIFY2(script.boxes[1].contains(copied), qPrintable(script.boxes[1]));
    QVERIFY2(script.boxes[2].contains(QStringLiteral("Pictures imported")), qPrintable(script.boxes[2]));
    QVERIFY2(!script.boxes[2].contains(copied), qPrintable(script.boxes[2]));
    QCOMPARE(w.fixPath(), PathText(e.work) + "/");

    // The disc now carries the rebuilt clip, in BDMV and BACKUP alike, and libbluray reads it with the
    // menu stream in its new language.
    const auto after = veld::test::tree_hashes(e.bdmv);
    QVERIFY(after.at("STREAM/00000.m2ts") != before.at("STREAM/00000.m2ts"));
    QVERIFY(after.at("CLIPINF/00000.clpi") != before.at("CLIPINF/00000.clpi"));
    QCOMPARE(after.at("BACKUP/CLIPINF/00000.clpi"), after.at("CLIPINF/00000.clpi"));
    QCOMPARE(after.at("STREAM/00001.m2ts"), before.at("STREAM/00001.m2ts"));
    const veld::test::RunResult check = veld::test::run_shell(
        veld::test::shell_quote(VELD_BDCHECK_PATH) + " " + veld::test::shell_quote((e.tmp / "disc").string()) +
            " --read --titles 1 --playlists 00000,00001 --ig-streams 0:1 --audio-streams 1:1 --menu 8",
        e.tmp.path());
    QVERIFY2(check.status == 0, check.err.c_str());
    QVERIFY2(check.out.find("pid 0x1400 IG(0x91) lang 'fra'") != std::string::npos, check.out.c_str());
  }

  void decliningTheCopyBackLeavesTheDiscAlone() {
    MainWindow w;
    Extracted e;
    ExtractCopy(e, w);
    if (QTest::currentTestFailed()) return;
    EditPicture(FirstPicture(e.work / "Images"), e.work / "Images" / "VELD.rip");
    const auto before = veld::test::tree_hashes(e.bdmv);
    ModalScript script;
    script.then(ChooseFolder(e.work));
    script.then(Click(QStringLiteral("&No")));  // the copy-back question
    script.then(Click(QStringLiteral("OK")));   // where the new files are
    script.then(Click(QStringLiteral("OK")));   // the counts
    QCOMPARE(w.replaceImages(), int(veld::kResultOk));
    QCOMPARE(script.boxes.size(), 3);
    QCOMPARE(script.unexpected, 0);
    QVERIFY(veld::test::tree_hashes(e.bdmv) == before);
    QVERIFY(fs::exists(e.work / "Stream" / "00000.m2ts"));
  }

  void replaceWithoutEditedPicturesSaysSo() {
    MainWindow w;
    Extracted e;
    ExtractCopy(e, w);
    if (QTest::currentTestFailed()) return;
    ModalScript script;
    script.then(ChooseFolder(e.work));
    script.then(Click(QStringLiteral("OK")));
    QCOMPARE(w.replaceImages(), int(veld::kResultOk));
    QCOMPARE(script.boxes.size(), 1);
    QCOMPARE(script.boxes[0], PathText(e.work) + QStringLiteral("/\nholds no edited button images !"));
  }

  void anUnknownLanguageCodeStopsBeforeTheChooser() {
    veld::test::TempDir tmp;
    MainWindow w;
    w.setSrcPath(PathText(tmp / "BDMV"));
    w.findChild<QLineEdit*>(QStringLiteral("igLanguage"))->setText(QStringLiteral("xq"));
    ModalScript script;
    script.then(Click(QStringLiteral("OK")));
    QCOMPARE(w.replaceImages(), int(veld::kResultFailed));
    QCOMPARE(script.boxes, QStringList{QStringLiteral("xq\nis not a three-letter ISO 639-2 language code !")});
    QVERIFY(w.fixPath().isEmpty());
  }

  void decliningTheReuseQuestionChangesNothing() {
    const fs::path disc = veld::test::test_discs_dir() / "menu" / "BDMV";
    veld::test::TempDir tmp;
    fs::create_directories(tmp / "VELD" / "Images");
    veld::test::write_file(tmp / "VELD" / "Images" / "keep.gif", veld::Bytes{1, 2, 3});
    MainWindow w;
    w.setSrcPath(PathText(disc));
    ModalScript script;
    script.then(ChooseFolder(tmp.path()));
    script.then(Click(QStringLiteral("&No")));
    QCOMPARE(w.extractImages(), int(veld::kResultCancelled));
    QCOMPARE(script.boxes.size(), 1);
    QVERIFY(fs::exists(tmp / "VELD" / "Images" / "keep.gif"));
    QCOMPARE(CountFiles(tmp / "VELD", ".gif"), 1);
  }
};

QTEST_MAIN(GuiTest)
#include "gui_test.moc"
