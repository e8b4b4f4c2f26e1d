// Calendar date-times and the DOS date-time of the archive format (local time; time in the
// low 16 bits, date in the high 16 bits).
#pragma once

#include <compare>
#include <cstdint>
#include <ctime>
#include <optional>
#include <string>

namespace quelt {

struct TDateTime {
  int year = 0, month = 0, day = 0, hour = 0, minute = 0, second = 0;
  auto operator<=>(const TDateTime&) const = default;
  bool isZero() const { return year == 0; }
};

// Converts a DOS date-time; nothing for impossible values (month 0, 31 April, hour 24, ...).
std::optional<TDateTime> DosDateTimeToDateTime(uint32_t dos);
uint32_t DateTimeToDosDateTime(const TDateTime& t);
// The DOS date-time's calendar value, or `fallback` when it does not convert.
TDateTime DosDateTimeOr(uint32_t dos, const TDateTime& fallback);

TDateTime Now();
// Local calendar value of a POSIX time.
TDateTime LocalDateTime(time_t t);

// "YYYY-MM-DD HH:MM:SS".
std::string FormatIso(const TDateTime& t);

}  // namespace quelt
