#include <dlfcn.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <ctime>
#include <filesystem>

#include "platform/XbelRecentDocuments.h"
#include "platform/XmlTree.h"
#include "support/FakeRecentDocuments.h"
#include "support/ScopedEnv.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;
namespace fs = std::filesystem;

namespace {

// The desktop's own reader of the list (GLib's bookmark file, which GTK programs use),
// loaded at run time so the tests need no development package.
class TDesktopReader {
 public:
  TDesktopReader() {
    lib_ = ::dlopen("libglib-2.0.so.0", RTLD_NOW | RTLD_LOCAL);
    if (!lib_) return;
    load(new_, "g_bookmark_file_new");
    load(free_, "g_bookmark_file_free");
    load(loadData_, "g_bookmark_file_load_from_data");
    load(uris_, "g_bookmark_file_get_uris");
    load(mime_, "g_bookmark_file_get_mime_type");
    load(appInfo_, "g_bookmark_file_get_app_info");
    load(strfreev_, "g_strfreev");
    load(gfree_, "g_free");
  }
  ~TDesktopReader() {
    if (lib_) ::dlclose(lib_);
  }
  bool available() const { return lib_ && new_ && loadData_ && uris_ && mime_ && appInfo_; }

  struct TEntry {
    std::string uri, mimeType, exec;
    unsigned count = 0;
    time_t stamp = 0;
  };
  // Every entry as the reader sees it, with this program's use of it; a parse error fails.
  std::vector<TEntry> read(const std::string& text, const std::string& app) {
    std::vector<TEntry> entries;
    void* file = new_();
    TError* error = nullptr;
    if (!loadData_(file, text.data(), text.size(), &error)) {
      ADD_FAILURE() << "the desktop cannot read the list: " << (error ? error->message : "?");
      free_(file);
      return entries;
    }
    size_t count = 0;
    char** uris = uris_(file, &count);
    for (size_t i = 0; i < count; ++i) {
      TEntry entry;
      entry.uri = uris[i];
      if (char* mime = mime_(file, uris[i], nullptr)) {
        entry.mimeType = mime;
        gfree_(mime);
      }
      char* exec = nullptr;
      if (appInfo_(file, uris[i], app.c_str(), &exec, &entry.count, &entry.stamp, nullptr)) {
        entry.exec = exec ? exec : "";
        gfree_(exec);
      }
      entries.push_back(entry);
    }
    strfreev_(uris);
    free_(file);
    return entries;
  }

 private:
  struct TError {
    uint32_t domain;
    int code;
    char* message;
  };
  template <typename F>
  void load(F& fn, const char* name) {
    fn = reinterpret_cast<F>(::dlsym(lib_, name));
  }

  void* lib_ = nullptr;
  void* (*new_)() = nullptr;
  void (*free_)(void*) = nullptr;
  int (*loadData_)(void*, const char*, size_t, TError**) = nullptr;
  char** (*uris_)(void*, size_t*) = nullptr;
  char* (*mime_)(void*, const char*, void*) = nullptr;
  int (*appInfo_)(void*, const char*, const char*, char**, unsigned*, time_t*, void*) = nullptr;
  void (*strfreev_)(char**) = nullptr;
  void (*gfree_)(void*) = nullptr;
};

// A list as another program left it: its own entries, a comment, and the same archive used
// by it under a URI escaped its own way.
const std::string kOtherProgramsList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<!-- kept by the desktop -->\n"
    "<xbel version=\"1.0\"\n"
    "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
    "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n"
    ">\n"
    "  <bookmark href=\"file:///home/u/notes.txt\" added=\"2023-01-02T03:04:05.000001Z\" "
    "modified=\"2023-01-02T03:04:05.000001Z\" visited=\"2023-01-02T03:04:05.000001Z\">\n"
    "    <info>\n"
    "      <metadata owner=\"http://freedesktop.org\">\n"
    "        <mime:mime-type type=\"text/plain\"/>\n"
    "        <bookmark:applications>\n"
    "          <bookmark:application name=\"Text Editor\" exec=\"&apos;editor %u&apos;\" "
    "modified=\"2023-01-02T03:04:05.000001Z\" count=\"7\"/>\n"
    "        </bookmark:applications>\n"
    "      </metadata>\n"
    "    </info>\n"
    "  </bookmark>\n"
    "  <bookmark href=\"file:///home/u/my%20archive.zip\" added=\"2023-02-01T00:00:00Z\" "
    "modified=\"2023-02-01T00:00:00Z\" visited=\"2023-02-01T00:00:00Z\">\n"
    "    <info>\n"
    "      <metadata owner=\"http://freedesktop.org\">\n"
    "        <mime:mime-type type=\"application/zip\"/>\n"
    "        <bookmark:applications>\n"
    "          <bookmark:application name=\"Archiver\" exec=\"&apos;archiver %u&apos;\" "
    "modified=\"2023-02-01T00:00:00Z\" count=\"2\"/>\n"
    "        </bookmark:applications>\n"
    "      </metadata>\n"
    "    </info>\n"
    "  </bookmark>\n"
    "</xbel>\n";

std::string between(const std::string& text, const std::string& from, const std::string& to) {
  size_t a = text.find(from);
  size_t b = text.find(to, a);
  return a == std::string::npos || b == std::string::npos ? "" : text.substr(a, b - a + to.size());
}

mode_t modeOf(const std::string& path) {
  struct stat st;
  EXPECT_EQ(::stat(path.c_str(), &st), 0) << path;
  return st.st_mode & 07777;
}

}  // namespace

