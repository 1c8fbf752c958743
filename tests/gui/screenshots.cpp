// SPDX-License-Identifier: GPL-3.0-or-later
// Takes the README's screenshots of veld-gui on a running X server (scripts/screenshots.sh starts Xvfb
// and a window manager): the main window, the progress window during an extraction, and the main window
// showing the menus of an extracted disc with a page and a button chosen, and the same window after a
// picture was edited (the edited-pictures tab shown; the edit is written into the work folder).
//
//   veld_gui_shots main OUT.png SOURCE_BDMV
//   veld_gui_shots progress OUT.png SOURCE_BDMV RIP_FOLDER
//   veld_gui_shots replace OUT.png SOURCE_BDMV WORK_FOLDER      (the progress window of a replacement)
//   veld_gui_shots menu OUT.png SOURCE_BDMV WORK_FOLDER
//   veld_gui_shots edited OUT.png SOURCE_BDMV WORK_FOLDER
//   veld_gui_shots settings OUT.png SOURCE_BDMV                  (the Settings dialog, an editor set)
// On the offscreen platform (no window manager) the window is taken without its frame.
#include <QApplication>
#include <QDirIterator>
#include <QGuiApplication>
#include <QLineEdit>
#include <QPainter>
#include <QTabWidget>
#include <QPixmap>
#include <QScreen>
#include <QSemaphore>
#include <QTimer>
#include <cstdio>
#include <functional>

#include "button_pictures.h"
#include "command_session.h"
#include "edit_watch.h"
#include "folder_chooser.h"
#include "main_window.h"
#include "menu_view.h"
#include "page_preview.h"
#include "modal_script.h"
#include "progress_dialog.h"
#include "settings_dialog.h"

using veld::gui::CommandSession;
using veld::gui::FolderChooser;
using veld::gui::MainWindow;

namespace {

// The window with its frame, as the desktop shows it.
bool GrabFrame(const QRect& frame, const QString& out) {
  if (QGuiApplication::platformName() == QLatin1String("offscreen")) {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      if (w->isVisible() && qobject_cast<MainWindow*>(w)) return w->grab().save(out);
    }
    return false;
  }
  const QPixmap shot = QGuiApplication::primaryScreen()->grabWindow(0, frame.x(), frame.y(), frame.width(),
                                                                    frame.height());
  return shot.save(out);
}

// An edit as a user makes one in an image editor: the picture with a line of new colour drawn over it,
// saved as a truecolour PNG beside the extracted GIF.
void EditPicture(const QString& gif) {
  QImage image = QImage(gif).convertToFormat(QImage::Format_ARGB32);
  QPainter painter(&image);
  painter.setRenderHint(QPainter::Antialiasing);
  painter.setPen(QPen(QColor(255, 250, 240), 6, Qt::SolidLine, Qt::RoundCap));
  painter.drawLine(QPointF(14, image.height() - 14), QPointF(image.width() - 14, image.height() - 14));
  painter.setPen(QPen(QColor(20, 10, 30), 3));
  painter.drawLine(QPointF(4, 4), QPointF(image.width() - 4, 4));
  painter.end();
  QString png = gif;
  png.replace(png.size() - 3, 3, QStringLiteral("png"));
  image.save(png, "PNG");
}

// The menus of the work folder's extraction, the first page with its second button chosen; edited: the
// normal picture of that button edited on disk, and the list of edited pictures shown.
int ShootMenus(QApplication& app, MainWindow& window, const QString& work, const QString& out, bool edited) {
  window.setWorkFolder(work);
  int status = 1;
  QTimer::singleShot(300, [&] {
    if (window.showWorkFolderMenus() != 0 || window.menuView()->pageCount() == 0) {
      app.quit();
      return;
    }
    window.move(40, 30);
    window.menuView()->selectPage(0);
    window.menuView()->preview()->select(1);
    window.menuView()->preview()->setFocus();
    if (edited) {
      const QString file = window.menuView()->pictures()->currentFile();
      if (!file.isEmpty()) EditPicture(file);
      window.menuView()->preview()->select(2);  // another button chosen: the edited one shows its outline
      window.menuView()->tabs()->setCurrentIndex(1);
    }
    QTimer::singleShot(1500, [&] {
      status = GrabFrame(window.frameGeometry(), out) ? 0 : 1;
      app.quit();
    });
  });
  app.exec();
  return status;
}

