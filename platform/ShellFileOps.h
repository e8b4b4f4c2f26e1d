// Copying and moving a whole file for the archive commands (Copy, Save As, Move): the target
// is replaced only with the user's consent, appears whole or not at all, and a failure says
// what went wrong.
#pragma once

#include <functional>
#include <string>

#include "platform/PlatformError.h"

namespace quelt {

// Asked with the target's path when the target exists; true lets it be replaced.
using TConfirmReplace = std::function<bool(const std::string& target)>;

enum class TFileOpOutcome { Done, Declined };

class IShellFileOps {
 public:
  virtual ~IShellFileOps() = default;

  // Copies the file `source` to the file path `target`, keeping its permissions and
  // modification time. Declined when the user kept an existing target. Throws EPlatformError
  // on failure, the target then as it was; copying a file onto itself is such a failure.
  [[nodiscard]] virtual TFileOpOutcome CopyFile(const std::string& source,
                                                const std::string& target,
                                                const TConfirmReplace& confirm) = 0;
  // As CopyFile, and the source is removed, but only once the target holds the same bytes.
  // When the copy is in place but the source cannot be removed, the error says so.
  [[nodiscard]] virtual TFileOpOutcome MoveFile(const std::string& source,
                                                const std::string& target,
                                                const TConfirmReplace& confirm) = 0;
};

}  // namespace quelt
