#include "app/viewers/PcxDecoder.h"

#include <algorithm>
#include <string>

namespace quelt {

namespace {

constexpr size_t kHeaderSize = 128;
constexpr size_t kVgaPaletteSize = 1 + 768;  // the marker 0x0C, then 256 RGB triples
constexpr size_t kLongestRun = 63;

// Files that leave the header's 16 colours empty mean the standard ones.
const uint8_t kStandard16[48] = {
    0x00, 0x00, 0x00, 0x00, 0x00, 0xAA, 0x00, 0xAA, 0x00, 0x00, 0xAA, 0xAA, 0xAA, 0x00, 0x00, 0xAA,
    0x00, 0xAA, 0xAA, 0x55, 0x00, 0xAA, 0xAA, 0xAA, 0x55, 0x55, 0x55, 0x55, 0x55, 0xFF, 0x55, 0xFF,
    0x55, 0x55, 0xFF, 0xFF, 0xFF, 0x55, 0x55, 0xFF, 0x55, 0xFF, 0xFF, 0xFF, 0x55, 0xFF, 0xFF, 0xFF};

uint16_t le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}

// The picture's bytes, scan line after scan line. Runs may cross from one line into the next,
// as some writers let them, so the state lives across lines.
class TScanReader {
 public:
  TScanReader(const uint8_t* data, size_t size, bool encoded)
      : p_(data), end_(data + size), encoded_(encoded) {}

  void readLine(uint8_t* out, size_t n) {
    while (n > 0) {
      if (runLeft_ == 0) {
        if (p_ == end_) throw EPcxError("the picture data ends early");
        uint8_t b = *p_++;
        if (encoded_ && (b & 0xC0) == 0xC0) {
          if (p_ == end_) throw EPcxError("the picture data ends early");
          runLeft_ = b & 0x3F;
          runValue_ = *p_++;
          continue;
        }
        runLeft_ = 1;
        runValue_ = b;
      }
      size_t take = std::min(n, runLeft_);
      std::fill_n(out, take, runValue_);
      out += take;
      n -= take;
      runLeft_ -= take;
    }
  }

 private:
  const uint8_t* p_;
  const uint8_t* end_;
  bool encoded_;
  size_t runLeft_ = 0;
  uint8_t runValue_ = 0;
};

bool supportedLayout(unsigned bits, unsigned planes) {
  switch (bits) {
    case 1:
      return planes >= 1 && planes <= 4;
    case 2:
    case 4:
      return planes == 1;
    case 8:
      return planes == 1 || planes == 3 || planes == 4;
    default:
      return false;
  }
}

}  // namespace

TPcxPicture DecodePcx(const uint8_t* data, size_t size) {
  if (size < kHeaderSize || data[0] != 0x0A) throw EPcxError("it is not a PCX picture");
  const unsigned version = data[1], encoding = data[2], bits = data[3];
  const unsigned planes = data[65];
  const uint16_t xmin = le16(data + 4), ymin = le16(data + 6);
  const uint16_t xmax = le16(data + 8), ymax = le16(data + 10);
  const size_t bytesPerLine = le16(data + 66);
  if (encoding > 1) throw EPcxError("its PCX encoding " + std::to_string(encoding) + " is unknown");
  if (!supportedLayout(bits, planes))
    throw EPcxError("PCX pictures of " + std::to_string(bits) + " bits in " +
                    std::to_string(planes) + " planes are not supported");
  if (xmax < xmin || ymax < ymin) throw EPcxError("the picture is empty");
  const uint32_t width = uint32_t(xmax - xmin) + 1, height = uint32_t(ymax - ymin) + 1;
  if (uint64_t(width) * height > kPcxMaxPixels) throw EPcxError("the picture is too large");
  if (uint64_t(bytesPerLine) * 8 < uint64_t(width) * bits)
    throw EPcxError("its scan lines are shorter than its width");

  // 256 colours keep their palette behind the picture data; without one the indexes are grey.
  size_t dataEnd = size;
  const uint8_t* palette256 = nullptr;
  if (bits == 8 && planes == 1 && size >= kHeaderSize + kVgaPaletteSize &&
      data[size - kVgaPaletteSize] == 0x0C) {
    palette256 = data + size - 768;
    dataEnd = size - kVgaPaletteSize;
  }
  const uint8_t* palette16 = data + 16;
  if (version == 3 || std::all_of(palette16, palette16 + 48, [](uint8_t b) { return b == 0; }))
    palette16 = kStandard16;

  // Refuse a picture the file cannot hold before allocating for it: a run of at most 63 bytes
  // takes two bytes of input.
  const size_t lineBytes = bytesPerLine * planes;
  const size_t avail = dataEnd - kHeaderSize;
  const uint64_t most = encoding ? uint64_t(avail / 2) * kLongestRun + avail % 2 : avail;
  if (uint64_t(lineBytes) * height > most) throw EPcxError("the picture data ends early");

  TPcxPicture picture;
  picture.width = width;
  picture.height = height;
  picture.rgb.resize(size_t(width) * height * 3);
  std::vector<uint8_t> line(lineBytes);
  TScanReader reader(data + kHeaderSize, avail, encoding == 1);
  uint8_t* out = picture.rgb.data();
  auto put16 = [&](unsigned index) {
    const uint8_t* c = palette16 + 3 * index;
    *out++ = c[0];
    *out++ = c[1];
    *out++ = c[2];
  };
  for (uint32_t y = 0; y < height; ++y) {
    reader.readLine(line.data(), lineBytes);
    const uint8_t* l = line.data();
    for (uint32_t x = 0; x < width; ++x) {
      if (bits == 8 && planes == 1) {
        const uint8_t i = l[x];
        const uint8_t grey[3] = {i, i, i};
        const uint8_t* c = palette256 ? palette256 + 3 * i : grey;
        *out++ = c[0];
        *out++ = c[1];
        *out++ = c[2];
      } else if (bits == 8) {
        *out++ = l[x];
        *out++ = l[bytesPerLine + x];
        *out++ = l[2 * bytesPerLine + x];
      } else if (bits == 4) {
        put16((l[x / 2] >> (x % 2 ? 0 : 4)) & 0x0F);
      } else if (bits == 2) {
        put16((l[x / 4] >> (6 - 2 * (x % 4))) & 0x03);
      } else {
        unsigned index = 0;
        for (unsigned p = 0; p < planes; ++p)
          index |= unsigned(l[p * bytesPerLine + x / 8] >> (7 - x % 8) & 1) << p;
        if (planes == 1) {
          // Monochrome pictures are black and white whatever the header's colours say.
          const uint8_t v = index ? 0xFF : 0x00;
          *out++ = v;
          *out++ = v;
          *out++ = v;
        } else {
          put16(index);
        }
      }
    }
  }
  return picture;
}

}  // namespace quelt
