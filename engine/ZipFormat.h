// Every on-disk constant and record layout of the archive format, in one place.
#pragma once

#include <cstddef>
#include <cstdint>

namespace quelt {

inline constexpr uint32_t kLocalHeaderSig = 0x04034B50;     // "PK\3\4"
inline constexpr uint32_t kCentralHeaderSig = 0x02014B50;   // "PK\1\2"
inline constexpr uint32_t kEndRecordSig = 0x06054B50;       // "PK\5\6"
inline constexpr uint32_t kDataDescriptorSig = 0x08074B50;  // "PK\7\8"
inline constexpr uint32_t kSpanMarkerSig = 0x30304B50;      // "PK00", written by some splitters
inline constexpr uint32_t kZip64EndRecordSig = 0x06064B50;  // "PK\6\6"
inline constexpr uint32_t kZip64LocatorSig = 0x07064B50;    // "PK\6\7"

inline constexpr size_t kLocalHeaderSize = 30;
inline constexpr size_t kCentralHeaderSize = 46;
inline constexpr size_t kEndRecordSize = 22;
inline constexpr size_t kDataDescriptorSize = 16;
inline constexpr size_t kEncryptionHeaderSize = 12;
inline constexpr size_t kZip64EndRecordSize = 56;
inline constexpr size_t kZip64LocatorSize = 20;
inline constexpr size_t kZip64DataDescriptorSize = 24;  // with 8-byte sizes

// A classic field holding this value has its real value in the Zip64 records.
inline constexpr uint32_t kZip64Marker32 = 0xFFFFFFFF;
inline constexpr uint16_t kZip64Marker16 = 0xFFFF;
// What "version needed" says for an entry or archive with Zip64 records.
inline constexpr uint16_t kVersionZip64 = 45;

// Largest tail searched for the end record: a longer comment hides the record.
inline constexpr size_t kEndRecordSearch = 65528;

// General-purpose flag bits.
inline constexpr uint16_t kFlagEncrypted = 0x0001;
inline constexpr uint16_t kFlagDeflateMax = 0x0002;   // levels 8 and 9
inline constexpr uint16_t kFlagDeflateFast = 0x0004;  // levels 1 and 2
inline constexpr uint16_t kFlagDataDescriptor = 0x0008;
// The same two bits on imploded entries.
inline constexpr uint16_t kFlagImplode8K = 0x0002;        // 8 KiB dictionary, else 4 KiB
inline constexpr uint16_t kFlagImplodeLiterals = 0x0004;  // literals are coded with a tree
inline constexpr uint16_t kFlagUtf8 = 0x0800;

// Compression methods.
inline constexpr uint16_t kMethodStored = 0;
inline constexpr uint16_t kMethodShrunk = 1;
inline constexpr uint16_t kMethodReduced1 = 2;
inline constexpr uint16_t kMethodReduced4 = 5;
inline constexpr uint16_t kMethodImploded = 6;
inline constexpr uint16_t kMethodDeflated = 8;

// DOS attribute bits in the low byte of the external attributes.
inline constexpr uint32_t kAttrReadOnly = 0x01;
inline constexpr uint32_t kAttrHidden = 0x02;
inline constexpr uint32_t kAttrSystem = 0x04;
inline constexpr uint32_t kAttrDirectory = 0x10;
inline constexpr uint32_t kAttrArchive = 0x20;
// 7-Zip's mark, in the DOS attributes, that the upper 16 bits hold a Unix mode.
inline constexpr uint32_t kAttrUnixExtension = 0x8000;

// Host systems in the high byte of "version made by".
inline constexpr uint8_t kHostDos = 0;
inline constexpr uint8_t kHostUnix = 3;
inline constexpr uint8_t kHostNtfs = 11;
// What this writer puts in "version made by": Unix, format version 2.0.
inline constexpr uint16_t kMadeByUnix = uint16_t(kHostUnix << 8 | 20);

// Extra-field blocks: a 2-byte tag and a 2-byte length, then the data.
inline constexpr uint16_t kExtraTimestamp = 0x5455;  // "UT": flags, then Unix times (UTC)
inline constexpr uint16_t kExtraNtfs = 0x000A;       // NTFS times in 100 ns since 1601
inline constexpr uint8_t kTimestampMtime = 0x01;     // the UT flag for a modification time
// Zip64 sizes, offset and disk: 8-byte sizes and offset, a 4-byte disk, each present only
// when its classic field holds the marker, in that order.
inline constexpr uint16_t kExtraZip64 = 0x0001;

// Field offsets of the local file header.
namespace local {
inline constexpr size_t kSignature = 0, kVersionNeeded = 4, kFlags = 6, kMethod = 8, kTime = 10,
                        kDate = 12, kCrc = 14, kCompressedSize = 18, kUncompressedSize = 22,
                        kNameLength = 26, kExtraLength = 28;
}
// Field offsets of the central directory header.
namespace central {
inline constexpr size_t kSignature = 0, kVersionMadeBy = 4, kVersionNeeded = 6, kFlags = 8,
                        kMethod = 10, kTime = 12, kDate = 14, kCrc = 16, kCompressedSize = 20,
                        kUncompressedSize = 24, kNameLength = 28, kExtraLength = 30,
                        kCommentLength = 32, kDiskNumberStart = 34, kInternalAttributes = 36,
                        kExternalAttributes = 38, kRelativeOffset = 42;
}
// Field offsets of the end-of-central-directory record.
namespace endrec {
inline constexpr size_t kSignature = 0, kThisDisk = 4, kCentralDirDisk = 6, kEntriesThisDisk = 8,
                        kTotalEntries = 10, kCentralDirSize = 12, kCentralDirOffset = 16,
                        kCommentLength = 20;
}

// Field offsets of the Zip64 end record and of its locator.
namespace zip64end {
inline constexpr size_t kSignature = 0, kRecordSize = 4, kVersionMadeBy = 12, kVersionNeeded = 14,
                        kThisDisk = 16, kCentralDirDisk = 20, kEntriesThisDisk = 24,
                        kTotalEntries = 32, kCentralDirSize = 40, kCentralDirOffset = 48;
}
namespace zip64loc {
inline constexpr size_t kSignature = 0, kEndRecordDisk = 4, kEndRecordOffset = 8, kTotalDisks = 16;
}

// Little-endian loads and stores; no struct punning.
inline uint16_t load16(const uint8_t* p) { return uint16_t(p[0] | (p[1] << 8)); }
inline uint32_t load32(const uint8_t* p) {
  return uint32_t(p[0]) | (uint32_t(p[1]) << 8) | (uint32_t(p[2]) << 16) | (uint32_t(p[3]) << 24);
}
inline uint64_t load64(const uint8_t* p) { return uint64_t(load32(p)) | uint64_t(load32(p + 4)) << 32; }
inline void store16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
}
inline void store32(uint8_t* p, uint32_t v) {
  p[0] = uint8_t(v);
  p[1] = uint8_t(v >> 8);
  p[2] = uint8_t(v >> 16);
  p[3] = uint8_t(v >> 24);
}
inline void store64(uint8_t* p, uint64_t v) {
  store32(p, uint32_t(v));
  store32(p + 4, uint32_t(v >> 32));
}

}  // namespace quelt
