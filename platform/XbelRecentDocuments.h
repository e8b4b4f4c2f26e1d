// The freedesktop recent-files list: recently-used.xbel under the user's data folder, an XBEL
// document shared by every desktop program. Other programs' entries are left as they are.
#pragma once

#include <optional>
#include <string>
#include <string_view>

#include "platform/RecentDocuments.h"

namespace quelt {

// How this program appears in the entries it adds.
struct TRecentApp {
  std::string name = "Quelt";
  std::string exec = "quelt %u";
};

class TXbelRecentDocuments : public IRecentDocuments {
 public:
  // An empty `listPath` means $XDG_DATA_HOME/recently-used.xbel, looked up at each call.
  explicit TXbelRecentDocuments(std::string listPath = "", TRecentApp app = {});

  // A list that is a link to something other than a file (users link it to /dev/null to
  // turn the list off) is left alone. A list that is not valid XBEL is refused, not replaced.
  void AddDocument(const std::string& path) override;

  static std::string DefaultPath();

 private:
  std::string listPath_;
  TRecentApp app_;
};

// The list's text with `path` (absolute) added as used now, or its entry refreshed: its
// modified and visited times and this program's use count. An empty `text` starts a new list.
// `stamp` is the time in the list's form. Throws xml::EXmlError for text that is no XBEL.
std::string AddToRecentList(std::string_view text, const std::string& path, const TRecentApp& app,
                            const std::string& stamp);

// "file://" and the path with the bytes a URI may not hold percent-encoded.
std::string FileUri(const std::string& absolutePath);
// The path of a local "file:" URI; nothing for other URIs or bad escapes.
std::optional<std::string> PathFromFileUri(std::string_view uri);
// A moment as the list writes it: UTC with microseconds, "2024-05-01T10:20:30.123456Z".
std::string RecentStamp(int64_t seconds, int micros);

}  // namespace quelt
