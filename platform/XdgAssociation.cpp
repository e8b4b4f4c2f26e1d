#include "platform/XdgAssociation.h"

#include <system_error>
#include <vector>

#include "platform/FileSystem.h"
#include "platform/XdgDirs.h"

namespace quelt {

namespace {

const std::vector<std::string> kZipTypes = {"application/zip", "application/x-zip-compressed"};

std::string trimmed(const std::string& text) {
  size_t begin = text.find_first_not_of(" \t\r\n");
  if (begin == std::string::npos) return "";
  return text.substr(begin, text.find_last_not_of(" \t\r\n") - begin + 1);
}

[[noreturn]] void refuse(const std::string& why) {
  throw EPlatformError("Unable to make Quelt the program for ZIP files: " + why);
}

}  // namespace

TXdgAssociation::TXdgAssociation(IProcessRunner& runner, std::string xdgMime)
    : runner_(runner), xdgMime_(std::move(xdgMime)) {}

bool TXdgAssociation::EntryInstalled() {
  std::vector<std::string> dirs = {xdg::DataHome()};
  for (const auto& dir : xdg::DataDirs()) dirs.push_back(dir);
  for (const auto& dir : dirs)
    if (files::IsRegularFile(dir + "/applications/" + kDesktopEntryName)) return true;
  return false;
}

bool TXdgAssociation::IsZipHandler() {
  std::string answer;
  TProcessOptions options;
  options.onLine = [&](TOutputChannel channel, const std::string& line) {
    if (channel == TOutputChannel::StdOut && answer.empty()) answer = trimmed(line);
  };
  try {
    return runner_.Run({xdgMime_, "query", "default", kZipTypes[0]}, options).Succeeded() &&
           answer == kDesktopEntryName;
  } catch (const EPlatformError&) {
    return false;
  }
}

void TXdgAssociation::MakeZipHandler(const std::string& programPath) {
  if (!files::IsRegularFile(programPath))
    throw EPlatformError("Error: Program not found: " + programPath);
  if (!EntryInstalled()) {
    std::string folder = xdg::DataHome() + "/applications";
    try {
      files::MakeFolders(folder, 0700);
      files::WriteFileAtomically(folder + "/" + kDesktopEntryName, DesktopEntryText(programPath),
                                 0644);
    } catch (const std::system_error& e) {
      refuse(e.what());
    }
  }
  std::vector<std::string> argv = {xdgMime_, "default", kDesktopEntryName};
  argv.insert(argv.end(), kZipTypes.begin(), kZipTypes.end());
  std::string lastError;
  TProcessResult result;
  try {
    result = RunKeepingLastError(runner_, argv, {}, lastError);
  } catch (const EPlatformError& e) {
    refuse(std::string(e.what()) + ". xdg-mime comes with the xdg-utils package.");
  }
  if (!result.Succeeded())
    refuse(lastError.empty() ? "xdg-mime failed with exit status " + std::to_string(result.exitCode)
                             : lastError);
  if (!IsZipHandler()) refuse("the desktop still opens ZIP files with another program.");
}

}  // namespace quelt
