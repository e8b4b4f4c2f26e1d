// The settings store: a tree of keys under the named roots, each key holding typed values
// (text or 32-bit integer). Key paths use "\" between their parts; keys and value names
// are compared without regard to letter case. Everything lives in one readable text file
// that is replaced atomically whenever a key with changes is closed.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <map>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quelt {

enum TRegRoots {
  CLASSES_ROOT,
  CURRENT_USER,
  LOCAL_MACHINE,
  USERS,
  PERFORMANCE_DATA,
  CURRENT_CONFIG,
  DYN_DATA
};

// "HKEY_CLASSES_ROOT" ... "HKEY_DYN_DATA".
const char* RootName(TRegRoots root);
// The root of a name as RootName gives it (letter case ignored); nothing for other names.
std::optional<TRegRoots> RootByName(std::string_view name);

enum class TRegDataType { rdUnknown, rdString, rdInteger };

// A value that is missing or of another type than asked, a write on a read-only key, or a
// store that cannot be saved. The text says which.
class ERegistryException : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class TSettingsStore {
 public:
  // Reads `path` when it exists; a missing file is an empty store. Lines that do not parse
  // are skipped.
  explicit TSettingsStore(std::string path);
  TSettingsStore(const TSettingsStore&) = delete;
  TSettingsStore& operator=(const TSettingsStore&) = delete;

  // $QUELT_CONFIG_HOME/settings.reg when that variable is set, else
  // $XDG_CONFIG_HOME/Dunmarra/Quelt/settings.reg (XDG_CONFIG_HOME defaulting to ~/.config).
  static std::string DefaultPath();
  const std::string& Path() const { return path_; }

  // ---- Keys ("" is the root itself, which always exists)
  bool KeyExists(TRegRoots root, const std::string& key) const;
  void CreateKey(TRegRoots root, const std::string& key);
  // Removes the key with its subkeys and values; false when it did not exist.
  bool DeleteKey(TRegRoots root, const std::string& key);
  // Names of the direct subkeys, as first written.
  std::vector<std::string> KeyNames(TRegRoots root, const std::string& key) const;

  // ---- Values ("" is the key's unnamed value)
  TRegDataType DataType(TRegRoots root, const std::string& key, const std::string& name) const;
  std::optional<std::string> ReadString(TRegRoots root, const std::string& key,
                                        const std::string& name) const;
  std::optional<int32_t> ReadInteger(TRegRoots root, const std::string& key,
                                     const std::string& name) const;
  // Writing creates the key; a value keeps the letter case of the name it was first given.
  void WriteString(TRegRoots root, const std::string& key, const std::string& name,
                   const std::string& value);
  void WriteInteger(TRegRoots root, const std::string& key, const std::string& name, int32_t value);
  bool DeleteValue(TRegRoots root, const std::string& key, const std::string& name);
  std::vector<std::string> ValueNames(TRegRoots root, const std::string& key) const;

  // ---- The file
  bool Dirty() const { return dirty_; }
  // Writes the file when there are changes: a temporary file beside it, flushed to the disk,
  // then renamed over it. Throws ERegistryException when that fails; the changes stay
  // pending, and the old file is untouched.
  void Flush();
  // Reads the file again when another program replaced it and nothing here is pending.
  void Refresh();
  // The file's text; and replacing the whole store by a text (used by Refresh and tests).
  std::string SaveText() const;
  void LoadText(std::string_view text);

 private:
  struct TValue {
    std::string name;
    TRegDataType type = TRegDataType::rdString;
    std::string text;
    int32_t number = 0;
  };
  struct TKey {
    std::string path;  // "HKEY_...\Part\Part", letter case as first written
    std::vector<TValue> values;
  };
  struct TStamp {
    int64_t mtimeNs = 0, size = -1;
    ino_t ino = 0;
    bool operator==(const TStamp&) const = default;
  };

  const TKey* findKey(TRegRoots root, const std::string& key) const;
  TKey& makeKey(TRegRoots root, const std::string& key);
  const TValue* findValue(TRegRoots root, const std::string& key, const std::string& name) const;
  TValue& makeValue(TRegRoots root, const std::string& key, const std::string& name);
  void loadFile();
  TStamp fileStamp() const;

  std::string path_;
  std::map<std::string, TKey> keys_;  // by the folded full path
  bool dirty_ = false;
  TStamp stamp_;
};

// A handle on one key of the store, opened and closed like a registry key. Paths are taken
// from the root; a leading or trailing "\" is ignored. With no key open, the handle
// addresses the root key itself.
class TRegistry {
 public:
  explicit TRegistry(TSettingsStore& store, TRegRoots root = CURRENT_USER);
  // Closes the key; a failed save is dropped here, so callers that must know call CloseKey.
  ~TRegistry();
  TRegistry(const TRegistry&) = delete;
  TRegistry& operator=(const TRegistry&) = delete;

  TRegRoots RootKey;

  // False when the key does not exist and may not be created.
  bool OpenKey(const std::string& key, bool canCreate);
  bool OpenKeyReadOnly(const std::string& key);
  // Saves the store when it has changes; throws ERegistryException when it cannot.
  void CloseKey();
  const std::string& CurrentPath() const { return current_; }

  bool KeyExists(const std::string& key) const { return store_.KeyExists(RootKey, key); }
  bool ValueExists(const std::string& name) const;
  TRegDataType GetDataType(const std::string& name) const;
  // "" for a missing value; throws for a value of another type.
  std::string ReadString(const std::string& name) const;
  // Throws for a missing value and for one of another type.
  int32_t ReadInteger(const std::string& name) const;
  bool ReadBool(const std::string& name) const { return ReadInteger(name) != 0; }
  void WriteString(const std::string& name, const std::string& value);
  void WriteInteger(const std::string& name, int32_t value);
  // Booleans are the integers 0 and 1.
  void WriteBool(const std::string& name, bool value) { WriteInteger(name, value ? 1 : 0); }
  bool DeleteValue(const std::string& name);
  std::vector<std::string> GetValueNames() const;
  std::vector<std::string> GetKeyNames() const;

 private:
  void checkWritable(const std::string& name) const;

  TSettingsStore& store_;
  std::string current_;
  bool open_ = false;
  bool readOnly_ = false;
};

}  // namespace quelt
