#include <gtest/gtest.h>

#include "engine/CodePage.h"
#include "engine/NameEncoding.h"
#include "support/Charsets.h"
#include "support/TestUtil.h"

using namespace quelt;

namespace {

constexpr uint16_t kDos = 0x0014, kNtfs = 0x0B14, kUnix = 0x031E;

using test::bytesIn;
using test::textIn;

struct NameSet {
  const char* label;
  const char* storedIn;  // what the creator wrote
  uint16_t madeBy;
  std::vector<std::string> names;
  const char* detected;
};

const std::vector<std::string> kRussian = {
    "Привет мир.txt",     "Отчёт за март.doc", "Фотографии/",  "Договор аренды.pdf",
    "Список покупок.txt", "Презентация.ppt",   "Новая папка/", "Письмо директору.doc"};
const std::vector<std::string> kRussianLower = {"документы/",      "отчёт.doc",  "фото/",
                                                "письмо маме.txt", "счёт.pdf",   "музыка/",
                                                "заметки.txt",     "архив 2020/"};
const std::vector<std::string> kChinese = {"新建文件夹/", "工作报告.doc", "会议记录.txt",
                                           "照片/",       "财务报表.xls", "项目计划书.doc",
                                           "通知.txt",    "合同范本.pdf"};
const std::vector<std::string> kJapanese = {
    "新しいフォルダ/",        "会議資料.doc", "写真/",        "見積書.xls",
    "ソフトウェア仕様書.txt", "表計算.xls",   "お知らせ.txt", "議事録.pdf"};
const std::vector<std::string> kTaiwanese = {"新增資料夾/", "工作報告.doc", "會議記錄.txt",
                                             "照片/",       "財務報表.xls", "專案計畫書.doc",
                                             "通知.txt",    "合約範本.pdf"};
const std::vector<std::string> kKorean = {"새 폴더/",     "업무 보고서.doc", "회의록.txt",
                                          "사진/",        "재무제표.xls",    "프로젝트 계획서.doc",
                                          "공지사항.txt", "계약서.pdf"};
const std::vector<std::string> kWestern = {"Café.txt",  "Résumé.doc", "Über uns.txt", "Mañana.doc",
                                           "Größe.xls", "naïve.txt",  "Élève.txt",    "Señor.doc"};
const std::vector<std::string> kPortuguese = {
    "São Paulo.txt", "Ørsted.doc",    "Ação.txt",  "Informação.doc",
    "Ângela.xls",    "Øl og mad.txt", "Álbum.txt", "Lisboa à noite.doc"};
const std::vector<std::string> kPolish = {"Zażółć gęślą jaźń.txt",
                                          "Łódź.doc",
                                          "Kraków/",
                                          "Gdańsk.xls",
                                          "Příliš žluťoučký kůň.txt",
                                          "Sprawozdanie końcowe.doc",
                                          "Źródła.pdf",
                                          "Wrocław.txt"};
const std::vector<std::string> kGreek = {"Καλημέρα.txt",  "Έγγραφα/",        "Αναφορά.doc",
                                         "Φωτογραφίες/",  "Λογαριασμός.xls", "Σημειώσεις.txt",
                                         "Συμβόλαιο.pdf", "Παρουσίαση.ppt"};
const std::vector<std::string> kHebrew = {"שלום עולם.txt", "מסמכים/",   "דוח שנתי.doc", "תמונות/",
                                          "חשבונית.xls",   "הערות.txt", "חוזה.pdf",     "מצגת.ppt"};
const std::vector<std::string> kTurkish = {
    "Günaydın.txt",        "Belgeler/",  "Şirket raporu.doc", "Fotoğraflar/",
    "Hesap çizelgesi.xls", "Notlar.txt", "Sözleşme.pdf",      "Işık.ppt"};

constexpr uint16_t kUnknown = 0xFFFF;  // names found by walking local headers

std::vector<TStoredText> stored(const std::vector<std::string>& raws, uint16_t madeBy) {
  std::vector<TStoredText> texts;
  for (const std::string& raw : raws)
    texts.push_back({raw, madeBy == kUnknown ? uint16_t(0) : madeBy, madeBy != kUnknown, false});
  return texts;
}

}  // namespace

