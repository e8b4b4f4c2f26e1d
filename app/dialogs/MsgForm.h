// The output window "Zip Messages": a line per engine event, the file in hand, a per-file
// progress bar, and a Cancel button that stops the running operation. Shown without
// blocking; the engine's events write into it even while it is hidden.
#pragma once

#include <QDialog>
#include <QElapsedTimer>
#include <QLabel>
#include <QPlainTextEdit>
#include <QProgressBar>
#include <QPushButton>
#include <functional>

namespace quelt {

class TMsgform : public QDialog {
  Q_OBJECT

 public:
  explicit TMsgform(QWidget* parent);

  // Called by Cancel before the window closes: asks the running operation to stop. It must
  // work while an operation runs, so it never waits for one.
  std::function<void()> OnCancel;

  // Shows the window without blocking and enables Cancel.
  void ShowOutput();
  void ClearText();
  void AddLine(const QString& line);
  // A command's closing text, after a line break.
  void AppendFinal(const QString& text);
  void DisableCancel();
  // Puts the caret after the last character, which shows the end of the text.
  void ScrollToEnd();
  void SetStatus(const QString& fileName);
  void SetProgress(int percent);

  QStringList Lines() const;
  QString Status() const { return status_; }
  int Progress() const;
  QPushButton* CancelButton() const { return cancel_; }

  // "&OK": hides the window.
  void DismissButClick();
  // "Cancel": asks the engine to stop, then closes the window.
  void CancelButClick();

 protected:
  void showEvent(QShowEvent* event) override;
  void keyPressEvent(QKeyEvent* event) override;
  void closeEvent(QCloseEvent* event) override;
  bool eventFilter(QObject* watched, QEvent* event) override;

 private:
  void showStatus() const;
  // Shows what was written since the last time (lines, file name) in one step, when events
  // are next handled.
  void scheduleFlush();
  void flush() const;

  QLabel* statusLabel_;
  QProgressBar* progress_;
  QPlainTextEdit* memo_;
  QPushButton* ok_;
  QPushButton* cancel_;
  QString status_ = "(none)";
  bool placed_ = false;
  QElapsedTimer progressClock_;  // when the bar was last drawn
  // Lines not yet in the text: appended together when events are next handled (or the text
  // is read), since appending them one by one costs a long run more than its own work. The
  // file name waits likewise.
  mutable QStringList pending_;
  mutable bool statusPending_ = false;
  bool flushScheduled_ = false;
};

}  // namespace quelt
