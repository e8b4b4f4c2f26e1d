// The 256-byte record between a self-extractor's stub and its archive: how the stub presents
// itself, where it proposes to extract, and what it runs afterwards.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace quelt {

enum SFXOptsEnum { SFXAskCmdLine = 0, SFXAskFiles = 1, SFXHideOverWriteBox = 2 };
// A set of SFXOptsEnum members.
class SFXOpts {
 public:
  SFXOpts() = default;
  SFXOpts(std::initializer_list<SFXOptsEnum> members) {
    for (SFXOptsEnum m : members) Include(m);
  }
  bool Contains(SFXOptsEnum m) const { return bits_ & (1u << m); }
  void Include(SFXOptsEnum m) { bits_ |= uint8_t(1u << m); }
  void Exclude(SFXOptsEnum m) { bits_ &= uint8_t(~(1u << m)); }
  uint8_t Bits() const { return bits_; }
  bool operator==(const SFXOpts&) const = default;

 private:
  uint8_t bits_ = 0;
};

enum OvrOpts { OvrConfirm, OvrAlways, OvrNever };

inline constexpr size_t kSFXRecordSize = 256;
// Room for caption, default folder and command line together.
inline constexpr size_t kSFXTextRoom = 249;

struct TSFXRecord {
  SFXOpts Options;
  OvrOpts OverWriteMode = OvrConfirm;
  std::string Caption, DefaultDir, CommandLine;
};

// The record's bytes; the texts must fit kSFXTextRoom (std::length_error otherwise). The
// unused tail is zero.
std::array<uint8_t, kSFXRecordSize> BuildSFXRecord(const TSFXRecord& record);
// Reads a record; nothing when the magic is missing or the lengths overrun the record.
std::optional<TSFXRecord> ParseSFXRecord(const uint8_t* bytes, size_t size);

// The folder sign of default folders and command lines: "><" stands for the extraction folder.
inline constexpr const char* kSFXFolderSign = "><";
// Every "><" in `text` replaced by `folder` followed by "/".
std::string ExpandSFXFolder(const std::string& text, const std::string& folder);
// The program and arguments of a command line: the program before the first '|', the
// arguments after it split at blanks (double quotes group and are dropped), each with "><"
// expanded. Without '|' the whole line names the program. Empty for a blank line.
std::vector<std::string> SplitSFXCommand(const std::string& line, const std::string& folder);

}  // namespace quelt