// The Settings dialog over the main window, an editor command typed in.
int ShootSettings(QApplication& app, MainWindow& window, const QString& out) {
  int status = 1;
  QTimer::singleShot(500, [&] {
    QTimer::singleShot(1500, [&] {
      auto* dialog = qobject_cast<veld::gui::SettingsDialog*>(QApplication::activeModalWidget());
      if (!dialog) return;
      const bool saved = QGuiApplication::platformName() == QLatin1String("offscreen")
                             ? dialog->grab().save(out)
                             : GrabFrame(dialog->frameGeometry(), out);
      status = saved ? 0 : 1;
      dialog->reject();
    });
    QTimer::singleShot(300, [&] {
      if (auto* dialog = qobject_cast<veld::gui::SettingsDialog*>(QApplication::activeModalWidget())) {
        dialog->editor()->setText(QStringLiteral("gimp %f"));
        dialog->move(window.pos() + QPoint(60, 50));
      }
    });
    window.showSettings();
    app.quit();
  });
  app.exec();
  return status;
}

// The worker is held at its first progress update past 30% until the picture is taken (with time for
// the window manager to draw the new title), so the picture shows a real run mid-way.
// writing: hold only while the rebuilt clip is written (a status naming the work folder's Stream folder).
int ShootProgress(QApplication& app, MainWindow& window, const QString& out, const std::function<void()>& run,
                  bool writing) {
  int status = 1;
  bool taken = false;
  QSemaphore resume;
  QTimer watch;
  QObject::connect(&watch, &QTimer::timeout, [&] {
    CommandSession* s = CommandSession::current();
    if (!s || watch.property("hooked").toBool()) return;
    watch.setProperty("hooked", true);
    QObject::connect(
        &s->progress(), &veld::gui::GuiProgress::positionChanged, &app,
        [&, s](int value) {
          if (taken) return;
          if (writing ? (value < 1 || value > 99 || s->progress().status().find("/Stream/") == std::string::npos)
                      : (value < 30 || value > 70))
            return;
          taken = true;
          QMetaObject::invokeMethod(&app, [&] {
            QTimer::singleShot(800, &app, [&] {
              CommandSession* cur = CommandSession::current();
              status = GrabFrame(window.frameGeometry().united(cur->dialog()->frameGeometry()), out) ? 0 : 1;
              resume.release();
            });
          });
          resume.acquire();  // on the worker thread
        },
        Qt::DirectConnection);
  });
  watch.start(1);
  QTimer::singleShot(500, [&] {
    run();
    app.quit();
  });
  app.exec();
  if (!taken) std::fprintf(stderr, "veld_gui_shots: the progress window never showed the step to take\n");
  return taken ? status : 1;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc < 4) {
    std::fprintf(stderr, "usage: veld_gui_shots main|progress OUT.png SOURCE_BDMV [RIP_FOLDER]\n");
    return 2;
  }
  const QString mode = QString::fromLocal8Bit(argv[1]);
  const QString out = QString::fromLocal8Bit(argv[2]);
  MainWindow window;
  window.setSrcPath(QString::fromLocal8Bit(argv[3]));
  window.move(40, 30);
  window.show();
  int status = 1;

  if (mode == QLatin1String("main")) {
    QTimer::singleShot(1500, [&] {
      status = GrabFrame(window.frameGeometry(), out) ? 0 : 1;
      app.quit();
    });
    app.exec();
    return status;
  }
  if (mode == QLatin1String("settings")) return ShootSettings(app, window, out);
  if ((mode == QLatin1String("menu") || mode == QLatin1String("edited")) && argc >= 5)
    return ShootMenus(app, window, QString::fromLocal8Bit(argv[4]), out, mode == QLatin1String("edited"));
  const bool replace = mode == QLatin1String("replace");
  if ((mode != QLatin1String("progress") && !replace) || argc < 5) return 2;
  const QString folder = QString::fromLocal8Bit(argv[4]);
  veld::gui::test::ModalScript script;
  script.then([&](QWidget* w) {
    auto* chooser = qobject_cast<FolderChooser*>(w);
    if (!chooser) return;
    chooser->setSelectedPath(folder);
    chooser->okButton()->click();
  });
  if (replace) {
    // One picture of the extraction edited, so that the replacement rebuilds the clip.
    QDirIterator it(folder + QStringLiteral("/Images"), {QStringLiteral("*.gif")}, QDir::Files,
                    QDirIterator::Subdirectories);
    if (it.hasNext()) EditPicture(it.next());
  }
  // The closing boxes: No to the copy-back question, OK to the others.
  for (int i = 0; i < (replace ? 3 : 1); ++i) {
    script.then([](QWidget* box) {
      veld::gui::test::ClickBoxButton(box, QStringLiteral("&No"));
      veld::gui::test::ClickBoxButton(box, QStringLiteral("OK"));
    });
  }
  return ShootProgress(app, window, out, [&] { replace ? window.replaceImages() : window.extractImages(); }, replace);
}
