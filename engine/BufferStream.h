// Streams: a file stream over a POSIX descriptor and the 8192-byte buffered stream that all
// archive input and output of the engine goes through.
#pragma once

#include <sys/stat.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace quelt {

enum TSeekOrigin { soFromBeginning = 0, soFromCurrent = 1, soFromEnd = 2 };

class TStream {
 public:
  virtual ~TStream() = default;
  // Reads up to n bytes; fewer only at the end of the stream.
  virtual size_t Read(void* buffer, size_t n) = 0;
  // Writes n bytes or throws EStreamError.
  virtual size_t Write(const void* buffer, size_t n) = 0;
  virtual int64_t Seek(int64_t offset, int origin) = 0;
  int64_t Position() { return Seek(0, soFromCurrent); }
  virtual int64_t Size();
  // Reads exactly n bytes or returns false (the position is then unspecified).
  [[nodiscard]] bool ReadExact(void* buffer, size_t n) { return Read(buffer, n) == n; }
};

enum class TOpenMode {
  Read,       // existing file, reading only
  ReadWrite,  // existing file, reading and writing
  Create,     // created or truncated, reading and writing
};

class TFileStream : public TStream {
 public:
  // Throws EFOpenError or EFCreateError naming the file.
  TFileStream(const std::string& path, TOpenMode mode);
  // Takes over an open descriptor; `path` names it in messages.
  TFileStream(int fd, const std::string& path) : path_(path), fd_(fd) {}
  ~TFileStream() override;
  TFileStream(const TFileStream&) = delete;
  TFileStream& operator=(const TFileStream&) = delete;

  size_t Read(void* buffer, size_t n) override;
  size_t Write(const void* buffer, size_t n) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;
  // Flushes the file to the disk; throws on failure.
  void Sync();
  // Closes the descriptor; throws when the system reports a failure.
  void Close();
  int Handle() const { return fd_; }
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  int fd_ = -1;
  // Bytes read or written so far: a pipe's only position, since it cannot seek.
  int64_t passed_ = 0;
};

class TBufferStream : public TStream {
 public:
  static constexpr size_t kBufferSize = 8192;

  explicit TBufferStream(TStream& underlying);
  // Pending bytes should have been written by Flush() or Close() of the owner; if they were
  // not (an exception is unwinding), a last attempt is made and its failure ignored.
  ~TBufferStream() override;

  size_t Read(void* buffer, size_t n) override;
  size_t Write(const void* buffer, size_t n) override;
  int64_t Seek(int64_t offset, int origin) override;
  int64_t Size() override;

  // Reads one byte; false at the end.
  bool ReadByte(uint8_t& b) {
    if (state_ == kReading && pos_ < end_) {
      b = buf_[pos_++];
      return true;
    }
    return Read(&b, 1) == 1;
  }
  // Writes the pending bytes; throws EStreamError when the underlying stream refuses any.
  void Flush();
  // Steps back one byte and stores b there; "Putback overflow" when there is no room.
  void PutBack(uint8_t b);

 protected:
  // Refills the buffer from the underlying stream; true when at least one byte came.
  bool Fill();

 private:
  enum State { kUnknown, kReading, kWriting };
  TStream& under_;
  // The underlying stream's position, tracked here so that asking costs no system call.
  int64_t underPos_;
  std::vector<uint8_t> buf_;
  size_t pos_ = 0, end_ = 0;
  bool noPos_ = true;  // right after a seek: nothing in the buffer is valid
  State state_ = kUnknown;
};

// A buffered stream that owns its file.
class TLFNFileStream : public TBufferStream {
 public:
  TLFNFileStream(const std::string& path, TOpenMode mode);
  // Takes over an open descriptor (a pipe, say); `name` names it in messages. Positions
  // count from where the descriptor stood; a pipe answers only where it is.
  TLFNFileStream(int fd, const std::string& name);
  ~TLFNFileStream() override;
  // Writes pending bytes and closes the file; throws on any failure. Later calls do nothing.
  void Close();
  // Writes pending bytes and forces them to the disk.
  void Sync();
  int Handle() const { return file_->Handle(); }
  const std::string& Path() const { return file_->Path(); }
  // The file's status (modification time, size, identity).
  struct stat Stat() const;

 private:
  TLFNFileStream(std::unique_ptr<TFileStream> file);
  std::unique_ptr<TFileStream> file_;
  bool closed_ = false;
};

}  // namespace quelt
