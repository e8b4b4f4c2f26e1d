// Adding a folder tree of mixed files: quelt-cli add -r -l N against zip -r -N, N = 1, 6, 9,
// on the same tree in one run. Prints the time and archive size of each and the ratios; then
// add -r -6 with --jobs 1 against --jobs 2 and more, up to the machine's threads.
// Arguments: the number of runs (3), and "jobs" to time the jobs alone.
#include <sys/stat.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "CodecCorpus.h"
#include "bench/ChildRun.h"

namespace fs = std::filesystem;

namespace {

// Copies regular files from the sources, in name order, until `budget` bytes are taken.
uint64_t collect(const std::vector<std::string>& roots, const std::string& into, uint64_t budget,
                 bool (*want)(const fs::path&)) {
  std::vector<fs::path> found;
  for (const auto& root : roots) {
    std::error_code ec;
    for (auto it = fs::recursive_directory_iterator(root, fs::directory_options::skip_permission_denied, ec);
         it != fs::recursive_directory_iterator(); it.increment(ec)) {
      if (ec) break;
      if (it->is_regular_file(ec) && !it->is_symlink(ec) && want(it->path())) found.push_back(it->path());
    }
  }
  std::sort(found.begin(), found.end());
  uint64_t taken = 0;
  int n = 0;
  for (const auto& p : found) {
    std::error_code ec;
    uint64_t size = fs::file_size(p, ec);
    if (ec || size == 0 || size > 8 * 1024 * 1024) continue;
    fs::path target = fs::path(into) / std::to_string(n / 100) / (std::to_string(n) + "-" + p.filename().string());
    fs::create_directories(target.parent_path());
    fs::copy_file(p, target, ec);
    if (ec) continue;
    ++n;
    taken += size;
    if (taken >= budget) break;
  }
  return taken;
}

bool isText(const fs::path& p) {
  auto e = p.extension().string();
  return e == ".txt" || e == ".h" || e == ".html" || e == ".md" || p.filename() == "copyright" ||
         e == ".py" || e == ".pm" || e == ".c";
}
bool isBinary(const fs::path& p) {
  return p.extension().empty() || p.extension() == ".so" || p.string().find(".so.") != std::string::npos;
}
bool isCompressed(const fs::path& p) {
  auto e = p.extension().string();
  return e == ".gz" || e == ".png" || e == ".jpg" || e == ".xz" || e == ".zip";
}

double timeCommand(const std::string& command) {
  auto t0 = std::chrono::steady_clock::now();
  if (std::system(command.c_str()) != 0) std::fprintf(stderr, "failed: %s\n", command.c_str());
  return std::chrono::duration<double>(std::chrono::steady_clock::now() - t0).count();
}

void compareWithZip(const std::string& bin, const fs::path& work, const fs::path& tree, int runs) {
  std::printf("%-6s %12s %12s %10s %14s %14s %10s\n", "level", "quelt s", "zip s", "time q/z",
              "quelt bytes", "zip bytes", "size q/z");
  for (int level : {1, 6, 9}) {
    std::string ours = (work / "ours.zip").string(), theirs = (work / "theirs.zip").string();
    double tq = 1e9, tz = 1e9;
    for (int r = 0; r < runs; ++r) {
      fs::remove(ours);
      fs::remove(theirs);
      tq = std::min(tq, timeCommand("cd " + tree.string() + " && " + bin + "/quelt-cli add -r -l " +
                                    std::to_string(level) + " " + ours + " . > /dev/null"));
      tz = std::min(tz, timeCommand("cd " + tree.string() + " && zip -q -r -" + std::to_string(level) +
                                    " " + theirs + " ."));
    }
    double sq = double(fs::file_size(ours)), sz = double(fs::file_size(theirs));
    std::printf("%-6d %12.3f %12.3f %10.3f %14.0f %14.0f %10.4f\n", level, tq, tz, tq / tz, sq, sz, sq / sz);
  }
}

// Wall time of add -r -6 on one thread and on more, runs interleaved, the best of each (with
// its CPU time, which more threads should not raise much); the archives must be the same bytes.
void compareJobs(const std::string& bin, const fs::path& work, const fs::path& tree, int runs) {
  const int threads = int(std::max(2u, std::thread::hardware_concurrency()));
  std::vector<int> jobs = {1};
  for (int j = 2; j <= threads; j *= 2) jobs.push_back(j);
  if (jobs.back() != threads) jobs.push_back(threads);
  std::vector<double> best(jobs.size(), 1e9), cpu(jobs.size(), 0);
  for (int r = 0; r < runs; ++r)
    for (size_t k = 0; k < jobs.size(); ++k) {
      const fs::path zip = work / ("jobs" + std::to_string(jobs[k]) + ".zip");
      fs::remove(zip);
      // Through a shell for the working folder; wait4 counts the shell's child in its time.
      const ChildRun run = runChild({"sh", "-c",
                                     "cd " + tree.string() + " && " + bin +
                                         "/quelt-cli add -q -r -6 --jobs " +
                                         std::to_string(jobs[k]) + " " + zip.string() + " ."});
      if (run.wall < best[k]) {
        best[k] = run.wall;
        cpu[k] = run.cpu;
      }
    }
  const bench::Bytes single = bench::readWhole(work / "jobs1.zip");
  std::printf("\nadd -r -6 on %d hardware threads, best of %d runs\n", threads, runs);
  std::printf("%-6s %12s %12s %12s %10s\n", "jobs", "wall s", "cpu s", "speed-up", "same bytes");
  for (size_t k = 0; k < jobs.size(); ++k) {
    const bool same = bench::readWhole(work / ("jobs" + std::to_string(jobs[k]) + ".zip")) == single;
    std::printf("%-6d %12.3f %12.3f %12.3f %10s\n", jobs[k], best[k], cpu[k], best[0] / best[k],
                same ? "yes" : "NO");
  }
}

}  // namespace

int main(int argc, char** argv) {
  std::string bin = fs::canonical(fs::path(argv[0])).parent_path().string();
  fs::path work = fs::temp_directory_path() / "quelt-bench-add";
  fs::path tree = work / "tree";
  if (!fs::exists(tree)) {
    uint64_t text = collect({"/usr/share/doc", "/usr/include", "/usr/share/perl5", "/usr/lib/python3"},
                            (tree / "text").string(), 25u << 20, isText);
    uint64_t binary = collect({"/usr/bin", "/usr/lib/x86_64-linux-gnu"}, (tree / "bin").string(), 20u << 20, isBinary);
    uint64_t packed = collect({"/usr/share"}, (tree / "packed").string(), 10u << 20, isCompressed);
    std::printf("tree: %.1f MB text, %.1f MB binary, %.1f MB compressed\n", text / 1e6, binary / 1e6, packed / 1e6);
  }
  const int runs = argc > 1 ? std::atoi(argv[1]) : 3;
  if (!(argc > 2 && std::string(argv[2]) == "jobs")) compareWithZip(bin, work, tree, runs);
  compareJobs(bin, work, tree, runs);
  return 0;
}
