// The window's answers to the engine's events: every step written to the output window,
// the per-file progress, and the questions about overwriting, passwords, incomplete
// archives and the next disk of a set.
#pragma once

#include <QDateTime>
#include <QString>
#include <QWidget>
#include <functional>

#include "app/dialogs/Modal.h"
#include "app/dialogs/MsgForm.h"
#include "app/dialogs/PromptDialogs.h"
#include "engine/ZipEngine.h"
#include "platform/Dialogs.h"

namespace quelt {

class TEngineEvents {
 public:
  TEngineEvents(TZipEngine& engine, TMsgform& output, IDialogs& dialogs, TModal& modal,
                TInvalidPwdDlg& badPassword, QWidget* owner);

  // Binds the handlers to the engine's events.
  void Bind();

  // The Extract dialog's "Overwrite Existing:" choice, which the overwrite question follows.
  TUZOverwriteMode OverwriteChoice = Always;
  // The window's current archive: the name a set's block files are found by, even after
  // the user showed one of them under another name.
  std::function<std::string()> ArchivePath;

  // A command starts a run: adding (writing) or extracting.
  void BeginRun(bool zipping);
  // How many entries the extraction set out to extract; -1 before it said.
  int Planned() const { return planned_; }
  // The user opened an archive: a question about an incomplete archive is asked afresh.
  void ForgetIncompleteAnswer() { incomplete_ = {}; }

  // ---- Handlers, named after the events they answer
  void ZipEngine1StartUnZipInfo(TUnZipEngine& sender, int numFiles, int64_t totalBytes);
  void ZipEngine1StartZipInfo(int numFiles, int64_t totalBytes);
  void ZipEngine1StartUnZip(const std::string& fname);
  void ZipEngineStartDoZip(const std::string& fname);
  void EngineOnUnzip(TUnZipEngine& sender, int fileIndex);
  void EngineOnZip(const std::string& fname);
  void ZipEngine1DisposeFile(const std::string& fname);
  void ZipEngine1FilePercentDone(int percent);
  void ZipEngine1PromptForOverwrite(TUnZipEngine& sender, bool& overWriteIt, int fileIndex);
  void ZipEngine1BadPassword(TUnZipEngine& sender, int fileIndex, std::string& newPassword);
  void ZipEngine1InCompleteZip(TUnZipEngine& sender, TIncompleteZipMode& mode);
  void ZipEngine1GetNextDisk(TUnZipEngine& sender, int nextDisk, std::string& fname);
  // What went wrong, so a run with failures never reads as a clean one.
  void ZipEngine1BadCRC(TUnZipEngine& sender, int fileIndex);
  void ZipEngine1SkippingFile(TUnZipEngine& sender, TSkipReason reason, int fileIndex);
  void ZipEngine1FileRefused(const std::string& fname, const std::string& why);
  void ZipEngine1UnsafePath(const std::string& stored, const std::string& fname);
  void ZipEngine1NoSuchFile(const std::string& fname);

 private:
  // The file of volume `n` of a set split into block files: the name with ".nnn".
  static std::string blockFile(const std::string& name, int n);

  TZipEngine& engine_;
  TMsgform& output_;
  IDialogs& dialogs_;
  TModal& modal_;
  TInvalidPwdDlg& badPassword_;
  QWidget* owner_;
  bool zipping_ = false;
  int planned_ = -1;
  // The last answer about an incomplete archive, for the file as it was then.
  struct TIncompleteAnswer {
    QString path;
    qint64 size = -1;
    QDateTime modified;
    TIncompleteZipMode mode = izAssumeMulti;
  } incomplete_;
};

}  // namespace quelt
