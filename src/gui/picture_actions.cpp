// SPDX-License-Identifier: GPL-3.0-or-later
#include "picture_actions.h"

#include <QDesktopServices>
#include <QFileDialog>
#include <QFileInfo>
#include <QProcess>
#include <QUrl>

#include "app_settings.h"
#include "command_session.h"
#include "qt_text.h"
#include "veld/app/edit_preview.h"
#include "veld/base/messages_menu.h"
#include "veld/base/result.h"

namespace veld::gui {
namespace {

QString Quoted(const QString& path) {
  QString q = path;
  q.replace(QLatin1Char('\\'), QStringLiteral("\\\\")).replace(QLatin1Char('"'), QStringLiteral("\\\""));
  return QLatin1Char('"') + q + QLatin1Char('"');
}

// Whether the picture (either of its files) is edited, by the rule replace applies.
bool IsEdited(const SMenuModel& model, const SPictureRef& ref) {
  struct : Messenger {
    void show(MessageKind, std::string_view) override {}
    Answer ask(std::string_view) override { return Answer::kNo; }
  } quiet;
  CEditRule rule;
  if (!LoadEditRule(model, {}, rule, quiet)) return true;  // unknown: ask
  return PictureIsEdited(model, ref, rule);
}

}  // namespace

QStringList EditorArguments(const QString& command, const QString& file) {
  if (command.trimmed().isEmpty()) return {};
  QString line = command;
  if (line.contains(QStringLiteral("%f"))) line.replace(QStringLiteral("%f"), Quoted(file));
  else line += QLatin1Char(' ') + Quoted(file);
  return QProcess::splitCommand(line);
}

bool OpenInEditor(QWidget* parent, const QString& file) {
  if (file.isEmpty()) return false;
  const QString command = AppSettings().value(Key(kKeyEditor)).toString();
  QStringList args = EditorArguments(command, file);
  bool started = false;
  if (args.isEmpty()) {
    started = QDesktopServices::openUrl(QUrl::fromLocalFile(file));
  } else {
    const QString program = args.takeFirst();
    started = QProcess::startDetached(program, args);
  }
  if (!started) {
    GuiMessenger messenger(parent);
    messenger.show(MessageKind::kError,
                   format_message(kStrEditOpenFailed, (command.isEmpty() ? file : command).toStdString()));
  }
  return started;
}

int ReplacePicture(QWidget* parent, const SMenuModel& model, const QString& file, QString chosen) {
  const std::optional<SPictureRef> ref = FindPictureRef(model, PathFrom(file));
  if (!ref) return kResultFailed;
  if (chosen.isEmpty()) {
    const QString title = FromUtf8(format_message(kStrEditChoosePicture, QFileInfo(file).fileName().toStdString()));
    chosen = QFileDialog::getOpenFileName(parent, title, QFileInfo(file).path(), Text(kStrEditPictureFilter));
    if (chosen.isEmpty()) return kResultCancelled;
  }
  GuiMessenger messenger(parent);
  if (IsEdited(model, *ref) &&
      messenger.ask(format_message(kStrEditAskReplace, file.toStdString(), chosen.toStdString())) != Answer::kYes)
    return kResultCancelled;
  return PutPicture(model, *ref, PathFrom(chosen), messenger);
}

int RevertPictureFile(QWidget* parent, const SMenuModel& model, const QString& file) {
  const std::optional<SPictureRef> ref = FindPictureRef(model, PathFrom(file));
  if (!ref) return kResultFailed;
  GuiMessenger messenger(parent);
  if (messenger.ask(format_message(kStrEditAskRevert, file.toStdString())) != Answer::kYes) return kResultCancelled;
  return RevertPicture(model, *ref, messenger);
}

}  // namespace veld::gui
