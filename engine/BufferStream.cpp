#include "engine/BufferStream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "engine/Errors.h"

namespace quelt {

namespace {
std::string sysError() { return std::strerror(errno); }
}  // namespace

int64_t TStream::Size() {
  int64_t here = Seek(0, soFromCurrent);
  int64_t size = Seek(0, soFromEnd);
  Seek(here, soFromBeginning);
  return size;
}

// ---- TFileStream

TFileStream::TFileStream(const std::string& path, TOpenMode mode) : path_(path) {
  int flags = O_CLOEXEC;
  switch (mode) {
    case TOpenMode::Read:
      flags |= O_RDONLY;
      break;
    case TOpenMode::ReadWrite:
      flags |= O_RDWR;
      break;
    case TOpenMode::Create:
      flags |= O_RDWR | O_CREAT | O_TRUNC;
      break;
  }
  fd_ = ::open(path.c_str(), flags, 0666);
  if (fd_ < 0) {
    if (mode == TOpenMode::Create)
      throw EFCreateError("Cannot create file \"" + path + "\". " + sysError());
    throw EFOpenError("Cannot open file \"" + path + "\". " + sysError());
  }
  struct stat st;
  if (mode != TOpenMode::Create && ::fstat(fd_, &st) == 0 && S_ISDIR(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw EFOpenError("Cannot open file \"" + path + "\". It is a folder");
  }
}

TFileStream::~TFileStream() {
  if (fd_ >= 0) ::close(fd_);
}

size_t TFileStream::Read(void* buffer, size_t n) {
  auto* p = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::read(fd_, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r < 0) throw EStreamError("Read error on \"" + path_ + "\". " + sysError());
    if (r == 0) break;
    done += size_t(r);
  }
  passed_ += int64_t(done);
  return done;
}

size_t TFileStream::Write(const void* buffer, size_t n) {
  auto* p = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    ssize_t r = ::write(fd_, p + done, n - done);
    if (r < 0 && errno == EINTR) continue;
    if (r <= 0) throw EStreamError("Write error on \"" + path_ + "\". " + sysError());
    done += size_t(r);
  }
  passed_ += int64_t(done);
  return done;
}

int64_t TFileStream::Seek(int64_t offset, int origin) {
  int whence = origin == soFromBeginning ? SEEK_SET : origin == soFromCurrent ? SEEK_CUR : SEEK_END;
  off_t r = ::lseek(fd_, off_t(offset), whence);
  if (r < 0 && errno == ESPIPE) {
    // A pipe can stay where it is, and nothing else.
    if ((origin == soFromCurrent && offset == 0) ||
        (origin == soFromBeginning && offset == passed_))
      return passed_;
    throw EStreamError("Seek error on \"" + path_ + "\": it cannot seek");
  }
  if (r < 0) throw EStreamError("Seek error");
  return int64_t(r);
}

int64_t TFileStream::Size() {
  struct stat st;
  if (::fstat(fd_, &st) != 0) throw EStreamError("Cannot read the size of \"" + path_ + "\"");
  return int64_t(st.st_size);
}

void TFileStream::Sync() {
  if (::fsync(fd_) != 0) throw EStreamError("Cannot flush \"" + path_ + "\". " + sysError());
}

void TFileStream::Close() {
  if (fd_ < 0) return;
  int fd = fd_;
  fd_ = -1;
  if (::close(fd) != 0 && errno != EINTR)
    throw EStreamError("Cannot close \"" + path_ + "\". " + sysError());
}

// ---- TBufferStream

TBufferStream::TBufferStream(TStream& underlying)
    : under_(underlying), underPos_(underlying.Seek(0, soFromCurrent)), buf_(kBufferSize) {}

TBufferStream::~TBufferStream() {
  if (state_ == kWriting && pos_ > 0) {
    try {
      Flush();
    } catch (...) {
      // Only reached while an exception unwinds; its owner discards this output anyway.
    }
  }
}

bool TBufferStream::Fill() {
  size_t got = under_.Read(buf_.data(), kBufferSize);
  underPos_ += int64_t(got);
  pos_ = 0;
  end_ = got;
  noPos_ = false;
  state_ = got > 0 ? kReading : kUnknown;
  return got > 0;
}

void TBufferStream::Flush() {
  if (state_ == kWriting && pos_ > 0 && !noPos_) {
    size_t pending = pos_;
    pos_ = 0;
    // TFileStream writes everything or throws: a short write never passes silently.
    if (under_.Write(buf_.data(), pending) != pending) throw EStreamError("Write error");
    underPos_ += int64_t(pending);
  }
  pos_ = 0;
  end_ = kBufferSize;
  noPos_ = false;
  state_ = kUnknown;
}

