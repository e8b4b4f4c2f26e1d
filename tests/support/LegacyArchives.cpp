#include "support/LegacyArchives.h"

#include <map>
#include <memory>
#include <stdexcept>

#include "engine/ZipFormat.h"
#include "support/TestUtil.h"

namespace quelt::test {

std::vector<TRawEntry> readLocalEntries(const std::string& archivePath) {
  std::vector<uint8_t> zip = readFile(archivePath);
  std::vector<TRawEntry> entries;
  size_t off = 0;
  while (off + kLocalHeaderSize <= zip.size() && load32(&zip[off]) == kLocalHeaderSig) {
    const uint8_t* h = &zip[off];
    TRawEntry e;
    e.flags = load16(h + local::kFlags);
    e.method = load16(h + local::kMethod);
    e.crc = load32(h + local::kCrc);
    e.uncompressedSize = load32(h + local::kUncompressedSize);
    uint32_t packed = load32(h + local::kCompressedSize);
    size_t nameLength = load16(h + local::kNameLength);
    size_t dataStart = off + kLocalHeaderSize + nameLength + load16(h + local::kExtraLength);
    if ((e.flags & kFlagDataDescriptor) || dataStart + packed > zip.size())
      throw std::runtime_error("unexpected local header in " + archivePath);
    e.name.assign(reinterpret_cast<const char*>(h + kLocalHeaderSize), nameLength);
    e.data.assign(zip.begin() + dataStart, zip.begin() + dataStart + packed);
    e.extra.assign(zip.begin() + off + kLocalHeaderSize + nameLength, zip.begin() + dataStart);
    entries.push_back(std::move(e));
    off = dataStart + packed;
  }
  return entries;
}

namespace {

// Just enough JSON for the manifest: objects, arrays, strings without escapes, integers.
struct TJson {
  std::string text;  // string or number
  std::vector<std::pair<std::string, TJson>> members;
  std::vector<TJson> items;

  const TJson& operator[](const std::string& key) const {
    for (auto& [k, v] : members)
      if (k == key) return v;
    throw std::runtime_error("manifest lacks " + key);
  }
};

class TJsonParser {
 public:
  explicit TJsonParser(const std::string& s) : s_(s) {}

  TJson value() {
    skip();
    TJson v;
    if (eat('{')) {
      if (!eat('}')) {
        do {
          skip();
          std::string key = string();
          expect(':');
          v.members.emplace_back(key, value());
        } while (eat(','));
        expect('}');
      }
    } else if (eat('[')) {
      if (!eat(']')) {
        do v.items.push_back(value());
        while (eat(','));
        expect(']');
      }
    } else if (peek() == '"') {
      v.text = string();
    } else {
      while (pos_ < s_.size() && (isdigit(s_[pos_]) || s_[pos_] == '-')) v.text += s_[pos_++];
      if (v.text.empty()) throw std::runtime_error("bad manifest");
    }
    return v;
  }

 private:
  void skip() {
    while (pos_ < s_.size() && isspace(static_cast<unsigned char>(s_[pos_]))) ++pos_;
  }
  char peek() {
    skip();
    return pos_ < s_.size() ? s_[pos_] : '\0';
  }
  bool eat(char c) {
    if (peek() != c) return false;
    ++pos_;
    return true;
  }
  void expect(char c) {
    if (!eat(c)) throw std::runtime_error(std::string("manifest: expected ") + c);
  }
  std::string string() {
    expect('"');
    size_t end = s_.find('"', pos_);
    if (end == std::string::npos) throw std::runtime_error("bad manifest");
    std::string out = s_.substr(pos_, end - pos_);
    pos_ = end + 1;
    return out;
  }

  const std::string& s_;
  size_t pos_ = 0;
};

}  // namespace

std::vector<TExpectedArchive> readLegacyManifest() {
  std::string text = readText(testdataPath("legacy/manifest.json"));
  TJson root = TJsonParser(text).value();
  std::vector<TExpectedArchive> archives;
  for (auto& [file, info] : root.members) {
    TExpectedArchive a;
    a.file = file;
    for (auto& item : info["entries"].items) {
      TExpectedEntry e;
      e.path = item["path"].text;
      e.size = uint32_t(std::stoul(item["size"].text));
      e.crc = uint32_t(std::stoul(item["crc32"].text, nullptr, 16));
      e.sha256 = item["sha256"].text;
      a.entries.push_back(e);
    }
    archives.push_back(std::move(a));
  }
  return archives;
}

}  // namespace quelt::test
