#include "app/commands/TempExtract.h"

#include <stdexcept>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/commands/EngineEvents.h"
#include "app/mainunit.h"
#include "engine/Errors.h"
#include "engine/ExtractPath.h"
#include "platform/FileSystem.h"
#include "platform/SafeFolder.h"
#include "platform/TempFolder.h"

namespace quelt {

namespace {

// The engine as a temporary extraction needs it, and as the window's other commands expect
// it again afterwards. The path of every file it writes is kept.
class TTempRun {
 public:
  TTempRun(TMainform& form, TTempLayout layout = TTempLayout::Flat, const QString& folder = {})
      : engine_(form.Engine()), endUnZip_(engine_.OnEndUnZip), rootDir_(engine_.RootDir()) {
    folder_ = PathFromQt(folder.isEmpty() ? form.TempFolder() : folder);
    while (folder_.size() > 1 && folder_.back() == '/') folder_.pop_back();
    PrepareTempFolder(folder_);
    engine_.SetZipName(PathFromQt(form.CurrentArchive()));
    engine_.FilesList.clear();
    engine_.SelectedNames.clear();
    engine_.RecreateDirs = layout == TTempLayout::WithFolders;
    // A root left by Add or Extract would cut the stored folders short.
    engine_.SetRootDir("");
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
    engine_.SetRootDir(rootDir_);
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
  std::string rootDir_;
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

std::optional<TTempCopy> ExtractToTemp(TMainform& form, TTempLayout layout) {
  TZipEngine& engine = form.Engine();
  const std::vector<int> rows = form.SelectedRows();
  if (rows.empty() || rows.back() >= engine.Count()) return std::nullopt;
  TTempCopy copy;
  copy.index = rows.back();  // the last selected row wins
  const std::string name = engine.Filename(copy.index);
  if (name.empty()) return std::nullopt;  // a folder entry

  TWaitCursor wait;
  TTempRun temp(form, layout);
  const TZipHeaderInfo& entry = engine.Entry(copy.index);
  files::TFolder folder(temp.Folder());
  const bool withFolders = layout == TTempLayout::WithFolders;
  const TExtractPath where =
      BuildExtractPath(temp.Folder(), "", withFolders, entry.Directory(), name);
  // WithFolders: the copy's place below the folder is what the entry is stored back as; a
  // name that would climb out of it has no such place.
  if (withFolders && where.unsafe)
    throw std::runtime_error(entry.FullName() +
                             " is stored with a path that leads outside the temporary folder; "
                             "it cannot be opened from there.");
  const std::string relative =
      where.relative.empty() ? where.name : where.relative + "/" + where.name;
  if (withFolders) folder = folder.Open(where.relative, true);
  // The stale copy goes first, so that what is opened afterwards is this extraction's.
  switch (folder.KindOf(where.name)) {
    case files::TItemKind::None:
      break;
    case files::TItemKind::Folder:
      throw std::runtime_error("Cannot extract " + name + ": " + temp.Folder() + "/" + relative +
                               " is a folder");
    default:
      if (!folder.Remove(where.name))
        throw std::runtime_error("Cannot delete the old copy " + temp.Folder() + "/" + relative);
  }
  // Exactly the chosen entry: a namesake in another folder is not its copy.
  engine.SelectedNames = {entry.FullName()};
  engine.FilesList = {name};
  run(form);
  // The extraction has finished: a file that is not there now will never come.
  if (temp.Written().empty() || temp.Written() != where.path ||
      folder.KindOf(files::NameOf(temp.Written())) != files::TItemKind::File)
    throw std::runtime_error(name + " was not extracted; \"View Last Output...\" tells why.");
  copy.path = PathToQt(temp.Written());
  copy.folder = PathToQt(temp.Folder());
  return copy;
}

QStringList ExtractEntriesTo(TMainform& form, const std::vector<int>& indexes,
                             const QString& folder) {
  TZipEngine& engine = form.Engine();
  TWaitCursor wait;
  TTempRun temp(form, TTempLayout::WithFolders, folder);
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

std::optional<QString> TempCopyTarget(TMainform& form, TTempLayout layout) {
  const TZipEngine& engine = form.Engine();
  const std::vector<int> rows = form.SelectedRows();
  if (rows.empty() || rows.back() >= engine.Count()) return std::nullopt;
  const TZipHeaderInfo& entry = engine.Entry(rows.back());
  if (entry.Filename().empty()) return std::nullopt;
  std::string folder = PathFromQt(form.TempFolder());
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  const TExtractPath where = BuildExtractPath(folder, "", layout == TTempLayout::WithFolders,
                                              entry.Directory(), entry.Filename());
  if (where.unsafe) return std::nullopt;
  return PathToQt(where.path);
}

int ExtractAllWithFolders(TMainform& form, const QString& folder) {
  TTempRun temp(form, TTempLayout::WithFolders, folder);
  form.Engine().DoAll = true;
  return form.RunEngine([&] { return form.Engine().ExtractEntries(); });
}

void ExtractAllToTemp(TMainform& form) {
  TWaitCursor wait;
  TTempRun temp(form);
  form.Engine().DoAll = true;
  run(form);
}

}  // namespace quelt
