#include "convert/QueltSFX.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <memory>
#include <vector>

#include "convert/PlaceFile.h"
#include "engine/BufferStream.h"
#include "engine/Errors.h"
#include "engine/FileOps.h"
#include "engine/ZipLib.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

constexpr const char* kStubName = "ZIPSFX.BIN";
constexpr size_t kCopyBlock = 8192;

// The extension of a path's last component, with its dot; empty when it has none.
std::string extensionOf(const std::string& path) {
  size_t slash = path.rfind('/');
  size_t dot = path.rfind('.');
  if (dot == std::string::npos || (slash != std::string::npos && dot < slash)) return "";
  return path.substr(dot);
}

std::string upperAZ(std::string s) {
  for (char& c : s)
    if (c >= 'a' && c <= 'z') c = char(c - 'a' + 'A');
  return s;
}

bool sameFile(const std::string& a, const std::string& b) {
  struct stat sa, sb;
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

// The process's umask, read without changing it (another thread may be creating files).
mode_t currentUmask() {
  if (FILE* f = std::fopen("/proc/self/status", "r")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, f))
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(f);
    if (found) return mode_t(mask);
  }
  mode_t mask = ::umask(022);
  ::umask(mask);
  return mask;
}

class TBusy {
 public:
  explicit TBusy(const TSFXHost& host) : host_(host) {
    if (host_.WaitCursor) host_.WaitCursor(true);
  }
  ~TBusy() {
    if (host_.WaitCursor) host_.WaitCursor(false);
  }

 private:
  const TSFXHost& host_;
};

}  // namespace

std::string TQueltSFX::OutputName() const {
  if (!OutputFile.empty()) return OutputFile;
  std::string ext = extensionOf(ZipFilename);
  return ZipFilename.substr(0, ZipFilename.size() - ext.size()) + ".exe";
}

int TQueltSFX::reported(const std::string& text) {
  error_ = text;
  if (Host.ShowError) Host.ShowError(text);
  return sfxReported;
}

int TQueltSFX::failed(int code, const std::string& text) {
  error_ = text;
  return code;
}

bool TQueltSFX::findStub() {
  const std::string candidates[] = {
      SFXPath,
      folders_.CurrentFolder(),
      folders_.ProgramFolder(),
      folders_.LibraryFolder(),
      folders_.DataFolder(),
  };
  for (size_t i = 0; i < std::size(candidates); ++i) {
    if (candidates[i].empty()) continue;
    std::string path = i == 0 ? candidates[i] : candidates[i] + "/" + kStubName;
    if (files::IsRegularFile(path)) {
      SFXPath = path;
      return true;
    }
  }
  return false;
}

int TQueltSFX::MakeSFX() {
  error_.clear();
  written_.clear();
  if (ZipFilename.empty() || !files::IsRegularFile(ZipFilename))
    return reported("Error - no zip file specified");
  const size_t n = SFXCaption.size() + SFXDefaultDir.size() + SFXCommandLine.size();
  if (n > kSFXTextRoom)
    return reported(
        "Error - The total size of the 3 text properties exceeds 249!\r\n"
        "SFXCaption + SFXDefaultDir + SFXCommandLine = " +
        std::to_string(n));
  if (!findStub()) return reported("Error - ZIPSFX.BIN not found");
  if (upperAZ(extensionOf(ZipFilename)) != ".ZIP")
    return reported("Error: input file is not a zip file");

  const std::string output = OutputName();
  // The output is put in place by a rename: it must never land on one of its own inputs.
  if (sameFile(output, ZipFilename) || sameFile(output, SFXPath))
    return reported("Error - " + output + " is the archive or the stub itself");
  if (files::PathExists(output, false) && !ReplaceExisting)
    return reported("Error - " + output + " already exists");

  TBusy busy(Host);
  return build(output);
}

