#include "app/commands/VirusScanCommand.h"

#include <sys/stat.h>

#include <QCoreApplication>
#include <cerrno>
#include <cstring>
#include <filesystem>
#include <optional>
#include <stdexcept>

#include "app/QtText.h"
#include "app/WaitCursor.h"
#include "app/commands/EngineEvents.h"
#include "app/commands/PreferencesCommand.h"
#include "app/commands/TempExtract.h"
#include "app/dialogs/DialogParts.h"
#include "app/dialogs/MsgForm.h"
#include "app/mainunit.h"
#include "platform/FileSystem.h"
#include "platform/TempFolder.h"

namespace quelt {

namespace {

struct TScanner {
  std::string program, parameters;
};

TScanner configuredScanner(TMainform& form) {
  TScanner scanner;
  TRegistry reg(form.Settings(), LOCAL_MACHINE);
  if (!reg.OpenKeyReadOnly(kSettingsKey)) return scanner;
  if (reg.ValueExists("AntiVirusProgram")) scanner.program = reg.ReadString("AntiVirusProgram");
  if (reg.ValueExists("AntiVirusParam")) scanner.parameters = reg.ReadString("AntiVirusParam");
  return scanner;
}

bool isClamscan(const std::string& program) {
  return files::NameOf(program) == "clamscan";
}

// No scanner to run: the Preferences show where to name one, with clamscan filled in when it
// is installed (its own parameters kept when clamscan was named already).
void askForScanner(TMainform& form, const TScanner& configured) {
  if (auto clamscan = form.Processes().FindProgram("clamscan")) {
    const bool keep = isClamscan(configured.program) && !configured.parameters.empty();
    form.OptionsDialog().ProposeScanner(PathToQt(*clamscan),
                                        keep ? TextToQt(configured.parameters) : "-r");
  }
  PreferencesCommand(form, TOptionsForm::pgAntiVirus);
}

// A new folder for this scan's copy, named like the archive; another name beside it when that
// one is taken, since what is there is not ours to delete. Removed with all it holds when the
// scan is over: the scanner has read it, and a copy of an infected file is better gone.
class TScanFolder {
 public:
  TScanFolder(const std::string& temp, const std::string& name) {
    path_ = temp + "/" + name;
    if (::mkdir(path_.c_str(), 0700) == 0) return;
    const int error = errno;
    if (error == EEXIST) {
      std::string pattern = path_ + ".XXXXXX";
      if (::mkdtemp(pattern.data())) {
        path_ = pattern;
        return;
      }
    }
    throw std::runtime_error("Cannot make the folder " + path_ +
                             " to scan in: " + std::strerror(error));
  }
  ~TScanFolder() {
    std::error_code ignored;  // a copy left behind harms nobody
    std::filesystem::remove_all(path_, ignored);
  }
  TScanFolder(const TScanFolder&) = delete;
  TScanFolder& operator=(const TScanFolder&) = delete;

  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Cancel in the output window stops the scanner rather than the engine while it runs.
class TCancelSwap {
 public:
  TCancelSwap(TMsgform& output, bool& cancelled)
      : output_(output), saved_(std::move(output.OnCancel)) {
    output_.OnCancel = [&cancelled] { cancelled = true; };
  }
  ~TCancelSwap() { output_.OnCancel = std::move(saved_); }
  TCancelSwap(const TCancelSwap&) = delete;
  TCancelSwap& operator=(const TCancelSwap&) = delete;

 private:
  TMsgform& output_;
  std::function<void()> saved_;
};

std::string endText(const std::string& program, const TProcessResult& result) {
  if (result.cancelled) return "Virus scan cancelled";
  if (!result.Exited())
    return "The virus scanner was ended by signal " + std::to_string(result.signal);
  return ScanResultText(program, result.exitCode);
}

}  // namespace

std::string ScanResultText(const std::string& program, int exitCode) {
  std::string text = "Virus scan finished with exit status " + std::to_string(exitCode);
  if (!isClamscan(program)) return text;
  switch (exitCode) {
    case 0:
      return text + ": no virus found";
    case 1:
      return text + ": VIRUS FOUND";
    default:
      return text + ": the scan failed";
  }
}

void VirusScanCommand(TMainform& form) {
  const TScanner configured = configuredScanner(form);
  const auto program = form.Processes().FindProgram(configured.program);
  if (!program) {
    askForScanner(form, configured);
    return;
  }
  // Unusable parameters are told before anything is extracted.
  const std::vector<std::string> parameters = SplitArguments(configured.parameters);

  TMsgform& output = form.Output();
  const std::string archive = PathFromQt(form.CurrentArchive());
  std::string temp = PathFromQt(form.TempFolder());
  while (temp.size() > 1 && temp.back() == '/') temp.pop_back();
  PrepareTempFolder(temp);

  std::optional<TWaitCursor> wait(std::in_place);
  TScanFolder folder(temp, files::NameOf(archive));
  output.ClearText();
  output.ShowOutput();
  try {
    const int count = ExtractAllWithFolders(form, PathToQt(folder.Path()));
    if (form.Events().Planned() > count)
      output.AddLine(QString("%1 of %2 files were extracted; only those are scanned")
                         .arg(count)
                         .arg(form.Events().Planned()));
  } catch (...) {
    output.DisableCancel();
    throw;
  }
  wait.reset();

  std::vector<std::string> argv = {*program, folder.Path()};
  argv.insert(argv.end(), parameters.begin(), parameters.end());
  output.AddLine(TextToQt("Scanning " + folder.Path() + " with " + *program));
  output.SetStatus(TextToQt(files::NameOf(archive)));
  bool cancelled = false;
  TCancelSwap swap(output, cancelled);
  TProcessOptions options;
  options.onLine = [&](TOutputChannel, const std::string& line) { output.AddLine(TextToQt(line)); };
  // The window stays live during a long scan, and its Cancel is heard here.
  options.keepRunning = [&] {
    QCoreApplication::processEvents();
    return !cancelled;
  };
  TProcessResult result;
  try {
    form.RunEngine([&] {
      result = form.Processes().Run(argv, options);
      return 0;
    });
  } catch (const std::exception& e) {
    output.AppendFinal(TextToQt(e.what()));
    output.DisableCancel();
    throw;
  }
  output.AppendFinal(TextToQt(endText(*program, result)));
  output.DisableCancel();
  output.ScrollToEnd();
}

}  // namespace quelt
