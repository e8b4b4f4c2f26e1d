#include "engine/DateTime.h"

#include <cstdio>

namespace quelt {

namespace {
bool isLeap(int y) { return (y % 4 == 0 && y % 100 != 0) || y % 400 == 0; }
int daysInMonth(int y, int m) {
  static const int days[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
  return m == 2 && isLeap(y) ? 29 : days[m - 1];
}
}  // namespace

std::optional<TDateTime> DosDateTimeToDateTime(uint32_t dos) {
  TDateTime t;
  uint32_t time = dos & 0xFFFF, date = dos >> 16;
  t.hour = int(time >> 11);
  t.minute = int((time >> 5) & 0x3F);
  t.second = int(time & 0x1F) * 2;
  t.year = int(date >> 9) + 1980;
  t.month = int((date >> 5) & 0x0F);
  t.day = int(date & 0x1F);
  if (t.hour > 23 || t.minute > 59 || t.second > 59) return std::nullopt;
  if (t.month < 1 || t.month > 12 || t.day < 1 || t.day > daysInMonth(t.year, t.month))
    return std::nullopt;
  return t;
}

uint32_t DateTimeToDosDateTime(const TDateTime& t) {
  uint32_t date = uint32_t(((t.year - 1980) & 0x7F) << 9 | (t.month & 0x0F) << 5 | (t.day & 0x1F));
  uint32_t time = uint32_t((t.hour & 0x1F) << 11 | (t.minute & 0x3F) << 5 | ((t.second / 2) & 0x1F));
  return date << 16 | time;
}

TDateTime DosDateTimeOr(uint32_t dos, const TDateTime& fallback) {
  auto t = DosDateTimeToDateTime(dos);
  return t ? *t : fallback;
}

TDateTime LocalDateTime(time_t tt) {
  std::tm tm{};
  localtime_r(&tt, &tm);
  return TDateTime{tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec};
}

TDateTime Now() { return LocalDateTime(std::time(nullptr)); }

std::string FormatIso(const TDateTime& t) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02d %02d:%02d:%02d", t.year, t.month, t.day, t.hour,
                t.minute, t.second);
  return buf;
}

}  // namespace quelt
