// Compressed streams and archives made at test time by the real tools, so the decoders of
// the newer methods and the AES stages are held to what those tools write.
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "support/LegacyArchives.h"

namespace quelt::test {

// What a shell command makes of `input`: it runs in a scratch folder holding the input as
// the file "in" and must leave its result in "out". Throws when the command fails.
std::vector<uint8_t> filterThrough(const std::string& command, const std::vector<uint8_t>& input);

// The entries of the archive `7z a -tzip <switches>` makes of the files (name, bytes), read
// through their local headers. Throws when 7z fails.
std::vector<TRawEntry> sevenZipEntries(
    const std::string& switches,
    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files);

}  // namespace quelt::test
