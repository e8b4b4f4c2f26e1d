// The freedesktop way: the default program of the application/zip type, as xdg-mime reads
// and writes it (mimeapps.list under the user's configuration folder).
#pragma once

#include <string>

#include "platform/DesktopAssociation.h"
#include "platform/Processes.h"

namespace quelt {

class TXdgAssociation : public IDesktopAssociation {
 public:
  explicit TXdgAssociation(IProcessRunner& runner, std::string xdgMime = "xdg-mime");

  // False as well when xdg-mime is missing or cannot tell.
  bool IsZipHandler() override;
  // Writes the desktop entry to $XDG_DATA_HOME/applications first when no installed one is
  // found, then makes it the default for both ZIP types and checks that the desktop agrees.
  void MakeZipHandler(const std::string& programPath) override;

  // Where an installed entry is looked for: the user's data folder, then the system's.
  static bool EntryInstalled();

 private:
  IProcessRunner& runner_;
  std::string xdgMime_;
};

}  // namespace quelt
