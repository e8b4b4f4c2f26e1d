#include "platform/SettingsStore.h"

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <set>
#include <sstream>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/XdgDirs.h"

namespace quelt {

namespace {

const char* const kRootNames[] = {
    "HKEY_CLASSES_ROOT",     "HKEY_CURRENT_USER",   "HKEY_LOCAL_MACHINE", "HKEY_USERS",
    "HKEY_PERFORMANCE_DATA", "HKEY_CURRENT_CONFIG", "HKEY_DYN_DATA"};
constexpr int kRootCount = 7;

std::string fold(std::string_view text) {
  std::string out(text);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// Drops empty parts, so "SOFTWARE\Dunmarra\Quelt\" and "\SOFTWARE\Dunmarra\Quelt" are one key.
std::string normalPath(const std::string& key) {
  std::string out;
  size_t start = 0;
  while (start <= key.size()) {
    size_t cut = key.find('\\', start);
    if (cut == std::string::npos) cut = key.size();
    if (cut > start) {
      if (!out.empty()) out += '\\';
      out.append(key, start, cut - start);
    }
    start = cut + 1;
  }
  return out;
}

std::string fullPath(TRegRoots root, const std::string& normal) {
  std::string path = RootName(root);
  if (!normal.empty()) path += "\\" + normal;
  return path;
}

bool validRoot(TRegRoots root) {
  return int(root) >= 0 && int(root) < kRootCount;
}

void checkKeyName(const std::string& key) {
  for (unsigned char c : key)
    if (c < 0x20 || c == 0x7f) throw ERegistryException("Invalid key name \"" + key + "\"");
}

// ---- The file's quoting: "..." with \\ \" \n \r \t and \xHH for other control bytes.

std::string quote(const std::string& text) {
  static const char kHex[] = "0123456789ABCDEF";
  std::string out = "\"";
  for (unsigned char c : text) {
    switch (c) {
      case '\\':
        out += "\\\\";
        break;
      case '"':
        out += "\\\"";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        if (c < 0x20 || c == 0x7f) {
          out += "\\x";
          out += kHex[c >> 4];
          out += kHex[c & 15];
        } else {
          out += char(c);
        }
    }
  }
  return out + "\"";
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// Reads a quoted text starting at line[pos] == '"'; pos ends after the closing quote.
bool unquote(std::string_view line, size_t& pos, std::string& out) {
  if (pos >= line.size() || line[pos] != '"') return false;
  out.clear();
  for (++pos; pos < line.size(); ++pos) {
    char c = line[pos];
    if (c == '"') {
      ++pos;
      return true;
    }
    if (c != '\\') {
      out += c;
      continue;
    }
    if (++pos >= line.size()) return false;
    switch (line[pos]) {
      case '\\':
        out += '\\';
        break;
      case '"':
        out += '"';
        break;
      case 'n':
        out += '\n';
        break;
      case 'r':
        out += '\r';
        break;
      case 't':
        out += '\t';
        break;
      case 'x': {
        if (pos + 2 >= line.size()) return false;
        int hi = hexDigit(line[pos + 1]), lo = hexDigit(line[pos + 2]);
        if (hi < 0 || lo < 0) return false;
        out += char(hi * 16 + lo);
        pos += 2;
        break;
      }
      default:
        return false;
    }
  }
  return false;
}

bool parseInt32(std::string_view text, int32_t& out) {
  if (text.empty() || text.size() > 11) return false;
  size_t i = 0;
  bool negative = false;
  if (text[0] == '-' || text[0] == '+') {
    negative = text[0] == '-';
    i = 1;
  }
  if (i == text.size()) return false;
  int64_t v = 0;
  for (; i < text.size(); ++i) {
    if (text[i] < '0' || text[i] > '9') return false;
    v = v * 10 + (text[i] - '0');
  }
  if (negative) v = -v;
  if (v < INT32_MIN || v > INT32_MAX) return false;
  out = int32_t(v);
  return true;
}

}  // namespace

const char* RootName(TRegRoots root) {
  return validRoot(root) ? kRootNames[int(root)] : "HKEY_CURRENT_USER";
}

std::optional<TRegRoots> RootByName(std::string_view name) {
  std::string folded = fold(name);
  for (int i = 0; i < kRootCount; ++i)
    if (folded == fold(kRootNames[i])) return TRegRoots(i);
  return std::nullopt;
}

// ---- TSettingsStore

TSettingsStore::TSettingsStore(std::string path) : path_(std::move(path)) {
  loadFile();
}

std::string TSettingsStore::DefaultPath() {
  if (const char* own = std::getenv("QUELT_CONFIG_HOME"); own && *own)
    return std::string(own) + "/settings.reg";
  return xdg::ConfigHome() + "/Dunmarra/Quelt/settings.reg";
}

const TSettingsStore::TKey* TSettingsStore::findKey(TRegRoots root, const std::string& key) const {
  auto it = keys_.find(fold(fullPath(root, normalPath(key))));
  return it == keys_.end() ? nullptr : &it->second;
}

bool TSettingsStore::KeyExists(TRegRoots root, const std::string& key) const {
  if (!validRoot(root)) return false;
  std::string folded = fold(fullPath(root, normalPath(key)));
  if (normalPath(key).empty() || keys_.count(folded)) return true;
  // A key that only has subkeys is kept implicitly by them.
  std::string prefix = folded + "\\";
  auto it = keys_.lower_bound(prefix);
  return it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0;
}

TSettingsStore::TKey& TSettingsStore::makeKey(TRegRoots root, const std::string& key) {
  if (!validRoot(root)) throw ERegistryException("Invalid root key");
  checkKeyName(key);
  std::string path = fullPath(root, normalPath(key));
  auto [it, added] = keys_.try_emplace(fold(path));
  if (added) {
    it->second.path = path;
    dirty_ = true;
  }
  return it->second;
}

void TSettingsStore::CreateKey(TRegRoots root, const std::string& key) {
  if (!KeyExists(root, key)) makeKey(root, key);
}

bool TSettingsStore::DeleteKey(TRegRoots root, const std::string& key) {
  std::string normal = normalPath(key);
  if (normal.empty() || !KeyExists(root, key)) return false;
  std::string folded = fold(fullPath(root, normal));
  keys_.erase(folded);
  std::string prefix = folded + "\\";
  for (auto it = keys_.lower_bound(prefix);
       it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0;)
    it = keys_.erase(it);
  dirty_ = true;
  return true;
}

std::vector<std::string> TSettingsStore::KeyNames(TRegRoots root, const std::string& key) const {
  std::vector<std::string> names;
  if (!validRoot(root)) return names;
  std::string prefix = fold(fullPath(root, normalPath(key))) + "\\";
  std::set<std::string> seen;
  for (auto it = keys_.lower_bound(prefix);
       it != keys_.end() && it->first.compare(0, prefix.size(), prefix) == 0; ++it) {
    std::string rest = it->second.path.substr(prefix.size());
    std::string name = rest.substr(0, rest.find('\\'));
    if (seen.insert(fold(name)).second) names.push_back(name);
  }
  return names;
}

const TSettingsStore::TValue* TSettingsStore::findValue(TRegRoots root, const std::string& key,
                                                        const std::string& name) const {
  const TKey* k = findKey(root, key);
  if (!k) return nullptr;
  std::string folded = fold(name);
  for (const TValue& v : k->values)
    if (fold(v.name) == folded) return &v;
  return nullptr;
}

TSettingsStore::TValue& TSettingsStore::makeValue(TRegRoots root, const std::string& key,
                                                  const std::string& name) {
  TKey& k = makeKey(root, key);
  std::string folded = fold(name);
  for (TValue& v : k.values)
    if (fold(v.name) == folded) return v;
  TValue value;
  value.name = name;
  k.values.push_back(std::move(value));
  return k.values.back();
}

TRegDataType TSettingsStore::DataType(TRegRoots root, const std::string& key,
                                      const std::string& name) const {
  const TValue* v = findValue(root, key, name);
  return v ? v->type : TRegDataType::rdUnknown;
}

std::optional<std::string> TSettingsStore::ReadString(TRegRoots root, const std::string& key,
                                                      const std::string& name) const {
  const TValue* v = findValue(root, key, name);
  if (!v || v->type != TRegDataType::rdString) return std::nullopt;
  return v->text;
}

std::optional<int32_t> TSettingsStore::ReadInteger(TRegRoots root, const std::string& key,
                                                   const std::string& name) const {
  const TValue* v = findValue(root, key, name);
  if (!v || v->type != TRegDataType::rdInteger) return std::nullopt;
  return v->number;
}

void TSettingsStore::WriteString(TRegRoots root, const std::string& key, const std::string& name,
                                 const std::string& value) {
  TValue& v = makeValue(root, key, name);
  // Rewriting the same text leaves the file alone.
  if (v.type != TRegDataType::rdString || v.text != value) dirty_ = true;
  v.type = TRegDataType::rdString;
  v.text = value;
  v.number = 0;
}

void TSettingsStore::WriteInteger(TRegRoots root, const std::string& key, const std::string& name,
                                  int32_t value) {
  TValue& v = makeValue(root, key, name);
  if (v.type != TRegDataType::rdInteger || v.number != value) dirty_ = true;
  v.type = TRegDataType::rdInteger;
  v.number = value;
  v.text.clear();
}

bool TSettingsStore::DeleteValue(TRegRoots root, const std::string& key, const std::string& name) {
  auto it = keys_.find(fold(fullPath(root, normalPath(key))));
  if (it == keys_.end()) return false;
  auto& values = it->second.values;
  std::string folded = fold(name);
  for (auto v = values.begin(); v != values.end(); ++v) {
    if (fold(v->name) == folded) {
      values.erase(v);
      dirty_ = true;
      return true;
    }
  }
  return false;
}

std::vector<std::string> TSettingsStore::ValueNames(TRegRoots root, const std::string& key) const {
  std::vector<std::string> names;
  if (const TKey* k = findKey(root, key))
    for (const TValue& v : k->values) names.push_back(v.name);
  return names;
}

// ---- The file

std::string TSettingsStore::SaveText() const {
  std::string out =
      "; Quelt settings. Each [section] is a key; \"name\"=\"text\" and \"name\"=int:N are its\n"
      "; values, @ its unnamed value.\n";
  for (const auto& [folded, key] : keys_) {
    out += "\n[" + key.path + "]\n";
    for (const TValue& v : key.values) {
      out += v.name.empty() ? "@" : quote(v.name);
      out += '=';
      out += v.type == TRegDataType::rdInteger ? "int:" + std::to_string(v.number) : quote(v.text);
      out += '\n';
    }
  }
  return out;
}

void TSettingsStore::LoadText(std::string_view text) {
  keys_.clear();
  TKey* current = nullptr;
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    std::string_view line = text.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    while (!line.empty() && (line.front() == ' ' || line.front() == '\t')) line.remove_prefix(1);
    if (line.empty() || line[0] == ';') continue;

    if (line[0] == '[') {
      current = nullptr;
      size_t close = line.rfind(']');
      if (close == std::string_view::npos || close == 0) continue;
      std::string path(line.substr(1, close - 1));
      size_t cut = path.find('\\');
      auto root = RootByName(path.substr(0, cut));
      if (!root) continue;
      std::string key = cut == std::string::npos ? "" : path.substr(cut + 1);
      try {
        current = &makeKey(*root, key);
      } catch (const ERegistryException&) {
        current = nullptr;
      }
      continue;
    }
    if (!current) continue;

    std::string name;
    size_t pos = 0;
    if (line[0] == '@') {
      pos = 1;
    } else if (!unquote(line, pos, name) || name.empty()) {
      continue;
    }
    if (pos >= line.size() || line[pos] != '=') continue;
    ++pos;
    TValue value;
    value.name = name;
    if (line.substr(pos, 4) == "int:") {
      if (!parseInt32(line.substr(pos + 4), value.number)) continue;
      value.type = TRegDataType::rdInteger;
    } else {
      if (!unquote(line, pos, value.text) || pos != line.size()) continue;
      value.type = TRegDataType::rdString;
    }
    std::string folded = fold(name);
    bool replaced = false;
    for (TValue& v : current->values) {
      if (fold(v.name) == folded) {
        v = value;
        replaced = true;
      }
    }
    if (!replaced) current->values.push_back(std::move(value));
  }
  dirty_ = false;
}

TSettingsStore::TStamp TSettingsStore::fileStamp() const {
  struct stat st;
  TStamp s;
  if (::stat(path_.c_str(), &st) != 0) return s;
  s.mtimeNs = int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
  s.size = int64_t(st.st_size);
  s.ino = st.st_ino;
  return s;
}

void TSettingsStore::loadFile() {
  stamp_ = fileStamp();
  std::ifstream in(path_, std::ios::binary);
  if (!in) {
    keys_.clear();
    dirty_ = false;
    return;
  }
  std::ostringstream text;
  text << in.rdbuf();
  LoadText(text.str());
}

void TSettingsStore::Refresh() {
  if (!dirty_ && fileStamp() != stamp_) loadFile();
}

void TSettingsStore::Flush() {
  if (!dirty_) return;
  auto fail = [this](const std::string& what) {
    throw ERegistryException("Cannot save the settings to " + path_ + ": " + what);
  };
  try {
    files::MakeFolders(files::FolderOf(path_));
  } catch (const std::system_error& e) {
    fail(e.what());
  }
  try {
    files::WriteFileAtomically(path_, SaveText());
  } catch (const std::system_error& e) {
    fail(e.code().message());
  }
  dirty_ = false;
  stamp_ = fileStamp();
}

// ---- TRegistry

TRegistry::TRegistry(TSettingsStore& store, TRegRoots root) : RootKey(root), store_(store) {}

TRegistry::~TRegistry() {
  try {
    CloseKey();
  } catch (const ERegistryException&) {
  }
}

bool TRegistry::OpenKey(const std::string& key, bool canCreate) {
  store_.Refresh();
  if (!store_.KeyExists(RootKey, key)) {
    if (!canCreate) return false;
    store_.CreateKey(RootKey, key);
  }
  current_ = normalPath(key);
  open_ = true;
  readOnly_ = false;
  return true;
}

bool TRegistry::OpenKeyReadOnly(const std::string& key) {
  if (!OpenKey(key, false)) return false;
  readOnly_ = true;
  return true;
}

void TRegistry::CloseKey() {
  open_ = false;
  readOnly_ = false;
  current_.clear();
  store_.Flush();
}

bool TRegistry::ValueExists(const std::string& name) const {
  return store_.DataType(RootKey, current_, name) != TRegDataType::rdUnknown;
}

TRegDataType TRegistry::GetDataType(const std::string& name) const {
  return store_.DataType(RootKey, current_, name);
}

std::string TRegistry::ReadString(const std::string& name) const {
  TRegDataType type = GetDataType(name);
  if (type == TRegDataType::rdUnknown) return "";
  auto text = store_.ReadString(RootKey, current_, name);
  if (!text) throw ERegistryException("Invalid data type for '" + name + "'");
  return *text;
}

int32_t TRegistry::ReadInteger(const std::string& name) const {
  auto number = store_.ReadInteger(RootKey, current_, name);
  if (!number) throw ERegistryException("Invalid data type for '" + name + "'");
  return *number;
}

void TRegistry::checkWritable(const std::string& name) const {
  if (readOnly_) throw ERegistryException("Failed to set data for '" + name + "'");
}

void TRegistry::WriteString(const std::string& name, const std::string& value) {
  checkWritable(name);
  store_.WriteString(RootKey, current_, name, value);
}

void TRegistry::WriteInteger(const std::string& name, int32_t value) {
  checkWritable(name);
  store_.WriteInteger(RootKey, current_, name, value);
}

bool TRegistry::DeleteValue(const std::string& name) {
  checkWritable(name);
  return store_.DeleteValue(RootKey, current_, name);
}

std::vector<std::string> TRegistry::GetValueNames() const {
  return store_.ValueNames(RootKey, current_);
}

std::vector<std::string> TRegistry::GetKeyNames() const {
  return store_.KeyNames(RootKey, current_);
}

}  // namespace quelt
