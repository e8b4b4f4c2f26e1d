// File operations of extraction and writing that the platform's file layer does not give
// as such: new files that look like any other, and putting a finished file in place.
#pragma once

#include <string>

namespace quelt {

// Deletes a scratch file when it goes out of scope, unless `path` was cleared first.
struct TScratchFile {
  std::string path;
  TScratchFile() = default;
  TScratchFile(const TScratchFile&) = delete;
  TScratchFile& operator=(const TScratchFile&) = delete;
  ~TScratchFile();
};

// A new, empty, unique file in `folder` whose name starts with `prefix`, with the
// permissions any new file gets (0666 less the umask); returns its path.
std::string MakeTempFile(const std::string& folder, const std::string& prefix);
// The folder part of a path ("." for a bare name).
std::string FolderOf(const std::string& path);
// Atomically replaces `to` with `from`; EInOutError naming `to` on failure.
void RenameOver(const std::string& from, const std::string& to);
// Puts the finished file `built` in place of `target` so that a crash at any moment leaves
// either the old target or the new one, whole: on the target's own volume the new bytes are
// forced to disk and renamed over it (keeping its permissions). `built` is gone afterwards.
void ReplaceFileAtomically(const std::string& built, const std::string& target);

}  // namespace quelt
