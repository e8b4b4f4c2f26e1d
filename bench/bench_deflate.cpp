// Our Deflate encoder beside zlib's deflate (raw, memLevel 8) and libdeflate at levels 1, 6
// and 9, on text, binaries and already-compressed data gathered from this machine. Prints the
// bytes out and MB/s of each, and our size and speed relative to zlib's.
//
//   bench_deflate [--reps N] [--mb-scale F]

#include <libdeflate.h>
#include <zlib.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "engine/DeflateEnc.h"

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

namespace {

Bytes readWhole(const fs::path& p, size_t limit) {
  std::ifstream f(p, std::ios::binary);
  Bytes b;
  if (!f) return b;
  f.seekg(0, std::ios::end);
  auto size = std::streamoff(f.tellg());
  if (size <= 0) return b;
  b.resize(std::min<size_t>(size_t(size), limit));
  f.seekg(0);
  f.read(reinterpret_cast<char*>(b.data()), std::streamsize(b.size()));
  b.resize(size_t(f.gcount()));
  return b;
}

// Regular files below `roots` that `accept` likes, sorted by path, concatenated up to
// `target` bytes; so every run on the same machine measures the same bytes.
Bytes gather(const std::vector<std::string>& roots,
             const std::function<bool(const fs::path&)>& accept, size_t target) {
  std::vector<fs::path> paths;
  for (const auto& root : roots) {
    std::error_code ec;
    if (!fs::is_directory(root, ec)) continue;
    for (fs::recursive_directory_iterator
             it(root, fs::directory_options::skip_permission_denied, ec),
         end;
         it != end; it.increment(ec)) {
      if (ec) break;
      if (it->is_symlink(ec) || !it->is_regular_file(ec)) continue;
      if (accept(it->path())) paths.push_back(it->path());
    }
  }
  std::sort(paths.begin(), paths.end());
  Bytes out;
  for (const auto& p : paths) {
    if (out.size() >= target) break;
    Bytes b = readWhole(p, target - out.size());
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

bool hasExtension(const fs::path& p, std::initializer_list<const char*> exts) {
  std::string e = p.extension().string();
  for (const char* x : exts)
    if (e == x) return true;
  return false;
}

bool isElf(const fs::path& p) {
  Bytes head = readWhole(p, 4);
  return head.size() == 4 && std::memcmp(head.data(),
                                         "\x7f"
                                         "ELF",
                                         4) == 0;
}

// Fallbacks when the machine has too little of a kind: word salad, and a random stream.
void topUpText(Bytes& b, size_t target) {
  static const char* words[] = {"the ",    "archive ", "entry ",  "of ",  "compressed ", "data\n",
                                "window ", "match ",   "length ", "and ", "block ",      "code "};
  uint32_t x = 12345;
  while (b.size() < target) {
    x = x * 1103515245 + 12345;
    const char* w = words[(x >> 16) % 12];
    b.insert(b.end(), w, w + std::strlen(w));
  }
}
void topUpRandom(Bytes& b, size_t target) {
  uint64_t x = 88172645463325252ull;
  while (b.size() < target) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    b.push_back(uint8_t(x));
  }
}

class TBenchIO : public quelt::TEncodeIO {
 public:
  TBenchIO(const Bytes& in, Bytes& out) : in_(in), out_(out) {}
  size_t Read(uint8_t* buf, size_t count) override {
    size_t n = std::min(count, in_.size() - pos_);
    std::memcpy(buf, in_.data() + pos_, n);
    pos_ += n;
    return n;
  }
  void Write(const uint8_t* data, size_t n) override {
    std::memcpy(out_.data() + fill, data, n);
    fill += n;
  }
  size_t fill = 0;

 private:
  const Bytes& in_;
  Bytes& out_;
  size_t pos_ = 0;
};

struct Run {
  size_t bytes = 0;
  double seconds = 1e30;
};

// CPU time of this thread: the machine is shared, and time spent descheduled is not ours.
double threadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

// Times one more run of `once` into r, keeping the best time.
template <typename F>
void timeOnce(Run& r, F&& once) {
  double t0 = threadSeconds();
  r.bytes = once();
  r.seconds = std::min(r.seconds, threadSeconds() - t0);
}

bool inflatesTo(const uint8_t* data, size_t n, const Bytes& expect) {
  Bytes out(expect.size() + 1);
  z_stream z{};
  if (inflateInit2(&z, -15) != Z_OK) return false;
  z.next_in = const_cast<uint8_t*>(data);
  z.avail_in = uInt(n);
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int rc = inflate(&z, Z_FINISH);
  bool ok = rc == Z_STREAM_END && z.total_out == expect.size() &&
            std::memcmp(out.data(), expect.data(), expect.size()) == 0;
  inflateEnd(&z);
  return ok;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 5;
  double scale = 1.0;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--mb-scale") == 0) scale = std::atof(argv[i + 1]);
  }
  const size_t MB = 1 << 20;
  struct Input {
    const char* name;
    Bytes data;
  };
  std::vector<Input> inputs;
  {
    size_t target = size_t(10 * MB * scale);
    Bytes t = gather(
        {"/usr/share/common-licenses", "/usr/include", "/usr/lib/python3"},
        [](const fs::path& p) {
          return hasExtension(p, {"", ".h", ".py", ".txt"});
        },
        target);
    topUpText(t, target);
    inputs.push_back({"text", std::move(t)});
  }
  {
    size_t target = size_t(8 * MB * scale);
    Bytes b = gather({"/usr/bin", "/usr/lib/x86_64-linux-gnu"}, isElf, target);
    topUpRandom(b, target);
    inputs.push_back({"binary", std::move(b)});
  }
  {
    size_t target = size_t(4 * MB * scale);
    Bytes c = gather(
        {"/usr/share"},
        [](const fs::path& p) {
          return hasExtension(p, {".gz", ".png", ".jpg", ".xz"});
        },
        target);
    topUpRandom(c, target);
    inputs.push_back({"compressed", std::move(c)});
  }

  size_t total = 0;
  for (auto& in : inputs) total += in.data.size();
  std::printf("inputs: %.1f MB in all; best thread CPU time of %d runs each\n\n",
              double(total) / MB, reps);
  std::printf("%-5s %-10s %10s | %10s %7s | %10s %7s | %10s %7s | %9s %9s | %s\n", "level", "input",
              "bytes in", "ours", "MB/s", "zlib", "MB/s", "libdeflate", "MB/s", "size o/z",
              "speed o/z", "goal");

  quelt::TDeflateEncoder encoder;
  libdeflate_compressor* ldc[10] = {};
  bool allMet = true;
  for (int level : {1, 6, 9}) {
    ldc[level] = libdeflate_alloc_compressor(level);
    for (auto& in : inputs) {
      const Bytes& src = in.data;
      Bytes out(src.size() + src.size() / 8 + 1024);
      Bytes zout(out.size());

      // The three take turns, so that load from elsewhere on the machine falls on all alike.
      size_t oursFill = 0;
      Run ours, zl, ld;
      for (int rep = 0; rep < reps; ++rep) {
        timeOnce(ours, [&] {
          TBenchIO io(src, out);
          auto r = encoder.Deflate(io, level);
          oursFill = io.fill;
          return size_t(r.CompressedSize);
        });
        timeOnce(zl, [&] {
          z_stream z{};
          deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
          z.next_in = const_cast<uint8_t*>(src.data());
          z.avail_in = uInt(src.size());
          z.next_out = zout.data();
          z.avail_out = uInt(zout.size());
          deflate(&z, Z_FINISH);
          size_t n = z.total_out;
          deflateEnd(&z);
          return n;
        });
        timeOnce(ld, [&] {
          return libdeflate_deflate_compress(ldc[level], src.data(), src.size(), zout.data(),
                                             zout.size());
        });
      }
      bool valid = inflatesTo(out.data(), oursFill, src);

      auto mbs = [&](const Run& r) { return double(src.size()) / MB / r.seconds; };
      double sizeRatio = double(ours.bytes) / double(zl.bytes);
      double speedRatio = zl.seconds / ours.seconds;
      bool met = valid && sizeRatio <= 1.005 && speedRatio >= 1.0;
      allMet = allMet && met;
      std::printf("%-5d %-10s %10zu | %10zu %7.1f | %10zu %7.1f | %10zu %7.1f | %9.4f %9.2f | %s\n",
                  level, in.name, src.size(), ours.bytes, mbs(ours), zl.bytes, mbs(zl), ld.bytes,
                  mbs(ld), sizeRatio, speedRatio,
                  !valid ? "INVALID OUTPUT"
                  : met  ? "met"
                         : "not met");
    }
    libdeflate_free_compressor(ldc[level]);
  }
  std::printf("\ngoal (size <= zlib + 0.5%%, speed >= zlib's): %s\n",
              allMet ? "met everywhere" : "NOT met everywhere");
  return 0;
}
