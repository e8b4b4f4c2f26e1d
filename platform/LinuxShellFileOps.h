// Whole-file copy and move on POSIX: the bytes go to a hidden temporary file beside the target,
// are flushed to the disk and renamed into place; a move on one file system is a rename. A
// target that is a symbolic link is replaced by the file, never written through.
#pragma once

#include "platform/ShellFileOps.h"

namespace quelt {

class TLinuxShellFileOps : public IShellFileOps {
 public:
  [[nodiscard]] TFileOpOutcome CopyFile(const std::string& source, const std::string& target,
                                        const TConfirmReplace& confirm) override;
  [[nodiscard]] TFileOpOutcome MoveFile(const std::string& source, const std::string& target,
                                        const TConfirmReplace& confirm) override;
};

}  // namespace quelt
