// The six listing orders, kept between runs.
#include "AppTestUtil.h"
#include "app/QtText.h"

namespace quelt::test {
namespace {

class Sorting : public TWindowTest {
 protected:
  std::string archive() {
    // Names, folders, dates and sizes all differ, so every order is its own.
    return zip("sort.zip", {
                               {"x/b.txt", std::string(30, 'b'), {2020, 5, 1, 10, 0, 0}},
                               {"y/a.txt", std::string(10, 'a'), {2022, 1, 1, 10, 0, 0}},
                               {"x/a.txt", std::string(20, 'a'), {2021, 1, 1, 10, 0, 0}},
                               {"C.TXT", std::string(5, 'c'), {2019, 1, 1, 10, 0, 0}},
                           });
  }
  QStringList fullNames() const {
    QStringList out;
    for (int r = 0; r < form->Listing().rowCount(); ++r)
      out << form->Listing().CellText(r, 5) + form->Listing().CellText(r, 0);
    return out;
  }
};

struct TOrder {
  const char* item;
  TZipSortMode mode;
  const char* settingsValue;
  QStringList expected;
};

const TOrder kOrders[] = {
    // Equal names keep the reverse of their archive order.
    {"SortbyName1", ByFileName, "SortByName", {"x\\a.txt", "y\\a.txt", "x\\b.txt", "C.TXT"}},
    {"SortbyDate1", ByDate, "SortByDate", {"y\\a.txt", "x\\a.txt", "x\\b.txt", "C.TXT"}},
    {"SortbyUncompressedSize1",
     ByUnCompressedSize,
     "SortByUnCompSize",
     {"x\\b.txt", "x\\a.txt", "y\\a.txt", "C.TXT"}},
    {"SortbyCompressedSize1",
     ByCompressedSize,
     "SortByCompSize",
     {"x\\b.txt", "x\\a.txt", "y\\a.txt", "C.TXT"}},
    {"SortbyPath1", ByName, "SortByPath", {"C.TXT", "x\\a.txt", "x\\b.txt", "y\\a.txt"}},
    {"SortbyOriginal1", ByNone, "SortByOriginal", {"x\\b.txt", "y\\a.txt", "x\\a.txt", "C.TXT"}},
};

TEST_F(Sorting, EachOrderChecksOnlyItsItemListsInItsOrderAndIsKeptAcrossARestart) {
  std::string path = archive();
  for (const TOrder& order : kOrders) {
    SCOPED_TRACE(order.item);
    TMainform& w = start();
    open(path);
    w.Command(order.item)->trigger();
    for (const TOrder& other : kOrders)
      EXPECT_EQ(w.Command(other.item)->isChecked(), &other == &order) << other.item;
    EXPECT_EQ(w.Engine().SortMode(), order.mode);
    EXPECT_EQ(fullNames(), order.expected);
    for (int i = 0; i < w.Engine().Count(); ++i)
      EXPECT_EQ(w.Listing().CellText(i, 0), TextToQt(w.Engine().Filename(i)));

    // Choosing an order reopens the archive, which puts it first in the recent files.
    EXPECT_EQ(w.RecentFiles()[0], PathToQt(path));

    TMainform& again = restart();
    EXPECT_EQ(storedText(order.settingsValue), "1");
    EXPECT_TRUE(again.Command(order.item)->isChecked());
    open(path);
    EXPECT_EQ(fullNames(), order.expected);
    form.reset();
  }
}

TEST_F(Sorting, DoSortReappliesTheCheckedOrder) {
  TMainform& w = start();
  open(archive());
  w.Command("SortbyDate1")->trigger();
  // Another program leaves the engine in a different order; DoSort brings the chosen one back.
  w.Engine().SortCatalogue(ByNone);
  w.DoSort();
  EXPECT_EQ(fullNames(), kOrders[1].expected);
  EXPECT_TRUE(w.Command("SortbyDate1")->isChecked());

  w.SetSortFalse();  // nothing checked: nothing happens
  w.Engine().SortCatalogue(ByNone);
  w.DoSort();
  EXPECT_EQ(w.Engine().SortMode(), ByNone);
}

TEST_F(Sorting, TheSortMenuNeedsAnArchive) {
  TMainform& w = start();
  EXPECT_FALSE(w.SortMenu()->menuAction()->isEnabled());
  open(archive());
  EXPECT_TRUE(w.SortMenu()->menuAction()->isEnabled());
}

}  // namespace
}  // namespace quelt::test
