#include "engine/codecs/Methods.h"

#include <algorithm>

#include "engine/Explode.h"
#include "engine/Inflate.h"
#include "engine/Unreduce.h"
#include "engine/Unshrink.h"
#include "engine/ZipFormat.h"
#include "engine/codecs/AesCrypt.h"
#include "engine/codecs/Bzip2Decoder.h"
#include "engine/codecs/LzmaDecoder.h"
#include "engine/codecs/StoredCopy.h"
#include "engine/codecs/XzDecoder.h"
#include "engine/codecs/ZstdDecoder.h"

namespace quelt {

namespace {

// Methods named by the format's registry that we cannot read still get their names, so a
// listing and a refusal say what the entry is instead of a bare number.
constexpr TMethodInfo kMethods[] = {
    {kMethodStored, "Stored", CopyStored, true},
    {kMethodShrunk, "Shrunk", Unshrink, false},
    {2, "Reduced (factor 1)", [](TDecodeIO& io) { return Unreduce(io, 1); }, false},
    {3, "Reduced (factor 2)", [](TDecodeIO& io) { return Unreduce(io, 2); }, false},
    {4, "Reduced (factor 3)", [](TDecodeIO& io) { return Unreduce(io, 3); }, false},
    {5, "Reduced (factor 4)", [](TDecodeIO& io) { return Unreduce(io, 4); }, false},
    {kMethodImploded, "Imploded", Explode, false},
    {7, "Tokenized", nullptr, false},
    {kMethodDeflated, "Deflated", Inflate, true},
    {kMethodDeflate64, "Deflate64", Inflate64, false},
    {10, "DCL Imploded", nullptr, false},
    {kMethodBzip2, "bzip2", [](TDecodeIO& io) { return DecodeBzip2(io); }, false},
    {kMethodLzma, "LZMA", [](TDecodeIO& io) { return DecodeLzma(io); }, false},
    {16, "CMPSC", nullptr, false},
    {18, "TERSE", nullptr, false},
    {19, "LZ77 (z/Architecture)", nullptr, false},
    {kMethodZstdOld, "Zstandard", [](TDecodeIO& io) { return DecodeZstd(io); }, false},
    {kMethodZstd, "Zstandard", [](TDecodeIO& io) { return DecodeZstd(io); }, false},
    {94, "MP3", nullptr, false},
    {kMethodXz, "xz", [](TDecodeIO& io) { return DecodeXz(io); }, false},
    {96, "JPEG", nullptr, false},
    {97, "WavPack", nullptr, false},
    {kMethodPpmd, "PPMd", nullptr, false},
    // Read and written through the AES stage, around the real method's decoder.
    {kMethodAes, "AES-encrypted", nullptr, true},
};

static_assert(std::ranges::is_sorted(kMethods, {}, &TMethodInfo::Number));

}  // namespace

std::span<const TMethodInfo> MethodTable() {
  return kMethods;
}

const TMethodInfo* FindMethod(uint16_t method) {
  auto it = std::ranges::lower_bound(kMethods, method, {}, &TMethodInfo::Number);
  return it != std::end(kMethods) && it->Number == method ? &*it : nullptr;
}

TDecodeFn MethodDecoder(uint16_t method) {
  const TMethodInfo* row = FindMethod(method);
  return row ? row->Decode : nullptr;
}

std::string MethodName(uint16_t method) {
  const TMethodInfo* row = FindMethod(method);
  return row ? row->Name : "Method " + std::to_string(method);
}

std::string EntryMethodName(uint16_t method, const uint8_t* extra, size_t extraSize) {
  if (method == kMethodAes) {
    if (auto field = ParseAesField({extra, extraSize}))
      return MethodName(field->Method) + ", AES-" + std::to_string(AesKeyBits(field->Strength));
  }
  return MethodName(method);
}

std::string CannotReadMessage(uint16_t method) {
  if (method == kMethodAes) return "encrypted with AES in a form Quelt cannot read";
  const TMethodInfo* row = FindMethod(method);
  const std::string what = row ? row->Name : "method " + std::to_string(method);
  return "compressed with " + what + ", which Quelt cannot read";
}

}  // namespace quelt
