// Compresses any input at a level taken from its first byte, in reads whose size comes from
// the second, and checks that zlib inflates it back, that full reads give the same stream,
// and that the sizes and flags reported agree with what was written.
#include <zlib.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/DeflateEnc.h"

using namespace quelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static auto encoder = std::make_unique<TDeflateEncoder>();
  const int level = 1 + data[0] % 9;
  const size_t readBlock = 1 + size_t(data[1]) * 37;
  data += 2;
  size -= 2;

  TMemoryEncodeIO io(data, size, readBlock);
  TDeflateResult r = encoder->Deflate(io, level);
  if (r.CompressedSize != io.out.size()) std::abort();
  if (r.Flags != (level <= 2 ? 4 : level >= 8 ? 2 : 0)) std::abort();
  if (r.InternalAttributes > 1) std::abort();

  if (r.Method == 0) {
    if (io.out.size() != size || (size && std::memcmp(io.out.data(), data, size) != 0))
      std::abort();
  } else {
    if (r.Method != 8) std::abort();
    std::vector<uint8_t> out(size + 1);
    z_stream z{};
    if (inflateInit2(&z, -15) != Z_OK) return 0;
    z.next_in = io.out.data();
    z.avail_in = uInt(io.out.size());
    z.next_out = out.data();
    z.avail_out = uInt(out.size());
    int rc = inflate(&z, Z_FINISH);
    bool ok = rc == Z_STREAM_END && z.avail_in == 0 && z.total_out == size &&
              (size == 0 || std::memcmp(out.data(), data, size) == 0);
    inflateEnd(&z);
    if (!ok) std::abort();
  }

  TMemoryEncodeIO whole(data, size);
  encoder->Deflate(whole, level);
  if (whole.out != io.out) std::abort();
  return 0;
}
