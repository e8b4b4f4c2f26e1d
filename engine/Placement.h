// Putting extracted entries in place below the destination. Folders are reached and made one
// component at a time without following a link, so nothing is ever written through a link,
// whoever made it; each file is written under a temporary name beside its destination and
// renamed over it only when whole; a link is made only when its target stays inside the
// destination; folder permissions and times are applied last, deepest first.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <memory>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "engine/BufferStream.h"
#include "platform/SafeFolder.h"

namespace quelt {

struct TExtractPath;

// Where one entry goes: an open folder and a name in it.
struct TTarget {
  files::TFolder folder;
  std::string name;
  std::string path;  // for messages and events
};

// A file being written: the temporary file beside the target until Commit.
class TPlacedFile {
 public:
  TPlacedFile(TTarget target, int fd, std::string temp);
  ~TPlacedFile();  // removes the temporary file unless committed
  TPlacedFile(const TPlacedFile&) = delete;
  TPlacedFile& operator=(const TPlacedFile&) = delete;
  TStream& Stream() { return *stream_; }
  const std::string& Path() const { return target_.path; }

 private:
  friend class TPlacement;
  TTarget target_;
  std::unique_ptr<TFileStream> stream_;
  std::string temp_;
};

class TPlacement {
 public:
  // Makes the destination when it is missing ("" is the current folder) and opens it.
  explicit TPlacement(const std::string& destDir);

  // The target of an entry below the destination; with `create` its folders are made.
  // Throws EInOutError saying what is in the way.
  TTarget Below(const TExtractPath& where, bool create) const;
  // A target the host named itself (a rename when asked about overwriting): links in its
  // folder are followed, as they are in any name the user types.
  static TTarget At(const std::string& path);
  // Whether something (a file, a folder, a link) already has the target's name.
  bool Exists(const TExtractPath& where) const;
  // Whether an entry of this run has already been put at that path.
  bool Placed(const std::string& path) const { return placed_.count(path) > 0; }

  std::unique_ptr<TPlacedFile> Begin(TTarget target);
  // Gives the file its permissions and time, closes it and renames it over the target.
  // Throws EInOutError when it cannot be put in place.
  void Commit(TPlacedFile& file, std::optional<mode_t> mode, std::optional<time_t> moment);
  // A link to `target`, refused (EInOutError) when the target is absolute or leads out of
  // the destination from where the link stands.
  void MakeLink(const TExtractPath& where, const std::string& target, std::optional<time_t> moment);
  // Makes the folder `relative` now; its permissions and time wait for Finish.
  void MakeFolder(const std::string& relative, std::optional<mode_t> mode,
                  std::optional<time_t> moment);
  // Applies the folders' permissions and times; failures are ignored (the folders exist).
  void Finish();

 private:
  struct TFolderStamp {
    std::string relative;
    std::optional<mode_t> mode;
    std::optional<time_t> moment;
  };
  files::TFolder dest_;
  std::set<std::string> placed_;
  std::vector<TFolderStamp> folders_;
};

// Whether a link target, read from a link at `relative` below the destination, stays inside
// it: relative, and its ".." parts (all before any other part) climbing no higher than the
// link's own folder is deep. A ".." after a name could climb out of whatever that name is a
// link to, so it is refused.
bool LinkTargetStaysInside(const std::string& relative, const std::string& target);

}  // namespace quelt
