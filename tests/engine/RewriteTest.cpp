// Rewriting an archive for a change: the entries kept come out in their order, duplicates
// and all; a source named twice is reported against the entry that holds the name; a run
// that fails leaves the catalogue as it was.
#include <gtest/gtest.h>

#include <stdexcept>

#include "engine/ZipEngine.h"
#include "support/TestUtil.h"
#include "support/ZipBuilder.h"

using namespace quelt;
using namespace quelt::test;

namespace {

struct Rewrite : ::testing::Test {
  TempDir dir;
  TZipEngine engine;
  std::string zip() { return dir / "a.zip"; }
  void SetUp() override { engine.TempPath = dir.path(); }
  std::string file(const std::string& name, const std::string& text) {
    writeFile(dir / name, text);
    return dir / name;
  }
  // An archive written by another tool, in an order that is not its names'.
  void make(const std::vector<std::string>& names) {
    ZipSpec spec;
    for (const auto& n : names) spec.entries.push_back(stored(n, "data of " + n));
    // A local extra field of its own on the second entry: it travels with the data.
    if (spec.entries.size() > 1) spec.entries[1].extra = std::string("\xfe\xca\x02\x00xy", 6);
    writeFile(zip(), buildZip(spec));
    engine.SetZipName("");
    engine.SetZipName(zip());
  }
  // Entries whose data reads back with the right CRC, by the engine's own catalogue.
  int tested() {
    engine.TestOnly = true;
    engine.DoAll = true;
    int n = engine.ExtractEntries();
    engine.TestOnly = false;
    return n;
  }
  std::vector<std::string> catalogue() {
    std::vector<std::string> n;
    for (int i = 0; i < engine.Count(); ++i) n.push_back(engine.Entry(i).FullName());
    return n;
  }
  std::vector<std::string> onDisk() {
    TUnZipEngine reader;
    reader.SetZipName(zip());
    reader.LoadCatalogue();
    std::vector<std::string> n;
    for (int i = 0; i < reader.Count(); ++i) n.push_back(reader.Entry(i).FullName());
    return n;
  }
};

}  // namespace

TEST_F(Rewrite, KeptEntriesKeepTheirOrderAndDuplicates) {
  const std::vector<std::string> start = {"z.txt", "a.txt", "m/x.txt", "a.txt", "A.TXT"};
  struct TCase {
    const char* what;
    bool removing;
    std::vector<std::string> files;
    std::vector<std::string> expected;
  };
  const TCase cases[] = {
      {"add", false, {"new.txt"}, {"z.txt", "a.txt", "m\\x.txt", "a.txt", "A.TXT", "new.txt"}},
      // A literal name takes away the first entry holding it; its namesake stays.
      {"remove one", true, {"a.txt"}, {"z.txt", "m\\x.txt", "a.txt", "A.TXT"}},
      {"remove in a folder", true, {"m\\x.txt"}, {"z.txt", "a.txt", "a.txt", "A.TXT"}},
      // A mask without a folder looks at file names only, in either letter case.
      {"remove by mask", true, {"a.*"}, {"z.txt", "m\\x.txt"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    make(start);
    engine.FilesList.clear();
    for (const auto& f : c.files) engine.FilesList.push_back(c.removing ? f : file(f, "new"));
    if (c.removing)
      engine.RemoveEntries();
    else
      engine.CompressFiles();
    EXPECT_EQ(catalogue(), c.expected);
    EXPECT_EQ(onDisk(), c.expected);
    // Every kept entry still reads: its data was copied where its new offset says.
    EXPECT_EQ(tested(), int(c.expected.size()));
  }
}

TEST_F(Rewrite, ASourceNamedTwiceIsReportedAgainstTheEntryHoldingTheName) {
  struct TCase {
    const char* what;
    bool updating;  // the archive already holds the names
    std::vector<std::string> sources;
    std::vector<std::string> skipped;  // names of the entries the handler was shown
    std::vector<std::string> expected;
  };
  const TCase cases[] = {
      {"new archive", false, {"b.txt", "a.txt", "b.txt"}, {"b.txt"}, {"b.txt", "a.txt"}},
      {"replacing", true, {"a.txt", "a.txt"}, {"a.txt"}, {"z.txt", "a.txt", "old.txt"}},
      {"added twice", true, {"n.txt", "n.txt"}, {"n.txt"}, {"z.txt", "a.txt", "old.txt", "n.txt"}},
      {"letter case differs", false, {"c.txt", "C.txt"}, {}, {"c.txt", "C.txt"}},
  };
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.what);
    if (c.updating) {
      make({"z.txt", "a.txt", "old.txt"});
    } else {
      std::remove(zip().c_str());
      engine.SetZipName("");
      engine.SetZipName(zip());
    }
    engine.ZipAction = zaReplace;
    std::vector<std::string> skipped;
    engine.OnSkippingFile = [&](TUnZipEngine& e, TSkipReason, int index) {
      skipped.push_back(e.Entry(index).FullName());
    };
    engine.FilesList.clear();
    for (const auto& s : c.sources) engine.FilesList.push_back(file(s, "from " + s));
    engine.CompressFiles();
    EXPECT_EQ(skipped, c.skipped);
    EXPECT_EQ(onDisk(), c.expected);
  }
}

TEST_F(Rewrite, AFailedRunLeavesTheCatalogueAsItWas) {
  make({"a.txt", "b.txt", "c.txt"});
  engine.LoadCatalogue();
  struct TSnapshot {
    std::string name;
    uint64_t offset, size;
    uint16_t extraLength;
    bool operator==(const TSnapshot&) const = default;
  };
  auto snapshot = [&] {
    std::vector<TSnapshot> s;
    for (int i = 0; i < engine.Count(); ++i) {
      const TZipHeaderInfo& e = engine.Entry(i);
      s.push_back({e.FullName(), e.RelativeOffset, e.CompressedSize, e.ExtraFieldLength});
    }
    return s;
  };
  const auto before = snapshot();
  const auto bytes = readFile(zip());
  // a.txt, replaced by a longer file, moves every entry after it; the run then fails on
  // the next source, with all the old entries written at their new places.
  engine.ZipAction = zaReplace;
  engine.FilesList = {file("a.txt", std::string(5000, 'a')), file("d.txt", "d")};
  engine.OnStartZip = [](TZipEngine&, const std::string& path, TZipHeaderInfo&, bool&) {
    if (path.find("d.txt") != std::string::npos) throw std::runtime_error("stop here");
  };
  EXPECT_THROW(engine.CompressFiles(), std::runtime_error);
  EXPECT_TRUE(snapshot() == before);
  EXPECT_EQ(readFile(zip()), bytes);
  // The catalogue still serves the archive on disk.
  engine.OnStartZip = nullptr;
  EXPECT_EQ(tested(), 3);
  engine.FilesList = {"b.txt"};
  engine.RemoveEntries();
  EXPECT_EQ(onDisk(), (std::vector<std::string>{"a.txt", "c.txt"}));
}
