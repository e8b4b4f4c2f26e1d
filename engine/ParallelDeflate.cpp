#include "engine/ParallelDeflate.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <chrono>
#include <climits>
#include <system_error>

#include "engine/BufferStream.h"
#include "engine/Crc32.h"
#include "engine/ZipFormat.h"

namespace quelt {

namespace {

constexpr size_t kCopyBlock = 65536;

TFileIdentity identityOf(const struct stat& st) {
  return {st.st_dev, st.st_ino, int64_t(st.st_size),
          int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec,
          int64_t(st.st_ctim.tv_sec) * 1000000000 + st.st_ctim.tv_nsec};
}

// Thrown inside a worker to drop the file it is at: the run stops, or the file grows.
struct TGiveUp {};

// Records what the encoder reads and writes, as the writer's own TEncodeIO would see it.
class TRecorder : public TEncodeIO {
 public:
  TRecorder(TStream& source, int64_t limit, const std::atomic<bool>& stop, TEncodedPass& pass)
      : source_(source), limit_(limit), stop_(stop), pass_(pass) {}

  size_t Read(uint8_t* buf, size_t count) override {
    if (stop_) throw TGiveUp();
    const size_t got = source_.Read(buf, count);
    if (got == 0) return 0;
    read_ += int64_t(got);
    // A file growing while it is read would have no bound; the writer reads it itself.
    if (read_ > limit_ || got > size_t(INT32_MAX)) throw TGiveUp();
    crc_ = UpdateCRC(crc_, buf, got);
    pass_.steps.push_back(int32_t(got));
    return got;
  }
  void Write(const uint8_t* data, size_t n) override {
    if (n > size_t(INT32_MAX)) throw TGiveUp();
    pass_.steps.push_back(-int32_t(n));
    pass_.data.insert(pass_.data.end(), data, data + n);
  }

  int64_t read() const { return read_; }
  uint32_t crc() const { return ~crc_; }

 private:
  TStream& source_;
  const int64_t limit_;
  const std::atomic<bool>& stop_;
  TEncodedPass& pass_;
  int64_t read_ = 0;
  uint32_t crc_ = kCrcInit;
};

int64_t bytesHeld(const TPrecompressed& made) {
  int64_t n = int64_t(sizeof made);
  for (const auto* pass : {made.deflated.get(), made.stored.get()})
    if (pass) n += int64_t(pass->data.capacity() + pass->steps.capacity() * sizeof(int32_t));
  return n;
}

}  // namespace

TFileIdentity IdentityOf(int fd) {
  struct stat st;
  if (::fstat(fd, &st) != 0) return {0, 0, -1, 0, 0};
  return identityOf(st);
}

TDeflateResult CopyStored(TEncodeIO& io) {
  TDeflateResult result;
  result.Method = kMethodStored;
  result.Flags = 0;
  result.InternalAttributes = 0;
  std::vector<uint8_t> buf(kCopyBlock);
  size_t got;
  while ((got = io.Read(buf.data(), buf.size())) > 0) {
    io.Write(buf.data(), got);
    result.CompressedSize += got;
  }
  return result;
}

TParallelDeflate::TParallelDeflate(std::vector<std::string> paths, int level, int workers,
                                   bool followLinks, TLimits limits)
    : paths_(std::move(paths)),
      level_(level),
      followLinks_(followLinks),
      limits_(limits),
      slots_(paths_.size()) {
  try {
    for (int i = 0; i < workers; ++i) threads_.emplace_back(&TParallelDeflate::work, this);
  } catch (const std::system_error&) {
    // Fewer threads than asked: the writer compresses what they do not reach.
  }
}

TParallelDeflate::~TParallelDeflate() {
  {
    std::lock_guard lock(mutex_);
    stop_ = true;
  }
  changed_.notify_all();
  for (std::thread& t : threads_) t.join();
}

void TParallelDeflate::release(TSlot& slot) {
  used_ -= slot.cost;
  slot.cost = 0;
  slot.made.reset();
  slot.state = TState::Gone;
}

void TParallelDeflate::work() {
  std::unique_ptr<TDeflateEncoder> encoder;
  try {
    encoder = std::make_unique<TDeflateEncoder>();
  } catch (...) {
    return;  // no memory for one more encoder: the others and the writer go on
  }
  for (;;) {
    size_t index;
    {
      std::unique_lock lock(mutex_);
      changed_.wait(
          lock, [&] { return stop_ || next_ >= slots_.size() || next_ < passed_ + limits_.ahead; });
      if (stop_ || next_ >= slots_.size()) return;
      next_ = std::max(next_, passed_);
      if (next_ >= slots_.size()) return;
      index = next_++;
      if (slots_[index].state != TState::Free) continue;
      slots_[index].state = TState::Opening;
    }
    std::unique_ptr<TPrecompressed> made;
    try {
      made = make(index, *encoder);
    } catch (...) {
      // Unreadable, changing, out of memory or stopping: the writer meets it as it would.
    }
    {
      std::lock_guard lock(mutex_);
      TSlot& slot = slots_[index];
      if (slot.state == TState::Running) {
        if (made && index >= passed_ && !stop_) {
          const int64_t held = bytesHeld(*made);
          used_ += held - slot.cost;
          slot.cost = held;
          slot.made = std::move(made);
          slot.state = TState::Done;
        } else {
          release(slot);
        }
      } else if (slot.state == TState::Opening) {
        slot.state = TState::Gone;
      }
    }
    changed_.notify_all();
  }
}

bool TParallelDeflate::reserve(size_t index, int64_t cost) {
  std::unique_lock lock(mutex_);
  TSlot& slot = slots_[index];
  // With nothing held a file goes ahead whatever its size, so the workers never all wait.
  changed_.wait(lock, [&] {
    return stop_ || slot.state != TState::Opening || index < passed_ || used_ == 0 ||
           used_ + cost <= limits_.budget;
  });
  if (stop_ || slot.state != TState::Opening || index < passed_) return false;
  slot.state = TState::Running;
  slot.cost = cost;
  used_ += cost;
  return true;
}

std::unique_ptr<TPrecompressed> TParallelDeflate::make(size_t index, TDeflateEncoder& encoder) {
  const std::string& path = paths_[index];
  struct stat st;
  // Only regular files; the check before opening keeps a worker off FIFOs and devices, and
  // O_NONBLOCK keeps one swapped in afterwards from blocking it.
  if ((followLinks_ ? ::stat(path.c_str(), &st) : ::lstat(path.c_str(), &st)) != 0 ||
      !S_ISREG(st.st_mode) || st.st_size > limits_.maxFile)
    return nullptr;
  const int fd =
      ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | (followLinks_ ? 0 : O_NOFOLLOW));
  if (fd < 0) return nullptr;
  TFileStream in(fd, path);
  if (::fstat(fd, &st) != 0 || !S_ISREG(st.st_mode) || st.st_size > limits_.maxFile) return nullptr;
  const int64_t size = st.st_size;
  if (!reserve(index, size + size / 64 + 4096)) return nullptr;

