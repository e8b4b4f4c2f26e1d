#include "engine/codecs/LzmaDecoder.h"

#include <algorithm>

#include "engine/ZipFormat.h"
#include "engine/codecs/LzmaStream.h"

namespace quelt {

namespace {

constexpr size_t kLzmaPropsSize = 5;
constexpr size_t kLzmaHeaderSize = 4 + kLzmaPropsSize;

}  // namespace

int DecodeLzma(TDecodeIO& io, uint64_t memoryLimit) {
  uint8_t header[kLzmaHeaderSize];
  for (uint8_t& b : header)
    if (io.NextByte(b) == 0) return kCodecTruncated;
  // The first two bytes name the version of the writing library; they change nothing.
  if (load16(header + 2) != kLzmaPropsSize) return kCodecDamaged;
  const uint8_t* props = header + 4;
  if (props[0] >= 9 * 5 * 5) return kCodecDamaged;

  lzma_options_lzma options{};
  options.lc = props[0] % 9;
  options.lp = props[0] / 9 % 5;
  options.pb = props[0] / 45;
  // Matches never reach back past the first byte, and the output stops at the declared
  // size, so a dictionary as large as the entry serves whatever the header claims.
  const uint64_t declared = io.UncompressedSize;
  options.dict_size = uint32_t(
      std::max<uint64_t>(LZMA_DICT_SIZE_MIN, std::min<uint64_t>(load32(props + 1), declared)));
  if (io.BitFlag & kFlagLzmaEndMarker) {
    // The stream ends at its marker; the output is held to the declared size on its way
    // out. (Told the size as well, liblzma 5.4.1 fails such a stream when the marker comes
    // split across two input blocks.)
    options.ext_size_low = options.ext_size_high = UINT32_MAX;
  } else {
    options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;  // some writers add a marker unflagged
    options.ext_size_low = uint32_t(declared);
    options.ext_size_high = uint32_t(declared >> 32);
  }

  lzma_filter filters[] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  const uint64_t needs = lzma_raw_decoder_memusage(filters);
  if (needs == UINT64_MAX) return kCodecDamaged;
  if (needs > memoryLimit) return kCodecNoMemory;
  TLzmaStream stream;
  const lzma_ret r = lzma_raw_decoder(stream.get(), filters);
  if (r != LZMA_OK) return LzmaCodecResult(r);
  return RunLzmaDecoder(stream, io);
}

}  // namespace quelt
