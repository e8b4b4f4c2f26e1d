#include "engine/CharsetTable.h"

#include <cctype>
#include <string>

namespace quelt {

const std::vector<TCharsetInfo>& charsetTable() {
  using S = TScript;
  // Windows and DOS creators write their system's OEM page (or, for a few tools, its ANSI
  // page); other systems write whatever their locale was, so they may have used any of them.
  // Where two readings fit equally well, the set more archives are written in comes first.
  static const std::vector<TCharsetInfo> table = {
      {"UTF-8", "UTF-8", S::Any, kForAll, "UTF8"},
      {"CP437", "CP437", S::Latin, kForAll, "CSPC8CODEPAGE437"},
      {"CP850", "CP850", S::Latin, kForAll, "CSPC850MULTILINGUAL"},
      {"CP852", "CP852", S::Latin, kForAll, "CSPCP852"},
      {"CP857", "CP857", S::Latin, kForAll, ""},
      {"CP866", "CP866", S::Cyrillic, kForAll, "CSIBM866"},
      {"CP737", "CP737", S::Greek, kForAll, ""},
      {"CP862", "CP862", S::Hebrew, kForAll, "CSPC862LATINHEBREW"},
      {"ISO-8859-1", "ISO-8859-1", S::Latin, kForOthers, "LATIN1|L1|ISOIR100|CP819"},
      {"CP1252", "CP1252", S::Latin, kForAll, "MSANSI"},
      {"ISO-8859-15", "ISO-8859-15", S::Latin, kForOthers, "LATIN9|LATIN0"},
      {"ISO-8859-2", "ISO-8859-2", S::Latin, kForOthers, "LATIN2|L2|ISOIR101"},
      {"CP1250", "CP1250", S::Latin, kForAll, "MSEE"},
      {"KOI8-R", "KOI8-R", S::Cyrillic, kForOthers, "KOI8|CSKOI8R"},
      {"CP1251", "CP1251", S::Cyrillic, kForAll, "MSCYRL"},
      {"ISO-8859-5", "ISO-8859-5", S::Cyrillic, kForOthers, "CYRILLIC|ISOIR144"},
      {"KOI8-U", "KOI8-U", S::Cyrillic, kForOthers, ""},
      {"CP932", "CP932", S::Cjk, kForAll,
       "SJIS|SHIFTJIS|MSKANJI|WINDOWS31J|CSSHIFTJIS|CSWINDOWS31J|MS932"},
      {"GBK", "GBK", S::Cjk, kForAll, "CP936|MS936|GB2312|EUCCN|CSGB2312|GB231280|CHINESE"},
      {"GB18030", "GB18030", S::Cjk, kForAll, ""},
      {"EUC-JP", "EUC-JP", S::Cjk, kForOthers, "EUCJP|UJIS|CSEUCPKDFMTJAPANESE"},
      {"BIG5", "BIG5", S::Cjk, kForAll, "CP950|MS950|BIGFIVE|CNBIG5|CSBIG5"},
      {"CP949", "CP949", S::Cjk, kForAll, "UHC|EUCKR|CSEUCKR|KSC5601|KSC56011987|KOREAN|MS949"},
      {"ISO-8859-7", "ISO-8859-7", S::Greek, kForOthers, "GREEK|GREEK8|ISOIR126"},
      {"CP1253", "CP1253", S::Greek, kForAll, "MSGREEK"},
      {"ISO-8859-9", "ISO-8859-9", S::Latin, kForOthers, "LATIN5|L5|ISOIR148"},
      {"CP1254", "CP1254", S::Latin, kForAll, "MSTURK"},
      {"ISO-8859-8", "ISO-8859-8", S::Hebrew, kForOthers, "HEBREW|ISOIR138"},
      {"CP1255", "CP1255", S::Hebrew, kForAll, "MSHEBR"},
      {"ISO-8859-6", "ISO-8859-6", S::Arabic, kForOthers, "ARABIC|ISOIR127"},
      {"CP1256", "CP1256", S::Arabic, kForAll, "MSARAB"},
      {"ISO-8859-13", "ISO-8859-13", S::Latin, 0, "LATIN7|ISOIR179"},
      {"CP1257", "CP1257", S::Latin, kForAll, "WINBALTRIM"},
      {"ISO-8859-4", "ISO-8859-4", S::Latin, 0, "LATIN4|L4|ISOIR110"},
      {"ISO-8859-10", "ISO-8859-10", S::Latin, 0, "LATIN6|L6|ISOIR157"},
      {"ISO-8859-3", "ISO-8859-3", S::Latin, 0, "LATIN3|L3|ISOIR109"},
      {"ISO-8859-14", "ISO-8859-14", S::Latin, 0, "LATIN8|L8|ISOIR199"},
      {"ISO-8859-16", "ISO-8859-16", S::Latin, 0, "LATIN10|L10|ISOIR226"},
      {"CP1258", "CP1258", S::Latin, kForAll, ""},
      // Offered for explicit choice only: rarer pages detection would confuse with the above.
      {"CP775", "CP775", S::Latin, 0, ""},
      {"CP855", "CP855", S::Cyrillic, 0, ""},
      {"CP860", "CP860", S::Latin, 0, ""},
      {"CP861", "CP861", S::Latin, 0, ""},
      {"CP863", "CP863", S::Latin, 0, ""},
      {"CP865", "CP865", S::Latin, 0, ""},
      {"CP869", "CP869", S::Greek, 0, ""},
      {"CP874", "CP874", S::Thai, 0, "TIS620"},
      {"ISO-8859-11", "ISO-8859-11", S::Thai, 0, ""},
      {"KOI8-RU", "KOI8-RU", S::Cyrillic, 0, ""},
      {"BIG5-HKSCS", "BIG5-HKSCS", S::Cjk, 0, "BIG5HKSCS"},
      {"MACINTOSH", "MACINTOSH", S::Latin, 0, "MAC|MACROMAN|CSMACINTOSH"},
  };
  return table;
}

namespace {

// Upper case without punctuation: "windows-1251" and "Windows_1251" read alike.
std::string squeeze(std::string_view s) {
  std::string out;
  for (char c : s)
    if (std::isalnum(static_cast<unsigned char>(c)))
      out += char(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool allDigits(std::string_view s) {
  if (s.empty()) return false;
  for (char c : s)
    if (c < '0' || c > '9') return false;
  return true;
}

// The systematic spellings: WINDOWS-1251, WIN1251, 1251 are CP1251, IBM866 is CP866;
// ISO_8859-5:1988 and ISO8859-5 are ISO-8859-5.
std::string systematic(std::string s) {
  if (allDigits(s)) return "CP" + s;
  for (std::string_view prefix : {"WINDOWS", "WIN", "MS", "CP", "IBM", "OEM"})
    if (s.rfind(prefix, 0) == 0 && allDigits(std::string_view(s).substr(prefix.size())))
      return "CP" + s.substr(prefix.size());
  if (s.rfind("ISO8859", 0) == 0) {
    std::string part = s.substr(7);
    // A registration year may follow the part number.
    if (part.size() > 4 && allDigits(part) &&
        (part.compare(part.size() - 4, 2, "19") == 0 ||
         part.compare(part.size() - 4, 2, "20") == 0))
      part.resize(part.size() - 4);
    if (allDigits(part) && part.size() <= 2) return "ISO8859" + std::to_string(std::stoi(part));
  }
  return s;
}

}  // namespace

const TCharsetInfo* findCharset(std::string_view name) {
  const std::string key = systematic(squeeze(name));
  if (key.empty()) return nullptr;
  for (const TCharsetInfo& info : charsetTable()) {
    if (systematic(squeeze(info.name)) == key) return &info;
    std::string_view aliases = info.aliases;
    while (!aliases.empty()) {
      size_t bar = aliases.find('|');
      if (systematic(std::string(aliases.substr(0, bar))) == key) return &info;
      aliases = bar == std::string_view::npos ? std::string_view() : aliases.substr(bar + 1);
    }
  }
  return nullptr;
}

}  // namespace quelt
