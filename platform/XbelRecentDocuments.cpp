#include "platform/XbelRecentDocuments.h"

#include <sys/stat.h>
#include <unistd.h>

#include <cctype>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <memory>
#include <system_error>

#include "platform/FileSystem.h"
#include "platform/PercentEncoding.h"
#include "platform/XdgDirs.h"
#include "platform/XmlTree.h"

namespace quelt {

namespace {

using xml::TNode;

constexpr const char* kEmptyList =
    "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
    "<xbel version=\"1.0\"\n"
    "      xmlns:bookmark=\"http://www.freedesktop.org/standards/desktop-bookmarks\"\n"
    "      xmlns:mime=\"http://www.freedesktop.org/standards/shared-mime-info\"\n"
    ">\n"
    "</xbel>\n";
// The metadata block that desktop programs read the MIME type and applications from.
constexpr const char* kOwner = "http://freedesktop.org";

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool startsWithNoCase(std::string_view text, std::string_view prefix) {
  if (text.size() < prefix.size()) return false;
  for (size_t i = 0; i < prefix.size(); ++i)
    if (std::tolower((unsigned char)text[i]) != prefix[i]) return false;
  return true;
}

std::string indent(int depth) {
  return std::string(size_t(depth) * 2, ' ');
}

// A new element that holds children, its closing tag on a line of its own.
TNode container(const char* name, int depth) {
  TNode node = TNode::Element(name);
  node.children.push_back(TNode::Raw("\n" + indent(depth)));
  return node;
}

TNode& childOrNew(TNode& parent, const char* name, int depth) {
  if (TNode* child = parent.Child(name)) return *child;
  return parent.AppendChild(container(name, depth), indent(depth));
}

// The way the list's readers expect the command: quoted as one shell word.
std::string shellQuote(const std::string& text) {
  std::string out = "'";
  for (char c : text) out += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return out + "'";
}

std::string mimeTypeOf(const std::string& path) {
  std::string name = files::NameOf(path);
  auto dot = name.rfind('.');
  std::string ext;
  if (dot != std::string::npos)
    for (char c : name.substr(dot + 1)) ext.push_back(char(std::tolower((unsigned char)c)));
  if (ext == "zip") return "application/zip";
  if (ext == "exe") return "application/x-ms-dos-executable";
  return "application/octet-stream";
}

TNode* findEntry(TNode& root, const std::string& path) {
  for (auto& child : root.children) {
    if (child.kind != TNode::TKind::Element || child.name != "bookmark") continue;
    const std::string* href = child.Attribute("href");
    if (!href) continue;
    // Programs escape URIs differently; the file named is what counts.
    if (auto named = PathFromFileUri(*href); named && *named == path) return &child;
  }
  return nullptr;
}

void addUse(TNode& metadata, const TRecentApp& app, const std::string& stamp) {
  TNode& apps = childOrNew(metadata, "bookmark:applications", 4);
  for (auto& child : apps.children) {
    if (child.kind != TNode::TKind::Element || child.name != "bookmark:application") continue;
    const std::string* name = child.Attribute("name");
    if (!name || *name != app.name) continue;
    const std::string* count = child.Attribute("count");
    long uses = count ? std::strtol(count->c_str(), nullptr, 10) : 0;
    child.SetAttribute("modified", stamp);
    child.SetAttribute("count", std::to_string(uses > 0 ? uses + 1 : 1));
    return;
  }
  TNode use = TNode::Element("bookmark:application");
  use.SetAttribute("name", app.name);
  use.SetAttribute("exec", shellQuote(app.exec));
  use.SetAttribute("modified", stamp);
  use.SetAttribute("count", "1");
  apps.AppendChild(std::move(use), indent(5));
}

std::string absolutePath(const std::string& path) {
  if (!path.empty() && path[0] == '/') return path;
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  return std::string(cwd ? cwd.get() : "") + "/" + path;
}

std::string nowStamp() {
  timespec now{};
  ::clock_gettime(CLOCK_REALTIME, &now);
  return RecentStamp(now.tv_sec, int(now.tv_nsec / 1000));
}

}  // namespace

std::string FileUri(const std::string& absolutePath) {
  // What the desktop's own URIs leave as it is, so that theirs and ours match.
  return "file://" + PercentEncode(absolutePath, "!$&'()*+,/:=@");
}

std::optional<std::string> PathFromFileUri(std::string_view uri) {
  if (!startsWithNoCase(uri, "file:")) return std::nullopt;
  std::string_view rest = uri.substr(5);
  if (rest.substr(0, 2) == "//") {
    rest.remove_prefix(2);
    size_t slash = rest.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    std::string_view host = rest.substr(0, slash);
    if (!host.empty() && !(host.size() == 9 && startsWithNoCase(host, "localhost")))
      return std::nullopt;
    rest.remove_prefix(slash);
  }
  if (rest.empty() || rest[0] != '/') return std::nullopt;
  std::string path;
  for (size_t i = 0; i < rest.size(); ++i) {
    if (rest[i] == '?' || rest[i] == '#') return std::nullopt;
    if (rest[i] != '%') {
      path.push_back(rest[i]);
      continue;
    }
    if (i + 2 >= rest.size()) return std::nullopt;
    int hi = hexValue(rest[i + 1]), lo = hexValue(rest[i + 2]);
    if (hi < 0 || lo < 0 || (hi == 0 && lo == 0)) return std::nullopt;
    path.push_back(char(hi * 16 + lo));
    i += 2;
  }
  return path;
}

std::string RecentStamp(int64_t seconds, int micros) {
  time_t t = time_t(seconds);
  std::tm tm{};
  ::gmtime_r(&t, &tm);
  char buf[64];
  std::snprintf(buf, sizeof buf, "%04d-%02d-%02dT%02d:%02d:%02d.%06dZ", tm.tm_year + 1900,
                tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min, tm.tm_sec, micros);
  return buf;
}

std::string AddToRecentList(std::string_view text, const std::string& path, const TRecentApp& app,
                            const std::string& stamp) {
  bool blank = text.find_first_not_of(" \t\r\n") == std::string_view::npos;
  xml::TDocument doc = xml::Parse(blank ? std::string_view(kEmptyList) : text);
  if (doc.root.name != "xbel")
    throw xml::EXmlError("Not a recent-files list: its root is <" + doc.root.name + ">");
  TNode* entry = findEntry(doc.root, path);
  if (entry) {
    entry->SetAttribute("modified", stamp);
    entry->SetAttribute("visited", stamp);
  } else {
    TNode fresh = container("bookmark", 1);
    fresh.SetAttribute("href", FileUri(path));
    fresh.SetAttribute("added", stamp);
    fresh.SetAttribute("modified", stamp);
    fresh.SetAttribute("visited", stamp);
    entry = &doc.root.AppendChild(std::move(fresh), indent(1));
  }
  TNode& info = childOrNew(*entry, "info", 2);
  TNode* metadata = nullptr;
  for (auto& child : info.children) {
    const std::string* owner = child.Attribute("owner");
    if (child.kind == TNode::TKind::Element && child.name == "metadata" && owner &&
        *owner == kOwner)
      metadata = &child;
  }
  if (!metadata) {
    TNode fresh = container("metadata", 3);
    fresh.SetAttribute("owner", kOwner);
    metadata = &info.AppendChild(std::move(fresh), indent(3));
  }
  if (!metadata->Child("mime:mime-type")) {
    TNode mime = TNode::Element("mime:mime-type");
    mime.SetAttribute("type", mimeTypeOf(path));
    metadata->AppendChild(std::move(mime), indent(4));
  }
  addUse(*metadata, app, stamp);
  return xml::Serialize(doc);
}

TXbelRecentDocuments::TXbelRecentDocuments(std::string listPath, TRecentApp app)
    : listPath_(std::move(listPath)), app_(std::move(app)) {}

std::string TXbelRecentDocuments::DefaultPath() {
  return xdg::DataHome() + "/recently-used.xbel";
}

void TXbelRecentDocuments::AddDocument(const std::string& path) {
  const std::string list = listPath_.empty() ? DefaultPath() : listPath_;
  auto fail = [&](const std::string& why) {
    throw EPlatformError("Unable to update the list of recent documents " + list + ": " + why);
  };
  std::string target = list;
  mode_t mode = 0600;
  struct stat st;
  if (::lstat(list.c_str(), &st) == 0) {
    if (S_ISLNK(st.st_mode)) {
      // The list is kept where the link points; a link to anything else turns it off.
      std::unique_ptr<char, decltype(&std::free)> real(::realpath(list.c_str(), nullptr),
                                                       &std::free);
      if (!real || ::stat(real.get(), &st) != 0 || !S_ISREG(st.st_mode)) return;
      target = real.get();
    } else if (!S_ISREG(st.st_mode)) {
      fail("it is not a file");
    }
    mode = st.st_mode & 0777;
  } else if (errno != ENOENT) {
    fail(std::strerror(errno));
  } else {
    try {
      // Private, as the base-directory rules ask of folders they create.
      files::MakeFolders(files::FolderOf(list), 0700);
    } catch (const std::system_error& e) {
      fail(e.what());
    }
  }
  std::string text;
  if (target != list || ::access(target.c_str(), F_OK) == 0) {
    auto read = files::ReadFileText(target);
    if (!read) fail(std::strerror(errno));
    text = std::move(*read);
  }
  try {
    text = AddToRecentList(text, absolutePath(path), app_, nowStamp());
  } catch (const xml::EXmlError& e) {
    fail(e.what());
  }
  try {
    files::WriteFileAtomically(target, text, mode);
  } catch (const std::system_error& e) {
    fail(e.code().message());
  }
}

}  // namespace quelt
