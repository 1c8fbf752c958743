// SPDX-License-Identifier: GPL-3.0-or-later
#include "command_session.h"

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QWidget>

#include <utility>

#include "qt_text.h"

namespace veld::gui {
namespace {

CommandSession* g_current = nullptr;

}  // namespace

GuiMessenger::GuiMessenger(QWidget* window, CommandSession* session) : window_(window), session_(session) {}

void GuiMessenger::show(MessageKind kind, std::string_view text) {
  const QString t = FromUtf8(plain_text(text));
  on_ui_thread([&] {
    if (kind == MessageKind::kWarning) {
      warnings_.append(t);
      return Answer::kYes;
    }
    flush_warnings();
    return box(kind, t, false);
  });
}

Answer GuiMessenger::ask(std::string_view text) {
  const QString t = FromUtf8(plain_text(text));
  return on_ui_thread([&] {
    flush_warnings();
    return box(MessageKind::kInfo, t, true);
  });
}

void GuiMessenger::flush_warnings() {
  if (warnings_.isEmpty()) return;
  const QStringList warnings = std::exchange(warnings_, {});
  const QString all = warnings.join(QStringLiteral("\n\n"));
  // A few are shown as they are; more are counted, the first few shown and all of them under Details.
  constexpr qsizetype kShown = 3;
  if (warnings.size() <= kShown) {
    box(MessageKind::kWarning, all, false);
    return;
  }
  const QString text = FromUtf8(format_message(kStrWarningsCount, static_cast<int>(warnings.size()))) +
                       QStringLiteral("\n\n") + warnings.mid(0, kShown).join(QStringLiteral("\n\n")) +
                       QStringLiteral("\n…");
  box(MessageKind::kWarning, text, false, all);
}

Answer GuiMessenger::box(MessageKind kind, const QString& text, bool question, const QString& details) {
  if (session_) session_->stepAside();
  QMessageBox box(window_);
  box.setObjectName(QStringLiteral("messageBox"));
  box.setWindowTitle(QStringLiteral("VELD"));
  box.setText(text);
  if (!details.isEmpty()) box.setDetailedText(details);
  QPushButton* yes = nullptr;
  QPushButton* no = nullptr;
  if (question) {
    box.setIcon(QMessageBox::Question);
    yes = box.addButton(Text(kStrYes), QMessageBox::YesRole);
    no = box.addButton(Text(kStrNo), QMessageBox::NoRole);
    QPushButton* cancel = box.addButton(Text(kStrCancel), QMessageBox::RejectRole);
    box.setDefaultButton(yes);
    box.setEscapeButton(cancel);
  } else {
    box.setIcon(kind == MessageKind::kError     ? QMessageBox::Critical
                : kind == MessageKind::kWarning ? QMessageBox::Warning
                                                : QMessageBox::Information);
    box.addButton(Text(kStrOk), QMessageBox::AcceptRole);
  }
  box.exec();
  if (session_) session_->stepBack();
  if (!question) return Answer::kYes;
  if (box.clickedButton() == yes) return Answer::kYes;
  if (box.clickedButton() == no) return Answer::kNo;
  return Answer::kCancel;
}

CommandSession::CommandSession(QWidget* window) : window_(window), messenger_(window, this) {}

CommandSession::~CommandSession() {
  if (g_current == this) g_current = nullptr;
}

CommandSession* CommandSession::current() { return g_current; }

void CommandSession::begin() {
  g_current = this;
  dialog_ = std::make_unique<ProgressDialog>(progress_, window_);
  if (window_) window_->setEnabled(false);
  dialog_->setEnabled(true);
  dialog_->show();
  dialog_->raise();
  dialog_->activateWindow();
}

void CommandSession::end() {
  messenger_.flush_warnings();
  if (window_) {
    window_->setEnabled(true);
    window_->activateWindow();
  }
  dialog_.reset();
  g_current = nullptr;
}

void CommandSession::wait(std::thread& worker, bool& done) {
  // The worker's last act is to queue the loop's end; the loop runs every event (progress updates,
  // message boxes) until then.
  QEventLoop loop;
  std::thread runner([&] {
    worker.join();
    QMetaObject::invokeMethod(&loop, [&] { done = true; loop.quit(); }, Qt::QueuedConnection);
  });
  if (!done) loop.exec();
  runner.join();
}

void CommandSession::stepAside() {
  if (dialog_) dialog_->hide();
  if (window_) window_->setEnabled(true);
}

void CommandSession::stepBack() {
  if (window_) window_->setEnabled(false);
  if (dialog_ && !dialog_->wasCancelled()) dialog_->show();
}

}  // namespace veld::gui
