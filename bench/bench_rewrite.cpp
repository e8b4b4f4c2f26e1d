// Rewriting a large archive for a small change: adding one file to, and removing one entry
// from, archives of 10,000, 65,000 and 200,000 entries with quelt-cli against
// zip -q archive file and zip -q -d archive name, in one run. The two programs take turns
// (which goes first alternates), each on a fresh copy of the same archive. Prints the median
// CPU time (user + system of the child) and wall time of each, the ratios with their spread,
// and the growth exponent between sizes: 1 is linear.
// Options: --runs=N (default 5), --sizes=a,b,c.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cmath>
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

const char* kCountScript =
    "import sys, zipfile\n"
    "print(len(zipfile.ZipFile(sys.argv[1]).infolist()))\n";

long entryCount(const std::string& archive) {
  std::string command = "python3 -c \"" + std::string(kCountScript) + "\" " + archive;
  // The script has no double quotes of its own; popen reads what it prints.
  FILE* p = popen(command.c_str(), "r");
  if (!p) return -1;
  long n = -1;
  if (std::fscanf(p, "%ld", &n) != 1) n = -1;
  pclose(p);
  return n;
}

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  size_t n = v.size();
  return n % 2 ? v[n / 2] : (v[n / 2 - 1] + v[n / 2]) / 2;
}

struct Series {
  std::vector<double> oursCpu, refCpu, oursWall, refWall, ratioCpu, ratioWall;
  bool ok = true;
};

struct Size {
  long entries;
  Series add, remove;
};

void printRow(const char* what, long n, const Series& s) {
  auto [lo, hi] = std::minmax_element(s.ratioCpu.begin(), s.ratioCpu.end());
  auto [wlo, whi] = std::minmax_element(s.ratioWall.begin(), s.ratioWall.end());
  std::printf("%-7s %7ld  %8.3f %8.3f  %5.2f [%4.2f-%4.2f]  %8.3f %8.3f  %5.2f [%4.2f-%4.2f]%s\n",
              what, n, median(s.oursCpu), median(s.refCpu), median(s.ratioCpu), *lo, *hi,
              median(s.oursWall), median(s.refWall), median(s.ratioWall), *wlo, *whi,
              s.ok ? "" : "  (a run failed)");
}

// Growth exponent k in t ~ N^k between two sizes.
double exponent(double t1, double t2, long n1, long n2) {
  return std::log(t2 / t1) / std::log(double(n2) / double(n1));
}

}  // namespace

