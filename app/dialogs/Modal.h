// Shows the window's own dialogs modally. The window tests put a script in its place that
// plays the user's part on the real dialog: fills its controls and presses its buttons.
#pragma once

#include <QApplication>
#include <QCursor>
#include <QDialog>
#include <functional>

namespace quelt {

class TModal {
 public:
  using TRunner = std::function<int(QDialog& dialog)>;

  // The dialog's result: QDialog::Accepted only when its affirmative button closed it.
  int Run(QDialog& dialog) { return runner_ ? runner_(dialog) : dialog.exec(); }
  void SetRunner(TRunner runner) { runner_ = std::move(runner); }

 private:
  TRunner runner_;
};

// The ordinary cursor for the life of a scope, over a wait cursor the operation shows: a
// question must not look busy.
class TNormalCursor {
 public:
  TNormalCursor() { QApplication::setOverrideCursor(QCursor(Qt::ArrowCursor)); }
  ~TNormalCursor() { QApplication::restoreOverrideCursor(); }
  TNormalCursor(const TNormalCursor&) = delete;
  TNormalCursor& operator=(const TNormalCursor&) = delete;
};

}  // namespace quelt
