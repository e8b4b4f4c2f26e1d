// The self-extractor's own file: its program image, then the record, then the archive.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "convert/SFXRecord.h"

namespace quelt::sfx {

// Bytes the ELF program at the start of `path` takes: the furthest of its headers, segments
// and sections. Nothing when the file is no ELF program.
std::optional<int64_t> ElfImageSize(const std::string& path);

struct TSelfImage {
  int64_t programSize = 0;  // where the record starts
  TSFXRecord record;
};
// The record behind the program in `path`; nothing when the program carries none.
std::optional<TSelfImage> ReadSelfImage(const std::string& path);

}  // namespace quelt::sfx
