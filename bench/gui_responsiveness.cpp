// SPDX-License-Identifier: GPL-3.0-or-later
// How the window keeps up while it extracts a large disc: a timer on the user-interface thread ticks
// every 10 ms during "Extract button images" and the longest gap between two ticks is the longest time the
// window could not draw or take a click. A second run is cancelled from the progress window half-way, and
// the time from the click to the end of the command is the cancel latency.
//
//   veld_bench_gui BDMV_FOLDER      (QT_QPA_PLATFORM=offscreen without a display)
#include <QApplication>
#include <QElapsedTimer>
#include <QPushButton>
#include <QTimer>
#include <cstdio>
#include <filesystem>

#include "command_session.h"
#include "main_window.h"
#include "modal_script.h"
#include "progress_dialog.h"
#include "veld/base/result.h"

namespace fs = std::filesystem;
using veld::gui::CommandSession;
using veld::gui::MainWindow;
using veld::gui::test::ChooseFolder;
using veld::gui::test::ClickBoxButton;
using veld::gui::test::ModalScript;

namespace {

// The longest gap between the ticks of a 10 ms timer while it runs.
class StallMeter : public QObject {
 public:
  StallMeter() {
    connect(&timer_, &QTimer::timeout, this, [this] {
      const qint64 now = clock_.nsecsElapsed();
      if (last_ >= 0) worst_ = std::max(worst_, now - last_);
      last_ = now;
      ++ticks_;
    });
    clock_.start();
    timer_.start(10);
  }
  double worst_ms() const { return static_cast<double>(worst_) / 1e6; }
  int ticks() const { return ticks_; }

 private:
  QTimer timer_;
  QElapsedTimer clock_;
  qint64 last_ = -1, worst_ = 0;
  int ticks_ = 0;
};

struct Run {
  int result = -1;
  double seconds = 0, worst_stall_ms = 0, cancel_latency_ms = -1;
  int ticks = 0;
};

// One extraction through the window into a new folder under parent; with cancel_at, the progress
// window's Cancel is clicked once the progress passes cancel_at percent (-1: never).
Run Extract(MainWindow& w, const fs::path& parent, int cancel_at) {
  fs::remove_all(parent);
  fs::create_directories(parent);
  ModalScript script;
  script.then(ChooseFolder(parent));
  script.then([](QWidget* box) { ClickBoxButton(box, QStringLiteral("OK")); });
  QElapsedTimer clock;
  qint64 cancelled_at = -1;
  // Cancel at the first progress update past cancel_at percent.
  QTimer hook;
  if (cancel_at >= 0) {
    QObject::connect(&hook, &QTimer::timeout, [&] {
      CommandSession* s = CommandSession::current();
      if (!s || hook.property("hooked").toBool()) return;
      hook.setProperty("hooked", true);
      QObject::connect(&s->progress(), &veld::gui::GuiProgress::positionChanged, s->dialog(), [&, s](int value) {
        if (cancelled_at >= 0 || value < cancel_at) return;
        cancelled_at = clock.nsecsElapsed();
        s->dialog()->cancelButton()->click();
      });
    });
    hook.start(1);
  }
  Run run;
  StallMeter meter;
  clock.start();
  run.result = w.extractImages();
  const qint64 end = clock.nsecsElapsed();
  run.seconds = static_cast<double>(end) / 1e9;
  run.worst_stall_ms = meter.worst_ms();
  run.ticks = meter.ticks();
  if (cancelled_at >= 0) run.cancel_latency_ms = static_cast<double>(end - cancelled_at) / 1e6;
  return run;
}

}  // namespace

int main(int argc, char** argv) {
  QApplication app(argc, argv);
  if (argc != 2) {
    std::fprintf(stderr, "usage: veld_bench_gui BDMV_FOLDER\n");
    return 2;
  }
  std::error_code ec;
  std::uintmax_t bytes = 0;
  for (const auto& e : fs::directory_iterator(fs::path(argv[1]) / "STREAM", ec)) bytes += e.file_size(ec);
  const fs::path parent = fs::temp_directory_path() / "veld-bench-gui";
  MainWindow w;
  w.show();
  w.setSrcPath(QString::fromLocal8Bit(argv[1]));
  const Run whole = Extract(w, parent, -1);
  const Run cancelled = Extract(w, parent, 50);
  fs::remove_all(parent, ec);
  std::printf("clips: %.0f MiB\n", static_cast<double>(bytes) / 1048576.0);
  std::printf("extract: result %d, %.2f s, %d ticks of 10 ms, longest stall of the window %.1f ms\n", whole.result,
              whole.seconds, whole.ticks, whole.worst_stall_ms);
  std::printf("cancelled half-way: result %d, cancel to end %.1f ms, longest stall %.1f ms\n", cancelled.result,
              cancelled.cancel_latency_ms, cancelled.worst_stall_ms);
  const bool ok = whole.result == veld::kResultOk && cancelled.result == veld::kResultCancelled;
  return ok ? 0 : 1;
}
