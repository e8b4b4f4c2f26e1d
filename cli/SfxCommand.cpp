// quelt-cli sfx: turns an archive into a self-extracting program.
#include <getopt.h>

#include <iostream>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "convert/QueltSFX.h"
#include "platform/FileSystem.h"

namespace quelt::cli {

namespace {

const char* kSfxHelp =
    "Usage: quelt-cli sfx [OPTIONS] ARCHIVE\n"
    "Writes a self-extracting program: the stub ZIPSFX.BIN, its settings, then the archive\n"
    "unchanged. Run it to extract the archive; it also stays readable as an archive.\n\n"
    "  -o, --output FILE      the program to write (default: the archive's name with .exe)\n"
    "      --caption TEXT     the title the program shows\n"
    "      --dir FOLDER       the folder it proposes to extract into; \"><\" stands for a new\n"
    "                         temporary folder\n"
    "      --run COMMAND      what it runs after extracting: \"program|arguments\", where \"><\"\n"
    "                         stands for the extraction folder\n"
    "      --ask-command      let the user decline to run the command\n"
    "      --ask-files        let the user choose the files to extract\n"
    "      --hide-overwrite   do not let the user change the overwrite mode\n"
    "      --overwrite MODE   confirm (the default), always or never, for existing files\n"
    "      --force            replace an existing output file\n"
    "The caption, folder and command take at most 249 bytes together.\n";

int runSfx(int argc, char** argv) {
  const auto longOptions = withCommonOptions({{"output", required_argument, nullptr, 'o'},
                                              {"caption", required_argument, nullptr, 'c'},
                                              {"dir", required_argument, nullptr, 'd'},
                                              {"run", required_argument, nullptr, 'r'},
                                              {"ask-command", no_argument, nullptr, 'A'},
                                              {"ask-files", no_argument, nullptr, 'F'},
                                              {"hide-overwrite", no_argument, nullptr, 'H'},
                                              {"overwrite", required_argument, nullptr, 'w'},
                                              {"force", no_argument, nullptr, 'f'},
                                              {"help", no_argument, nullptr, 'h'}});
  TQueltSFX sfx;
  int c;
  const std::string shortOptions = withCommonShort("o:h");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    switch (c) {
      case 'o':
        sfx.OutputFile = optarg;
        break;
      case 'c':
        sfx.SFXCaption = optarg;
        break;
      case 'd':
        sfx.SFXDefaultDir = optarg;
        break;
      case 'r':
        sfx.SFXCommandLine = optarg;
        break;
      case 'A':
        sfx.SFXOptions.Include(SFXAskCmdLine);
        break;
      case 'F':
        sfx.SFXOptions.Include(SFXAskFiles);
        break;
      case 'H':
        sfx.SFXOptions.Include(SFXHideOverWriteBox);
        break;
      case 'w': {
        std::string mode = optarg;
        if (mode == "confirm")
          sfx.SFXOverWriteMode = OvrConfirm;
        else if (mode == "always")
          sfx.SFXOverWriteMode = OvrAlways;
        else if (mode == "never")
          sfx.SFXOverWriteMode = OvrNever;
        else
          return usageError("sfx", "--overwrite takes confirm, always or never");
        break;
      }
      case 'f':
        sfx.ReplaceExisting = true;
        break;
      case 'h':
        std::cout << kSfxHelp << kCommonHelp;
        return kOk;
      default:
        return usageError("sfx", "unknown option");
    }
  }
  if (optind + 1 != argc) return usageError("sfx", "sfx needs one archive");
  sfx.ZipFilename = argv[optind];

  // A program carrying something that is no archive, or one volume of a set, helps nobody.
  if (files::IsRegularFile(sfx.ZipFilename)) {
    int checked = guarded([&] {
      TUnZipEngine engine;
      engine.OnInCompleteZip = [](TUnZipEngine&, TIncompleteZipMode& mode) {
        mode = izAssumeMulti;
      };
      loadArchive(engine, sfx.ZipFilename);
      if (engine.VolumeCount() > 1)
        throw std::runtime_error(sfx.ZipFilename +
                                 ": one volume of a multi-volume set cannot extract itself");
      return int(kOk);
    });
    if (checked != kOk) return checked;
  }

  sfx.Host.ShowError = [](const std::string& text) { error(text); };
  int result = sfx.MakeSFX();
  if (result == sfxSucceeded) {
    say() << "wrote " << sfx.WrittenFile() << " (stub " << sfx.SFXPath << ")\n";
    return kOk;
  }
  if (result == sfxReported && !files::IsRegularFile(sfx.ZipFilename)) return kUnreadable;
  if (result != sfxReported) error(sfx.ErrorText());
  if (result == sfxReported && sfx.ErrorText().find("already exists") != std::string::npos)
    std::cerr << "Use --force to replace it.\n";
  return result == sfxCannotRead ? kUnreadable : kSomeFailed;
}

Registrar sfxCommand{{"sfx", "make a self-extracting program from an archive", runSfx}};

}  // namespace
}  // namespace quelt::cli