int main(int argc, char** argv) {
  int runs = 5;
  std::vector<long> sizes = {10000, 65000, 200000};
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (a.rfind("--runs=", 0) == 0) {
      runs = std::max(1, std::atoi(a.c_str() + 7));
    } else if (a.rfind("--sizes=", 0) == 0) {
      sizes.clear();
      for (const char* p = a.c_str() + 8; *p;) {
        char* end;
        long v = std::strtol(p, &end, 10);
        if (end == p) break;
        sizes.push_back(v);
        p = *end == ',' ? end + 1 : end;
      }
    } else {
      std::fprintf(stderr, "usage: %s [--runs=N] [--sizes=a,b,c]\n", argv[0]);
      return 2;
    }
  }
  const std::string cli = (fs::canonical(fs::path(argv[0])).parent_path() / "quelt-cli").string();
  const fs::path cache = fs::temp_directory_path() / "quelt-bench-rewrite";
  fs::create_directories(cache);
  const std::string added = (cache / "added.txt").string();
  {
    FILE* f = std::fopen(added.c_str(), "w");
    for (int i = 0; f && i < 200; ++i) std::fprintf(f, "the file added, line %d\n", i);
    if (f) std::fclose(f);
  }
  const std::string ours = (cache / "ours.zip").string(), ref = (cache / "ref.zip").string();
  // An entry in the middle of the physical order and of the name order.
  auto victim = [](long n) {
    char name[32];
    long i = n / 2;
    std::snprintf(name, sizeof name, "d%03ld/f%06ld.txt", i % 1000, i);
    return std::string(name);
  };

  std::vector<Size> results;
  bool allOk = true;
  for (long n : sizes) {
    const std::string base = (cache / ("many-" + std::to_string(n) + ".zip")).string();
    if (!fs::exists(base)) {
      std::printf("making %s ...\n", base.c_str());
      std::fflush(stdout);
      if (!runChild({"python3", "-c", kManyScript, base, std::to_string(n)}).ok) return 1;
    }
    Size size{n, {}, {}};
    auto fresh = [&] {
      fs::copy_file(base, ours, fs::copy_options::overwrite_existing);
      fs::copy_file(base, ref, fs::copy_options::overwrite_existing);
    };
    auto measure = [&](Series& s, const std::vector<std::string>& a,
                       const std::vector<std::string>& b, int round) {
      fresh();
      Run x, y;
      if (round % 2 == 0) {
        x = runChild(a);
        y = runChild(b);
      } else {
        y = runChild(b);
        x = runChild(a);
      }
      s.ok = s.ok && x.ok && y.ok;
      s.oursCpu.push_back(x.cpu);
      s.refCpu.push_back(y.cpu);
      s.oursWall.push_back(x.wall);
      s.refWall.push_back(y.wall);
      s.ratioCpu.push_back(x.cpu / y.cpu);
      s.ratioWall.push_back(x.wall / y.wall);
    };
    for (int r = 0; r < runs; ++r) {
      measure(size.add, {cli, "add", ours, added}, {"zip", "-q", ref, added}, r);
      if (r == 0) {
        // Both archives must hold one entry more; checked once, outside the timing.
        long a = entryCount(ours), b = entryCount(ref);
        if (a != n + 1 || b != n + 1) {
          std::fprintf(stderr, "after adding: %ld and %ld entries, not %ld\n", a, b, n + 1);
          size.add.ok = false;
        }
      }
      measure(size.remove, {cli, "remove", ours, victim(n)}, {"zip", "-q", "-d", ref, victim(n)},
              r);
      if (r == 0) {
        long a = entryCount(ours), b = entryCount(ref);
        if (a != n - 1 || b != n - 1) {
          std::fprintf(stderr, "after removing: %ld and %ld entries, not %ld\n", a, b, n - 1);
          size.remove.ok = false;
        }
      }
    }
    allOk = allOk && size.add.ok && size.remove.ok;
    results.push_back(std::move(size));
  }
  fs::remove(ours);
  fs::remove(ref);

  std::printf(
      "Rewriting an archive for one change, %d runs each, medians; ratio = quelt / zip "
      "[min-max]\n",
      runs);
  std::printf("%-7s %7s  %8s %8s  %-17s  %8s %8s  %-17s\n", "", "entries", "quelt s", "zip s",
              "cpu ratio", "quelt s", "zip s", "wall ratio");
  std::printf("%-7s %7s  %-35s  %-35s\n", "", "", "---------- cpu (user+sys) ----------",
              "--------------- wall ---------------");
  for (const Size& s : results) printRow("add", s.entries, s.add);
  for (const Size& s : results) printRow("remove", s.entries, s.remove);
  if (results.size() > 1) {
    std::printf("growth exponent of the median cpu (wall) time, t ~ N^k\n");
    for (size_t i = 0; i + 1 < results.size(); ++i) {
      const Size &a = results[i], &b = results[i + 1];
      auto k = [&](const std::vector<double>& x, const std::vector<double>& y) {
        return exponent(median(x), median(y), a.entries, b.entries);
      };
      std::printf(
          "%7ld -> %7ld  add: quelt %.2f (%.2f) zip %.2f (%.2f)   remove: quelt %.2f "
          "(%.2f) zip %.2f (%.2f)\n",
          a.entries, b.entries, k(a.add.oursCpu, b.add.oursCpu), k(a.add.oursWall, b.add.oursWall),
          k(a.add.refCpu, b.add.refCpu), k(a.add.refWall, b.add.refWall),
          k(a.remove.oursCpu, b.remove.oursCpu), k(a.remove.oursWall, b.remove.oursWall),
          k(a.remove.refCpu, b.remove.refCpu), k(a.remove.refWall, b.remove.refWall));
    }
  }
  return allOk ? 0 : 1;
}
