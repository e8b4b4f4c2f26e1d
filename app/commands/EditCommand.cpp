#include "app/commands/EditCommand.h"

#include <unistd.h>

#include <stdexcept>

#include "app/QtText.h"
#include "app/commands/EngineEvents.h"
#include "app/commands/TempExtract.h"
#include "app/dialogs/MsgForm.h"
#include "app/mainunit.h"
#include "app/viewers/TEdit.h"
#include "engine/Errors.h"

namespace quelt {

namespace {

// The engine's settings that storing the copy changes, put back when the scope ends, so
// that a later Add finds them as the user left them.
class TStoreSettings {
 public:
  explicit TStoreSettings(TZipEngine& engine)
      : engine_(engine),
        storePaths_(engine.StorePaths()),
        storeVolumes_(engine.StoreVolumes()),
        relativePaths_(engine.RelativePaths()),
        recurse_(engine.Recurse),
        action_(engine.ZipAction),
        multiMode_(engine.MultiMode()),
        rootDir_(engine.RootDir()),
        filesList_(engine.FilesList),
        literalFiles_(engine.LiteralFiles) {}
  ~TStoreSettings() {
    // The setters are linked; in this order each ends as it was.
    engine_.SetStorePaths(storePaths_);
    engine_.SetStoreVolumes(storeVolumes_);
    engine_.SetRelativePaths(relativePaths_);
    engine_.Recurse = recurse_;
    engine_.ZipAction = action_;
    engine_.SetMultiMode(multiMode_);
    engine_.SetRootDir(rootDir_);
    engine_.FilesList = filesList_;
    engine_.LiteralFiles = literalFiles_;
  }
  TStoreSettings(const TStoreSettings&) = delete;
  TStoreSettings& operator=(const TStoreSettings&) = delete;

 private:
  TZipEngine& engine_;
  bool storePaths_, storeVolumes_, relativePaths_, recurse_;
  TZipAction action_;
  TMultiMode multiMode_;
  std::string rootDir_;
  std::vector<std::string> filesList_, literalFiles_;
};

// The copy's path below the folder, "/"-separated; empty when it is not below it.
std::string relativeTo(const std::string& folder, const std::string& path) {
  if (path.size() <= folder.size() || path.compare(0, folder.size(), folder) != 0) return {};
  const std::string rest = path.substr(folder.size());
  for (size_t start = 0; start <= rest.size();) {
    size_t end = rest.find('/', start);
    if (end == std::string::npos) end = rest.size();
    const std::string part = rest.substr(start, end - start);
    if (part.empty() || part == "." || part == "..") return {};
    start = end + 1;
  }
  return rest;
}

// The folders the extraction made for the copy go with it, unless something else is in them.
void removeEmptyFolders(const std::string& folder, std::string path) {
  for (size_t slash = path.rfind('/'); slash != std::string::npos && slash >= folder.size();
       slash = path.rfind('/')) {
    path.erase(slash);
    if (path.size() < folder.size() || ::rmdir(path.c_str()) != 0) break;
  }
}

std::string withSlash(std::string folder) {
  while (folder.size() > 1 && folder.back() == '/') folder.pop_back();
  if (folder.empty() || folder.back() != '/') folder += '/';
  return folder;
}

}  // namespace

void StoreEditedCopy(TMainform& form, const QString& tempFolder, const QString& copy) {
  TZipEngine& engine = form.Engine();
  const std::string archive = PathFromQt(form.CurrentArchive());
  // The folder as the extraction named it, which is how the copy's path begins.
  const std::string root = withSlash(PathFromQt(tempFolder));
  const std::string path = PathFromQt(copy);
  const std::string stored = relativeTo(root, path);
  if (stored.empty())
    throw std::runtime_error(path + " is not below the temporary folder " + root +
                             ", so it has no name in the archive; it was not stored.");
  engine.SetZipName(archive);
  engine.LoadCatalogue();
  if (engine.VolumeCount() > 1 || engine.EndRecord().NumberOfThisDisk != 0)
    throw std::runtime_error(archive +
                             " is one volume of a multi-volume set, which cannot be changed. "
                             "Extract its files and add them to a new archive instead.");

  int count = 0;
  {
    TStoreSettings keep(engine);
    engine.FilesList = {path};
    engine.LiteralFiles = {path};  // "[" and "*" in the copy's name are its own
    engine.SetRootDir(root);
    engine.SetStorePaths(true);
    engine.SetRelativePaths(true);
    // What the user saved goes in, however the dates of copy and entry compare.
    engine.ZipAction = zaReplace;
    engine.SetMultiMode(mmNone);
    form.Output().ClearText();
    form.Events().BeginRun(true);
    try {
      try {
        count = form.RunEngine([&] { return engine.CompressFiles(); });
      } catch (const EIncompleteZip&) {
        count = 0;
      }
    } catch (...) {
      form.Output().DisableCancel();
      // The listing shows what the archive now is; the run's own error is the one to read.
      try {
        form.OpenIT();
      } catch (const std::exception&) {
      }
      throw;
    }
    form.Output().DisableCancel();
  }
  form.OpenIT();
  if (count != 1)
    throw std::runtime_error(stored + " was not stored in " + archive +
                             "; \"View Last Output...\" tells why.");
}

namespace {

void editCopy(TMainform& form, const QString& folder, const QString& copy) {
  TTextEdit& editor = form.TextEditor();
  editor.SaveBack = [&form, folder](const QString& file) { StoreEditedCopy(form, folder, file); };
  editor.ArchiveFile = form.CurrentArchive();
  editor.SetMailSystem(form.MailSystem());
  struct TDone {
    TTextEdit& editor;
    std::string folder, path;
    ~TDone() {
      editor.SaveBack = nullptr;
      removeEmptyFolders(folder, path);
    }
  } done{editor, withSlash(PathFromQt(folder)), PathFromQt(copy)};
  editor.Execute(copy, true);
}

}  // namespace

void EditTextCommand(TMainform& form) {
  // A copy whose edits did not reach the archive is not a stale copy to extract over.
  if (std::optional<QString> target = TempCopyTarget(form, TTempLayout::WithFolders);
      target && form.TextEditor().KeptCopy(*target)) {
    switch (form.Dialogs().MessageBox(
        PathFromQt(*target) +
            " holds edits that were not stored in the archive. Open it instead of the "
            "archive's entry? No replaces it with the entry.",
        "Quelt", TMsgBoxIcon::Question, TMsgBoxButtons::YesNoCancel)) {
      case TMsgBoxResult::Yes:
        editCopy(form, form.TempFolder(), *target);
        return;
      case TMsgBoxResult::No:
        break;
      default:
        return;
    }
  }
  std::optional<TTempCopy> copy = ExtractToTemp(form, TTempLayout::WithFolders);
  if (copy) editCopy(form, copy->folder, copy->path);
}

}  // namespace quelt
