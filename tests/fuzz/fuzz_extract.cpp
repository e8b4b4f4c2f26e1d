// Any bytes as an archive, extracted into a scratch folder: no crash, no hang, nothing
// written anywhere but below that folder, and no link made there that leads out of it.
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <string>

#include "engine/UnZipEngine.h"

namespace fs = std::filesystem;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static const std::string base = "/tmp/quelt-fuzz-extract-" + std::to_string(getpid());
  static const std::string archive = base + ".zip";
  static const std::string jail = base + "/jail";
  static const std::string dest = jail + "/dest";
  std::error_code ec;
  fs::remove_all(base, ec);
  fs::create_directories(dest);
  FILE* f = std::fopen(archive.c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  quelt::TUnZipEngine engine;
  engine.OnInCompleteZip = [](quelt::TUnZipEngine&, quelt::TIncompleteZipMode& mode) {
    mode = quelt::izAssumeBad;
  };
  engine.OnGetNextDisk = [](quelt::TUnZipEngine&, int, std::string& name) { name.clear(); };
  int passwords = 0;
  engine.OnBadPassword = [&passwords](quelt::TUnZipEngine&, int, std::string& pw) {
    if (++passwords < 3) pw += "x";  // a few retries, then give up
  };
  engine.Password = "pw";
  try {
    engine.SetZipName(archive);
    engine.SetDestDir(dest);
    engine.DoAll = true;
    engine.RecreateDirs = true;
    engine.OverwriteMode = quelt::Always;
    engine.ExtractEntries();
  } catch (const std::exception&) {
  }
  // Everything extracted must be below dest: the jail holds nothing else.
  for (const auto& entry : fs::directory_iterator(jail))
    if (entry.path() != dest) __builtin_trap();
  static const std::string inside = fs::canonical(dest).string() + "/";
  for (auto it = fs::recursive_directory_iterator(dest, ec); !ec && it != fs::end(it);
       it.increment(ec)) {
    std::error_code resolved;
    if (!it->is_symlink(resolved)) continue;
    std::string target = fs::weakly_canonical(it->path(), resolved).string();
    if (!resolved && (target + "/").rfind(inside, 0) != 0) __builtin_trap();
  }
  return 0;
}
