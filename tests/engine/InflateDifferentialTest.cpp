// Our Inflate against zlib's on the same streams: valid ones of every level and strategy,
// then the same streams damaged at random (flipped bits, overwritten bytes, cut short) and
// plain random bytes. Both must accept exactly the same streams, with the same output.
#include <gtest/gtest.h>
#include <zlib.h>

#include <random>
#include <vector>

#include "engine/Inflate.h"
#include "support/DeflateStreams.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using Bytes = std::vector<uint8_t>;

using test::ZlibDeflate;

constexpr size_t kLimit = 4 << 20;

// zlib's verdict: 1 accepted (out holds the data), 0 refused, -1 undecided (output too long).
int zlibInflate(const Bytes& in, Bytes& out) {
  out.assign(kLimit, 0);
  z_stream z{};
  inflateInit2(&z, -15);
  z.next_in = const_cast<Bytef*>(in.data());
  z.avail_in = uInt(in.size());
  z.next_out = out.data();
  z.avail_out = uInt(out.size());
  int r = inflate(&z, Z_FINISH);
  out.resize(z.total_out);
  inflateEnd(&z);
  if (r == Z_STREAM_END) return 1;
  return r == Z_BUF_ERROR && z.avail_out == 0 ? -1 : 0;
}

void expectSameVerdict(const Bytes& stream, const std::string& what) {
  Bytes theirs;
  int verdict = zlibInflate(stream, theirs);
  if (verdict < 0) return;
  for (size_t block : {size_t(16000), size_t(7)}) {
    TMemoryDecodeIO io(stream.data(), stream.size(), kLimit, block);
    int r = Inflate(io);
    ASSERT_EQ(r == kInflateOk, verdict == 1) << what << ", blocks of " << block;
    if (verdict == 1) {
      ASSERT_TRUE(io.out == theirs) << what << ", blocks of " << block;
    }
  }
}

TEST(InflateDifferential, AgreesWithZlibOnValidAndDamagedStreams) {
  const Bytes inputs[] = {test::textBytes(150000, 11), test::randomBytes(20000, 12),
                          Bytes(70000, 'a')};
  std::mt19937 rng(2024);
  int n = 0;
  for (const Bytes& data : inputs) {
    for (int level : {1, 6, 9}) {
      for (int strategy : {Z_DEFAULT_STRATEGY, Z_FIXED, Z_HUFFMAN_ONLY}) {
        const Bytes good = ZlibDeflate(data, level, strategy);
        expectSameVerdict(good, "valid stream");
        for (int k = 0; k < 12; ++k) {
          Bytes bad = good;
          const size_t at = rng() % bad.size();
          switch (k % 3) {
            case 0:
              bad[at] ^= uint8_t(1u << (rng() % 8));
              break;
            case 1:
              bad[at] = uint8_t(rng());
              break;
            default:
              bad.resize(at);
              break;
          }
          expectSameVerdict(bad, "damaged stream " + std::to_string(++n));
        }
      }
    }
  }
  for (uint32_t seed = 1; seed <= 400; ++seed)
    expectSameVerdict(test::randomBytes(1 + seed % 300, seed),
                      "random bytes " + std::to_string(seed));
}

}  // namespace
}  // namespace quelt
