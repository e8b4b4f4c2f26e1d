#include "engine/ZipLib.h"

#include <algorithm>
#include <cmath>

namespace quelt {

namespace {
int roundedPercent(double done, double total) {
  double r = std::nearbyint(done * 100.0 / total);  // the default rounding: halves to even
  return r > 100 ? 100 : int(r);
}
}  // namespace

int PercentOf(int64_t whole, int64_t part) {
  if (whole < 1) return 0;
  return roundedPercent(double(part), double(whole));
}

int TotalPercentOf(int64_t done, int64_t total) {
  if (total <= 0) return 0;
  return roundedPercent(double(done), double(total));
}

void ToForwardSlashes(std::string& text) { std::replace(text.begin(), text.end(), '\\', '/'); }
void ToBackslashes(std::string& text) { std::replace(text.begin(), text.end(), '/', '\\'); }
std::string Slashed(std::string text) {
  ToForwardSlashes(text);
  return text;
}
std::string Backslashed(std::string text) {
  ToBackslashes(text);
  return text;
}

std::string LeftStr(const std::string& text, size_t n) { return text.substr(0, n); }
std::string RightStr(const std::string& text, size_t n) {
  return n >= text.size() ? text : text.substr(text.size() - n);
}

bool HasWildcards(const std::string& text) {
  return text.find_first_of("*?[]") != std::string::npos;
}

std::string LowerAZ(std::string text) {
  for (char& c : text)
    if (c >= 'A' && c <= 'Z') c = char(c + 32);
  return text;
}

bool SameTextAZ(const std::string& a, const std::string& b) { return LowerAZ(a) == LowerAZ(b); }

uint32_t RepairDosDateTime(uint32_t dos) {
  uint32_t time = dos & 0xFFFF, date = dos >> 16;
  int hour = int(time >> 11), minute = int((time >> 5) & 0x3F), second = int(time & 0x1F) * 2;
  int year = int(date >> 9) + 1980, month = int((date >> 5) & 0x0F), day = int(date & 0x1F);
  bool clamped = false;
  auto clamp = [&clamped](int& v, int lo, int hi) {
    if (v < lo || v > hi) {
      v = std::clamp(v, lo, hi);
      clamped = true;
    }
  };
  clamp(hour, 0, 24);  // 24 stays impossible on purpose: the conversion after it fails
  clamp(minute, 0, 59);
  clamp(second, 0, 59);
  clamp(year, 1980, 2099);
  clamp(month, 1, 12);
  clamp(day, 1, 31);
  if (!clamped) return dos;
  uint32_t newDate = uint32_t((year - 1980) << 9 | month << 5 | day);
  uint32_t newTime = uint32_t(hour << 11 | minute << 5 | second / 2);
  return newDate << 16 | newTime;
}

}  // namespace quelt
