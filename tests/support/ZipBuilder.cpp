#include "support/ZipBuilder.h"

namespace quelt::test {

namespace {
void put16(std::vector<uint8_t>& v, uint32_t x) {
  v.push_back(uint8_t(x));
  v.push_back(uint8_t(x >> 8));
}
void put32(std::vector<uint8_t>& v, uint32_t x) {
  put16(v, x & 0xFFFF);
  put16(v, x >> 16);
}
void putBytes(std::vector<uint8_t>& v, const std::string& s) { v.insert(v.end(), s.begin(), s.end()); }
}  // namespace

uint32_t crc32Of(const std::vector<uint8_t>& data) {
  uint32_t c = 0xFFFFFFFF;
  for (uint8_t b : data) {
    c ^= b;
    for (int k = 0; k < 8; ++k) c = (c >> 1) ^ (0xEDB88320u & (0u - (c & 1)));
  }
  return ~c;
}

ZipEntrySpec stored(const std::string& name, const std::string& text) {
  ZipEntrySpec e;
  e.name = name;
  e.data.assign(text.begin(), text.end());
  return e;
}

std::vector<uint8_t> buildZip(const ZipSpec& spec) {
  std::vector<uint8_t> body;
  std::vector<uint32_t> offsets;
  const uint32_t shift = spec.adjustOffsetsForPrefix ? uint32_t(spec.prefix.size()) : 0;
  for (const auto& e : spec.entries) {
    uint32_t crc = e.crc ? *e.crc : crc32Of(e.data);
    uint32_t usize = e.uncompressedSize ? *e.uncompressedSize : uint32_t(e.data.size());
    uint16_t flags = uint16_t(e.flags | (e.descriptor ? 8 : 0));
    offsets.push_back(uint32_t(body.size()) + shift);
    put32(body, 0x04034B50);
    put16(body, 20);
    put16(body, flags);
    put16(body, e.method);
    put32(body, e.dosTime);
    bool sizes = e.sizesInLocalHeader;
    put32(body, sizes ? crc : 0);
    put32(body, sizes ? uint32_t(e.data.size()) : 0);
    put32(body, sizes ? usize : 0);
    put16(body, uint32_t(e.name.size()));
    put16(body, uint32_t(e.extra.size()));
    putBytes(body, e.name);
    putBytes(body, e.extra);
    body.insert(body.end(), e.data.begin(), e.data.end());
    if (e.descriptor) {
      if (e.descriptorSignature) put32(body, 0x08074B50);
      put32(body, crc);
      put32(body, uint32_t(e.data.size()));
      put32(body, usize);
    }
  }
  uint32_t cdOffset = uint32_t(body.size()) + shift;
  std::vector<uint8_t> cd;
  if (spec.centralDirectory) {
    for (size_t i = 0; i < spec.entries.size(); ++i) {
      const auto& e = spec.entries[i];
      uint32_t crc = e.crc ? *e.crc : crc32Of(e.data);
      uint32_t usize = e.uncompressedSize ? *e.uncompressedSize : uint32_t(e.data.size());
      put32(cd, 0x02014B50);
      put16(cd, e.versionMadeBy);
      put16(cd, 20);
      put16(cd, uint16_t(e.flags | (e.descriptor ? 8 : 0)));
      put16(cd, e.method);
      put32(cd, e.dosTime);
      put32(cd, crc);
      put32(cd, uint32_t(e.data.size()));
      put32(cd, usize);
      put16(cd, uint32_t(e.name.size()));
      put16(cd, uint32_t(e.extra.size()));
      put16(cd, uint32_t(e.comment.size()));
      put16(cd, 0);
      put16(cd, 0);
      put32(cd, e.externalAttributes);
      put32(cd, e.centralOffset ? *e.centralOffset : offsets[i]);
      putBytes(cd, e.name);
      putBytes(cd, e.extra);
      putBytes(cd, e.comment);
    }
  }
  body.insert(body.end(), cd.begin(), cd.end());
  if (spec.endRecord) {
    uint16_t n = uint16_t(spec.centralDirectory ? spec.entries.size() : 0);
    put32(body, 0x06054B50);
    put16(body, 0);
    put16(body, 0);
    put16(body, n);
    put16(body, n);
    put32(body, uint32_t(cd.size()));
    put32(body, cdOffset);
    put16(body, spec.commentLengthField ? *spec.commentLengthField
                                        : uint32_t(spec.archiveComment.size()));
    putBytes(body, spec.archiveComment);
  }
  body.insert(body.end(), spec.trailer.begin(), spec.trailer.end());
  std::vector<uint8_t> out(spec.prefix);
  out.insert(out.end(), body.begin(), body.end());
  return out;
}

}  // namespace quelt::test
