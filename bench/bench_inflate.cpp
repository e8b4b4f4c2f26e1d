// Inflate against libdeflate and zlib on the same raw deflate streams, made by several
// producers (zlib -1/-6/-9, libdeflate -12, 7-Zip -mx5/-mx9, our encoder at 6) from four kinds
// of data; each decoder computes the CRC-32 of its output, as extraction does. Ours gets its
// input in 16000-byte blocks and hands its output over in pieces, as extraction runs it.
// The decoders take turns in every round; each figure is the thread CPU time of one run, or
// the mean of several in a row of turns when one run is short.
// 7-Zip's streams are made on the first run and kept in bench-cache/ beside the program.
//
//   bench_inflate [--reps N] [--mb F] [--only CORPUS] [--sample-ms T]
// --sample-ms: a round repeats each decode until libdeflate's take T ms (default 20; 0 for
// one decode each).
#include <libdeflate.h>
#include <zlib.h>

#include <cstdlib>
#include <map>

#include "CodecCorpus.h"
#include "engine/Crc32.h"
#include "engine/DeflateEnc.h"
#include "engine/Inflate.h"

namespace {

using bench::Bytes;
namespace fs = std::filesystem;

constexpr size_t kBlock = 16000;  // as the extraction driver refills

class TBenchIO : public quelt::TDecodeIO {
 public:
  TBenchIO(const Bytes& in, Bytes& out) : in_(in), out_(out) {}
  bool Refill() override {
    if (at_ >= in_.size()) return false;
    size_t n = std::min(kBlock, in_.size() - at_);
    inPos = in_.data() + at_;
    inEnd = inPos + n;
    at_ += n;
    return true;
  }
  void Output(const uint8_t* p, size_t n) override {
    if (n > out_.size() - fill_) n = out_.size() - fill_;
    crc = quelt::UpdateCRC(crc, p, n);
    std::memcpy(out_.data() + fill_, p, n);
    fill_ += n;
  }
  void FlushOutput() override {}
  size_t fill() const { return fill_; }
  uint32_t crc = quelt::kCrcInit;

 private:
  const Bytes& in_;
  Bytes& out_;
  size_t at_ = 0, fill_ = 0;
};

struct TDecoded {
  size_t size;
  uint32_t crc;
};

TDecoded ours(int (*inflate)(quelt::TDecodeIO&), const Bytes& in, Bytes& out) {
  TBenchIO io(in, out);
  if (inflate(io) != quelt::kInflateOk) return {0, 0};
  return {io.fill(), ~io.crc};
}

TDecoded zlibInflate(const Bytes& in, Bytes& out) {
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  size_t n = z.total_out;
  inflateEnd(&z);
  if (r != Z_STREAM_END) return {0, 0};
  return {n, uint32_t(crc32(0, out.data(), uInt(n)))};
}

TDecoded libdeflateInflate(libdeflate_decompressor* d, const Bytes& in, Bytes& out) {
  size_t n = 0;
  if (libdeflate_deflate_decompress(d, in.data(), in.size(), out.data(), out.size(), &n) !=
      LIBDEFLATE_SUCCESS)
    return {0, 0};
  return {n, libdeflate_crc32(0, out.data(), n)};
}

Bytes zlibDeflate(const Bytes& in, int level) {
  z_stream z{};
  deflateInit2(&z, level, Z_DEFLATED, -15, 8, Z_DEFAULT_STRATEGY);
  Bytes out(deflateBound(&z, uLong(in.size())));
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  deflate(&z, Z_FINISH);
  out.resize(z.total_out);
  deflateEnd(&z);
  return out;
}

Bytes libdeflateDeflate(const Bytes& in, int level) {
  libdeflate_compressor* c = libdeflate_alloc_compressor(level);
  Bytes out(libdeflate_deflate_compress_bound(c, in.size()));
  out.resize(libdeflate_deflate_compress(c, in.data(), in.size(), out.data(), out.size()));
  libdeflate_free_compressor(c);
  return out;
}

Bytes oursDeflate(const Bytes& in, int level) {
  quelt::TDeflateEncoder enc;
  quelt::TMemoryEncodeIO io(in.data(), in.size());
  enc.Deflate(io, level);
  return io.out;
}

// 7-Zip's raw deflate stream of `in`, taken out of the gzip file it writes (or, for Deflate64,
// out of the zip file's one entry); empty when 7z is missing or fails.
Bytes sevenZip(const fs::path& cache, const std::string& key, const Bytes& in, bool deflate64,
               const char* level) {
  fs::create_directories(cache);
  const fs::path raw = cache / (key + ".raw");
  if (fs::exists(raw)) return bench::readWhole(raw);
  const fs::path src = cache / "input", arc = cache / (deflate64 ? "out.zip" : "out.gz");
  bench::writeWhole(src, in);
  fs::remove(arc);
  std::string cmd = std::string("cd '") + cache.string() + "' && 7z a -bd -bso0 -bsp0 " +
                    (deflate64 ? "-tzip -mm=Deflate64 " : "-tgzip ") + level + " '" +
                    arc.filename().string() + "' input >/dev/null 2>&1";
  if (std::system(cmd.c_str()) != 0) return {};
  Bytes a = bench::readWhole(arc);
  fs::remove(src);
  fs::remove(arc);
  Bytes out;
  if (!deflate64 && a.size() > 18 && a[0] == 0x1f && a[1] == 0x8b) {
    size_t p = 10;
    if (a[3] & 4) p += 2 + (a[p] | a[p + 1] << 8);
    if (a[3] & 8)
      while (p < a.size() && a[p++]) {
      }
    if (p + 8 <= a.size()) out.assign(a.begin() + long(p), a.end() - 8);
  } else if (deflate64 && a.size() > 30 && a[8] == 9) {
    size_t n = a[26] | a[27] << 8, e = a[28] | a[29] << 8;
    size_t csize = size_t(a[18] | a[19] << 8 | a[20] << 16) | size_t(a[21]) << 24;
    if (30 + n + e + csize <= a.size())
      out.assign(a.begin() + long(30 + n + e), a.begin() + long(30 + n + e + csize));
  }
  if (!out.empty()) bench::writeWhole(raw, out);
  return out;
}

}  // namespace

