// Any bytes as a raw deflate stream, read as Deflate and as Deflate64: Inflate must end
// without crashing, hanging or touching memory it does not own, and must decode the same way
// whatever size of blocks the input arrives in (the careful path and the fast one agree).
#include <cstdint>
#include <cstdlib>

#include "engine/Inflate.h"

namespace {

void check(int (*inflate)(quelt::TDecodeIO&), const uint8_t* data, size_t size, size_t block) {
  const size_t limit = 1 << 20;
  quelt::TMemoryDecodeIO bytewise(data, size, limit, 1);
  const int r1 = inflate(bytewise);
  quelt::TMemoryDecodeIO blockwise(data, size, limit, block);
  const int r2 = inflate(blockwise);

  if (r1 != r2) std::abort();
  if (r1 < quelt::kInflateOk || r1 > quelt::kInflateNoMemory) std::abort();
  if (r1 == quelt::kInflateOk && (bytewise.out != blockwise.out || bytewise.flushes != 1))
    std::abort();
  if (r1 != quelt::kInflateOk && (bytewise.flushes != 0 || blockwise.flushes != 0)) std::abort();
}

int portable(quelt::TDecodeIO& io) {
  return quelt::InflatePortable(io, false);
}
int portable64(quelt::TDecodeIO& io) {
  return quelt::InflatePortable(io, true);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // The first byte picks the refill size of the second run; the rest is the stream.
  const size_t block = 1 + data[0] * 67u;
  check(quelt::Inflate, data + 1, size - 1, block);
  check(quelt::Inflate64, data + 1, size - 1, block);
  // The portable fast loop, which processors with BMI2 otherwise never run.
  check(portable, data + 1, size - 1, block);
  check(portable64, data + 1, size - 1, block);
  return 0;
}
