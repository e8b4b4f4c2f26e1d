// Where the running program and Quelt's installed files live. Linux has no system or Windows
// folder to keep helper files in; Quelt's own library and data folders, found from the
// program's folder, take their places.
#pragma once

#include <string>

namespace quelt {

class IAppFolders {
 public:
  virtual ~IAppFolders() = default;

  // The process's current folder; empty when it cannot be told.
  virtual std::string CurrentFolder() = 0;
  // The folder of the running program's file (symlinks resolved); empty when unknown.
  virtual std::string ProgramFolder() = 0;
  // Quelt's installed library folder (PREFIX/lib/quelt for a program in PREFIX/bin).
  virtual std::string LibraryFolder() = 0;
  // Quelt's installed data folder (PREFIX/share/quelt).
  virtual std::string DataFolder() = 0;
};

// The real folders of this process.
IAppFolders& systemAppFolders();

// Folders given by a test.
class TFixedAppFolders : public IAppFolders {
 public:
  std::string current, program, library, data;
  std::string CurrentFolder() override { return current; }
  std::string ProgramFolder() override { return program; }
  std::string LibraryFolder() override { return library; }
  std::string DataFolder() override { return data; }
};

}  // namespace quelt
