#include "app/commands/TempExtract.h"

#include <stdexcept>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/commands/EngineEvents.h"
#include "app/mainunit.h"
#include "engine/Errors.h"
#include "platform/FileSystem.h"
#include "platform/SafeFolder.h"
#include "platform/TempFolder.h"

namespace quelt {

namespace {

// The engine as a temporary extraction needs it, and as the window's other commands expect
// it again afterwards. The path of every file it writes is kept.
class TTempRun {
 public:
  TTempRun(TMainform& form, const QString& folder = {}, bool keepFolders = false)
      : engine_(form.Engine()), endUnZip_(engine_.OnEndUnZip) {
    folder_ = PathFromQt(folder.isEmpty() ? form.TempFolder() : folder);
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
    PrepareTempFolder(folder_);
    engine_.SetZipName(PathFromQt(form.CurrentArchive()));
    engine_.FilesList.clear();
    engine_.SelectedNames.clear();
    engine_.RecreateDirs = keepFolders;
    engine_.DoAll = false;
    engine_.OverwriteMode = Always;
    engine_.SetDestDir(folder_);
    engine_.OnEndUnZip = [this](TUnZipEngine& sender, int index, const std::string& fname) {
      written_ = fname;
      all_.push_back(fname);
      if (endUnZip_) endUnZip_(sender, index, fname);
    };
    form.Events().BeginRun(false);
  }
  ~TTempRun() {
    engine_.OnEndUnZip = endUnZip_;
    engine_.FilesList.clear();
    engine_.SelectedNames.clear();
    engine_.DoAll = false;
    engine_.RecreateDirs = false;
    engine_.OverwriteMode = Always;
  }
  TTempRun(const TTempRun&) = delete;
  TTempRun& operator=(const TTempRun&) = delete;

  const std::string& Folder() const { return folder_; }
  const std::string& Written() const { return written_; }
  const std::vector<std::string>& AllWritten() const { return all_; }

 private:
  TZipEngine& engine_;
  std::function<void(TUnZipEngine&, int, const std::string&)> endUnZip_;
  std::string folder_, written_;
  std::vector<std::string> all_;
};

void run(TMainform& form) {
  try {
    form.RunEngine([&] { return form.Engine().ExtractEntries(); });
  } catch (const EIncompleteZip&) {
    // The user chose to treat the file as one disk of a set: nothing came of it.
  }
}

}  // namespace

std::optional<TTempCopy> ExtractToTemp(TMainform& form) {
  TZipEngine& engine = form.Engine();
  const std::vector<int> rows = form.SelectedRows();
  if (rows.empty() || rows.back() >= engine.Count()) return std::nullopt;
  TTempCopy copy;
  copy.index = rows.back();  // the last selected row wins
  const std::string name = engine.Filename(copy.index);
  if (name.empty()) return std::nullopt;  // a folder entry

  TWaitCursor wait;
  TTempRun temp(form);
  // The stale copy goes first, so that what is opened afterwards is this extraction's.
  files::TFolder folder(temp.Folder());
  switch (folder.KindOf(name)) {
    case files::TItemKind::None:
      break;
    case files::TItemKind::Folder:
      throw std::runtime_error("Cannot extract " + name + ": " + temp.Folder() + "/" + name +
                               " is a folder");
    default:
      if (!folder.Remove(name))
        throw std::runtime_error("Cannot delete the old copy " + temp.Folder() + "/" + name);
  }
  // Exactly the chosen entry: a namesake in another folder is not its copy.
  engine.SelectedNames = {engine.Entry(copy.index).FullName()};
  engine.FilesList = {name};
  run(form);
  // The extraction has finished: a file that is not there now will never come.
  if (temp.Written().empty() ||
      folder.KindOf(files::NameOf(temp.Written())) != files::TItemKind::File)
    throw std::runtime_error(name + " was not extracted; \"View Last Output...\" tells why.");
  copy.path = PathToQt(temp.Written());
  return copy;
}

QStringList ExtractEntriesTo(TMainform& form, const std::vector<int>& indexes,
                             const QString& folder) {
  TZipEngine& engine = form.Engine();
  TWaitCursor wait;
  TTempRun temp(form, folder, true);
  for (int i : indexes) {
    if (i < 0 || i >= engine.Count() || engine.Filename(i).empty()) continue;
    engine.SelectedNames.push_back(engine.Entry(i).FullName());
    engine.FilesList.push_back(engine.Filename(i));
  }
  if (engine.SelectedNames.empty()) return {};
  run(form);
  QStringList written;
  for (const std::string& path : temp.AllWritten()) written << PathToQt(path);
  return written;
}

void ExtractAllToTemp(TMainform& form) {
  TWaitCursor wait;
  TTempRun temp(form);
  form.Engine().DoAll = true;
  run(form);
}

}  // namespace quelt
