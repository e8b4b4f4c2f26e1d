// Helpers for the window tests: archives made on the spot and a window with a fresh
// settings folder and scripted dialogs.
#pragma once

#include <gtest/gtest.h>

#include <QDialog>
#include <QPushButton>
#include <QStringList>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/mainunit.h"
#include "support/FakeDesktopAssociation.h"
#include "support/FakeDialogs.h"
#include "support/TestUtil.h"

namespace quelt::test {

struct TEntrySpec {
  TEntrySpec(std::string name_, std::string data_ = "",
             std::array<int, 6> date_ = {2020, 1, 1, 0, 0, 0}, uint16_t flags_ = 0,
             std::optional<uint32_t> claimedSize_ = std::nullopt)
      : name(std::move(name_)),
        data(std::move(data_)),
        date(date_),
        flags(flags_),
        claimedSize(claimedSize_) {}
  std::string name;  // stored name, "/" between folders
  std::string data;
  std::array<int, 6> date;              // local date and time
  uint16_t flags;                       // bit 0: encrypted
  std::optional<uint32_t> claimedSize;  // the size the headers state, if not the data's
};

// Writes a ZIP archive of stored entries (built by python3 at test time).
void MakeZip(const std::string& path, const std::vector<TEntrySpec>& entries);

class TWindowTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  TMainform& start(QStringList arguments = {});
  // Destroys the window (which saves its properties) and builds a new one on a store read
  // afresh from the file.
  TMainform& restart(QStringList arguments = {});

  std::string zip(const std::string& name, const std::vector<TEntrySpec>& entries);
  // Opens through File > Open..., answering the dialog with `path`.
  void openThroughMenu(const std::string& path);
  void open(const std::string& path);

  // The listing as shown: each row's six cells joined by "|".
  QStringList rows() const;
  QStringList column(int c) const;

  // The next modal dialog of the window must have this object name; the script plays the
  // user's part on it (fills controls, presses a button). A dialog nobody expected fails
  // the test and is closed unanswered.
  void expectDialog(const QString& objectName, std::function<void(QDialog&)> script);
  // Presses the named button of a dialog.
  static void press(QDialog& dialog, const char* button);

  // Writes a value under SOFTWARE\Dunmarra\Quelt before the window starts.
  void putSetting(const std::string& name, int32_t value);
  void putSetting(const std::string& name, const std::string& text);

  // What the settings file holds under SOFTWARE\Dunmarra\Quelt, read from disk.
  std::optional<std::string> storedText(const std::string& name) const;
  std::optional<int32_t> storedInt(const std::string& name) const;

  TempDir dir;
  std::unique_ptr<TFakeDialogs> dialogs;
  std::unique_ptr<TSettingsStore> store;
  std::unique_ptr<TMainform> form;
  // The desktop's file-type registry; it says ZIP files are ours, so nothing asks.
  TFakeDesktopAssociation desktop;
  // The object names of the modal dialogs shown, in order.
  QStringList shownDialogs;

 private:
  int runModal(QDialog& dialog);

  std::string cwd_;
  std::deque<std::pair<QString, std::function<void(QDialog&)>>> scripts_;
};

}  // namespace quelt::test

// Qt's strings in test failures as text.
inline void PrintTo(const QString& s, std::ostream* os) {
  *os << '"' << s.toStdString() << '"';
}
