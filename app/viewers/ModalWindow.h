// Shows a window of its own (not a dialog) modally: the call returns once it has closed.
#pragma once

#include <QEventLoop>
#include <QWidget>

namespace quelt {

// TWindow emits Closed() when it has accepted a close.
template <class TWindow>
void ShowModal(TWindow* window) {
  QEventLoop loop;
  QObject::connect(window, &TWindow::Closed, &loop, &QEventLoop::quit);
  QObject::connect(window, &QObject::destroyed, &loop, &QEventLoop::quit);
  window->setWindowModality(Qt::ApplicationModal);
  window->show();
  window->raise();
  window->activateWindow();
  loop.exec(QEventLoop::DialogExec);
}

}  // namespace quelt