TEST(NameEncoding, DetectsTheSetOfEachArchiveAndDecodesItsNames) {
  const NameSet sets[] = {
      {"Russian DOS", "CP866", kDos, kRussian, "CP866"},
      {"Russian ANSI", "CP1251", kNtfs, kRussian, "CP1251"},
      {"Russian ANSI, lower case", "CP1251", kDos, kRussianLower, "CP1251"},
      {"Chinese", "GBK", kNtfs, kChinese, "GBK"},
      {"Japanese", "CP932", kDos, kJapanese, "CP932"},
      {"Taiwanese", "BIG5", kNtfs, kTaiwanese, "BIG5"},
      {"Korean", "CP949", kNtfs, kKorean, "CP949"},
      {"Western DOS", "CP437", kDos, kWestern, "CP437"},
      {"Portuguese DOS", "CP850", kDos, kPortuguese, "CP850"},
      {"Polish DOS", "CP852", kDos, kPolish, "CP852"},
      {"Greek DOS", "CP737", kDos, kGreek, "CP737"},
      {"Hebrew DOS", "CP862", kDos, kHebrew, "CP862"},
      {"Turkish DOS", "CP857", kDos, kTurkish, "CP857"},
      {"Western Unix", "ISO-8859-1", kUnix, kWestern, "ISO-8859-1"},
      {"Polish Unix", "ISO-8859-2", kUnix, kPolish, "ISO-8859-2"},
      {"Polish Windows on Unix", "CP1250", kUnix, kPolish, "CP1250"},
      {"Russian Unix", "KOI8-R", kUnix, kRussian, "KOI8-R"},
      {"Russian Windows on Unix", "CP1251", kUnix, kRussian, "CP1251"},
      {"Greek Unix", "ISO-8859-7", kUnix, kGreek, "ISO-8859-7"},
      {"Japanese Unix", "EUC-JP", kUnix, kJapanese, "EUC-JP"},
      // Info-ZIP's zip on Linux stores file names' bytes as they are on disk.
      {"UTF-8 locale", "UTF-8", kUnix, kChinese, "UTF-8"},
      {"DOS bytes on a Linux disk", "CP866", kUnix, kRussian, "CP866"},
      {"Japanese bytes on a Linux disk", "CP932", kUnix, kJapanese, "CP932"},
      // GBK names whose bytes happen to be valid UTF-8 (combining marks, Hebrew accents...).
      {"Chinese names passing for UTF-8", "GBK", kUnix, {"通知.txt", "学习/", "小说.txt"}, "GBK"},
      // Some Windows tools write UTF-8 without setting the flag.
      {"UTF-8 from Windows, unflagged", "UTF-8", kNtfs, kWestern, "UTF-8"},
      // macOS writes names decomposed: letters followed by combining accents.
      {"Decomposed UTF-8", "UTF-8", 0x1314, {"Cafe\u0301.txt", "Re\u0301sume\u0301.doc"}, "UTF-8"},
      {"Damaged, DOS bytes", "CP866", kUnknown, kRussian, "CP866"},
      {"Damaged, UTF-8", "UTF-8", kUnknown, kKorean, "UTF-8"},
      {"GB18030 beyond GBK",
       "GB18030",
       kNtfs,
       {"会议记录.txt", "张䶮的照片/", "通知€.txt"},
       "GB18030"},
  };
  for (const NameSet& set : sets) {
    std::vector<std::string> raws;
    for (const std::string& name : set.names) raws.push_back(bytesIn(set.storedIn, name));
    TNameEncoding enc = TNameEncoding::Detect(stored(raws, set.madeBy));
    EXPECT_EQ(enc.Charset(), set.detected) << set.label;
    EXPECT_TRUE(enc.Detected());
    for (size_t i = 0; i < raws.size(); ++i) {
      EXPECT_EQ(enc.Decode(raws[i], false), set.names[i]) << set.label;
      EXPECT_EQ(enc.Encode(set.names[i], false), raws[i]) << set.label;
    }
  }
}

TEST(NameEncoding, FlaggedNamesStayUtf8BesideUnflaggedOnes) {
  std::vector<std::string> raws;
  std::vector<TStoredText> texts;
  for (const std::string& name : kRussian) raws.push_back(bytesIn("CP866", name));
  for (const std::string& raw : raws) texts.push_back({raw, kNtfs, true, false});
  // Flagged names in another script, ASCII names, and an archive comment without a host.
  for (const std::string& name : kChinese) texts.push_back({name, kNtfs, true, true});
  texts.push_back({"readme.txt", kNtfs, true, false});
  const std::string comment = bytesIn("CP866", "Архив проекта");
  texts.push_back({comment, 0, false, false});

  TNameEncoding enc = TNameEncoding::Detect(texts);
  EXPECT_EQ(enc.Charset(), "CP866");
  for (size_t i = 0; i < raws.size(); ++i) EXPECT_EQ(enc.Decode(raws[i], false), kRussian[i]);
  for (const std::string& name : kChinese) EXPECT_EQ(enc.Decode(name, true), name);
  EXPECT_EQ(enc.Decode(comment, false), "Архив проекта");
  EXPECT_EQ(enc.Encode(kChinese[1], true), kChinese[1]);
}

