// quelt-cli uuencode and uudecode: a file as UU, XX or Base64 text for mail, and back.
#include <getopt.h>
#include <unistd.h>

#include <iostream>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "convert/UUCode.h"
#include "engine/BufferStream.h"
#include "platform/FileSystem.h"

namespace quelt::cli {

namespace {

const char* kEncodeHelp =
    "Usage: quelt-cli uuencode [OPTIONS] FILE\n"
    "Writes FILE as 7-bit text with begin and end lines, for mail.\n\n"
    "  -o, --output OUT   the text file to write (default: FILE's name up to its first\n"
    "                     dot, then \"uue\", beside it)\n"
    "      --base64       Base64 instead of UU\n"
    "      --xx           XX instead of UU\n"
    "      --lf           end lines with LF alone (default CR LF)\n"
    "      --force        replace an existing output file\n";

const char* kDecodeHelp =
    "Usage: quelt-cli uudecode [OPTIONS] FILE\n"
    "Decodes a UU, XX or Base64 text (told apart by its lines) into the file its begin line\n"
    "names, beside FILE.\n\n"
    "  -d, --dest DIR     write into DIR instead\n"
    "      --force        replace an existing file\n";

// Runs the conversion; a file that exists is replaced only when the user agrees.
int convert(TUUCode& code, bool force) {
  code.ReplaceExisting = force;
  try {
    code.Convert();
    return kOk;
  } catch (const EUUCode& e) {
    std::string what = e.what();
    if (what.find("already exists") == std::string::npos) {
      error(what);
      return kUnreadable;
    }
    if (isatty(STDIN_FILENO) && !force) {
      std::cerr << "Replace Existing File: \"" << code.OutputFile << "\"? [y/N] " << std::flush;
      std::string answer;
      if (std::getline(std::cin, answer) && !answer.empty() &&
          (answer[0] == 'y' || answer[0] == 'Y'))
        return convert(code, true);
      return kSomeFailed;
    }
    error(what);
    std::cerr << "Use --force to replace it.\n";
    return kSomeFailed;
  } catch (const std::exception& e) {
    error(e.what());
    return kUnreadable;
  }
}

int runEncode(int argc, char** argv) {
  const auto longOptions = withCommonOptions({{"output", required_argument, nullptr, 'o'},
                                              {"base64", no_argument, nullptr, 'b'},
                                              {"xx", no_argument, nullptr, 'x'},
                                              {"lf", no_argument, nullptr, 'l'},
                                              {"force", no_argument, nullptr, 'f'},
                                              {"help", no_argument, nullptr, 'h'}});
  TUUCode code;
  code.Algorithm = uuencode;
  bool force = false;
  int c;
  const std::string shortOptions = withCommonShort("o:h");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    switch (c) {
      case 'o':
        code.OutputFile = optarg;
        break;
      case 'b':
      case 'x':
        if (code.Algorithm != uuencode)
          return usageError("uuencode", "choose one of --base64 and --xx");
        code.Algorithm = c == 'b' ? base64encode : xxencode;
        break;
      case 'l':
        code.UnixCRLF = LF;
        break;
      case 'f':
        force = true;
        break;
      case 'h':
        std::cout << kEncodeHelp << kCommonHelp;
        return kOk;
      default:
        return usageError("uuencode", "unknown option");
    }
  }
  if (optind + 1 != argc) return usageError("uuencode", "uuencode needs one file");
  code.InputFile = argv[optind];
  if (code.OutputFile.empty()) code.OutputFile = UUEncodedName(code.InputFile);
  int result = convert(code, force);
  if (result == kOk) say() << "encoded as " << code.OutputFile << "\n";
  return result;
}

int runDecode(int argc, char** argv) {
  const auto longOptions = withCommonOptions({{"dest", required_argument, nullptr, 'd'},
                                              {"force", no_argument, nullptr, 'f'},
                                              {"help", no_argument, nullptr, 'h'}});
  TUUCode code;
  bool force = false;
  int c;
  const std::string shortOptions = withCommonShort("d:h");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    switch (c) {
      case 'd':
        code.OutputFolder = optarg;
        break;
      case 'f':
        force = true;
        break;
      case 'h':
        std::cout << kDecodeHelp << kCommonHelp;
        return kOk;
      default:
        return usageError("uudecode", "unknown option");
    }
  }
  if (optind + 1 != argc) return usageError("uudecode", "uudecode needs one file");
  code.InputFile = argv[optind];
  // The kind of text shows in its first lines.
  try {
    TFileStream in(code.InputFile, TOpenMode::Read);
    std::string head(65536, '\0');
    head.resize(in.Read(head.data(), head.size()));
    code.Algorithm = DetectDecoder(head);
    if (!code.OutputFolder.empty()) files::MakeFolders(code.OutputFolder);
  } catch (const std::exception& e) {
    error(e.what());
    return kUnreadable;
  }
  int result = convert(code, force);
  if (result == kOk) say() << "decoded " << code.OutputFile << "\n";
  return result;
}

Registrar encodeCommand{{"uuencode", "write a file as UU, XX or Base64 text", runEncode}};
Registrar decodeCommand{{"uudecode", "decode a UU, XX or Base64 text into its file", runDecode}};

}  // namespace
}  // namespace quelt::cli