size_t TBufferStream::Read(void* buffer, size_t n) {
  if (state_ != kReading || noPos_) {
    if (state_ == kWriting) Flush();
    // Empty buffer: the next step refills it from the logical position.
    pos_ = end_ = 0;
    noPos_ = false;
    state_ = kReading;
  }
  auto* out = static_cast<uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    if (pos_ >= end_) {
      // Large reads bypass the buffer once it is drained.
      if (n - done >= kBufferSize) {
        size_t got = under_.Read(out + done, n - done);
        underPos_ += int64_t(got);
        done += got;
        pos_ = end_ = 0;
        break;
      }
      if (!Fill()) {
        state_ = kReading;
        pos_ = end_ = 0;
        break;
      }
    }
    size_t take = std::min(n - done, end_ - pos_);
    std::memcpy(out + done, buf_.data() + pos_, take);
    pos_ += take;
    done += take;
  }
  return done;
}

size_t TBufferStream::Write(const void* buffer, size_t n) {
  if (state_ != kWriting) {
    // Drop any read-ahead: the bytes go to the logical position.
    int64_t logical = Position();
    underPos_ = under_.Seek(logical, soFromBeginning);
    pos_ = 0;
    end_ = kBufferSize;
    noPos_ = false;
    state_ = kWriting;
  }
  auto* in = static_cast<const uint8_t*>(buffer);
  size_t done = 0;
  while (done < n) {
    size_t take = std::min(n - done, kBufferSize - pos_);
    std::memcpy(buf_.data() + pos_, in + done, take);
    pos_ += take;
    done += take;
    if (pos_ == kBufferSize) {
      Flush();
      state_ = kWriting;
    }
  }
  if (pos_ == 0) state_ = kUnknown;
  return done;
}

int64_t TBufferStream::Seek(int64_t offset, int origin) {
  int64_t underPos = underPos_;
  int64_t logical = underPos;
  if (!noPos_) {
    if (state_ == kReading) logical -= int64_t(end_ - pos_);
    if (state_ == kWriting) logical += int64_t(pos_);
  }
  int64_t target;
  switch (origin) {
    case soFromBeginning:
      target = offset;
      break;
    case soFromCurrent:
      target = logical + offset;
      break;
    case soFromEnd: {
      int64_t size = under_.Size();
      if (state_ == kWriting && underPos + int64_t(pos_) > size) size = underPos + int64_t(pos_);
      target = size - (offset < 0 ? -offset : offset);
      break;
    }
    default:
      throw EZipError("Invalid seek origin (" + std::to_string(origin) + ")");
  }
  if (target == logical) return target;
  if (target < 0) throw EStreamError("Seek error");
  // A move inside the bytes already read ahead keeps them.
  if (state_ == kReading && !noPos_ && target > logical && target <= underPos) {
    pos_ = end_ - size_t(underPos - target);
    return target;
  }
  if (state_ == kWriting) Flush();
  underPos_ = under_.Seek(target, soFromBeginning);
  noPos_ = true;
  state_ = kUnknown;
  pos_ = end_ = 0;
  return target;
}

int64_t TBufferStream::Size() {
  int64_t size = under_.Size();
  if (state_ == kWriting) {
    int64_t pendingEnd = underPos_ + int64_t(pos_);
    if (pendingEnd > size) size = pendingEnd;
  }
  return size;
}

void TBufferStream::PutBack(uint8_t b) {
  if (state_ != kReading || noPos_ || pos_ == 0) throw EStreamError("Putback overflow");
  buf_[--pos_] = b;
}

// ---- TLFNFileStream

TLFNFileStream::TLFNFileStream(std::unique_ptr<TFileStream> file)
    : TBufferStream(*file), file_(std::move(file)) {}

TLFNFileStream::TLFNFileStream(const std::string& path, TOpenMode mode)
    : TLFNFileStream(std::make_unique<TFileStream>(path, mode)) {}

TLFNFileStream::TLFNFileStream(int fd, const std::string& name)
    : TLFNFileStream(std::make_unique<TFileStream>(fd, name)) {}

TLFNFileStream::~TLFNFileStream() {
  // The base's last flush must reach the file before the file goes.
  if (!closed_) {
    try {
      Flush();
    } catch (...) {
    }
  }
}

void TLFNFileStream::Close() {
  if (closed_) return;
  closed_ = true;
  Flush();
  file_->Close();
}

void TLFNFileStream::Sync() {
  Flush();
  file_->Sync();
}

struct stat TLFNFileStream::Stat() const {
  struct stat st {};
  if (::fstat(file_->Handle(), &st) != 0) throw EStreamError("Cannot read the status of \"" + Path() + "\"");
  return st;
}

}  // namespace quelt
