#include "AppTestUtil.h"

#include <unistd.h>

#include <cstdlib>
#include <sstream>

#include "app/QtText.h"
#include "app/commands/AssociationCommand.h"
#include "app/viewers/Assoc.h"

namespace quelt::test {

namespace {

const char* const kZipWriter = R"PY(
import json, struct, sys, zlib
spec = json.load(sys.stdin)
out = bytearray()
central = bytearray()
for e in spec["entries"]:
    name = e["name"].encode()
    data = e["data"].encode()
    y, mo, d, h, mi, s = e["date"]
    t = (h << 11) | (mi << 5) | (s // 2)
    dt = ((y - 1980) << 9) | (mo << 5) | d
    crc = zlib.crc32(data)
    size = e.get("size", len(data))
    offset = len(out)
    out += struct.pack("<IHHHHHIIIHH", 0x04034B50, 20, e["flags"], 0, t, dt, crc, len(data), size,
                       len(name), 0) + name + data
    central += struct.pack("<IHHHHHHIIIHHHHHII", 0x02014B50, 20, 20, e["flags"], 0, t, dt, crc,
                           len(data), size, len(name), 0, 0, 0, 0, 0, offset) + name
start = len(out)
n = len(spec["entries"])
out += central + struct.pack("<IHHHHIIH", 0x06054B50, 0, 0, n, n, len(central), start, 0)
open(spec["path"], "wb").write(out)
)PY";

std::string json(const std::string& s) {
  std::string out = "\"";
  for (unsigned char c : s) {
    if (c == '"' || c == '\\') {
      out += '\\';
      out += char(c);
    } else if (c < 0x20) {
      char buf[8];
      std::snprintf(buf, sizeof buf, "\\u%04x", c);
      out += buf;
    } else {
      out += char(c);
    }
  }
  return out + "\"";
}

}  // namespace

void MakeZip(const std::string& path, const std::vector<TEntrySpec>& entries) {
  std::ostringstream spec;
  spec << "{\"path\": " << json(path) << ", \"entries\": [";
  for (size_t i = 0; i < entries.size(); ++i) {
    const TEntrySpec& e = entries[i];
    spec << (i ? "," : "") << "{\"name\": " << json(e.name) << ", \"data\": " << json(e.data)
         << ", \"flags\": " << e.flags << ", \"date\": [" << e.date[0] << "," << e.date[1] << ","
         << e.date[2] << "," << e.date[3] << "," << e.date[4] << "," << e.date[5] << "]";
    if (e.claimedSize) spec << ", \"size\": " << *e.claimedSize;
    spec << "}";
  }
  spec << "]}";
  RunResult r = run("python3 -c " + shq(kZipWriter), "", spec.str());
  if (r.status != 0) throw std::runtime_error("making " + path + " failed: " + r.err);
}

void TWindowTest::SetUp() {
  char buf[4096];
  if (::getcwd(buf, sizeof buf)) cwd_ = buf;
  ::setenv("QUELT_CONFIG_HOME", (dir / "cfg").c_str(), 1);
  ::setenv("XDG_CACHE_HOME", (dir / "cache").c_str(), 1);
  // The desktop's recent-files list of a window under test is the test's own.
  ::setenv("XDG_DATA_HOME", (dir / "data").c_str(), 1);
  dialogs = std::make_unique<TFakeDialogs>();
  desktop.zipHandler = true;
}

void TWindowTest::TearDown() {
  EXPECT_TRUE(scripts_.empty()) << scripts_.size() << " dialogs expected but never shown, the next "
                                << (scripts_.empty() ? "" : scripts_.front().first.toStdString());
  form.reset();
  store.reset();
  dialogs.reset();
  if (!cwd_.empty() && ::chdir(cwd_.c_str()) != 0) {
  }
}

TMainform& TWindowTest::start(QStringList arguments) {
  store = std::make_unique<TSettingsStore>(TSettingsStore::DefaultPath());
  form = std::make_unique<TMainform>(*store, *dialogs, arguments);
  AssociationDialog(*form).SetDesktop(desktop);
  form->Modal().SetRunner([this](QDialog& d) { return runModal(d); });
  return *form;
}

int TWindowTest::runModal(QDialog& dialog) {
  shownDialogs << dialog.objectName();
  if (scripts_.empty() || scripts_.front().first != dialog.objectName()) {
    ADD_FAILURE() << "unexpected dialog " << dialog.objectName().toStdString();
    return QDialog::Rejected;
  }
  auto script = std::move(scripts_.front().second);
  scripts_.pop_front();
  // As exec() would: unanswered until a button says otherwise.
  dialog.setResult(QDialog::Rejected);
  dialog.show();
  script(dialog);
  dialog.hide();
  return dialog.result();
}

void TWindowTest::expectDialog(const QString& objectName, std::function<void(QDialog&)> script) {
  scripts_.emplace_back(objectName, std::move(script));
}

void TWindowTest::press(QDialog& dialog, const char* button) {
  auto* b = dialog.findChild<QPushButton*>(button);
  ASSERT_NE(b, nullptr) << button;
  ASSERT_TRUE(b->isEnabled()) << button;
  b->click();
}

void TWindowTest::putSetting(const std::string& name, int32_t value) {
  TSettingsStore s(TSettingsStore::DefaultPath());
  s.WriteInteger(LOCAL_MACHINE, "SOFTWARE\\Dunmarra\\Quelt", name, value);
  s.Flush();
}

TMainform& TWindowTest::restart(QStringList arguments) {
  form.reset();
  store.reset();
  return start(arguments);
}

std::string TWindowTest::zip(const std::string& name, const std::vector<TEntrySpec>& entries) {
  std::string path = dir / name;
  MakeZip(path, entries);
  return path;
}

void TWindowTest::openThroughMenu(const std::string& path) {
  dialogs->AnswerOpenFile(path);
  form->Command("Open1")->trigger();
}

void TWindowTest::open(const std::string& path) {
  form->SetCurrentArchive(PathToQt(path));
  form->OpenIT();
}

QStringList TWindowTest::rows() const {
  QStringList out;
  const TCatalogueModel& m = form->Listing();
  for (int r = 0; r < m.rowCount(); ++r) {
    QStringList cells;
    for (int c = 0; c < TCatalogueModel::colCount; ++c) cells << m.CellText(r, c);
    out << cells.join('|');
  }
  return out;
}

QStringList TWindowTest::column(int c) const {
  QStringList out;
  for (int r = 0; r < form->Listing().rowCount(); ++r) out << form->Listing().CellText(r, c);
  return out;
}

void TWindowTest::putSetting(const std::string& name, const std::string& text) {
  TSettingsStore s(TSettingsStore::DefaultPath());
  s.WriteString(LOCAL_MACHINE, "SOFTWARE\\Dunmarra\\Quelt", name, text);
  s.Flush();
}

std::optional<std::string> TWindowTest::storedText(const std::string& name) const {
  TSettingsStore fresh(TSettingsStore::DefaultPath());
  return fresh.ReadString(LOCAL_MACHINE, "SOFTWARE\\Dunmarra\\Quelt", name);
}

std::optional<int32_t> TWindowTest::storedInt(const std::string& name) const {
  TSettingsStore fresh(TSettingsStore::DefaultPath());
  return fresh.ReadInteger(LOCAL_MACHINE, "SOFTWARE\\Dunmarra\\Quelt", name);
}

}  // namespace quelt::test