  auto made = std::make_unique<TPrecompressed>();
  made->identity = identityOf(st);
  made->level = level_;
  int64_t read = 0;
  uint32_t crc = 0;
  auto encode = [&](bool store) {
    auto pass = std::make_unique<TEncodedPass>();
    // Deflate's stored blocks add a few bytes per 32 KiB at worst.
    pass->data.reserve(size_t(size + size / 1024 + 1024));
    in.Seek(0, soFromBeginning);
    TRecorder io(in, size, stop_, *pass);
    pass->result = store ? CopyStored(io) : encoder.Deflate(io, level_);
    pass->data.shrink_to_fit();
    read = io.read();
    crc = io.crc();
    return pass;
  };
  if (level_ <= 0) {
    made->stored = encode(true);
  } else {
    made->deflated = encode(false);
    const TDeflateResult& result = made->deflated->result;
    // The writer's own rule: what Deflate enlarged is written again stored.
    if (result.Method != kMethodStored && result.CompressedSize > uint64_t(read)) {
      made->deflated->data = {};
      made->deflated->dataKept = false;
      made->stored = encode(true);
    }
  }
  // Changed while it was read: whatever was made may mix old and new bytes.
  if (read != size || IdentityOf(fd) != made->identity) return nullptr;
  made->crc = crc;
  made->bytesRead = uint64_t(read);
  return made;
}

void TParallelDeflate::Pass(size_t index) {
  std::vector<std::unique_ptr<TPrecompressed>> dropped;
  {
    std::lock_guard lock(mutex_);
    for (size_t k = passed_; k < index && k < slots_.size(); ++k) {
      TSlot& slot = slots_[k];
      if (slot.state == TState::Done) {
        dropped.push_back(std::move(slot.made));
        release(slot);
      } else if (slot.state == TState::Free || slot.state == TState::Opening) {
        slot.state = TState::Gone;
      }
    }
    passed_ = std::max(passed_, index);
  }
  changed_.notify_all();
}

std::unique_ptr<TPrecompressed> TParallelDeflate::Take(size_t index,
                                                       const std::function<void()>& whileWaiting) {
  using std::chrono::steady_clock;
  constexpr auto kAnswerEvery = std::chrono::milliseconds(50);
  std::unique_lock lock(mutex_);
  if (index >= slots_.size()) return nullptr;
  auto asked = steady_clock::now();
  for (;;) {
    TSlot& slot = slots_[index];
    switch (slot.state) {
      case TState::Free:
      case TState::Opening:
        slot.state = TState::Gone;
        lock.unlock();
        changed_.notify_all();
        return nullptr;
      case TState::Gone:
        return nullptr;
      case TState::Done: {
        auto made = std::move(slot.made);
        release(slot);
        lock.unlock();
        changed_.notify_all();
        return made;
      }
      case TState::Running:
        changed_.wait_until(lock, asked + kAnswerEvery);
        if (steady_clock::now() >= asked + kAnswerEvery && whileWaiting) {
          // Cancel is answered while a worker finishes the file.
          lock.unlock();
          whileWaiting();
          lock.lock();
          asked = steady_clock::now();
        }
        break;
    }
  }
}

}  // namespace quelt
