// Archives whose names and comments were stored in a legacy code page, without the UTF-8 flag:
// listed and extracted with their real names, found or chosen, and written back unchanged.
#include <gtest/gtest.h>

#include <algorithm>

#include "engine/ZipEngine.h"
#include "engine/ZipLib.h"
#include "support/Charsets.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

using namespace quelt;
using namespace quelt::test;

namespace {

constexpr uint16_t kDos = 0x0014, kNtfs = 0x0B14;

struct TLegacySet {
  const char* charset;
  uint16_t madeBy;
  std::vector<std::string> names;  // folders end in "/"
  std::string comment;
};

// Eight names each, folders among them. The Japanese set holds "ソ" and "表", whose second
// byte is "\": it must not split the name on a DOS host.
const TLegacySet kSets[] = {
    {"CP866",
     kDos,
     {"Привет мир.txt", "Отчёт за март.doc", "Фотографии/", "Фотографии/лето.jpg",
      "Договор аренды.pdf", "Список покупок.txt", "Новая папка/", "Письмо директору.doc"},
     "Архив документов"},
    {"CP1251",
     kNtfs,
     {"Привет мир.txt", "Отчёт за март.doc", "Фотографии/", "Фотографии/лето.jpg",
      "Договор аренды.pdf", "Список покупок.txt", "Презентация.ppt", "Письмо директору.doc"},
     "Архив документов"},
    {"GBK",
     kNtfs,
     {"新建文件夹/", "新建文件夹/工作报告.doc", "会议记录.txt", "照片/", "财务报表.xls",
      "项目计划书.doc", "通知.txt", "合同范本.pdf"},
     "会议文件"},
    {"CP932",
     kDos,
     {"新しいフォルダ/", "新しいフォルダ/会議資料.doc", "写真/", "見積書.xls",
      "ソフトウェア仕様書.txt", "表計算.xls", "お知らせ.txt", "議事録.pdf"},
     "会議の資料"},
    {"BIG5",
     kNtfs,
     {"新增資料夾/", "新增資料夾/工作報告.doc", "會議記錄.txt", "照片/", "財務報表.xls",
      "專案計畫書.doc", "通知.txt", "合約範本.pdf"},
     "會議文件"},
    {"CP949",
     kNtfs,
     {"새 폴더/", "새 폴더/업무 보고서.doc", "회의록.txt", "사진/", "재무제표.xls",
      "프로젝트 계획서.doc", "공지사항.txt", "계약서.pdf"},
     "회의 자료"},
    {"CP437",
     kDos,
     {"Café.txt", "Résumé.doc", "Über uns/", "Über uns/Größe.xls", "Mañana.doc", "naïve.txt",
      "Élève.txt", "Señor.doc"},
     "Données"},
};

// One archive in the set: entry comment on the second entry, archive comment too.
ZipSpec legacyArchive(const TLegacySet& set) {
  ZipSpec spec;
  for (const std::string& name : set.names) {
    ZipEntrySpec e = stored(bytesIn(set.charset, name), name.back() == '/' ? "" : name);
    e.versionMadeBy = set.madeBy;
    if (name.back() == '/') e.externalAttributes = 0x10;
    spec.entries.push_back(e);
  }
  spec.entries[1].comment = bytesIn(set.charset, set.comment + "\r\n" + set.comment);
  spec.archiveComment = bytesIn(set.charset, set.comment);
  return spec;
}

struct StoredNames : ::testing::Test {
  TempDir dir;
  TZipEngine engine;
  void SetUp() override {
    engine.TempPath = dir.path();
    engine.OverwriteMode = Always;
    engine.RecreateDirs = true;
  }
  std::vector<std::string> listed() {
    std::vector<std::string> names;
    for (int i = 0; i < engine.Count(); ++i) names.push_back(Slashed(engine.Entry(i).FullName()));
    return names;
  }
  // The paths under `folder`, "/" after folders, sorted.
  std::vector<std::string> onDisk(const std::string& folder) {
    RunResult r = run("cd " + shq(folder) +
                      " && find . -mindepth 1 \\( -type d -printf '%P/\\n' "
                      "\\) -o -printf '%P\\n' | LC_ALL=C sort");
    std::vector<std::string> paths;
    for (size_t at = 0; at < r.out.size();) {
      size_t end = r.out.find('\n', at);
      paths.push_back(r.out.substr(at, end - at));
      at = end + 1;
    }
    return paths;
  }
};

TEST_F(StoredNames, LegacyArchivesListAndExtractFoundOrChosen) {
  for (const TLegacySet& set : kSets) {
    SCOPED_TRACE(set.charset);
    const std::string archive = dir / (std::string(set.charset) + ".zip");
    writeFile(archive, buildZip(legacyArchive(set)));
    std::vector<std::string> expected = set.names;
    std::sort(expected.begin(), expected.end());
    // Found from the names, then named by the user in another spelling.
    for (const std::string choice : {"", set.charset}) {
      SCOPED_TRACE("choice " + choice);
      engine.SetNameEncoding(choice);
      engine.SetZipName(archive);
      engine.LoadCatalogue();
      EXPECT_EQ(engine.ActiveNameEncoding().Charset(), set.charset);
      EXPECT_EQ(engine.ActiveNameEncoding().Detected(), choice.empty());
      EXPECT_EQ(listed(), set.names);
      EXPECT_EQ(engine.EntryComment(1), set.comment + "\r\n" + set.comment);
      EXPECT_EQ(engine.ArchiveComment(), set.comment);

      const std::string out = dir / (std::string(set.charset) + "-out" + choice);
      engine.SetDestDir(out);
      engine.DoAll = true;
      EXPECT_EQ(engine.ExtractEntries(), int(set.names.size()));
      EXPECT_EQ(onDisk(out), expected);
      const std::string& file = set.names[1];
      EXPECT_EQ(readText(out + "/" + file), file);
      engine.SetZipName("");
    }
  }
}

TEST_F(StoredNames, AnotherChoiceReadsTheOpenCatalogueAgain) {
  const TLegacySet& russian = kSets[0];
  writeFile(dir / "a.zip", buildZip(legacyArchive(russian)));
  engine.SetZipName(dir / "a.zip");
  engine.SortCatalogue(ByName);
  engine.LoadCatalogue();
  EXPECT_EQ(engine.Filename(0), "Договор аренды.pdf");
  // CP1251 reads the CP866 bytes as other letters: the listing follows.
  engine.SetNameEncoding("windows-1251");
  EXPECT_EQ(engine.NameEncoding(), "CP1251");
  const std::vector<std::string> names = listed();
  const std::string misread = textIn("CP1251", bytesIn("CP866", "Привет мир.txt"));
  EXPECT_NE(std::find(names.begin(), names.end(), misread), names.end());
  EXPECT_EQ(std::find(names.begin(), names.end(), "Привет мир.txt"), names.end());
  engine.SetNameEncoding("");
  EXPECT_EQ(engine.Filename(0), "Договор аренды.pdf");
  EXPECT_THROW(engine.SetNameEncoding("klingon"), EUnknownCharset);
  EXPECT_EQ(engine.NameEncoding(), "");  // a refused choice changes nothing
}

TEST_F(StoredNames, FlaggedUtf8AndUnflaggedLegacyNamesEachStayRight) {
  ZipSpec spec;
  const std::vector<std::string> legacy = {"Привет мир.txt", "Отчёт за март.doc",
                                           "Список покупок.txt", "Письмо директору.doc"};
  const std::vector<std::string> flagged = {"日本語.txt", "Ελληνικά.doc", "Ünïcödé.txt"};
  for (const std::string& name : legacy) {
    spec.entries.push_back(stored(bytesIn("CP866", name), name));
    spec.entries.back().versionMadeBy = kDos;
  }
  for (const std::string& name : flagged) {
    spec.entries.push_back(stored(name, name));
    spec.entries.back().flags = 0x0800;
    spec.entries.back().versionMadeBy = kDos;
  }
  writeFile(dir / "mixed.zip", buildZip(spec));
  engine.SetZipName(dir / "mixed.zip");
  engine.LoadCatalogue();
  EXPECT_EQ(engine.ActiveNameEncoding().Charset(), "CP866");
  std::vector<std::string> expected = legacy;
  expected.insert(expected.end(), flagged.begin(), flagged.end());
  EXPECT_EQ(listed(), expected);
  // A chosen set does not touch flagged names either.
  engine.SetNameEncoding("CP437");
  EXPECT_EQ(listed().back(), "Ünïcödé.txt");
  EXPECT_NE(listed().front(), legacy.front());
}

TEST_F(StoredNames, UndecodableBytesAreShownEscapedAndExtractUnderThatName) {
  const std::string m = "\xEF\xBF\xBD";  // U+FFFD
  struct TCase {
    std::string raw;
    std::string shown;
  };
  // GBK names, one cut in the middle of a character, one with a terminal escape.
  const TCase cases[] = {
      {bytesIn("GBK", "会议记录.txt"), "会议记录.txt"},
      {bytesIn("GBK", "工作报告.doc"), "工作报告.doc"},
      {bytesIn("GBK", "财务报表") + "\xB1", "财务报表" + m + "B1"},
      {"\x1B[2Jclear.txt", m + "1B[2Jclear.txt"},
  };
  ZipSpec spec;
  for (const TCase& c : cases) {
    spec.entries.push_back(stored(c.raw, "x"));
    spec.entries.back().versionMadeBy = kNtfs;
  }
  writeFile(dir / "bad.zip", buildZip(spec));
  engine.SetZipName(dir / "bad.zip");
  engine.LoadCatalogue();
  ASSERT_EQ(engine.ActiveNameEncoding().Charset(), "GBK");
  for (size_t i = 0; i < std::size(cases); ++i) {
    EXPECT_EQ(engine.Filename(int(i)), cases[i].shown);
    // The shown name leads back to the stored bytes.
    EXPECT_EQ(engine.ActiveNameEncoding().Encode(cases[i].shown, false), cases[i].raw);
  }
  engine.SetDestDir(dir / "out");
  engine.DoAll = true;
  EXPECT_EQ(engine.ExtractEntries(), 4);
  EXPECT_TRUE(fileExists(dir / "out/财务报表" + m + "B1"));
  EXPECT_TRUE(fileExists(dir / "out/" + m + "1B[2Jclear.txt"));
  // The extracted name selects its entry again.
  engine.DoAll = false;
  engine.SelectedNames = {"财务报表" + m + "B1"};
  EXPECT_EQ(engine.ExtractEntries(), 1);
}

TEST_F(StoredNames, RewritingKeepsUnchangedNamesByteForByte) {
  const TLegacySet& russian = kSets[0];
  ZipSpec spec = legacyArchive(russian);
  const std::string archive = dir / "ru.zip";
  writeFile(archive, buildZip(spec));
  writeFile(dir / "src/plain.txt", std::string("ascii"));
  writeFile(dir / "src/Новый.txt", std::string("new"));

  engine.SetZipName(archive);
  engine.LoadCatalogue();
  engine.SetStorePaths(false);
  engine.FilesList = {dir / "src/plain.txt", dir / "src/Новый.txt"};
  EXPECT_EQ(engine.CompressFiles(), 2);

  TUnZipEngine reread;
  reread.SetZipName(archive);
  reread.LoadCatalogue();
  ASSERT_EQ(reread.Count(), int(spec.entries.size()) + 2);
  EXPECT_EQ(reread.ActiveNameEncoding().Charset(), "CP866");
  const std::string file = readText(archive);
  for (int i = 0; i < reread.Count(); ++i) {
    const TZipHeaderInfo& e = reread.Entry(i);
    const std::string full = Slashed(e.FullName());
    if (full == "plain.txt") {
      EXPECT_EQ(e.StoredName(), "plain.txt");
      EXPECT_FALSE(e.BitFlag & 0x0800);
    } else if (full == "Новый.txt") {
      EXPECT_EQ(e.StoredName(), "Новый.txt");  // written as UTF-8, flagged
      EXPECT_TRUE(e.BitFlag & 0x0800);
    } else {
      auto it = std::find(russian.names.begin(), russian.names.end(), full);
      ASSERT_NE(it, russian.names.end()) << full;
      const std::string& raw = spec.entries[size_t(it - russian.names.begin())].name;
      EXPECT_EQ(e.StoredName(), raw) << full;
      EXPECT_FALSE(e.BitFlag & 0x0800) << full;
      // Local header and central header both carry the old bytes.
      size_t seen = 0;
      for (size_t at = file.find(raw); at != std::string::npos; at = file.find(raw, at + 1)) ++seen;
      EXPECT_GE(seen, 2u) << full;
    }
  }
  EXPECT_EQ(reread.EntryComment(1), russian.comment + "\r\n" + russian.comment);
  EXPECT_EQ(reread.ArchiveComment(), russian.comment);
}

TEST_F(StoredNames, Utf8ArchiveCommentStaysBesideLegacyNames) {
  ZipSpec spec = legacyArchive(kSets[0]);
  spec.archiveComment = "Комментарий в UTF-8\nвторая строка";
  writeFile(dir / "c.zip", buildZip(spec));
  engine.SetZipName(dir / "c.zip");
  engine.LoadCatalogue();
  EXPECT_EQ(engine.ActiveNameEncoding().Charset(), "CP866");
  EXPECT_EQ(engine.ArchiveComment(), spec.archiveComment);
  EXPECT_EQ(engine.Filename(0), "Привет мир.txt");
}

}  // namespace
