// Compressing the files of a write operation ahead, on worker threads, into memory. The writer
// still writes every entry itself, in order, and fires every event on its own thread: what a
// worker made replays the calls the writer's own compression would have made.
#pragma once

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "engine/DeflateEnc.h"

namespace quelt {

// What a file was when it was read: a result is used only for a file that still is.
struct TFileIdentity {
  dev_t dev = 0;
  ino_t ino = 0;
  int64_t size = 0;
  int64_t mtimeNs = 0, ctimeNs = 0;
  bool operator==(const TFileIdentity&) const = default;
};

// The identity of an open file; a size of -1 when it cannot be told.
TFileIdentity IdentityOf(int fd);

// One pass over the source as the encoder (or the stored copy) made it.
struct TEncodedPass {
  // The encoder's calls in order: n > 0 read n bytes, n < 0 wrote -n bytes.
  std::vector<int32_t> steps;
  // The bytes written; empty for a Deflate pass the stored copy replaced, whose bytes the
  // writer would have overwritten anyway.
  std::vector<uint8_t> data;
  TDeflateResult result;
  bool dataKept = true;
};

struct TPrecompressed {
  TFileIdentity identity;
  int level = 0;     // as given; 0 or less stores
  uint32_t crc = 0;  // of the whole source
  uint64_t bytesRead = 0;
  // At a level above 0 the Deflate pass, and the stored pass when Deflate enlarged the data;
  // at level 0 the stored pass alone.
  std::unique_ptr<TEncodedPass> deflated, stored;
};

// Copies the source through `io` as it is, in blocks of 64 KiB: level 0, or data Deflate
// would enlarge. The writer and the workers share it so both make the same calls.
TDeflateResult CopyStored(TEncodeIO& io);

class TParallelDeflate {
 public:
  struct TLimits {
    int64_t maxFile = 8 << 20;  // larger files are left to the writer
    int64_t budget = 64 << 20;  // bytes buffered ahead at most (one entry may exceed it)
    size_t ahead = 4096;        // entries ahead of the writer at most
  };

  // Starts `workers` threads on `paths` in order. With `followLinks` false a symbolic link is
  // left to the writer (it stores the link itself).
  TParallelDeflate(std::vector<std::string> paths, int level, int workers, bool followLinks,
                   TLimits limits);
  TParallelDeflate(std::vector<std::string> paths, int level, int workers, bool followLinks)
      : TParallelDeflate(std::move(paths), level, workers, followLinks, TLimits{}) {}
  // Stops the workers and waits for them.
  ~TParallelDeflate();
  TParallelDeflate(const TParallelDeflate&) = delete;
  TParallelDeflate& operator=(const TParallelDeflate&) = delete;

  size_t Workers() const { return threads_.size(); }

  // The writer has reached paths[index]: what was made for earlier ones is dropped.
  void Pass(size_t index);
  // What was made for paths[index], waiting while a worker is at it (calling `whileWaiting`
  // now and then, which may throw to cancel); null when the writer must compress the file
  // itself. A file no worker started is no worker's any more.
  std::unique_ptr<TPrecompressed> Take(size_t index, const std::function<void()>& whileWaiting);

 private:
  enum class TState { Free, Opening, Running, Done, Gone };
  struct TSlot {
    TState state = TState::Free;
    int64_t cost = 0;
    std::unique_ptr<TPrecompressed> made;
  };

  void work();
  std::unique_ptr<TPrecompressed> make(size_t index, TDeflateEncoder& encoder);
  // Waits until the slot may use `cost` bytes of the budget; false when it is no longer
  // the worker's to make.
  bool reserve(size_t index, int64_t cost);
  void release(TSlot& slot);

  const std::vector<std::string> paths_;
  const int level_;
  const bool followLinks_;
  const TLimits limits_;
  std::mutex mutex_;
  std::condition_variable changed_;
  std::vector<TSlot> slots_;
  size_t next_ = 0;                 // the next slot a worker looks at
  size_t passed_ = 0;               // slots below this the writer has gone past
  int64_t used_ = 0;                // bytes of the budget held
  std::atomic<bool> stop_ = false;  // read by the workers between reads without the lock
  std::vector<std::thread> threads_;
};

}  // namespace quelt
