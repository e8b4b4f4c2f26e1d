// Our Deflate encoder beside zlib's deflate (raw, memLevel 8) and libdeflate at levels 1, 6
// and 9, on C headers, prose, binaries and already-compressed files gathered from this
// machine. The three take turns in every round; each figure is the thread CPU time of one run,
// and ratios show min / median / max over the rounds. Every stream of ours is checked by
// zlib's inflate.
//
//   bench_deflate [--reps N] [--mb F] [--levels 1,6,9]
#include <libdeflate.h>
#include <zlib.h>

#include <cstdlib>

#include "CodecCorpus.h"
#include "engine/DeflateEnc.h"

namespace {

using bench::Bytes;

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
  double mb = 4;
  std::vector<int> levels = {1, 6, 9};
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--mb") == 0) mb = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--levels") == 0) {
      levels.clear();
      for (const char* p = argv[i + 1]; *p;) {
        char* end;
        long v = std::strtol(p, &end, 10);
        if (end == p) break;
        levels.push_back(int(std::clamp(v, 1L, 9L)));
        p = *end == ',' ? end + 1 : end;
      }
    }
  }
  auto corpora = bench::gatherCorpora(mb);
  std::printf("Deflate, thread CPU time, %d rounds, encoders taking turns\n", reps);
  std::printf("time ratios: ours / theirs, min / median / max; MB/s of input, median\n");
  std::printf("%-5s %-11s %9s | %9s %9s %9s | %6s %6s %6s | %-18s | %-18s | %s\n", "level",
              "corpus", "bytes in", "ours", "zlib", "libdefl", "ours", "zlib", "libdef",
              "time ours/zlib", "time ours/libdefl", "size ours/zlib");

  quelt::TDeflateEncoder encoder;
  bool sizeOk = true, valid = true;
  for (int level : levels) {
    libdeflate_compressor* ldc = libdeflate_alloc_compressor(level);
    for (const auto& c : corpora) {
      const Bytes& src = c.data;
      Bytes out(src.size() + src.size() / 8 + 1024), zout(out.size());
      size_t oursBytes = 0, zlibBytes = 0, ldBytes = 0;
      std::vector<double> tOurs, tZlib, tLd, rZlib, rLd;
      for (int r = 0; r < reps; ++r) {
        double a = 0, z = 0, l = 0;
        for (int k = 0; k < 3; ++k) {
          switch ((r + k) % 3) {
            case 0:
              a = bench::timed([&] {
                TBenchIO io(src, out);
                oursBytes = size_t(encoder.Deflate(io, level).CompressedSize);
              });
              break;
            case 1:
              z = bench::timed([&] {
                z_stream zs{};
                deflateInit2(&zs, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
                zs.next_in = const_cast<uint8_t*>(src.data());
                zs.avail_in = uInt(src.size());
                zs.next_out = zout.data();
                zs.avail_out = uInt(zout.size());
                deflate(&zs, Z_FINISH);
                zlibBytes = zs.total_out;
                deflateEnd(&zs);
              });
              break;
            default:
              l = bench::timed([&] {
                ldBytes = libdeflate_deflate_compress(ldc, src.data(), src.size(), zout.data(),
                                                      zout.size());
              });
              break;
          }
        }
        tOurs.push_back(a);
        tZlib.push_back(z);
        tLd.push_back(l);
        rZlib.push_back(a / z);
        rLd.push_back(a / l);
      }
      // A stored entry's bytes are the source itself; only deflated output is checked.
      const bool ok = oursBytes >= src.size() || inflatesTo(out.data(), oursBytes, src);
      valid = valid && ok;
      const double sizeRatio = double(oursBytes) / double(zlibBytes);
      sizeOk = sizeOk && sizeRatio <= 1.002;
      const double m = double(src.size()) / 1e6;
      auto sz = bench::spreadOf(rZlib), sl = bench::spreadOf(rLd);
      std::printf(
          "%-5d %-11s %9zu | %9zu %9zu %9zu | %6.1f %6.1f %6.1f | %4.2f / %4.2f / %4.2f | %4.2f / "
          "%4.2f / %4.2f | %.4f%s\n",
          level, c.name.c_str(), src.size(), oursBytes, zlibBytes, ldBytes,
          m / bench::spreadOf(tOurs).median, m / bench::spreadOf(tZlib).median,
          m / bench::spreadOf(tLd).median, sz.min, sz.median, sz.max, sl.min, sl.median, sl.max,
          sizeRatio, ok ? "" : "  INVALID OUTPUT");
    }
    libdeflate_free_compressor(ldc);
  }
  std::printf("\nsize never above zlib's by more than 0.2%%: %s; zlib inflates all of ours: %s\n",
              sizeOk ? "met" : "NOT met", valid ? "yes" : "NO");
  return valid ? 0 : 1;
}
