// View > Name Encoding: names found or chosen, the choice kept per archive between runs.
#include <QMenu>

#include "AppTestUtil.h"
#include "app/QtText.h"
#include "support/Charsets.h"
#include "support/ZipBuilder.h"

namespace quelt::test {
namespace {

class NameEncodingMenu : public TWindowTest {
 protected:
  // Chinese names stored in GBK by a Windows tool, without the UTF-8 flag.
  std::string chineseArchive(const std::string& file) {
    ZipSpec spec;
    for (const char* name : {"工作报告.doc", "会议记录.txt", "财务报表.xls", "通知.txt"}) {
      spec.entries.push_back(stored(bytesIn("GBK", name), "x"));
      spec.entries.back().versionMadeBy = 0x0B14;
    }
    const std::string path = dir / file;
    writeFile(path, buildZip(spec));
    return path;
  }
  QAction* item(const char* name) {
    auto* action = form->findChild<QAction*>(name);
    EXPECT_NE(action, nullptr) << name;
    return action;
  }
  // The listing's names in any order: the window keeps its own sort order.
  QStringList names() const {
    QStringList out = column(TCatalogueModel::colFilename);
    out.sort();
    return out;
  }
  std::optional<std::string> remembered(const std::string& archive) const {
    TSettingsStore fresh(TSettingsStore::DefaultPath());
    return fresh.ReadString(LOCAL_MACHINE, "SOFTWARE\\Dunmarra\\Quelt\\NameEncoding", archive);
  }
};

const QStringList kChinese = [] {
  QStringList names = {"工作报告.doc", "会议记录.txt", "财务报表.xls", "通知.txt"};
  names.sort();
  return names;
}();

TEST_F(NameEncodingMenu, DetectedNamesSwitchWithTheChoiceAndTheChoiceIsKeptPerArchive) {
  const std::string chinese = chineseArchive("cn.zip"), other = chineseArchive("other.zip");
  start();
  auto* menu = form->findChild<QMenu*>("NameEncoding1");
  ASSERT_NE(menu, nullptr);
  EXPECT_EQ(menu->title(), "Name Encoding");
  EXPECT_EQ(item("NameEncodingDetect")->text(), "Detect");
  EXPECT_TRUE(item("NameEncodingDetect")->isChecked());

  open(chinese);
  EXPECT_EQ(names(), kChinese);
  // The menu shows which set was found.
  emit menu->aboutToShow();
  EXPECT_TRUE(item("NameEncoding_GBK")->font().bold());
  EXPECT_FALSE(item("NameEncoding_BIG5")->font().bold());

  // Another set re-reads the listing in it at once.
  item("NameEncoding_BIG5")->trigger();
  QStringList asBig5;
  for (const QString& name : kChinese)
    asBig5 << TextToQt(
        form->Engine().ActiveNameEncoding().Decode(bytesIn("GBK", TextFromQt(name)), false));
  asBig5.sort();
  EXPECT_EQ(names(), asBig5);
  EXPECT_NE(asBig5, kChinese);
  EXPECT_TRUE(item("NameEncoding_BIG5")->isChecked());
  EXPECT_FALSE(item("NameEncodingDetect")->isChecked());
  EXPECT_EQ(remembered(chinese), "BIG5");

  // Another archive starts from Detect; the first keeps its choice across runs.
  open(other);
  EXPECT_EQ(names(), kChinese);
  EXPECT_TRUE(item("NameEncodingDetect")->isChecked());
  restart();
  open(chinese);
  EXPECT_EQ(names(), asBig5);
  EXPECT_TRUE(item("NameEncoding_BIG5")->isChecked());

  // Detect again forgets the choice.
  item("NameEncodingDetect")->trigger();
  EXPECT_EQ(names(), kChinese);
  EXPECT_EQ(remembered(chinese), std::nullopt);
}

TEST_F(NameEncodingMenu, AChoiceTheStoreHoldsButNoOneKnowsMeansDetect) {
  const std::string chinese = chineseArchive("cn.zip");
  {
    TSettingsStore s(TSettingsStore::DefaultPath());
    s.WriteString(LOCAL_MACHINE, "SOFTWARE\\Dunmarra\\Quelt\\NameEncoding", chinese, "klingon");
    s.Flush();
  }
  start();
  open(chinese);
  EXPECT_EQ(names(), kChinese);
  EXPECT_TRUE(item("NameEncodingDetect")->isChecked());
}

}  // namespace
}  // namespace quelt::test
