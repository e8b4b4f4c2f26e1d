#include <gtest/gtest.h>
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>

#include "platform/SettingsStore.h"
#include "support/TestUtil.h"

namespace quelt {
namespace {

using test::TempDir;

const char* const kKey = "SOFTWARE\\Dunmarra\\Quelt\\";

TEST(SettingsStore, KeysAndValueNamesIgnoreLetterCaseAndKeepTheirFirstSpelling) {
  TempDir dir;
  TSettingsStore store(dir / "s.reg");
  TRegistry reg(store, LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(kKey, true));
  reg.WriteInteger("Dockto", 3);
  reg.WriteInteger("DockTo", 4);  // the same value
  reg.CloseKey();

  ASSERT_TRUE(reg.OpenKey("\\software\\DUNMARRA\\quelt", false));
  EXPECT_EQ(reg.ReadInteger("DOCKTO"), 4);
  EXPECT_EQ(reg.GetValueNames(), std::vector<std::string>{"Dockto"});
  EXPECT_TRUE(reg.KeyExists("Software\\Dunmarra"));  // parents exist through their subkeys
  EXPECT_FALSE(reg.KeyExists("Software\\Other"));
  EXPECT_FALSE(TRegistry(store, CURRENT_USER).KeyExists(kKey));  // roots are separate
}

TEST(SettingsStore, TypedReadsFailOnMissingOrMistypedValues) {
  TempDir dir;
  TSettingsStore store(dir / "s.reg");
  TRegistry reg(store, LOCAL_MACHINE);
  reg.OpenKey(kKey, true);
  reg.WriteString("Text", "7");
  reg.WriteBool("Flag", true);
  reg.WriteBool("Off", false);

  EXPECT_EQ(reg.GetDataType("Flag"), TRegDataType::rdInteger);  // Booleans are 0 and 1
  EXPECT_EQ(reg.ReadInteger("Flag"), 1);
  EXPECT_EQ(reg.ReadInteger("Off"), 0);
  EXPECT_TRUE(reg.ReadBool("Flag"));
  EXPECT_EQ(reg.ReadString("Missing"), "");  // text reads as empty when missing
  EXPECT_THROW(reg.ReadInteger("Missing"), ERegistryException);
  EXPECT_THROW(reg.ReadBool("Text"), ERegistryException);
  EXPECT_THROW(reg.ReadString("Flag"), ERegistryException);
}

TEST(SettingsStore, ClosingAKeySavesAFileThatAnotherStoreReadsBack) {
  TempDir dir;
  std::string path = dir / "cfg/Dunmarra/Quelt/settings.reg";
  const std::string awkward = "a \"quoted\" \\ back\\slash\nnew line\ttab\x01 caf\xC3\xA9 ;|[]=";
  {
    TSettingsStore store(path);
    TRegistry reg(store, LOCAL_MACHINE);
    reg.OpenKey(kKey, true);
    reg.WriteString("Awkward", awkward);
    reg.WriteString("", "unnamed");
    reg.WriteString("we\"ird name", "x");
    reg.WriteInteger("Neg", -2147483647 - 1);
    reg.CloseKey();
    reg.RootKey = CLASSES_ROOT;
    reg.OpenKey("Quelt\\shell\\open\\command", true);  // a key with no values is kept too
    reg.OpenKey("Empty", true);
    reg.CloseKey();
    EXPECT_FALSE(store.Dirty());
  }
  TSettingsStore again(path);
  TRegistry reg(again, LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadString("Awkward"), awkward);
  EXPECT_EQ(reg.ReadString(""), "unnamed");
  EXPECT_EQ(reg.ReadString("we\"ird name"), "x");
  EXPECT_EQ(reg.ReadInteger("Neg"), -2147483647 - 1);
  EXPECT_TRUE(again.KeyExists(CLASSES_ROOT, "Empty"));
  EXPECT_TRUE(again.KeyExists(CLASSES_ROOT, "Quelt\\shell\\open\\command"));
  // Readable: one line per value under its key's section.
  std::string text = test::readText(path);
  EXPECT_NE(text.find("[HKEY_LOCAL_MACHINE\\SOFTWARE\\Dunmarra\\Quelt]"), std::string::npos);
  EXPECT_NE(text.find("\"Neg\"=int:-2147483648"), std::string::npos);
}

TEST(SettingsStore, AFailedSaveKeepsTheOldFileAndTheChangesPending) {
  TempDir dir;
  std::string path = dir / "settings.reg";
  TSettingsStore store(path);
  TRegistry reg(store, CURRENT_USER);
  reg.OpenKey("A", true);
  reg.WriteString("v", "old");
  reg.CloseKey();
  std::string before = test::readText(path);

  // The temporary file cannot be made beside a file in a folder that is now a plain file.
  TSettingsStore blocked(dir / "plain/settings.reg");
  test::writeFile(dir / "plain", "not a folder");
  TRegistry r2(blocked, CURRENT_USER);
  r2.OpenKey("A", true);
  r2.WriteString("v", "new");
  EXPECT_THROW(r2.CloseKey(), ERegistryException);
  EXPECT_TRUE(blocked.Dirty());

  // A store whose file is replaced by a folder cannot rename over it; the old file stays.
  reg.OpenKey("A", true);
  reg.WriteString("v", "newer");
  std::filesystem::rename(path, dir / "moved.reg");
  std::filesystem::create_directories(path + "/sub");
  EXPECT_THROW(reg.CloseKey(), ERegistryException);
  EXPECT_EQ(test::readText(dir / "moved.reg"), before);
  for (const auto& e : std::filesystem::directory_iterator(dir.path()))
    EXPECT_EQ(e.path().filename().string().find(".XXXXXX"), std::string::npos);
  size_t files = 0;
  for (const auto& e : std::filesystem::directory_iterator(dir.path())) {
    (void)e;
    ++files;
  }
  EXPECT_EQ(files, 3u) << "a temporary file was left behind";
}

TEST(SettingsStore, CloseWithoutChangesLeavesTheFileAlone) {
  TempDir dir;
  std::string path = dir / "settings.reg";
  TSettingsStore store(path);
  TRegistry reg(store, CURRENT_USER);
  reg.OpenKey("A", true);
  reg.WriteString("v", "x");
  reg.CloseKey();
  struct stat before, after;
  ASSERT_EQ(::stat(path.c_str(), &before), 0);
  reg.OpenKey("A", true);
  reg.WriteString("v", "x");  // the same text
  reg.ReadString("v");
  reg.CloseKey();
  ASSERT_EQ(::stat(path.c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);
}

TEST(SettingsStore, AStoreWithNothingPendingSeesAnotherProgramsChanges) {
  TempDir dir;
  std::string path = dir / "settings.reg";
  TSettingsStore mine(path), theirs(path);
  {
    TRegistry reg(theirs, LOCAL_MACHINE);
    reg.OpenKey(kKey, true);
    reg.WriteString("ExpDir", "/elsewhere");
  }
  TRegistry reg(mine, LOCAL_MACHINE);
  ASSERT_TRUE(reg.OpenKey(kKey, false));
  EXPECT_EQ(reg.ReadString("ExpDir"), "/elsewhere");
}

TEST(SettingsStore, ReadOnlyKeysRefuseWrites) {
  TempDir dir;
  TSettingsStore store(dir / "s.reg");
  TRegistry reg(store, CURRENT_USER);
  reg.OpenKey("A", true);
  reg.CloseKey();
  ASSERT_TRUE(reg.OpenKeyReadOnly("A"));
  EXPECT_THROW(reg.WriteString("v", "x"), ERegistryException);
  EXPECT_FALSE(reg.OpenKeyReadOnly("B"));
  EXPECT_FALSE(reg.OpenKey("B", false));
}

TEST(SettingsStore, DeletingAKeyTakesItsSubkeys) {
  TempDir dir;
  TSettingsStore store(dir / "s.reg");
  store.WriteString(CURRENT_USER, "A\\B\\C", "v", "1");
  store.WriteString(CURRENT_USER, "A\\B-x", "v", "1");
  store.WriteString(CURRENT_USER, "A\\b\\D", "v", "1");
  EXPECT_EQ(store.KeyNames(CURRENT_USER, "A"), (std::vector<std::string>{"B-x", "B"}));
  EXPECT_TRUE(store.DeleteKey(CURRENT_USER, "a\\b"));
  EXPECT_FALSE(store.KeyExists(CURRENT_USER, "A\\B\\C"));
  EXPECT_FALSE(store.KeyExists(CURRENT_USER, "A\\B"));
  EXPECT_TRUE(store.KeyExists(CURRENT_USER, "A\\B-x"));
  EXPECT_FALSE(store.DeleteKey(CURRENT_USER, ""));  // the root stays
}

TEST(SettingsStore, DamagedLinesAreSkippedAndTheRestIsRead) {
  TempDir dir;
  TSettingsStore store(dir / "s.reg");
  store.LoadText(
      "[HKEY_CURRENT_USER\\Good]\n"
      "\"a\"=\"1\"\n"
      "\"b\"=int:99999999999\n"  // out of range
      "\"c\"=\"unterminated\n"
      "\"d\"=\"bad \\q escape\"\n"
      "\"e\"=int:12\r\n"
      "garbage line\n"
      "[HKEY_NOWHERE\\Lost]\n"
      "\"f\"=\"x\"\n"
      "[HKEY_CURRENT_USER\\Good\n"
      "\"g\"=\"after a broken section\"\n"
      "[HKEY_CURRENT_USER]\n"
      "@=\"root value\"\n");
  EXPECT_EQ(store.ValueNames(CURRENT_USER, "Good"), (std::vector<std::string>{"a", "e"}));
  EXPECT_EQ(store.ReadInteger(CURRENT_USER, "Good", "e"), 12);
  EXPECT_EQ(store.ReadString(CURRENT_USER, "", ""), "root value");
  EXPECT_FALSE(store.KeyExists(CURRENT_USER, "Lost"));
}

TEST(SettingsStore, DefaultPathFollowsTheEnvironment) {
  struct TCase {
    const char* own;
    const char* xdg;
    const char* home;
    std::string expected;
  };
  const TCase cases[] = {
      {"/q", "/x", "/h", "/q/settings.reg"},
      {nullptr, "/x", "/h", "/x/Dunmarra/Quelt/settings.reg"},
      {nullptr, "relative", "/h", "/h/.config/Dunmarra/Quelt/settings.reg"},
      {nullptr, nullptr, "/h", "/h/.config/Dunmarra/Quelt/settings.reg"},
  };
  auto keep = [](const char* name) {
    const char* v = std::getenv(name);
    return v ? std::optional<std::string>(v) : std::nullopt;
  };
  auto put = [](const char* name, const std::optional<std::string>& v) {
    if (v)
      ::setenv(name, v->c_str(), 1);
    else
      ::unsetenv(name);
  };
  auto own = keep("QUELT_CONFIG_HOME"), xdg = keep("XDG_CONFIG_HOME"), home = keep("HOME");
  for (const TCase& c : cases) {
    put("QUELT_CONFIG_HOME", c.own ? std::optional<std::string>(c.own) : std::nullopt);
    put("XDG_CONFIG_HOME", c.xdg ? std::optional<std::string>(c.xdg) : std::nullopt);
    put("HOME", std::string(c.home));
    EXPECT_EQ(TSettingsStore::DefaultPath(), c.expected);
  }
  put("QUELT_CONFIG_HOME", own);
  put("XDG_CONFIG_HOME", xdg);
  put("HOME", home);
}

TEST(SettingsStore, RootNamesMapBothWays) {
  for (int r = CLASSES_ROOT; r <= DYN_DATA; ++r)
    EXPECT_EQ(RootByName(RootName(TRegRoots(r))), TRegRoots(r));
  EXPECT_EQ(RootByName("hkey_local_machine"), LOCAL_MACHINE);
  EXPECT_FALSE(RootByName("HKLM"));
}

}  // namespace
}  // namespace quelt