int main(int argc, char** argv) {
  int reps = 9;
  double mb = 6;
  double minSample = 0.02;  // seconds of libdeflate's decoding per figure, at least
  std::string only;
  for (int i = 1; i + 1 < argc; i += 2) {
    if (std::strcmp(argv[i], "--reps") == 0) reps = std::max(1, std::atoi(argv[i + 1]));
    if (std::strcmp(argv[i], "--mb") == 0) mb = std::atof(argv[i + 1]);
    if (std::strcmp(argv[i], "--only") == 0) only = argv[i + 1];
    if (std::strcmp(argv[i], "--sample-ms") == 0) minSample = std::atof(argv[i + 1]) / 1e3;
  }
  const fs::path cache = fs::absolute(argv[0]).parent_path() / "bench-cache";
  auto corpora = bench::gatherCorpora(mb);
  libdeflate_decompressor* ld = libdeflate_alloc_decompressor();

  std::printf(
      "Inflate with CRC-32, thread CPU time, %d rounds, decoders taking turns; a round repeats\n"
      "decodes until libdeflate's take %.0f ms, and each figure is the mean of its decodes\n",
      reps, minSample * 1e3);
  std::printf(
      "ratio = our time / theirs (min / median / max over the rounds); MB/s of output, median\n");
  std::printf("%-11s %-14s %7s | %8s %8s %8s | %-20s | %-20s\n", "corpus", "stream", "MB", "ours",
              "libdefl", "zlib", "ours/libdeflate", "ours/zlib");
  std::vector<double> allLd, allZlib;
  double worstLd = 0;
  for (const auto& c : corpora) {
    if (!only.empty() && c.name != only) continue;
    const std::string tag = c.name + "-" + std::to_string(c.data.size());
    std::vector<std::pair<std::string, Bytes>> streams = {
        {"zlib -1", zlibDeflate(c.data, 1)},
        {"zlib -6", zlibDeflate(c.data, 6)},
        {"zlib -9", zlibDeflate(c.data, 9)},
        {"libdeflate -12", libdeflateDeflate(c.data, 12)},
        {"7z -mx5", sevenZip(cache, tag + "-mx5", c.data, false, "-mx5")},
        {"7z -mx9", sevenZip(cache, tag + "-mx9", c.data, false, "-mx9")},
        {"ours -6", oursDeflate(c.data, 6)},
    };
    const uint32_t want = ~quelt::UpdateCRC(quelt::kCrcInit, c.data.data(), c.data.size());
    Bytes out(c.data.size());
    for (const auto& [producer, s] : streams) {
      if (s.empty()) {
        std::printf("%-11s %-14s (not made)\n", c.name.c_str(), producer.c_str());
        continue;
      }
      auto check = [&](const char* who, TDecoded d) {
        if (d.size != c.data.size() || d.crc != want || out != c.data) {
          std::fprintf(stderr, "%s, %s: %s decoded it wrongly\n", c.name.c_str(), producer.c_str(),
                       who);
          std::exit(1);
        }
        std::fill(out.begin(), out.end(), 0);
      };
      check("ours", ours(quelt::Inflate, s, out));
      check("libdeflate", libdeflateInflate(ld, s, out));
      check("zlib", zlibInflate(s, out));

      // Short decodes are repeated within a round, the decoders still taking turns, so that
      // each figure spans at least minSample seconds and a moment's load elsewhere on the
      // machine weighs little in it.
      const double once = bench::timed([&] { libdeflateInflate(ld, s, out); });
      const int inner = std::clamp(int(minSample / std::max(once, 1e-6)) + 1, 1, 100);
      std::vector<double> tOurs, tLd, tZlib, rLd, rZlib;
      for (int r = 0; r < reps; ++r) {
        double a = 0, b = 0, z = 0;
        // A different one goes first each time.
        for (int i = 0; i < inner; ++i) {
          for (int k = 0; k < 3; ++k) {
            switch ((r + i + k) % 3) {
              case 0:
                a += bench::timed([&] { ours(quelt::Inflate, s, out); });
                break;
              case 1:
                b += bench::timed([&] { libdeflateInflate(ld, s, out); });
                break;
              default:
                z += bench::timed([&] { zlibInflate(s, out); });
                break;
            }
          }
        }
        a /= inner;
        b /= inner;
        z /= inner;
        tOurs.push_back(a);
        tLd.push_back(b);
        tZlib.push_back(z);
        rLd.push_back(a / b);
        rZlib.push_back(a / z);
      }
      const double m = double(c.data.size()) / 1e6;
      auto sl = bench::spreadOf(rLd), sz = bench::spreadOf(rZlib);
      std::printf(
          "%-11s %-14s %7.1f | %8.0f %8.0f %8.0f | %5.2f / %5.2f / %5.2f | %5.2f / %5.2f / %5.2f\n",
          c.name.c_str(), producer.c_str(), m, m / bench::spreadOf(tOurs).median,
          m / bench::spreadOf(tLd).median, m / bench::spreadOf(tZlib).median, sl.min, sl.median,
          sl.max, sz.min, sz.median, sz.max);
      allLd.push_back(sl.median);
      allZlib.push_back(sz.median);
      worstLd = std::max(worstLd, sl.median);
    }
    // Deflate64 has no reference decoder here: our speed on 7-Zip's stream, for the record.
    Bytes d64 = sevenZip(cache, tag + "-d64", c.data, true, "-mx9");
    if (!d64.empty()) {
      if (ours(quelt::Inflate64, d64, out).crc != want) {
        std::fprintf(stderr, "%s: Deflate64 decoded wrongly\n", c.name.c_str());
        return 1;
      }
      std::vector<double> t;
      const double once = bench::timed([&] { ours(quelt::Inflate64, d64, out); });
      const int inner = std::clamp(int(minSample / std::max(once, 1e-6)) + 1, 1, 100);
      for (int r = 0; r < reps; ++r) {
        double sum = 0;
        for (int i = 0; i < inner; ++i)
          sum += bench::timed([&] { ours(quelt::Inflate64, d64, out); });
        t.push_back(sum / inner);
      }
      std::printf("%-11s %-14s %7.1f | %8.0f   (Deflate64, ours alone)\n", c.name.c_str(),
                  "7z d64 -mx9", double(c.data.size()) / 1e6,
                  double(c.data.size()) / 1e6 / bench::spreadOf(t).median);
    }
  }
  libdeflate_free_decompressor(ld);
  std::printf("\ngeometric mean of the median ratios: ours/libdeflate %.3f, ours/zlib %.3f\n",
              bench::geoMean(allLd), bench::geoMean(allZlib));
  std::printf("worst ours/libdeflate %.3f; goal (<= 1.10 everywhere) %s\n", worstLd,
              worstLd <= 1.10 ? "met" : "NOT met");
  return 0;
}
