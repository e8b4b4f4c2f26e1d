// Listing a 65,000-entry archive: quelt-cli list against zipinfo -1 on the same file.
#include <sys/wait.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>

#include "engine/UnZipEngine.h"

namespace {
double seconds(const std::function<void()>& f) {
  auto t0 = std::chrono::steady_clock::now();
  f();
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

double bestOf(int runs, const std::string& command) {
  double best = 1e9;
  for (int i = 0; i < runs; ++i)
    best = std::min(best, seconds([&] {
                      if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
                    }));
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  namespace fs = std::filesystem;
  std::string bin = fs::canonical(fs::path(argv[0])).parent_path().string();
  std::string archive = argc > 1 ? argv[1] : (fs::temp_directory_path() / "quelt-bench-65000.zip").string();
  if (!fs::exists(archive)) {
    std::string make =
        "python3 -c 'import sys,zipfile\n"
        "with zipfile.ZipFile(sys.argv[1], \"w\") as z:\n"
        "    for i in range(65000): z.writestr(\"folder%03d/entry%05d.txt\" % (i % 500, i), \"x\" * (i % 7))' " +
        archive;
    if (std::system(make.c_str()) != 0) return 1;
  }
  const int runs = 5;
  double ours = bestOf(runs, bin + "/quelt-cli list --tsv " + archive + " > /dev/null");
  double zipinfo = bestOf(runs, "zipinfo -1 " + archive + " > /dev/null");
  double load = 1e9;
  for (int i = 0; i < runs; ++i) {
    load = std::min(load, seconds([&] {
                      quelt::TUnZipEngine engine;
                      engine.SetZipName(archive);
                      engine.LoadCatalogue();
                    }));
  }
  std::printf("65,000-entry archive, best of %d runs\n", runs);
  std::printf("  quelt-cli list --tsv   %8.3f s\n", ours);
  std::printf("  zipinfo -1             %8.3f s\n", zipinfo);
  std::printf("  ratio ours/zipinfo     %8.2f\n", ours / zipinfo);
  std::printf("  LoadCatalogue alone    %8.3f s\n", load);
  return 0;
}
