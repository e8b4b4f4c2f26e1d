// Folders held by descriptor, so that what extraction writes below a destination is reached
// without following any symbolic link that an archive, or anyone else, put in the way.
#pragma once

#include <sys/types.h>

#include <ctime>
#include <string>

namespace quelt::files {

enum class TItemKind { None, File, Folder, Link, Other };

class TFolder {
 public:
  // The folder at `path`, links in the path followed: naming it is the user's choice. Throws
  // std::system_error naming it.
  explicit TFolder(const std::string& path);
  TFolder(TFolder&& other) noexcept;
  TFolder& operator=(TFolder&& other) noexcept;
  TFolder(const TFolder&) = delete;
  TFolder& operator=(const TFolder&) = delete;
  ~TFolder();

  // The folder `relative` ("a/b"; "" is this one) below this one, reached one component at a
  // time without following a link; missing folders are made when `create` is set. Throws
  // std::runtime_error saying which component is in the way (a file, a link), or
  // std::system_error when the system refuses.
  TFolder Open(const std::string& relative, bool create) const;

  // What `name` in this folder is, a link judged as itself.
  TItemKind KindOf(const std::string& name) const;
  // A new empty file in this folder named `prefix` and six more characters, with the
  // permissions any new file gets; returns its descriptor and sets `name`. Throws
  // std::system_error.
  int CreateTemp(const std::string& prefix, std::string& name) const;
  // Renames within this folder, replacing `to` (a link there is replaced, not followed).
  [[nodiscard]] bool Rename(const std::string& from, const std::string& to) const;
  // Removes a file or a link (never what it points to).
  [[nodiscard]] bool Remove(const std::string& name) const;
  // A new link to `target` in this folder named `prefix` and six more characters; returns
  // its name. Throws std::system_error.
  std::string MakeTempLink(const std::string& target, const std::string& prefix) const;
  // The modification time of the link `name` itself.
  [[nodiscard]] bool SetLinkTime(const std::string& name, time_t moment) const;
  // This folder's own permissions and modification time.
  [[nodiscard]] bool SetMode(mode_t mode) const;
  [[nodiscard]] bool SetTime(time_t moment) const;

  int Fd() const { return fd_; }

 private:
  TFolder(int fd, std::string path) : fd_(fd), path_(std::move(path)) {}
  int fd_ = -1;
  std::string path_;  // for messages
};

// Permissions and modification time of an open file.
[[nodiscard]] bool SetDescriptorMode(int fd, mode_t mode);
[[nodiscard]] bool SetDescriptorTime(int fd, time_t moment);

}  // namespace quelt::files
