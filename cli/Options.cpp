#include "cli/Options.h"

#include <iostream>

#include "cli/Progress.h"
#include "engine/UnZipEngine.h"
#include "engine/codecs/Methods.h"

#ifndef QUELT_VERSION
#define QUELT_VERSION "unknown"
#endif

namespace quelt::cli {

namespace {
CommonOptions gOptions;
std::ostream* gSay = &std::cout;

// A stream that drops what it is given.
class NullBuffer : public std::streambuf {
 protected:
  int overflow(int c) override { return c; }
};
NullBuffer gNullBuffer;
std::ostream gNull(&gNullBuffer);
}  // namespace

const CommonOptions& commonOptions() {
  return gOptions;
}

const char* const kCommonHelp =
    "  -q, --quiet              print only errors and the results asked for\n"
    "  -v, --verbose            say more about each entry\n"
    "      --progress           show the progress line even when standard error is not a\n"
    "                           terminal\n"
    "      --version            show the program's version and methods\n"
    "  -h, --help               show this help\n";

const char* const kExitStatusHelp =
    "  0    success\n"
    "  1    some entries failed, a pattern matched nothing, or the archive is damaged\n"
    "  2    usage error\n"
    "  3    the archive could not be read or written\n"
    "  130  interrupted by Ctrl-C (SIGINT), after cleaning up; 143 for SIGTERM\n";

std::vector<option> withCommonOptions(std::initializer_list<option> own) {
  std::vector<option> all(own);
  all.push_back({"quiet", no_argument, nullptr, 'q'});
  all.push_back({"verbose", no_argument, nullptr, 'v'});
  all.push_back({"progress", no_argument, nullptr, kOptProgress});
  all.push_back({"version", no_argument, nullptr, kOptVersion});
  all.push_back({nullptr, 0, nullptr, 0});
  return all;
}

std::string withCommonShort(const std::string& own) {
  return own + "qv";
}

int nextOption(int argc, char** argv, const std::string& shortOptions,
               const std::vector<option>& longOptions) {
  for (;;) {
    int c = getopt_long(argc, argv, shortOptions.c_str(), longOptions.data(), nullptr);
    switch (c) {
      case 'q':
        gOptions.quiet = true;
        gOptions.verbose = false;
        break;
      case 'v':
        gOptions.verbose = true;
        gOptions.quiet = false;
        break;
      case kOptProgress:
        gOptions.progress = true;
        break;
      case kOptVersion:
        printVersion(std::cout);
        return kVersionShown;
      default:
        return c;
    }
  }
}

std::ostream& say() {
  if (gOptions.quiet) return gNull;
  ProgressLine::clearAll();
  return *gSay;
}

void sayOnStandardError() {
  gSay = &std::cerr;
}

std::ostream& complain() {
  ProgressLine::clearAll();
  return std::cerr;
}

std::ostream& detail() {
  return gOptions.verbose ? say() : gNull;
}

void printVersion(std::ostream& out) {
  TUnZipEngine engine;
  out << "quelt-cli " << QUELT_VERSION << " (archive engine " << engine.ThisVersion() / 100 << '.'
      << engine.ThisVersion() % 100 << ")\n";
  std::string read, written;
  for (const TMethodInfo& m : MethodTable()) {
    if (m.Number == kMethodAes) continue;  // a cipher wrapped around a method, said below
    std::string item = std::to_string(m.Number) + " " + m.Name;
    if (m.Decode) read += (read.empty() ? "" : ", ") + item;
    if (m.CanWrite) written += (written.empty() ? "" : ", ") + item;
  }
  out << "Methods read: " << read << "\nMethods written: " << written
      << "\nEncryption: traditional ZIP encryption, read and written; AES (128, 192 and 256 "
         "bits, AE-1 and AE-2) read, AES-256 written with --aes\n";
}

}  // namespace quelt::cli
