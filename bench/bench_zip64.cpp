// Zip64 archives: extracting 200,000 small entries and one 5 GiB entry with quelt-cli against
// unzip -qo, and listing the 200,000 entries against zipinfo, all in one run. Each command runs
// as a child of its own, so its peak RSS is read from wait4 and shown beside its time.
// --small (or QUELT_BENCH_SMALL=1) scales to 20,000 entries and 512 MiB for a quick check.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "bench/ChildRun.h"
#include "bench/ManyEntries.h"

namespace fs = std::filesystem;

namespace {

using Run = ChildRun;

// The fastest of `runs`; the peak is the largest seen. `after` cleans up between runs.
template <typename After>
Run bestOf(int runs, const std::vector<std::string>& args, After after) {
  Run best;
  best.wall = 1e18;
  best.ok = true;
  for (int i = 0; i < runs; ++i) {
    Run r = runChild(args);
    after();
    best.ok = best.ok && r.ok;
    best.wall = std::min(best.wall, r.wall);
    best.peakKiB = std::max(best.peakKiB, r.peakKiB);
  }
  return best;
}

bool python(const std::string& script, const std::vector<std::string>& args) {
  std::vector<std::string> argv = {"python3", "-c", script};
  argv.insert(argv.end(), args.begin(), args.end());
  return runChild(argv).ok;
}

// One entry of zeros, deflated at level 1 and forced to Zip64 even when it would fit.
const char* kBigScript =
    "import sys, zipfile\n"
    "size = int(sys.argv[2]); chunk = bytes(1 << 20)\n"
    "with zipfile.ZipFile(sys.argv[1] + '.part', 'w', zipfile.ZIP_DEFLATED, compresslevel=1) as "
    "z:\n"
    "    with z.open('zeros.bin', 'w', force_zip64=True) as f:\n"
    "        left = size\n"
    "        while left:\n"
    "            n = min(left, len(chunk)); f.write(chunk[:n]); left -= n\n"
    "import os; os.replace(sys.argv[1] + '.part', sys.argv[1])\n";

void row(const char* what, const Run& ours, const Run& theirs) {
  std::printf("%-28s %9.3f %9.3f %7.2f   %9.1f %9.1f %7.2f%s\n", what, ours.wall, theirs.wall,
              ours.wall / theirs.wall, ours.peakKiB / 1024.0, theirs.peakKiB / 1024.0,
              double(ours.peakKiB) / double(theirs.peakKiB),
              ours.ok && theirs.ok ? "" : "  (a run failed)");
}

}  // namespace

int main(int argc, char** argv) {
  bool small =
      std::getenv("QUELT_BENCH_SMALL") && std::string(std::getenv("QUELT_BENCH_SMALL")) != "0";
  int runs = 0;
  for (int i = 1; i < argc; ++i) {
    if (std::string(argv[i]) == "--small")
      small = true;
    else if (std::string(argv[i]).rfind("--runs=", 0) == 0)
      runs = std::atoi(argv[i] + 7);
    else {
      std::fprintf(stderr, "usage: %s [--small] [--runs=N]\n", argv[0]);
      return 2;
    }
  }
  const long entries = small ? 20000 : 200000;
  const uint64_t bigSize = small ? (512ull << 20) : (5ull << 30);
  if (runs <= 0) runs = small ? 3 : 1;

  const std::string cli = (fs::canonical(fs::path(argv[0])).parent_path() / "quelt-cli").string();
  const fs::path cache = fs::temp_directory_path() / "quelt-bench-zip64";
  fs::create_directories(cache);
  const std::string many = (cache / ("many-" + std::to_string(entries) + ".zip")).string();
  const std::string big = (cache / ("zeros-" + std::to_string(bigSize >> 20) + "M.zip")).string();
  if (!fs::exists(many)) {
    std::printf("making %s ...\n", many.c_str());
    if (!python(kManyScript, {many, std::to_string(entries)})) return 1;
  }
  if (!fs::exists(big)) {
    std::printf("making %s ...\n", big.c_str());
    if (!python(kBigScript, {big, std::to_string(bigSize)})) return 1;
  }

  // Each extraction gets a fresh folder, removed straight after: the big one is gigabytes.
  const fs::path out = cache / "out";
  auto clean = [&] {
    std::error_code ec;
    fs::remove_all(out, ec);
    fs::create_directories(out);
  };
  auto none = [] {};
  // A fast run that wrote nothing would flatter; count what landed before removing it.
  bool complete = true;
  auto checkMany = [&] {
    long files = 0;
    for (const auto& e : fs::recursive_directory_iterator(out))
      if (e.is_regular_file()) ++files;
    if (files != entries) std::fprintf(stderr, "extracted %ld of %ld files\n", files, entries);
    complete = complete && files == entries;
    clean();
  };
  auto checkBig = [&] {
    std::error_code ec;
    uint64_t size = fs::file_size(out / "zeros.bin", ec);
    if (ec || size != bigSize)
      std::fprintf(stderr, "the big entry came out at %llu bytes\n", (unsigned long long)size);
    complete = complete && !ec && size == bigSize;
    clean();
  };
  clean();
  const std::string dest = out.string();

  Run listOurs = bestOf(runs, {cli, "list", many}, none);
  Run listRef = bestOf(runs, {"zipinfo", many}, none);
  Run manyOurs = bestOf(runs, {cli, "extract", "-o", "-d", dest, many}, checkMany);
  Run manyRef = bestOf(runs, {"unzip", "-qo", many, "-d", dest}, checkMany);
  Run bigOurs = bestOf(runs, {cli, "extract", "-o", "-d", dest, big}, checkBig);
  Run bigRef = bestOf(runs, {"unzip", "-qo", big, "-d", dest}, checkBig);
  fs::remove_all(out);

  std::printf("Zip64 archives, best of %d run%s; peak RSS of each child process\n", runs,
              runs > 1 ? "s" : "");
  std::printf("%-28s %9s %9s %7s   %9s %9s %7s\n", "", "ours s", "ref s", "ratio", "ours MiB",
              "ref MiB", "ratio");
  std::string listName = "list " + std::to_string(entries) + " (zipinfo)";
  std::string manyName = "extract " + std::to_string(entries) + " (unzip)";
  std::string bigName = "extract 1 x " + std::to_string(bigSize >> 20) + " MiB (unzip)";
  row(listName.c_str(), listOurs, listRef);
  row(manyName.c_str(), manyOurs, manyRef);
  row(bigName.c_str(), bigOurs, bigRef);
  if (!complete) std::printf("an extraction left files out: the figures above do not count\n");
  return complete && listOurs.ok && listRef.ok && manyOurs.ok && manyRef.ok && bigOurs.ok &&
                 bigRef.ok
             ? 0
             : 1;
}
