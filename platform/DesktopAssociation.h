// Whether the desktop opens ZIP archives with this program, and making it so.
#pragma once

#include <string>

#include "platform/PlatformError.h"

namespace quelt {

// The name of this program's desktop entry, the handle the desktop knows it by.
constexpr const char* kDesktopEntryName = "quelt.desktop";

class IDesktopAssociation {
 public:
  virtual ~IDesktopAssociation() = default;

  // True when the desktop's program for ZIP archives is this one.
  virtual bool IsZipHandler() = 0;
  // Makes this program, running from `programPath`, the desktop's program for ZIP archives.
  // Throws EPlatformError: "Error: Program not found: <path>" when nothing is there, else a
  // text saying what the desktop refused.
  virtual void MakeZipHandler(const std::string& programPath) = 0;
};

// The desktop entry of the program at `program`: what it is called, how it is started with
// an archive, the icon and the archive types it opens.
std::string DesktopEntryText(const std::string& program);
// One argument of an entry's Exec line, quoted and escaped so it reads back unchanged.
std::string DesktopExecArgument(const std::string& arg);

}  // namespace quelt
