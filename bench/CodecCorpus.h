// What the codec benchmarks share: four kinds of data gathered from files every Debian
// machine has (C headers, prose, binaries, already-compressed files), topped up with generated
// bytes when a machine has too little, and timing by thread CPU time with the codecs taking
// turns, so that load from the other work on a shared machine falls on all of them alike.
#pragma once

#include <algorithm>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <vector>

namespace bench {

namespace fs = std::filesystem;
using Bytes = std::vector<uint8_t>;

inline Bytes readWhole(const fs::path& p, size_t limit = SIZE_MAX) {
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

inline void writeWhole(const fs::path& p, const Bytes& b) {
  std::ofstream f(p, std::ios::binary);
  f.write(reinterpret_cast<const char*>(b.data()), std::streamsize(b.size()));
}

// Regular files below `roots` that `accept` likes, sorted by path, concatenated up to `target`
// bytes, each distinct file once: every run on the same machine measures the same bytes.
inline Bytes gather(const std::vector<std::string>& roots,
                    const std::function<bool(const fs::path&, const Bytes&)>& accept,
                    size_t target) {
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
      paths.push_back(it->path());
    }
  }
  std::sort(paths.begin(), paths.end());
  std::set<std::string> seen;
  Bytes out;
  for (const auto& p : paths) {
    if (out.size() >= target) break;
    Bytes b = readWhole(p, 1 << 22);
    if (b.empty() || !accept(p, b) || !seen.insert(std::string(b.begin(), b.end())).second)
      continue;
    b.resize(std::min(b.size(), target - out.size()));
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

inline bool hasExtension(const fs::path& p, std::initializer_list<const char*> exts) {
  std::string e = p.extension().string();
  for (const char* x : exts)
    if (e == x) return true;
  return false;
}

inline bool looksLikeText(const Bytes& b) {
  size_t n = std::min<size_t>(b.size(), 4096);
  return n > 0 && std::find(b.begin(), b.begin() + n, 0) == b.begin() + n;
}

// Fallbacks when the machine has too little of a kind: word salad, and a random stream.
inline void topUp(Bytes& b, size_t target, bool text) {
  static const char* words[] = {"the ",    "archive ", "entry ",  "of ",  "compressed ", "data\n",
                                "window ", "match ",   "length ", "and ", "block ",      "code "};
  uint64_t x = 88172645463325252ull;
  while (b.size() < target) {
    x ^= x << 13, x ^= x >> 7, x ^= x << 17;
    if (text) {
      const char* w = words[(x >> 16) % 12];
      b.insert(b.end(), w, w + std::strlen(w));
    } else {
      b.push_back(uint8_t(x));
    }
  }
  b.resize(target);
}

struct Corpus {
  std::string name;
  Bytes data;
};

// The four kinds, `mb` MiB each (the compressed one half that).
inline std::vector<Corpus> gatherCorpora(double mb) {
  const size_t size = size_t(mb * (1 << 20));
  std::vector<Corpus> c;
  c.push_back({"C-headers", gather(
                                {"/usr/include"},
                                [](const fs::path& p, const Bytes&) {
                                  return hasExtension(p, {".h", ".hpp", ".hh", ".tcc"});
                                },
                                size)});
  c.push_back(
      {"prose",
       gather(
           {"/usr/share/common-licenses", "/usr/share/doc", "/usr/share/perl", "/usr/share/perl5"},
           [](const fs::path& p, const Bytes& b) {
             return hasExtension(p, {"", ".txt", ".pod", ".md"}) && looksLikeText(b);
           },
           size)});
  c.push_back({"binary", gather(
                             {"/usr/bin", "/usr/lib/x86_64-linux-gnu"},
                             [](const fs::path&, const Bytes& b) {
                               return b.size() > 4 && std::memcmp(b.data(),
                                                                  "\x7f"
                                                                  "ELF",
                                                                  4) == 0;
                             },
                             size)});
  c.push_back({"compressed", gather(
                                 {"/usr/share"},
                                 [](const fs::path& p, const Bytes&) {
                                   return hasExtension(p, {".gz", ".png", ".jpg", ".xz"});
                                 },
                                 size / 2)});
  topUp(c[0].data, size, true);
  topUp(c[1].data, size, true);
  topUp(c[2].data, size, false);
  topUp(c[3].data, size / 2, false);
  return c;
}

// CPU time of this thread: time spent waiting for a core is not the codec's.
inline double threadSeconds() {
  timespec ts{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &ts);
  return double(ts.tv_sec) + double(ts.tv_nsec) * 1e-9;
}

inline double timed(const std::function<void()>& f) {
  double t0 = threadSeconds();
  f();
  return threadSeconds() - t0;
}

// min / median / max of a list.
struct Spread {
  double min, median, max;
};
inline Spread spreadOf(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return {v.front(), v[v.size() / 2], v.back()};
}

inline double geoMean(const std::vector<double>& v) {
  double s = 0;
  for (double x : v) s += std::log(x);
  return v.empty() ? 0 : std::exp(s / double(v.size()));
}

}  // namespace bench
