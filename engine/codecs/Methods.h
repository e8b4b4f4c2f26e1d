// The table of compression methods: for each method number an entry can name, what we call
// it, how we read it and whether we write it. Extraction, test, listing and messages all
// read this one table; a new method is one row and its decoder's file.
#pragma once

#include <cstdint>
#include <span>
#include <string>

#include "engine/DecodeIO.h"

namespace quelt {

// Method numbers beyond the classic ones of ZipFormat.h.
inline constexpr uint16_t kMethodDeflate64 = 9;
inline constexpr uint16_t kMethodBzip2 = 12;
inline constexpr uint16_t kMethodLzma = 14;
inline constexpr uint16_t kMethodZstdOld = 20;  // Zstandard's number before 93 was given
inline constexpr uint16_t kMethodZstd = 93;
inline constexpr uint16_t kMethodXz = 95;
inline constexpr uint16_t kMethodPpmd = 98;
// AES-encrypted: the entry's real method is in its AES extra field (AesCrypt.h).
inline constexpr uint16_t kMethodAes = 99;

// A decoder: reads the entry's compressed bytes from io and writes at most
// io.UncompressedSize bytes to its output. 0 is success, after a FlushOutput; anything else
// means the entry's data could not be decoded (kCodecNoMemory, 3, for every decoder: the
// entry needs more memory than a decoder may take). Exceptions of io pass through.
using TDecodeFn = int (*)(TDecodeIO& io);

struct TMethodInfo {
  uint16_t Number;
  const char* Name;  // as listings show it: "Deflated", "bzip2"
  TDecodeFn Decode;  // nullptr: we cannot read it
  bool CanWrite;
};

// Every row, in method order.
std::span<const TMethodInfo> MethodTable();
// The row of a method; nullptr for a number no row knows.
const TMethodInfo* FindMethod(uint16_t method);
// The decoder of a method; nullptr when we cannot read it.
TDecodeFn MethodDecoder(uint16_t method);
// The method's name, or "Method 42" for a number no row knows.
std::string MethodName(uint16_t method);
// What the method column of a listing shows for an entry: its method's name, and for an
// AES-encrypted entry the real method's name with the key size ("Deflated, AES-256"),
// read from the entry's extra field (extra..extra+extraSize).
std::string EntryMethodName(uint16_t method, const uint8_t* extra, size_t extraSize);
// Why an entry of a method we cannot read is skipped:
// "compressed with PPMd, which Quelt cannot read".
std::string CannotReadMessage(uint16_t method);

}  // namespace quelt
