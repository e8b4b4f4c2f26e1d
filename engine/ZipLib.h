// Small stateless helpers shared by the reader, the extractor and the writer.
#pragma once

#include <cstdint>
#include <string>

namespace quelt {

// part * 100 / whole rounded half to even, at most 100; 0 when whole < 1.
int PercentOf(int64_t whole, int64_t part);
// done * 100 / total rounded the same way, at most 100; 0 when total <= 0.
int TotalPercentOf(int64_t done, int64_t total);

void ToForwardSlashes(std::string& text);
void ToBackslashes(std::string& text);
// The same on a copy.
std::string Slashed(std::string text);
std::string Backslashed(std::string text);
std::string LeftStr(const std::string& text, size_t n);
std::string RightStr(const std::string& text, size_t n);
bool HasWildcards(const std::string& text);
// ASCII-only lower case: the matcher's and the catalogue's notion of case.
std::string LowerAZ(std::string text);
bool SameTextAZ(const std::string& a, const std::string& b);

// Clamps each field of a DOS date-time into range; unchanged when nothing was out of range.
uint32_t RepairDosDateTime(uint32_t dos);

}  // namespace quelt
