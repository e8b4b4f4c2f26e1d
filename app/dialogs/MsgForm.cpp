#include "app/dialogs/MsgForm.h"

#include <QCloseEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QScreen>
#include <QTextCursor>
#include <QTimer>
#include <QVBoxLayout>

namespace quelt {

TMsgform::TMsgform(QWidget* parent) : QDialog(parent) {
  setObjectName("Msgform");
  setWindowTitle("Zip Messages");
  setModal(false);

  statusLabel_ = new QLabel(this);
  statusLabel_->setObjectName("StatusLabel");
  statusLabel_->setAlignment(Qt::AlignRight | Qt::AlignVCenter);
  statusLabel_->setTextFormat(Qt::PlainText);
  // Long paths are shortened to the label's width rather than widening the window.
  statusLabel_->setSizePolicy(QSizePolicy::Ignored, QSizePolicy::Preferred);
  statusLabel_->installEventFilter(this);
  progress_ = new QProgressBar(this);
  progress_->setObjectName("ProgressBar1");
  progress_->setRange(0, 100);
  progress_->setValue(0);
  progress_->setFormat("%p%");
  progress_->setTextVisible(true);
  progress_->setFixedWidth(fontMetrics().averageCharWidth() * 24);

  memo_ = new QPlainTextEdit(this);
  memo_->setObjectName("Memo1");
  memo_->setReadOnly(true);
  memo_->setLineWrapMode(QPlainTextEdit::NoWrap);
  memo_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
  QFont font("Arial");
  font.setPointSize(8);
  memo_->setFont(font);
  QPalette palette = memo_->palette();
  palette.setColor(QPalette::Base, palette.color(QPalette::Button));
  // The selection stays visible when the text loses the focus.
  for (QPalette::ColorRole role : {QPalette::Highlight, QPalette::HighlightedText})
    palette.setColor(QPalette::Inactive, role, palette.color(QPalette::Active, role));
  memo_->setPalette(palette);

  ok_ = new QPushButton("&OK", this);
  ok_->setObjectName("DismissBut");
  ok_->setDefault(true);
  cancel_ = new QPushButton("Cancel", this);
  cancel_->setObjectName("CancelBut");
  connect(ok_, &QPushButton::clicked, this, &TMsgform::DismissButClick);
  connect(cancel_, &QPushButton::clicked, this, &TMsgform::CancelButClick);

  auto* top = new QHBoxLayout;
  top->addWidget(statusLabel_, 1);
  top->addWidget(progress_);
  auto* buttons = new QHBoxLayout;
  buttons->addStretch(1);
  buttons->addWidget(ok_);
  buttons->addWidget(cancel_);
  auto* layout = new QVBoxLayout(this);
  layout->addLayout(top);
  layout->addWidget(memo_, 1);
  layout->addLayout(buttons);
  showStatus();
  resize(fontMetrics().averageCharWidth() * 80, fontMetrics().height() * 22);
}

void TMsgform::ShowOutput() {
  cancel_->setEnabled(true);
  show();
  raise();
}

void TMsgform::ClearText() {
  pending_.clear();
  memo_->clear();
}

void TMsgform::AddLine(const QString& line) {
  pending_ << line;
  scheduleFlush();
}

void TMsgform::scheduleFlush() {
  if (flushScheduled_) return;
  flushScheduled_ = true;
  QTimer::singleShot(0, this, [this] {
    flushScheduled_ = false;
    flush();
  });
}

void TMsgform::flush() const {
  if (!pending_.isEmpty()) {
    memo_->appendPlainText(pending_.join('\n'));
    pending_.clear();
  }
  if (statusPending_) {
    statusPending_ = false;
    showStatus();
  }
}

void TMsgform::AppendFinal(const QString& text) {
  flush();
  // The break comes first even in an empty text, which then starts with an empty line.
  if (memo_->document()->isEmpty()) memo_->appendPlainText("");
  memo_->appendPlainText(text);
}

void TMsgform::DisableCancel() {
  cancel_->setEnabled(false);
}

void TMsgform::ScrollToEnd() {
  flush();
  QTextCursor cursor = memo_->textCursor();
  cursor.movePosition(QTextCursor::End);
  memo_->setTextCursor(cursor);
  memo_->ensureCursorVisible();
}

void TMsgform::SetStatus(const QString& fileName) {
  status_ = fileName;
  statusPending_ = true;
  scheduleFlush();
}

void TMsgform::showStatus() const {
  int width = statusLabel_->width() > 10 ? statusLabel_->width() : 400;
  statusLabel_->setText(statusLabel_->fontMetrics().elidedText(status_, Qt::ElideMiddle, width));
}

void TMsgform::SetProgress(int percent) {
  // The bar draws itself at once on every visible change, which costs a run of many small
  // reads dearly; twenty pictures a second move it smoothly. The ends always show.
  if (percent != 0 && percent != 100 && progressClock_.isValid() && progressClock_.elapsed() < 50)
    return;
  progressClock_.start();
  progress_->setValue(percent);
}

QStringList TMsgform::Lines() const {
  flush();
  QString text = memo_->toPlainText();
  return text.isEmpty() ? QStringList() : text.split('\n');
}

int TMsgform::Progress() const {
  return progress_->value();
}

void TMsgform::DismissButClick() {
  hide();
}

void TMsgform::CancelButClick() {
  if (OnCancel) OnCancel();
  hide();
}

void TMsgform::showEvent(QShowEvent* event) {
  QDialog::showEvent(event);
  cancel_->setEnabled(true);
  if (placed_) return;
  placed_ = true;
  if (QScreen* screen = QGuiApplication::primaryScreen()) {
    QRect area = screen->availableGeometry();
    move(area.center() - rect().center());
  }
}

void TMsgform::keyPressEvent(QKeyEvent* event) {
  if (event->key() == Qt::Key_Escape && event->modifiers() == Qt::NoModifier) {
    // Escape is the Cancel button; once the run is over it only closes the window.
    if (cancel_->isEnabled())
      CancelButClick();
    else
      hide();
    return;
  }
  QDialog::keyPressEvent(event);
}

void TMsgform::closeEvent(QCloseEvent* event) {
  // The close box hides the window; the operation goes on, and "View Last Output..." brings
  // it back.
  event->accept();
  hide();
}

bool TMsgform::eventFilter(QObject* watched, QEvent* event) {
  if (watched == statusLabel_ && event->type() == QEvent::Resize) showStatus();
  return QDialog::eventFilter(watched, event);
}

}  // namespace quelt
