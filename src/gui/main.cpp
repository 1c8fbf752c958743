// SPDX-License-Identifier: GPL-3.0-or-later
// veld-gui: the desktop window of VELD.
#include <QApplication>
#include <QFileInfo>
#include <QIcon>
#include <QTimer>
#include <cstdio>
#include <cstring>

#include "main_window.h"

int main(int argc, char** argv) {
  // Answered before the window system is touched, so that they work without a display.
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--version") == 0) {
      std::printf("VELD, Version %s\nLicence: GPL-3.0-or-later (free software; there is NO WARRANTY)\n", VELD_VERSION);
      return 0;
    }
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) {
      std::printf("Usage: veld-gui [BDMV_FOLDER [WORK_FOLDER]] | --version | --help\n"
                  "The desktop window of VELD: extract and replace the button images of the menus of a "
                  "Blu-ray BDMV folder.\nThe command line is veld (see veld --help).\n");
      return 0;
    }
  }
  QApplication app(argc, argv);
  QApplication::setOrganizationName(QStringLiteral("VELD"));
  QApplication::setApplicationName(QStringLiteral("VELD"));
  QApplication::setApplicationVersion(QStringLiteral(VELD_VERSION));
  QGuiApplication::setDesktopFileName(QStringLiteral("veld-gui"));

  veld::gui::MainWindow window;  // registers the icons
  QApplication::setWindowIcon(window.windowIcon());
  QObject::connect(&window, &QDialog::finished, &app, &QApplication::quit);
  // veld-gui [BDMV_FOLDER [WORK_FOLDER]]: the folders the desktop entry or a shell names.
  QStringList folders = QApplication::arguments().mid(1);
  folders.removeIf([](const QString& a) { return a.startsWith(QLatin1Char('-')); });
  if (!folders.isEmpty()) window.setSrcPath(QFileInfo(folders[0]).absoluteFilePath());
  if (folders.size() > 1) window.setWorkFolder(QFileInfo(folders[1]).absoluteFilePath());
  window.show();
  // A work folder that holds an extraction shows the disc's menus once the window is up.
  if (folders.size() > 1) QTimer::singleShot(0, &window, [&window] { window.showWorkFolderMenus(); });
  return app.exec();
}
