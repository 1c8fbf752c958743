// SPDX-License-Identifier: GPL-3.0-or-later
// Runs one command off the user-interface thread.
//
// While a command runs the main window is disabled and the progress window is shown. The command's
// messages and questions reach the user-interface thread as blocking calls and appear as message boxes;
// for each box the progress window steps aside and the main window is enabled again, so that a closing
// message is shown over the restored window as a desktop user expects.
#pragma once

#include <QEventLoop>
#include <QMetaObject>
#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QThread>
#include <exception>
#include <functional>
#include <memory>
#include <optional>
#include <thread>
#include <utility>

#include "progress_dialog.h"
#include "veld/base/messenger.h"

class QWidget;

namespace veld::gui {

class CommandSession;

// Message boxes for the core. Usable from the user-interface thread (directly) and from a worker thread
// (the call blocks until the user has answered).
class GuiMessenger : public QObject, public Messenger {
  Q_OBJECT
 public:
  explicit GuiMessenger(QWidget* window, CommandSession* session = nullptr);
  // Warnings are gathered and shown together in one box before the next other message or question, or
  // when the command ends (flush_warnings), so that a damaged disc does not stack up a box per warning.
  void show(MessageKind kind, std::string_view text) override;
  Answer ask(std::string_view text) override;
  void flush_warnings();

 private:
  template <typename F>
  auto on_ui_thread(F f) -> decltype(f());
  Answer box(MessageKind kind, const QString& text, bool question, const QString& details = {});

  QPointer<QWidget> window_;
  CommandSession* session_;
  QStringList warnings_;  // on the user-interface thread only
};

class CommandSession {
 public:
  explicit CommandSession(QWidget* window);
  ~CommandSession();
  CommandSession(const CommandSession&) = delete;
  CommandSession& operator=(const CommandSession&) = delete;

  // Calls work(messenger, progress) on a worker thread and returns its value once it has returned; the
  // user-interface thread keeps running its events meanwhile.
  template <typename R>
  R run(const std::function<R(Messenger&, Progress&)>& work);

  ProgressDialog* dialog() const { return dialog_.get(); }
  GuiProgress& progress() { return progress_; }

  // Around each message box of the running command.
  void stepAside();
  void stepBack();

  // The session of the command running now, or null (for tests and the main window's close guard).
  static CommandSession* current();

 private:
  void begin();
  void end();
  void wait(std::thread& worker, bool& done);

  QPointer<QWidget> window_;
  GuiProgress progress_;
  GuiMessenger messenger_;
  std::unique_ptr<ProgressDialog> dialog_;
};

template <typename F>
auto GuiMessenger::on_ui_thread(F f) -> decltype(f()) {
  if (QThread::currentThread() == thread()) return f();
  decltype(f()) result{};
  QMetaObject::invokeMethod(this, [&] { result = f(); }, Qt::BlockingQueuedConnection);
  return result;
}

template <typename R>
R CommandSession::run(const std::function<R(Messenger&, Progress&)>& work) {
  begin();
  std::optional<R> result;
  std::exception_ptr error;
  bool done = false;
  std::thread worker([&] {
    try {
      result = work(messenger_, progress_);
    } catch (...) {
      // Handed to the user-interface thread, which rethrows it after the window is restored.
      error = std::current_exception();
    }
  });
  wait(worker, done);
  end();
  if (error) std::rethrow_exception(error);
  return std::move(*result);
}

}  // namespace veld::gui
