// Builds ZIP archives byte by byte for tests, including damaged and unusual ones that no
// tool would write. Data is stored as given (method and CRC can be set to anything).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelt::test {

uint32_t crc32Of(const std::vector<uint8_t>& data);  // bitwise, independent of the engine's

struct ZipEntrySpec {
  std::string name;             // stored bytes, "/" separators
  std::vector<uint8_t> data;    // the bytes after the local header (compressed or not)
  uint16_t method = 0;
  uint16_t flags = 0;
  uint32_t dosTime = 0x5A2C6000;  // 2025-01-12 12:00:00
  std::optional<uint32_t> crc;  // default: CRC of data
  std::optional<uint32_t> uncompressedSize;  // default: data size
  std::string comment;
  std::string extra;
  uint16_t versionMadeBy = 20;
  uint32_t externalAttributes = 32;
  bool descriptor = false;          // write a data descriptor after the data
  bool descriptorSignature = true;  // with its signature (16 bytes) or without (12)
  bool sizesInLocalHeader = true;   // false: zeros in the local header, as streaming tools do
  std::optional<uint32_t> centralOffset;  // override the offset stored in the central header
};

struct ZipSpec {
  std::vector<ZipEntrySpec> entries;
  std::vector<uint8_t> prefix;  // bytes in front (a stub); offsets do not count them
  bool adjustOffsetsForPrefix = false;
  bool centralDirectory = true;
  bool endRecord = true;
  std::string archiveComment;
  std::optional<uint16_t> commentLengthField;  // override the stored comment length
  std::vector<uint8_t> trailer;                 // bytes after everything
};

std::vector<uint8_t> buildZip(const ZipSpec& spec);
// A stored entry holding the text.
ZipEntrySpec stored(const std::string& name, const std::string& text);

}  // namespace quelt::test
