// SPDX-License-Identifier: GPL-3.0-or-later
#include "progress_dialog.h"

#include <fmt/format.h>

#include <QCloseEvent>
#include <QHBoxLayout>
#include <QLabel>
#include <QPainter>
#include <QProgressBar>
#include <QPushButton>
#include <QVBoxLayout>

#include "qt_text.h"
#include "veld/base/messages_menu.h"

namespace veld::gui {

void GuiProgress::on_window_title(const std::string& text) { emit windowTitleChanged(FromUtf8(text)); }

void GuiProgress::on_title(const std::string& text) {
  // The window shows a new step's name at once, with the percentage reached so far.
  emit windowTitleChanged(FromUtf8(fmt::format("{} [{}%]", text, percent())));
  emit stepChanged(FromUtf8(format_message(kStrProgressStep, text, percent())));
}

void GuiProgress::on_status(const std::string& text) { emit statusChanged(FromUtf8(text)); }
void GuiProgress::on_position(int position, int percent) {
  if (!title().empty()) emit stepChanged(FromUtf8(format_message(kStrProgressStep, title(), percent)));
  emit positionChanged(position);
}
void GuiProgress::on_bar_visible(bool visible) { emit barVisibleChanged(visible); }

StatusText::StatusText(QWidget* parent) : QWidget(parent) {
  setSizePolicy(QSizePolicy::Expanding, QSizePolicy::Fixed);
  setFixedHeight(fontMetrics().height() * kLines);
}

void StatusText::setText(const QString& text) {
  if (text == text_) return;
  text_ = text;
  update();
}

QStringList StatusText::shownLines() const {
  QStringList lines;
  const QFontMetrics fm = fontMetrics();
  for (const QString& line : text_.split(QLatin1Char('\n'))) {
    if (lines.size() == kLines) break;
    lines << fm.elidedText(line, Qt::ElideMiddle, width());
  }
  return lines;
}

QSize StatusText::sizeHint() const { return {360, fontMetrics().height() * kLines}; }

void StatusText::paintEvent(QPaintEvent*) {
  QPainter p(this);
  const int h = fontMetrics().height();
  int y = 0;
  for (const QString& line : shownLines()) {
    p.drawText(QRect(0, y, width(), h), Qt::AlignLeft | Qt::AlignVCenter, line);
    y += h;
  }
}

ProgressDialog::ProgressDialog(GuiProgress& progress, QWidget* owner)
    : QDialog(owner), progress_(progress), owner_(owner) {
  setObjectName(QStringLiteral("progressDialog"));
  setWindowTitle(QStringLiteral("VELD"));
  setWindowModality(Qt::NonModal);
  setWindowFlags(Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint | Qt::WindowCloseButtonHint);
  step_ = new QLabel(this);
  step_->setObjectName(QStringLiteral("step"));
  QFont bold = step_->font();
  bold.setBold(true);
  step_->setFont(bold);
  status_ = new StatusText(this);
  status_->setObjectName(QStringLiteral("status"));
  bar_ = new QProgressBar(this);
  bar_->setObjectName(QStringLiteral("bar"));
  bar_->setRange(Progress::kLower, Progress::kUpper);
  bar_->setValue(0);
  bar_->setTextVisible(false);
  cancel_ = new QPushButton(Text(kStrCancel), this);
  cancel_->setObjectName(QStringLiteral("cancelButton"));
  cancel_->setAutoDefault(false);

  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->setContentsMargins(10, 10, 10, 10);
  layout->setSpacing(10);
  layout->addWidget(step_);
  layout->addWidget(status_);
  layout->addWidget(bar_);
  layout->addLayout(buttons);
  setMinimumWidth(390);
  resize(390, sizeHint().height());
  layout->setSizeConstraint(QLayout::SetFixedSize);

  connect(cancel_, &QPushButton::clicked, this, &ProgressDialog::cancelRun);
  connect(&progress_, &GuiProgress::windowTitleChanged, this, &QWidget::setWindowTitle);
  connect(&progress_, &GuiProgress::statusChanged, status_, &StatusText::setText);
  connect(&progress_, &GuiProgress::stepChanged, step_, &QLabel::setText);
  connect(&progress_, &GuiProgress::positionChanged, bar_, &QProgressBar::setValue);
  connect(&progress_, &GuiProgress::barVisibleChanged, bar_, &QWidget::setVisible);
}

void ProgressDialog::cancelRun() {
  progress_.cancel();
  hide();
  if (owner_) owner_->activateWindow();
}

void ProgressDialog::reject() { cancelRun(); }

void ProgressDialog::closeEvent(QCloseEvent* event) {
  event->ignore();
  cancelRun();
}

}  // namespace veld::gui
