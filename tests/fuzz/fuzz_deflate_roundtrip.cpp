// Compresses any input at a level taken from its first byte, in reads whose size comes from
// the second, and checks that our Inflate decodes it back, that full reads give the same
// stream, and that the sizes and flags reported agree with what was written.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <vector>

#include "engine/DeflateEnc.h"
#include "engine/Inflate.h"

using namespace quelt;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  static auto encoder = std::make_unique<TDeflateEncoder>();
  const int level = 1 + data[0] % 9;
  const size_t readBlock = 1 + size_t(data[1]) * 37;
  const size_t refillBlock = 1 + size_t(data[1]) % 200;
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
    // Refills of odd sizes, so stream ends fall anywhere in a block.
    TMemoryDecodeIO in(io.out.data(), io.out.size(), size + 1, refillBlock);
    bool ok = Inflate(in) == kInflateOk && in.out.size() == size &&
              (size == 0 || std::memcmp(in.out.data(), data, size) == 0);
    if (!ok) std::abort();
  }

  TMemoryEncodeIO whole(data, size);
  encoder->Deflate(whole, level);
  if (whole.out != io.out) std::abort();
  return 0;
}
