#include "app/commands/EngineEvents.h"

#include <QApplication>
#include <QFileInfo>

#include "app/QtText.h"
#include "engine/FileOps.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

// Byte counts are written as general numbers: plain digits below 10^15.
QString totalText(int64_t bytes) {
  if (bytes < 1000000000000000LL && bytes > -1000000000000000LL) return QString::number(bytes);
  return QString::number(double(bytes), 'G', 15);
}

// A stored name as the archive holds it, with "/" between its folders.
QString storedName(const std::string& name) {
  return TextToQt(name).replace('\\', '/');
}

}  // namespace

TEngineEvents::TEngineEvents(TZipEngine& engine, TMsgform& output, IDialogs& dialogs, TModal& modal,
                             TInvalidPwdDlg& badPassword, QWidget* owner)
    : engine_(engine),
      output_(output),
      dialogs_(dialogs),
      modal_(modal),
      badPassword_(badPassword),
      owner_(owner) {}

void TEngineEvents::Bind() {
  TZipEngine& e = engine_;
  e.OnStartUnZipInfo = [this](TUnZipEngine& s, int n, int64_t total, bool&) {
    ZipEngine1StartUnZipInfo(s, n, total);
  };
  e.OnStartZipInfo = [this](TZipEngine&, int n, int64_t total, TEndCentral&, bool&) {
    ZipEngine1StartZipInfo(n, total);
  };
  e.OnStartUnZip = [this](TUnZipEngine&, int, const std::string& f, bool&) {
    ZipEngine1StartUnZip(f);
  };
  e.OnStartZip = [this](TZipEngine&, const std::string& f, TZipHeaderInfo&, bool&) {
    ZipEngineStartDoZip(f);
  };
  e.OnEndUnZip = [this](TUnZipEngine& s, int i, const std::string&) { EngineOnUnzip(s, i); };
  e.OnEndZip = [this](TZipEngine&, const std::string& f, int64_t, int64_t, int64_t) {
    EngineOnZip(f);
  };
  e.OnDeleteEntry = [this](TZipEngine&, const std::string& f, bool&) { ZipEngine1DisposeFile(f); };
  e.OnFilePercentDone = [this](TUnZipEngine&, int p) { ZipEngine1FilePercentDone(p); };
  e.OnPromptForOverwrite = [this](TUnZipEngine& s, bool& overwrite, int i, std::string&) {
    ZipEngine1PromptForOverwrite(s, overwrite, i);
  };
  e.OnBadPassword = [this](TUnZipEngine& s, int i, std::string& p) {
    ZipEngine1BadPassword(s, i, p);
  };
  e.OnInCompleteZip = [this](TUnZipEngine& s, TIncompleteZipMode& m) {
    ZipEngine1InCompleteZip(s, m);
  };
  e.OnGetNextDisk = [this](TUnZipEngine& s, int n, std::string& f) {
    ZipEngine1GetNextDisk(s, n, f);
  };
  e.OnBadCRC = [this](TUnZipEngine& s, uint32_t, uint32_t, int i) { ZipEngine1BadCRC(s, i); };
  e.OnSkippingFile = [this](TUnZipEngine& s, TSkipReason r, int i) {
    ZipEngine1SkippingFile(s, r, i);
  };
  e.OnFileRefused = [this](TZipEngine&, const std::string& f, const std::string& why) {
    ZipEngine1FileRefused(f, why);
  };
  e.OnUnsafePath = [this](TUnZipEngine&, int, const std::string& stored, const std::string& f) {
    ZipEngine1UnsafePath(stored, f);
  };
  e.OnNoSuchFile = [this](TZipEngine&, const std::string& f) { ZipEngine1NoSuchFile(f); };
}

void TEngineEvents::BeginRun(bool zipping) {
  zipping_ = zipping;
  planned_ = -1;
}

// ---- Progress

void TEngineEvents::ZipEngine1StartUnZipInfo(TUnZipEngine& sender, int numFiles,
                                             int64_t totalBytes) {
  planned_ = numFiles;
  output_.AddLine(" ");
  output_.AddLine("Number of files to be unzipped: " + QString::number(numFiles));
  output_.AddLine("Total bytes to process: " + totalText(totalBytes));
  output_.AddLine("Files unzipping to: " + PathToQt(sender.DestDir()));
  output_.AddLine(" ");
}

void TEngineEvents::ZipEngine1StartZipInfo(int numFiles, int64_t totalBytes) {
  output_.AddLine(" ");
  output_.AddLine("Number of files to be zipped: " + QString::number(numFiles));
  output_.AddLine("Total bytes to process: " + totalText(totalBytes));
  output_.AddLine(" ");
}

void TEngineEvents::ZipEngine1StartUnZip(const std::string& fname) {
  output_.SetStatus(PathToQt(fname));
}

void TEngineEvents::ZipEngineStartDoZip(const std::string& fname) {
  output_.SetStatus(PathToQt(fname));
}

void TEngineEvents::EngineOnUnzip(TUnZipEngine& sender, int fileIndex) {
  output_.AddLine("Unzipped file " + TextToQt(sender.Filename(fileIndex)));
}

void TEngineEvents::EngineOnZip(const std::string& fname) {
  output_.AddLine("Zipped file " + PathToQt(fname));
}

void TEngineEvents::ZipEngine1DisposeFile(const std::string& fname) {
  output_.AddLine("Removed file " + TextToQt(fname));
}

void TEngineEvents::ZipEngine1FilePercentDone(int percent) {
  output_.SetProgress(percent);
}

