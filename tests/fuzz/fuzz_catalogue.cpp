// Any bytes as an archive file: reading the catalogue must never crash, hang or run wild.
#include <unistd.h>

#include <cstdio>
#include <string>

#include "engine/UnZipEngine.h"

namespace {
const std::string& scratchPath() {
  static const std::string path = "/tmp/quelt-fuzz-catalogue-" + std::to_string(getpid()) + ".zip";
  return path;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = std::fopen(scratchPath().c_str(), "wb");
  if (!f) return 0;
  std::fwrite(data, 1, size, f);
  std::fclose(f);

  quelt::TUnZipEngine engine;
  engine.OnInCompleteZip = [](quelt::TUnZipEngine&, quelt::TIncompleteZipMode& mode) {
    mode = quelt::izAssumeBad;
  };
  engine.OnGetNextDisk = [](quelt::TUnZipEngine&, int, std::string& name) { name.clear(); };
  try {
    engine.SetZipName(scratchPath());
    engine.SortCatalogue(size % 2 ? quelt::ByName : quelt::ByDate);
    engine.LoadCatalogue();
    for (int i = 0; i < engine.Count(); ++i) {
      (void)engine.Filename(i);
      (void)engine.EntryPath(i);
      (void)engine.EntryDateTime(i);
      (void)engine.EntryComment(i);
    }
    (void)engine.ArchiveComment();
  } catch (const std::exception&) {
    // Refusing a damaged archive with a message is the expected outcome.
  }
  return 0;
}
