// The desktop's list of recently used documents, which file dialogs and launchers offer.
#pragma once

#include <string>

#include "platform/PlatformError.h"

namespace quelt {

class IRecentDocuments {
 public:
  virtual ~IRecentDocuments() = default;

  // Puts the file on the list as just used by this program (it need not exist yet). Throws
  // EPlatformError when the list cannot be updated; it is then as it was.
  virtual void AddDocument(const std::string& path) = 0;
};

}  // namespace quelt
