// TQueltSFX turns a ZIP archive into a self-extracting program: the stub "ZIPSFX.BIN", the
// 256-byte record that configures it, then the archive byte for byte.
#pragma once

#include <functional>
#include <string>

#include "convert/SFXRecord.h"
#include "platform/AppFolders.h"

namespace quelt {

// MakeSFX's results. The negative ones are the failures it does not show itself; every
// non-zero result leaves its text in ErrorText().
inline constexpr int sfxSucceeded = 0;
inline constexpr int sfxReported = 1;  // failed, and the message was shown
inline constexpr int sfxCannotCreate = -1;
inline constexpr int sfxCannotWrite = -2;
inline constexpr int sfxCannotRead = -3;
inline constexpr int sfxWrongSize = -9;

// What the builder needs from whoever hosts it; every member is optional.
struct TSFXHost {
  // An error message box (caption "Quelt").
  std::function<void(const std::string& text)> ShowError;
  // Lets the host handle its pending events between copied blocks.
  std::function<void()> ProcessMessages;
  // The wait cursor on (true) and off again.
  std::function<void(bool busy)> WaitCursor;
};

class TQueltSFX {
 public:
  explicit TQueltSFX(IAppFolders& folders = systemAppFolders()) : folders_(folders) {}

  // ---- Published properties
  std::string ZipFilename;
  // Tried first when looking for the stub; set to where the stub was found.
  std::string SFXPath;
  SFXOpts SFXOptions;
  OvrOpts SFXOverWriteMode = OvrConfirm;
  std::string SFXCaption;
  std::string SFXDefaultDir;
  std::string SFXCommandLine;
  // Ours: the program to write; empty for ZipFilename with the extension ".exe".
  std::string OutputFile;
  // Ours: whether a file of the output's name may be replaced (the caller asked the user).
  bool ReplaceExisting = false;

  TSFXHost Host;

  // Builds the program: sfxSucceeded, sfxReported, or a negative code.
  int MakeSFX();
  // The message of the last non-zero result.
  const std::string& ErrorText() const { return error_; }
  // The program the last successful MakeSFX wrote.
  const std::string& WrittenFile() const { return written_; }
  // The output MakeSFX would write with the current properties.
  std::string OutputName() const;

 private:
  int reported(const std::string& text);
  int failed(int code, const std::string& text);
  bool findStub();
  int build(const std::string& output);

  IAppFolders& folders_;
  std::string error_, written_;
};

// The self-extractors of the older platforms: their stub followed by the archive, nothing
// between. The program is named after the archive up to the first "." of its file name.
std::string PlainSFXName(const std::string& archive);
// Writes `output` from `stub` and `archive`; an existing output is replaced only when
// `replace` is set. Empty on success, else the message; no partial output is ever left.
std::string MakePlainSFX(const std::string& stub, const std::string& archive,
                         const std::string& output, bool replace,
                         const std::function<void()>& processMessages = {});

}  // namespace quelt
