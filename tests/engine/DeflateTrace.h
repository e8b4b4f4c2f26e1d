// Decoders for the encoder's tests. traceDeflate is a strict, slow decoder that records
// every block's type and header counts and every literal and match, so tests can check what
// the encoder chose; zlibInflateRaw is the reference inflater.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt::test {

struct TTraceItem {
  uint16_t length = 0;  // 0 for a literal
  uint16_t distance = 0;
  uint8_t literal = 0;
};

struct TTraceBlock {
  int type = 0;  // 0 stored, 1 fixed codes, 2 dynamic codes
  bool final = false;
  int hlit = 0, hdist = 0, hclen = 0;  // code counts sent by a dynamic block
  size_t storedLength = 0;
  std::vector<TTraceItem> items;
};

struct TTrace {
  bool ok = false;
  std::string error;     // why decoding stopped, when not ok
  size_t bytesUsed = 0;  // stream bytes up to the end of the final block
  std::vector<TTraceBlock> blocks;
  std::vector<uint8_t> out;

  size_t matches() const;
  size_t literals() const;
};

// Decodes a raw stream. Dynamic codes must be complete (an encoder of ours never sends
// another kind); anything else malformed stops with an error.
TTrace traceDeflate(const std::vector<uint8_t>& stream);

// Inflates a raw stream with zlib; false unless it ends properly with nothing left over.
bool zlibInflateRaw(const std::vector<uint8_t>& stream, std::vector<uint8_t>& out);

}  // namespace quelt::test