int TQueltSFX::build(const std::string& output) {
  std::unique_ptr<TFileStream> stub;
  try {
    stub = std::make_unique<TFileStream>(SFXPath, TOpenMode::Read);
  } catch (const EZipError& e) {
    return failed(sfxCannotRead, e.what());
  }

  // Written beside the output and renamed into place whole, so an existing file is either
  // kept or replaced, never left half overwritten.
  TScratchFile temp;
  std::unique_ptr<TFileStream> out;
  try {
    temp.path = files::TempFileName(FolderOf(output), "QLZ");
    out = std::make_unique<TFileStream>(temp.path, TOpenMode::ReadWrite);
  } catch (const std::exception& e) {
    return failed(sfxCannotCreate, std::string("Cannot create \"") + output + "\": " + e.what());
  }

  std::vector<uint8_t> block(kCopyBlock);
  int64_t stubTotal = 0, zipTotal = 0;
  // Copies a whole file: sfxSucceeded, or the failure's code with its text set.
  auto copy = [&](TFileStream& from, int64_t& total) -> int {
    for (;;) {
      size_t got;
      try {
        got = from.Read(block.data(), block.size());
      } catch (const EZipError& e) {
        return failed(sfxCannotRead, e.what());
      }
      try {
        if (got > 0) out->Write(block.data(), got);
      } catch (const EZipError& e) {
        return failed(sfxCannotWrite, e.what());
      }
      total += int64_t(got);
      if (Host.ProcessMessages) Host.ProcessMessages();
      if (got < block.size()) return sfxSucceeded;
    }
  };

  if (int r = copy(*stub, stubTotal); r != sfxSucceeded) return r;
  stub.reset();

  TSFXRecord record;
  record.Options = SFXOptions;
  record.OverWriteMode = SFXOverWriteMode;
  record.Caption = SFXCaption;
  record.DefaultDir = SFXDefaultDir;
  record.CommandLine = SFXCommandLine;
  const auto bytes = BuildSFXRecord(record);
  try {
    out->Write(bytes.data(), bytes.size());
  } catch (const EZipError& e) {
    return failed(sfxCannotWrite, e.what());
  }

  std::unique_ptr<TFileStream> zip;
  try {
    zip = std::make_unique<TFileStream>(ZipFilename, TOpenMode::Read);
  } catch (const EZipError& e) {
    return failed(sfxCannotRead, e.what());
  }
  if (int r = copy(*zip, zipTotal); r != sfxSucceeded) return r;
  zip.reset();

  try {
    const int64_t expected = stubTotal + int64_t(kSFXRecordSize) + zipTotal;
    if (out->Size() != expected)
      return failed(sfxWrongSize, "\"" + output + "\" came out with " +
                                      std::to_string(out->Size()) + " bytes instead of " +
                                      std::to_string(expected));
    out->Sync();
    out->Close();
  } catch (const EZipError& e) {
    return failed(sfxCannotWrite, e.what());
  }

  // A program: executable by whoever the umask lets read it.
  if (::chmod(temp.path.c_str(), 0755 & ~currentUmask()) != 0)
    return failed(sfxCannotWrite,
                  "Cannot make \"" + output + "\" executable: " + std::strerror(errno));
  if (!PlaceFile(temp.path, output, ReplaceExisting)) {
    if (errno == EEXIST) return reported("Error - " + output + " already exists");
    return failed(sfxCannotCreate, "Cannot create \"" + output + "\": " + std::strerror(errno));
  }
  temp.path.clear();
  (void)files::SyncFolder(FolderOf(output));
  written_ = output;
  return sfxSucceeded;
}

std::string PlainSFXName(const std::string& archive) {
  const std::string folder = files::FolderOf(archive), name = files::NameOf(archive);
  const std::string stem = name.substr(0, name.find('.'));
  return (folder == "/" ? folder : folder + "/") + stem + ".exe";
}

std::string MakePlainSFX(const std::string& stub, const std::string& archive,
                         const std::string& output, bool replace,
                         const std::function<void()>& processMessages) {
  if (!files::IsRegularFile(stub)) return "Error - " + stub + " not found";
  if (!files::IsRegularFile(archive)) return "Error - no zip file specified";
  if (sameFile(output, archive) || sameFile(output, stub))
    return "Error - " + output + " is the archive or the stub itself";
  if (files::PathExists(output, false) && !replace) return "Error - " + output + " already exists";
  try {
    TScratchFile temp;
    temp.path = files::TempFileName(FolderOf(output), "QLZ");
    TFileStream out(temp.path, TOpenMode::ReadWrite);
    std::vector<uint8_t> block(kCopyBlock);
    for (const std::string& part : {stub, archive}) {
      TFileStream in(part, TOpenMode::Read);
      while (size_t got = in.Read(block.data(), block.size())) {
        out.Write(block.data(), got);
        if (processMessages) processMessages();
      }
    }
    out.Sync();
    out.Close();
    if (::chmod(temp.path.c_str(), 0755 & ~currentUmask()) != 0)
      return "Cannot make \"" + output + "\" executable: " + std::strerror(errno);
    if (!PlaceFile(temp.path, output, replace)) {
      if (errno == EEXIST) return "Error - " + output + " already exists";
      return "Cannot create \"" + output + "\": " + std::strerror(errno);
    }
    temp.path.clear();
  } catch (const std::exception& e) {
    return "Cannot create \"" + output + "\": " + e.what();
  }
  (void)files::SyncFolder(FolderOf(output));
  return "";
}

}  // namespace quelt