TEST(RecentDocuments, StartsAListTheDesktopReads) {
  TempDir dir;
  TScopedEnv env;
  env.Set("XDG_DATA_HOME", dir / "data");
  std::string archive = "/home/u/Mail & \"More\" <2024> 100% #1 \xc3\xbc.zip";
  TXbelRecentDocuments recent;
  recent.AddDocument(archive);
  std::string list = dir / "data/recently-used.xbel";
  ASSERT_TRUE(fileExists(list));
  EXPECT_EQ(modeOf(list), 0600u);
  EXPECT_EQ(modeOf(dir / "data"), 0700u) << "a folder made for the list is private";
  EXPECT_EQ(fs::directory_iterator(dir / "data")->path().filename(), "recently-used.xbel")
      << "no temporary file is left";

  TDesktopReader reader;
  if (!reader.available()) GTEST_SKIP() << "the desktop's bookmark reader is not installed";
  auto entries = reader.read(readText(list), "Quelt");
  ASSERT_EQ(entries.size(), 1u);
  EXPECT_EQ(entries[0].uri, FileUri(archive));
  EXPECT_EQ(PathFromFileUri(entries[0].uri), archive);
  EXPECT_EQ(entries[0].mimeType, "application/zip");
  EXPECT_EQ(entries[0].exec, "quelt " + entries[0].uri) << "the reader fills in the URI";
  EXPECT_EQ(entries[0].count, 1u);
  EXPECT_LT(std::abs(entries[0].stamp - std::time(nullptr)), 60);
}

TEST(RecentDocuments, RefreshesTheEntryAndLeavesEveryOtherByteAlone) {
  const std::string archive = "/home/u/my archive.zip";
  TRecentApp app;
  std::string once =
      AddToRecentList(kOtherProgramsList, archive, app, "2024-05-06T07:08:09.000010Z");
  std::string twice = AddToRecentList(once, archive, app, "2024-06-01T00:00:00.000000Z");

  // The other program's entry and the comment come out exactly as they went in.
  std::string notes =
      between(kOtherProgramsList, "  <bookmark href=\"file:///home/u/notes.txt", "</bookmark>\n");
  ASSERT_FALSE(notes.empty());
  EXPECT_NE(twice.find(notes), std::string::npos) << twice;
  EXPECT_NE(twice.find("<!-- kept by the desktop -->"), std::string::npos);
  EXPECT_EQ(twice.find("/home/u/my archive.zip"), std::string::npos) << "no second entry";

  std::string entry =
      between(twice, "<bookmark href=\"file:///home/u/my%20archive.zip\"", "</bookmark>");
  EXPECT_NE(entry.find("added=\"2023-02-01T00:00:00Z\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("modified=\"2024-06-01T00:00:00.000000Z\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("visited=\"2024-06-01T00:00:00.000000Z\""), std::string::npos) << entry;
  EXPECT_NE(entry.find("name=\"Archiver\""), std::string::npos) << "the other program's use";

  TDesktopReader reader;
  if (!reader.available()) GTEST_SKIP() << "the desktop's bookmark reader is not installed";
  auto ours = reader.read(twice, "Quelt");
  ASSERT_EQ(ours.size(), 2u);
  EXPECT_EQ(ours[1].count, 2u) << "each use counts";
  EXPECT_EQ(ours[1].exec, "quelt " + ours[1].uri);
  auto theirs = reader.read(twice, "Archiver");
  EXPECT_EQ(theirs[1].count, 2u);
  EXPECT_EQ(theirs[1].exec, "archiver " + ours[1].uri);
  EXPECT_EQ(reader.read(twice, "Text Editor")[0].count, 7u);
}

