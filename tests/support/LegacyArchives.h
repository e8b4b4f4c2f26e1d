// The archives of legacy compression methods in the shared test data: their entries' raw
// compressed bytes, found through the local headers, and what the manifest says they hold.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace quelt::test {

struct TRawEntry {
  std::string name;
  uint16_t flags = 0;
  uint16_t method = 0;
  uint32_t crc = 0;
  uint32_t uncompressedSize = 0;
  std::vector<uint8_t> data;   // the compressed bytes as stored
  std::vector<uint8_t> extra;  // the local header's extra field
};

// Walks the local headers from the start of the archive.
std::vector<TRawEntry> readLocalEntries(const std::string& archivePath);

struct TExpectedEntry {
  std::string path;
  uint32_t size = 0;
  uint32_t crc = 0;
  std::string sha256;
};
struct TExpectedArchive {
  std::string file;  // name within the legacy test-data folder
  std::vector<TExpectedEntry> entries;
};

// Parses legacy/manifest.json of the test data.
std::vector<TExpectedArchive> readLegacyManifest();

}  // namespace quelt::test
