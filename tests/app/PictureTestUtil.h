// For the picture readers' tests: PCX files of every layout, and the check that damaged files
// are refused with the right reason.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace quelt::test {

struct TPcxLayout {
  int bits, planes;
};

struct TRgb {
  uint8_t r, g, b;
  bool operator==(const TRgb&) const = default;
};

enum class TPcxRuns { None, PerLine, AcrossLines };

struct TRefusal {
  const char* what;
  std::vector<uint8_t> file;
  const char* reason;  // part of the error's text
};

// `decode(data, size)` refuses every file with a TError that names its reason.
template <class TError, class TDecode>
void ExpectRefused(const std::vector<TRefusal>& cases, TDecode decode) {
  for (const TRefusal& c : cases) {
    SCOPED_TRACE(c.what);
    try {
      decode(c.file.data(), c.file.size());
      ADD_FAILURE() << "decoded";
    } catch (const TError& e) {
      EXPECT_NE(std::string(e.what()).find(c.reason), std::string::npos) << e.what();
    }
  }
}

// Writes a PCX file from a picture given as palette indexes or as RGB, with runs that may
// cross from one scan line into the next.
// `pixel(x, y)` gives a palette index for the indexed layouts and is ignored for 24 bits,
// where `rgb(x, y)` gives the colour. `palette` holds 16 colours (header) or 256 (appended).
inline std::vector<uint8_t> MakePcx(TPcxLayout layout, int width, int height,
                                    const std::function<unsigned(int, int)>& pixel,
                                    const std::function<TRgb(int, int)>& rgb,
                                    const std::vector<TRgb>& palette, TPcxRuns runs) {
  const int bpl = ((width * layout.bits + 7) / 8 + 1) & ~1;  // even, as the format asks
  std::vector<uint8_t> out(128, 0);
  auto put16 = [&](size_t at, int v) {
    out[at] = uint8_t(v);
    out[at + 1] = uint8_t(v >> 8);
  };
  out[0] = 0x0A;
  out[1] = 5;
  out[2] = runs == TPcxRuns::None ? 0 : 1;
  out[3] = uint8_t(layout.bits);
  put16(4, 10);  // the picture need not start at 0, 0
  put16(6, 20);
  put16(8, 10 + width - 1);
  put16(10, 20 + height - 1);
  out[65] = uint8_t(layout.planes);
  put16(66, bpl);
  if (palette.size() <= 16)
    for (size_t i = 0; i < palette.size(); ++i) {
      out[16 + 3 * i] = palette[i].r;
      out[16 + 3 * i + 1] = palette[i].g;
      out[16 + 3 * i + 2] = palette[i].b;
    }

  std::vector<uint8_t> raw;
  for (int y = 0; y < height; ++y) {
    std::vector<uint8_t> line(size_t(bpl) * size_t(layout.planes), 0);
    for (int x = 0; x < width; ++x) {
      if (layout.bits == 8 && layout.planes == 3) {
        TRgb c = rgb(x, y);
        line[size_t(x)] = c.r;
        line[size_t(bpl + x)] = c.g;
        line[size_t(2 * bpl + x)] = c.b;
        continue;
      }
      unsigned index = pixel(x, y);
      if (layout.bits == 8) {
        line[size_t(x)] = uint8_t(index);
      } else if (layout.planes == 1) {
        const int perByte = 8 / layout.bits;
        const int shift = 8 - layout.bits * (x % perByte + 1);
        line[size_t(x / perByte)] |= uint8_t(index << shift);
      } else {
        for (int p = 0; p < layout.planes; ++p)
          if (index >> p & 1) line[size_t(p * bpl + x / 8)] |= uint8_t(0x80 >> (x % 8));
      }
    }
    raw.insert(raw.end(), line.begin(), line.end());
  }

  const size_t lineBytes = size_t(bpl) * size_t(layout.planes);
  for (size_t i = 0; i < raw.size();) {
    if (runs == TPcxRuns::None) {
      out.push_back(raw[i++]);
      continue;
    }
    const size_t limit = runs == TPcxRuns::PerLine ? (i / lineBytes + 1) * lineBytes : raw.size();
    size_t n = 1;
    while (n < 63 && i + n < limit && raw[i + n] == raw[i]) ++n;
    if (n > 1 || (raw[i] & 0xC0) == 0xC0) out.push_back(uint8_t(0xC0 | n));
    out.push_back(raw[i]);
    i += n;
  }
  if (palette.size() > 16) {
    out.push_back(0x0C);
    for (size_t i = 0; i < 256; ++i) {
      TRgb c = i < palette.size() ? palette[i] : TRgb{0, 0, 0};
      out.insert(out.end(), {c.r, c.g, c.b});
    }
  }
  return out;
}

}  // namespace quelt::test