// ---- Failures

void TEngineEvents::ZipEngine1BadCRC(TUnZipEngine& sender, int fileIndex) {
  QString why = sender.LastError().empty() ? "CRC error" : TextToQt(sender.LastError());
  output_.AddLine("Could not unzip file " + storedName(sender.Entry(fileIndex).FullName()) + ": " +
                  why);
}

void TEngineEvents::ZipEngine1SkippingFile(TUnZipEngine& sender, TSkipReason reason,
                                           int fileIndex) {
  QString name = storedName(sender.Entry(fileIndex).FullName());
  if (zipping_) {
    // The writer met a second source for a stored name it has already written.
    output_.AddLine("Skipped file " + name + ": another file of that name is already added");
    return;
  }
  QString why = TextToQt(sender.LastError());
  if (why.isEmpty()) why = reason == skBadPassword ? "wrong password" : "the file exists";
  output_.AddLine("Skipped file " + name + ": " + why);
}

void TEngineEvents::ZipEngine1FileRefused(const std::string& fname, const std::string& why) {
  output_.AddLine("Could not add " + PathToQt(fname) + ": " + TextToQt(why));
}

void TEngineEvents::ZipEngine1UnsafePath(const std::string& stored, const std::string& fname) {
  output_.AddLine("Unsafe path " + storedName(stored) + " unzipped as " + PathToQt(fname));
}

void TEngineEvents::ZipEngine1NoSuchFile(const std::string& fname) {
  output_.AddLine("File not found: " + PathToQt(fname));
}

// ---- Questions

void TEngineEvents::ZipEngine1PromptForOverwrite(TUnZipEngine& sender, bool& overWriteIt,
                                                 int fileIndex) {
  switch (OverwriteChoice) {
    case Always:
      overWriteIt = true;
      return;
    case Never:
      overWriteIt = false;
      return;
    case Prompt:
      break;
  }
  TNormalCursor normal;
  overWriteIt = dialogs_.MessageBox("Replace existing copy of " + sender.Filename(fileIndex) + "?",
                                    "Confirm Replace", TMsgBoxIcon::Question,
                                    TMsgBoxButtons::YesNo) == TMsgBoxResult::Yes;
}

void TEngineEvents::ZipEngine1BadPassword(TUnZipEngine& sender, int fileIndex,
                                          std::string& newPassword) {
  TNormalCursor normal;
  badPassword_.SetPassword(TextToQt(newPassword));
  badPassword_.SetFileName(TextToQt(sender.Filename(fileIndex)));
  QApplication::beep();
  if (modal_.Run(badPassword_) == QDialog::Accepted) {
    newPassword = TextFromQt(badPassword_.Password());
    return;
  }
  dialogs_.MessageBox("Invalid Password for file " + sender.Filename(fileIndex), "Password Error",
                      TMsgBoxIcon::None, TMsgBoxButtons::OK);
}

void TEngineEvents::ZipEngine1InCompleteZip(TUnZipEngine& sender, TIncompleteZipMode& mode) {
  // The window reads an archive again after every command; one answer serves for the file
  // as long as it stays as it was.
  QFileInfo file(PathToQt(sender.ZipName()));
  if (!incomplete_.path.isEmpty() && incomplete_.path == file.absoluteFilePath() &&
      incomplete_.size == file.size() && incomplete_.modified == file.lastModified()) {
    mode = incomplete_.mode;
    return;
  }
  TNormalCursor normal;
  TIncompleteZipDlg dialog(owner_);
  mode = modal_.Run(dialog) == QDialog::Accepted ? izAssumeBad : izAssumeMulti;
  incomplete_ = {file.absoluteFilePath(), file.size(), file.lastModified(), mode};
}

std::string TEngineEvents::blockFile(const std::string& name, int n) {
  size_t slash = name.rfind('/'), dot = name.rfind('.');
  std::string base = dot != std::string::npos && (slash == std::string::npos || dot > slash)
                         ? name.substr(0, dot)
                         : name;
  char ext[16];
  std::snprintf(ext, sizeof ext, ".%03d", n);
  return base + ext;
}

void TEngineEvents::ZipEngine1GetNextDisk(TUnZipEngine& sender, int nextDisk, std::string& fname) {
  TNormalCursor normal;
  const std::string number = std::to_string(nextDisk);
  if (sender.MultiMode() == mmBlocks) {
    // Block files lie side by side: the one of the asked number needs no question.
    for (const std::string& name : {fname, ArchivePath ? ArchivePath() : std::string()}) {
      std::string proposed = blockFile(name, nextDisk);
      if (!name.empty() && files::IsRegularFile(proposed)) {
        fname = proposed;
        return;
      }
    }
  } else if (dialogs_.MessageBox("Please insert disk " + number + " of the multi-disk set.",
                                 "Spanning", TMsgBoxIcon::Information,
                                 TMsgBoxButtons::OKCancel) != TMsgBoxResult::OK) {
    fname.clear();
    return;
  } else if (files::IsRegularFile(fname)) {
    return;
  }
  // The file is not where it was looked for (a block renamed or moved, a disk mounted under
  // another name): the user shows where it is.
  std::string ext = blockFile("", nextDisk);
  auto picked = dialogs_.OpenFile(
      TFileDialogSpec{"Select disk " + number + " of the multi-disk set",
                      "Disk " + number + " (*" + ext + ")|*" + ext + "|All Files (*.*)|*.*",
                      FolderOf(fname), "", ""});
  fname = picked ? *picked : std::string();
}

}  // namespace quelt