TEST(NameEncoding, OneLegacyNameAmongUtf8OnesIsEscapedNotGarbled) {
  std::vector<std::string> raws(kRussian.begin(), kRussian.begin() + 5);
  const std::string legacy = bytesIn("CP1251", "Отчёт.doc");
  raws.push_back(legacy);
  TNameEncoding enc = TNameEncoding::Detect(stored(raws, kUnix));
  EXPECT_EQ(enc.Charset(), "UTF-8");
  for (size_t i = 0; i < 5; ++i) EXPECT_EQ(enc.Decode(raws[i], false), kRussian[i]);
  const std::string m = "\xEF\xBF\xBD";
  EXPECT_EQ(enc.Decode(legacy, false), m + "CE" + m + "F2" + m + "F7" + m + "B8" + m + "F2.doc");
  EXPECT_EQ(TNameEncoding::Named("CP1251").Decode(legacy, false), "Отчёт.doc");
}

TEST(NameEncoding, Cp437StaysUnlessAnotherSetIsClearlyBetter) {
  const std::vector<std::string> ascii = {"README.TXT", "src/main.c", "docs/", "a b.txt"};
  // DOS users decorated names with box drawing; other pages read those bytes as letters.
  const std::vector<std::string> boxes = {"════════.txt",       "╔══╗ MENU ╚══╝/", "░▒▓█ data.dat",
                                          "──── Archive ────/", "│ notes │.txt",   "README.TXT"};
  const std::vector<std::string> shared = {"Café.txt", "Über.doc", "Señor.txt"};  // 437 = 850
  for (const auto* names : {&ascii, &boxes, &shared}) {
    for (uint16_t host : {kDos, kUnix}) {
      std::vector<std::string> raws;
      for (const std::string& name : *names) raws.push_back(bytesIn("CP437", name));
      TNameEncoding enc = TNameEncoding::Detect(stored(raws, host));
      EXPECT_EQ(enc.Charset(), "CP437") << names->front() << " host " << host;
      for (size_t i = 0; i < raws.size(); ++i) EXPECT_EQ(enc.Decode(raws[i], false), (*names)[i]);
    }
  }
  EXPECT_EQ(TNameEncoding::Detect({}).Charset(), "CP437");
  EXPECT_EQ(TNameEncoding().Charset(), "CP437");
  EXPECT_FALSE(TNameEncoding().Detected());
}

TEST(NameEncoding, UsersChoiceIsAcceptedInCommonSpellings) {
  const std::pair<const char*, const char*> spellings[] = {
      {"CP866", "CP866"},
      {"cp866", "CP866"},
      {"IBM866", "CP866"},
      {"866", "CP866"},
      {"SJIS", "CP932"},
      {"Shift_JIS", "CP932"},
      {"cp932", "CP932"},
      {"GBK", "GBK"},
      {"gb2312", "GBK"},
      {"CP936", "GBK"},
      {"GB18030", "GB18030"},
      {"BIG5", "BIG5"},
      {"big-5", "BIG5"},
      {"CP950", "BIG5"},
      {"UHC", "CP949"},
      {"CP949", "CP949"},
      {"euc-kr", "CP949"},
      {"ISO-8859-5", "ISO-8859-5"},
      {"iso8859-5", "ISO-8859-5"},
      {"ISO_8859-5:1988", "ISO-8859-5"},
      {"windows-1251", "CP1251"},
      {"WIN1251", "CP1251"},
      {"latin1", "ISO-8859-1"},
      {"utf8", "UTF-8"},
      {"koi8-r", "KOI8-R"},
      {"EUC-JP", "EUC-JP"},
  };
  for (const auto& [spelling, canonical] : spellings) {
    EXPECT_EQ(canonicalCharsetName(spelling).value_or("?"), canonical) << spelling;
    EXPECT_EQ(TNameEncoding::Named(spelling).Charset(), canonical) << spelling;
    EXPECT_FALSE(TNameEncoding::Named(spelling).Detected());
  }
  for (const char* unknown :
       {"", "FOO", "CP99999", "ISO-8859-12", "ISO-8859-99999999999999", "UTF-16", "ISO-2022-JP"}) {
    EXPECT_FALSE(canonicalCharsetName(unknown)) << unknown;
    try {
      TNameEncoding::Named(unknown);
      ADD_FAILURE() << unknown << " was accepted";
    } catch (const EUnknownCharset& e) {
      EXPECT_EQ(e.what(), "Unknown name encoding \"" + std::string(unknown) + "\"");
    }
  }
}

