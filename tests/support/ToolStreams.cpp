#include "support/ToolStreams.h"

#include <stdexcept>

#include "support/TestUtil.h"

namespace quelt::test {

std::vector<uint8_t> filterThrough(const std::string& command, const std::vector<uint8_t>& input) {
  TempDir dir;
  writeFile(dir / "in", input);
  RunResult r = run(command, dir.path());
  if (r.status != 0 || !fileExists(dir / "out"))
    throw std::runtime_error("\"" + command + "\" failed: " + r.err);
  return readFile(dir / "out");
}

std::vector<TRawEntry> sevenZipEntries(
    const std::string& switches,
    const std::vector<std::pair<std::string, std::vector<uint8_t>>>& files) {
  TempDir dir;
  std::string names;
  for (const auto& [name, data] : files) {
    writeFile(dir / name, data);
    names += " " + shq(name);
  }
  RunResult r = run("7z a -tzip -bd -bso0 " + switches + " a.zip" + names, dir.path());
  if (r.status != 0) throw std::runtime_error("7z a " + switches + " failed: " + r.err);
  return readLocalEntries(dir / "a.zip");
}

}  // namespace quelt::test
