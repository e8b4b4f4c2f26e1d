// The wait cursor for the life of a scope; the previous cursor comes back on every path out.
#pragma once

#include <QApplication>
#include <QCursor>

namespace quelt {

class TWaitCursor {
 public:
  TWaitCursor() { QApplication::setOverrideCursor(QCursor(Qt::WaitCursor)); }
  ~TWaitCursor() { QApplication::restoreOverrideCursor(); }
  TWaitCursor(const TWaitCursor&) = delete;
  TWaitCursor& operator=(const TWaitCursor&) = delete;
};

}  // namespace quelt