TEST(NameEncoding, ChosenSetOverridesWhatDetectionWouldSay) {
  // Lower-case Russian in CP1251 and in KOI8-R share their bytes' range; the user decides.
  const std::string raw = bytesIn("CP1251", "отчёт.doc");
  EXPECT_EQ(TNameEncoding::Named("windows-1251").Decode(raw, false), "отчёт.doc");
  EXPECT_EQ(TNameEncoding::Named("KOI8-R").Decode(raw, false), textIn("KOI8-R", raw));
  EXPECT_EQ(TNameEncoding::Named("CP437").Decode(raw, false), cp437ToUtf8(raw));
  // Shift-JIS' second bytes may be "\": read as a whole character, never as a separator.
  EXPECT_EQ(TNameEncoding::Named("SJIS").Decode(bytesIn("CP932", "表\\ソ"), false), "表\\ソ");
}

TEST(NameEncoding, EveryOfferedSetOpensAndKeepsAsciiAsItIs) {
  std::string ascii;
  for (int c = 0x20; c < 0x7F; ++c) ascii += char(c);
  for (const TCharsetChoice& choice : nameEncodingChoices()) {
    TNameEncoding enc = TNameEncoding::Named(choice.charset);
    EXPECT_EQ(enc.Charset(), choice.charset);
    EXPECT_EQ(enc.Decode(ascii, false), ascii) << choice.charset;
    EXPECT_EQ(enc.Encode(ascii, false), ascii) << choice.charset;
  }
}

TEST(NameEncoding, UndecodableBytesAreEscapedVisibly) {
  const std::string m = "\xEF\xBF\xBD";  // U+FFFD
  struct Case {
    const char* charset;
    std::string raw;
    bool flag;
    std::string shown;
  } cases[] = {
      {"CP437", "caf\xE9.txt", true, "caf" + m + "E9.txt"},  // flagged but not UTF-8
      {"UTF-8", "\xC3\x28.txt", false, m + "C3(.txt"},
      {"CP932", "\x81 x", false, m + "81 x"},       // lead byte without its second
      {"CP932", "ab\x95", false, "ab" + m + "95"},  // cut short
      {"GBK", "\xFF\xB0\xA1", false, m + "FF啊"},
      {"CP866", std::string("a\0b", 3), false, "a" + m + "00b"},
      {"CP437", "\x1B[31mred", false, m + "1B[31mred"},  // controls upset terminals
      {"ISO-8859-1", "x\x85y\x7F", false, "x" + m + "85y" + m + "7F"},
      {"UTF-8", "\xC2\x85", true, m + "C2" + m + "85"},
      {"CP1251", "\x98", false, m + "98"},  // the one hole in the page
      // A real U+FFFD is doubled only where an escape could be read instead.
      {"UTF-8", "x" + m + ".txt", true, "x" + m + ".txt"},
      {"UTF-8", "x" + m + "AB", true, "x" + m + m + "AB"},
      {"UTF-8", m + m, true, m + m + m},
      {"UTF-8", m + "\xE9", true, m + m + m + "E9"},
      {"UTF-8", "100%E9.txt", true, "100%E9.txt"},
  };
  for (const Case& c : cases) {
    TNameEncoding enc = TNameEncoding::Named(c.charset);
    EXPECT_EQ(enc.Decode(c.raw, c.flag), c.shown) << c.charset << " " << c.raw;
    EXPECT_EQ(enc.Encode(c.shown, c.flag), c.raw) << c.charset << " " << c.raw;
  }
  EXPECT_FALSE(TNameEncoding::Named("CP866").Encode("日本", false));
  EXPECT_FALSE(TNameEncoding::Named("CP866").Encode("x" + m, false));
  EXPECT_FALSE(TNameEncoding::Named("UTF-8").Encode("\xC3", true));
}

TEST(NameEncoding, EveryStoredNameRoundTripsThroughItsDisplayForm) {
  // Random bytes, weighted towards the high half and the escape's own characters.
  const char* sets[] = {"UTF-8", "CP437",   "CP866", "ISO-8859-1", "CP1251", "CP932",
                        "GBK",   "GB18030", "BIG5",  "CP949",      "EUC-JP"};
  for (const char* name : sets) {
    TNameEncoding enc = TNameEncoding::Named(name);
    for (uint32_t seed = 1; seed <= 300; ++seed) {
      std::vector<uint8_t> bytes = test::randomBytes(1 + seed % 24, seed);
      std::string raw(bytes.begin(), bytes.end());
      if (seed % 3 == 0)
        raw.insert(seed % raw.size(),
                   "\xEF\xBF\xBD"
                   "A0");
      std::string shown = enc.Decode(raw, false);
      ASSERT_TRUE(isValidUtf8(shown)) << name << " seed " << seed;
      for (char c : shown) ASSERT_TRUE(uint8_t(c) >= 0x20 && c != 0x7F) << name << " " << seed;
      ASSERT_EQ(enc.Encode(shown, false), raw) << name << " seed " << seed;
    }
  }
}
