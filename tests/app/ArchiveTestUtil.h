// Helpers for tests that change and extract archives through the window's dialogs.
#pragma once

#include "AppTestUtil.h"
#include "app/dialogs/AddForm.h"
#include "app/dialogs/ExtractForm.h"
#include "app/dialogs/MsgForm.h"

namespace quelt::test {

class TArchiveTest : public TWindowTest {
 protected:
  // Starts the window and makes `path`, which does not exist yet, the current archive.
  void startNew(const std::string& path);
  // Add Files: `fill` sets up the dialog as the user would; then "&Add" is pressed.
  void add(const std::function<void(TAddForm&)>& fill);
  // Extract: `fill` sets up the dialog; then "&Extract" is pressed.
  void extract(const std::function<void(TExtract&)>& fill);
  // Selects the file list's items of these names and presses "Add File(s)".
  static void addFiles(TAddForm& f, const std::string& folder, const QStringList& names);
  // Selects the listing's rows of these names: folder and name as shown ("docs\\a.txt").
  void selectRows(const QStringList& names);

  TMsgform& output() { return form->Output(); }
  QStringList lines() { return output().Lines(); }
  // The stored names of the archive as another reader of ours sees them, in file order.
  static std::vector<std::string> storedNames(const std::string& zip);
  // No file of the writer's or extractor's scratch files left in the folder.
  static bool noScratchFiles(const std::string& folder);
};

}  // namespace quelt::test
