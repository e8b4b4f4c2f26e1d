#include "engine/LegacyWindow.h"

#include <algorithm>
#include <cstring>

namespace quelt {

TLegacyWindow::TLegacyWindow(TDecodeIO& io, uint32_t size, uint32_t remaining)
    : io_(io), win_(io.WorkArea()), size_(size), remaining_(remaining) {}

void TLegacyWindow::wrap() {
  io_.FlushWindow(size_);
  pos_ = 0;
  firstPass_ = false;
}

bool TLegacyWindow::copy(uint32_t dist, uint32_t n) {
  bool whole = n <= remaining_;
  if (!whole) n = remaining_;
  remaining_ -= n;
  uint32_t src = (pos_ - dist) & (size_ - 1);
  while (n > 0) {
    // Neither the source nor the destination piece crosses the end of the window.
    uint32_t piece = std::min(n, size_ - std::max(src, pos_));
    if (firstPass_ && src >= pos_) {
      // Nothing has been written there yet in this entry.
      std::memset(win_ + pos_, 0, piece);
    } else if (src > pos_ || pos_ - src >= piece) {
      // Source ahead of the destination, or far enough behind: a forward move is exact.
      std::memmove(win_ + pos_, win_ + src, piece);
    } else {
      // Overlapping from behind: byte by byte so the copy repeats what it has just written.
      for (uint32_t i = 0; i < piece; ++i) win_[pos_ + i] = win_[src + i];
    }
    pos_ += piece;
    src = (src + piece) & (size_ - 1);
    n -= piece;
    if (pos_ == size_) wrap();
  }
  return whole;
}

void TLegacyWindow::flush() {
  if (pos_ > 0) io_.FlushWindow(pos_);
  pos_ = 0;
}

}  // namespace quelt
