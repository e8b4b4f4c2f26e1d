#include "convert/SFXRecord.h"

#include <stdexcept>

namespace quelt {

namespace {

constexpr uint8_t kMagic[3] = {'M', 'P', 'U'};
constexpr uint8_t kFlagAlways = 0x08, kFlagNever = 0x10;

std::string trimmed(const std::string& s) {
  size_t b = s.find_first_not_of(" \t");
  if (b == std::string::npos) return "";
  size_t e = s.find_last_not_of(" \t");
  return s.substr(b, e - b + 1);
}

}  // namespace

std::array<uint8_t, kSFXRecordSize> BuildSFXRecord(const TSFXRecord& r) {
  const size_t total = r.Caption.size() + r.DefaultDir.size() + r.CommandLine.size();
  if (total > kSFXTextRoom) throw std::length_error("the self-extractor's texts exceed 249 bytes");
  std::array<uint8_t, kSFXRecordSize> out{};
  out[0] = kMagic[0];
  out[1] = kMagic[1];
  out[2] = kMagic[2];
  uint8_t flags = r.Options.Bits() & 0x07;
  if (r.OverWriteMode == OvrAlways) flags |= kFlagAlways;
  if (r.OverWriteMode == OvrNever) flags |= kFlagNever;
  out[3] = flags;
  out[4] = uint8_t(r.Caption.size());
  out[5] = uint8_t(r.DefaultDir.size());
  out[6] = uint8_t(r.CommandLine.size());
  size_t at = 7;
  for (const std::string* s : {&r.Caption, &r.DefaultDir, &r.CommandLine}) {
    for (char c : *s) out[at++] = uint8_t(c);
  }
  return out;
}

std::optional<TSFXRecord> ParseSFXRecord(const uint8_t* b, size_t size) {
  if (size < kSFXRecordSize || b[0] != kMagic[0] || b[1] != kMagic[1] || b[2] != kMagic[2])
    return std::nullopt;
  const size_t c = b[4], d = b[5], l = b[6];
  if (c + d + l > kSFXTextRoom) return std::nullopt;
  TSFXRecord r;
  for (SFXOptsEnum m : {SFXAskCmdLine, SFXAskFiles, SFXHideOverWriteBox})
    if (b[3] & (1u << m)) r.Options.Include(m);
  // Both overwrite bits set is no mode the builder writes: ask rather than guess.
  const bool always = b[3] & kFlagAlways, never = b[3] & kFlagNever;
  r.OverWriteMode = always && !never ? OvrAlways : never && !always ? OvrNever : OvrConfirm;
  const char* text = reinterpret_cast<const char*>(b + 7);
  r.Caption.assign(text, c);
  r.DefaultDir.assign(text + c, d);
  r.CommandLine.assign(text + c + d, l);
  return r;
}

std::string ExpandSFXFolder(const std::string& text, const std::string& folder) {
  std::string withSlash = folder.empty() || folder.back() == '/' ? folder : folder + "/";
  std::string out;
  for (size_t at = 0;;) {
    size_t sign = text.find(kSFXFolderSign, at);
    if (sign == std::string::npos) {
      out.append(text, at);
      return out;
    }
    out.append(text, at, sign - at);
    out += withSlash;
    at = sign + 2;
  }
}

std::vector<std::string> SplitSFXCommand(const std::string& line, const std::string& folder) {
  std::vector<std::string> argv;
  const size_t bar = line.find('|');
  std::string program = trimmed(line.substr(0, bar));
  if (program.empty()) return argv;
  argv.push_back(ExpandSFXFolder(program, folder));
  if (bar == std::string::npos) return argv;
  // Split before expanding, so a folder with blanks in its name stays one argument.
  std::string word;
  bool inWord = false, quoted = false;
  for (char c : line.substr(bar + 1)) {
    if (c == '"') {
      quoted = !quoted;
      inWord = true;
    } else if ((c == ' ' || c == '\t') && !quoted) {
      if (inWord) argv.push_back(ExpandSFXFolder(word, folder));
      word.clear();
      inWord = false;
    } else {
      word += c;
      inWord = true;
    }
  }
  if (inWord) argv.push_back(ExpandSFXFolder(word, folder));
  return argv;
}

}  // namespace quelt
