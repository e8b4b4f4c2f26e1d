#include "app/viewers/TgaDecoder.h"

#include <algorithm>
#include <array>
#include <string>

namespace quelt {

namespace {

constexpr size_t kHeaderSize = 18;
constexpr size_t kLongestPacket = 128;

enum TImageType : uint8_t {
  ttNone = 0,
  ttMapped = 1,
  ttTrueColour = 2,
  ttGrey = 3,
  ttRleMapped = 9,
  ttRleTrueColour = 10,
  ttRleGrey = 11
};

uint16_t le16(const uint8_t* p) {
  return uint16_t(p[0] | p[1] << 8);
}

using TRgba = std::array<uint8_t, 4>;

// 15- and 16-bit colours: five bits each of red, green and blue, the top bit unused or alpha.
TRgba colourOf(const uint8_t* p, unsigned bits, bool alpha) {
  switch (bits) {
    case 15:
    case 16: {
      const unsigned v = le16(p);
      auto widen = [](unsigned five) { return uint8_t(five << 3 | five >> 2); };
      return {widen(v >> 10 & 31), widen(v >> 5 & 31), widen(v & 31),
              uint8_t(alpha && bits == 16 && !(v & 0x8000) ? 0 : 255)};
    }
    case 24:
      return {p[2], p[1], p[0], 255};
    default:  // 32
      return {p[2], p[1], p[0], alpha ? p[3] : uint8_t(255)};
  }
}

// The picture's pixels as stored, whether packed in runs or not. Packets may cross from one
// line into the next, as many writers let them.
class TPixelReader {
 public:
  TPixelReader(const uint8_t* data, size_t size, size_t pixelBytes, bool encoded)
      : p_(data), end_(data + size), pixelBytes_(pixelBytes), encoded_(encoded) {}

  const uint8_t* next() {
    if (!encoded_) return take();
    if (left_ == 0) {
      if (p_ == end_) throw ETgaError("the picture data ends early");
      const uint8_t packet = *p_++;
      left_ = (packet & 0x7F) + 1u;
      repeat_ = packet & 0x80;
      if (repeat_) run_ = take();
    }
    --left_;
    return repeat_ ? run_ : take();
  }

 private:
  const uint8_t* take() {
    if (size_t(end_ - p_) < pixelBytes_) throw ETgaError("the picture data ends early");
    const uint8_t* at = p_;
    p_ += pixelBytes_;
    return at;
  }

  const uint8_t* p_;
  const uint8_t* end_;
  size_t pixelBytes_;
  bool encoded_;
  size_t left_ = 0;
  bool repeat_ = false;
  const uint8_t* run_ = nullptr;
};

}  // namespace

TTgaPicture DecodeTga(const uint8_t* data, size_t size) {
  if (size < kHeaderSize) throw ETgaError("it is not a TGA picture");
  const unsigned idLength = data[0], mapType = data[1], type = data[2];
  const unsigned mapFirst = le16(data + 3), mapLength = le16(data + 5), mapBits = data[7];
  const uint32_t width = le16(data + 12), height = le16(data + 14);
  const unsigned bits = data[16], descriptor = data[17];
  const bool alpha = (descriptor & 0x0F) != 0;
  const bool fromTop = descriptor & 0x20, fromRight = descriptor & 0x10;

  const unsigned base = type & ~8u;
  const bool encoded = type & 8;
  if (type == ttNone) throw ETgaError("the picture is empty");
  if (base < ttMapped || base > ttGrey || mapType > 1) throw ETgaError("it is not a TGA picture");
  const bool mapped = base == ttMapped;
  const bool bitsOk = mapped ? (bits == 8 || bits == 16)
                      : base == ttTrueColour
                          ? (bits == 15 || bits == 16 || bits == 24 || bits == 32)
                          : (bits == 8 || bits == 16);
  if (!bitsOk)
    throw ETgaError("TGA pictures of " + std::to_string(bits) + " bits are not supported");
  if (mapped && (mapType != 1 || mapLength == 0))
    throw ETgaError("the picture's colour map is missing");
  if (mapType == 1 && mapBits != 15 && mapBits != 16 && mapBits != 24 && mapBits != 32)
    throw ETgaError("colour maps of " + std::to_string(mapBits) + " bits are not supported");
  if (width == 0 || height == 0) throw ETgaError("the picture is empty");
  if (uint64_t(width) * height > kTgaMaxPixels) throw ETgaError("the picture is too large");

  size_t at = kHeaderSize + idLength;
  const size_t mapEntryBytes = mapType == 1 ? (mapBits + 7) / 8 : 0;
  const size_t mapBytes = size_t(mapLength) * mapEntryBytes;
  if (at > size || size - at < mapBytes) throw ETgaError("the picture data ends early");
  std::vector<TRgba> map;
  if (mapped)
    for (size_t i = 0; i < mapLength; ++i)
      map.push_back(colourOf(data + at + i * mapEntryBytes, mapBits, alpha));
  at += mapBytes;

  // Refuse a picture the file cannot hold before allocating for it: a packet of at most 128
  // pixels takes its header byte and one pixel at least.
  const size_t pixelBytes = (bits + 7) / 8, avail = size - at;
  const uint64_t pixels = uint64_t(width) * height;
  const uint64_t most =
      encoded ? uint64_t(avail / (1 + pixelBytes)) * kLongestPacket : uint64_t(avail / pixelBytes);
  if (pixels > most) throw ETgaError("the picture data ends early");

  TTgaPicture picture;
  picture.width = width;
  picture.height = height;
  picture.hasAlpha = alpha && (bits == 32 || bits == 16 || (mapped && mapBits >= 16));
  picture.rgba.resize(size_t(pixels) * 4);
  TPixelReader reader(data + at, avail, pixelBytes, encoded);
  for (uint32_t row = 0; row < height; ++row) {
    const uint32_t y = fromTop ? row : height - 1 - row;
    for (uint32_t col = 0; col < width; ++col) {
      const uint32_t x = fromRight ? width - 1 - col : col;
      const uint8_t* p = reader.next();
      TRgba c;
      if (mapped) {
        const unsigned index = bits == 8 ? p[0] : le16(p);
        if (index < mapFirst || index - mapFirst >= map.size())
          throw ETgaError("a colour lies outside the picture's colour map");
        c = map[index - mapFirst];
      } else if (base == ttGrey) {
        c = {p[0], p[0], p[0], uint8_t(bits == 16 && alpha ? p[1] : 255)};
      } else {
        c = colourOf(p, bits, alpha);
      }
      std::copy(c.begin(), c.end(), picture.rgba.begin() + (size_t(y) * width + x) * 4);
    }
  }
  if (!picture.hasAlpha) return picture;
  // Many writers store 32 bits with an alpha byte they never fill; such a picture would show
  // nothing at all.
  bool allClear = true;
  for (size_t i = 3; i < picture.rgba.size() && allClear; i += 4) allClear = picture.rgba[i] == 0;
  if (allClear) {
    for (size_t i = 3; i < picture.rgba.size(); i += 4) picture.rgba[i] = 255;
    picture.hasAlpha = false;
  }
  return picture;
}

}  // namespace quelt