TEST(RecentDocuments, FileUrisRoundTripAndForeignOnesAreRefused) {
  for (std::string path : {"/a b/c.zip", "/100%/#?&;=@+\xc3\xa9", "/plain/path.zip", "/"}) {
    std::string uri = FileUri(path);
    EXPECT_EQ(uri.find_first_of(" #?;"), std::string::npos) << uri;
    EXPECT_EQ(PathFromFileUri(uri), path) << uri;
  }
  struct Case {
    const char* uri;
    std::optional<std::string> path;
  } cases[] = {
      {"file:///a%20b", "/a b"},
      {"FILE://localhost/x", "/x"},
      {"file:/x", "/x"},
      {"file://host/x", std::nullopt},
      {"http://x/y", std::nullopt},
      {"file:///a%2", std::nullopt},
      {"file:///a%zz", std::nullopt},
      {"file:///a%00b", std::nullopt},
      {"file://localhost", std::nullopt},
      {"file:///a?b", std::nullopt},
  };
  for (const auto& c : cases) EXPECT_EQ(PathFromFileUri(c.uri), c.path) << c.uri;
}

TEST(RecentDocuments, ABrokenListIsReportedAndNeverReplaced) {
  const char* broken[] = {
      "<xbel><bookmark href=\"file:///a\"></xbel>",
      "<xbel><bookmark href=file:///a/></xbel>",
      "<xbel><bookmark href=\"&nbsp;\"/></xbel>",
      "<xbel></xbel>trailing",
      "<xbel>&#0;</xbel>",
      "<xbel><!-- open </xbel>",
      "<bookmarks/>",
      "just text",
  };
  for (const char* text : broken) {
    EXPECT_THROW(AddToRecentList(text, "/a.zip", {}, "now"), xml::EXmlError) << text;
  }
  std::string deep;
  for (int i = 0; i < 5000; ++i) deep += "<a>";
  EXPECT_THROW(AddToRecentList("<xbel>" + deep, "/a.zip", {}, "now"), xml::EXmlError);

  TempDir dir;
  std::string list = dir / "recently-used.xbel";
  writeFile(list, broken[0]);
  TXbelRecentDocuments recent(list);
  try {
    recent.AddDocument("/a.zip");
    ADD_FAILURE() << "a broken list was accepted";
  } catch (const EPlatformError& e) {
    EXPECT_NE(std::string(e.what()).find("Malformed XML at line 1"), std::string::npos) << e.what();
  }
  EXPECT_EQ(readText(list), broken[0]);
}

TEST(RecentDocuments, ParsedTextIsWrittenBackUnchanged) {
  const std::string text =
      "<?xml version='1.0'?>\n<!DOCTYPE xbel [ <!ELEMENT xbel ANY> ]>\n"
      "<xbel a='x &amp; &#x41;'>\n <![CDATA[ <raw> ]]><?pi x?>t&lt;ext<e/></xbel>\n<!-- end -->";
  auto doc = xml::Parse(text);
  EXPECT_EQ(xml::Serialize(doc), text);
  EXPECT_EQ(*doc.root.Attribute("a"), "x & A");
}

TEST(RecentDocuments, KeepsTheUsersLinksAndPermissions) {
  TempDir dir;
  // A list linked to /dev/null is the user's way of turning it off.
  ::symlink("/dev/null", (dir / "off.xbel").c_str());
  TXbelRecentDocuments(dir / "off.xbel").AddDocument("/a.zip");
  EXPECT_TRUE(fs::is_symlink(dir / "off.xbel"));
  EXPECT_EQ(fs::read_symlink(dir / "off.xbel"), "/dev/null");

  // A list linked elsewhere is updated there, and the link stays.
  makeDirs(dir / "elsewhere");
  writeFile(dir / "elsewhere/list.xbel", kOtherProgramsList);
  ::chmod((dir / "elsewhere/list.xbel").c_str(), 0644);
  ::symlink((dir / "elsewhere/list.xbel").c_str(), (dir / "linked.xbel").c_str());
  TXbelRecentDocuments(dir / "linked.xbel").AddDocument("/a.zip");
  EXPECT_TRUE(fs::is_symlink(dir / "linked.xbel"));
  EXPECT_NE(readText(dir / "elsewhere/list.xbel").find("file:///a.zip"), std::string::npos);
  EXPECT_EQ(modeOf(dir / "elsewhere/list.xbel"), 0644u);

  // A folder where the list should be is an error, not something to replace; the fake fails
  // the same way.
  makeDirs(dir / "folder.xbel");
  TXbelRecentDocuments real(dir / "folder.xbel");
  TFakeRecentDocuments fake;
  fake.failure = "Unable to update the list of recent documents";
  for (IRecentDocuments* recent :
       {static_cast<IRecentDocuments*>(&real), static_cast<IRecentDocuments*>(&fake)})
    EXPECT_THROW(recent->AddDocument("/a.zip"), EPlatformError);
  EXPECT_TRUE(fake.added.empty());
}
