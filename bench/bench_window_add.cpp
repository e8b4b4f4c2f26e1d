// Adding a 50 MB tree through the window's Add Files command (dialog confirmed, output window
// shown, every event written to it, events pumped) against the engine's CompressFiles alone on
// the same tree, in the same run. Goal: the window costs at most 10 % on top.
#include <stdlib.h>
#include <time.h>

#include <QApplication>
#include <algorithm>
#include <chrono>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "app/dialogs/AddForm.h"
#include "app/mainunit.h"
#include "bench/WindowBench.h"
#include "platform/SettingsStore.h"

namespace {

using Clock = std::chrono::steady_clock;
namespace fs = std::filesystem;
constexpr int kDefaultRuns = 7;

// A fixed pseudo-random sequence, so every run compresses the same bytes.
struct TRandom {
  uint64_t state;
  uint32_t next() {
    state = state * 6364136223846793005ull + 1442695040888963407ull;
    return uint32_t(state >> 33);
  }
};

// Writes about `total` bytes as files of mixed kinds and sizes in nested folders: prose-like
// text, random (incompressible) data, and repetitive records.
uint64_t makeTree(const fs::path& root, uint64_t total) {
  static const char* const kWords[] = {"archive", "window", "the",      "of",     "compressed",
                                       "entry",   "folder", "and",      "data",   "a",
                                       "to",      "file",   "progress", "cancel", "is",
                                       "with",    "stored", "header",   "in",     "for"};
  TRandom rnd{42};
  uint64_t written = 0;
  for (int n = 0; written < total; ++n) {
    fs::path folder = root / ("d" + std::to_string(n % 7)) / ("s" + std::to_string(n % 3));
    fs::create_directories(folder);
    const uint32_t size = 2000 + rnd.next() % 400000;
    std::string data;
    data.reserve(size);
    switch (n % 3) {
      case 0:
        while (data.size() < size) {
          data += kWords[rnd.next() % 20];
          data += rnd.next() % 12 == 0 ? ".\n" : " ";
        }
        break;
      case 1:
        while (data.size() < size) data += char(rnd.next());
        break;
      default:
        while (data.size() < size)
          data += "record " + std::to_string(rnd.next() % 1000) + ";status=ok;\n";
        break;
    }
    data.resize(size);
    std::ofstream(folder / ("f" + std::to_string(n) + ".dat"), std::ios::binary) << data;
    written += size;
  }
  return written;
}

// Wall time and the processor time of all the program's threads, in milliseconds. On a shared
// machine the wall time swings with the neighbours' load; the processor time much less.
struct TStopwatch {
  Clock::time_point wall = Clock::now();
  double cpu = cpuMs();
  static double cpuMs() {
    timespec t;
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &t);
    return t.tv_sec * 1e3 + t.tv_nsec / 1e6;
  }
  double wallMs() const {
    return std::chrono::duration<double, std::milli>(Clock::now() - wall).count();
  }
  double cpuMsSince() const { return cpuMs() - cpu; }
};

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  std::string tmpl = (fs::temp_directory_path() / "quelt-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  const fs::path dir = tmpl, tree = dir / "tree";
  ::setenv("QUELT_CONFIG_HOME", (dir / "cfg").c_str(), 1);
  const uint64_t bytes = makeTree(tree, 50u << 20);
  int files = 0;
  for (const auto& e : fs::recursive_directory_iterator(tree)) files += e.is_regular_file();
  std::printf("tree: %d files, %.1f MB\n", files, bytes / 1e6);

  quelt::bench::TBenchWindow bench;
  quelt::TMainform& form = bench.form;
  // The dialog as the user leaves it: the tree's folder, its subfolders, folder names.
  form.Modal().SetRunner([&](QDialog& d) {
    auto& add = static_cast<quelt::TAddForm&>(d);
    add.SetFolder(QString::fromStdString(tree.string()));
    add.AddFolderClick();
    add.RecurseCheck->setChecked(true);
    add.DirNameCheck->setChecked(true);
    add.ZipLevel->setValue(6);
    return int(QDialog::Accepted);
  });

  // Timed in turn, so a busy moment of the machine spoils both alike; the first round warms
  // the file cache and is not counted.
  std::vector<double> alone, window, aloneCpu, windowCpu;
  const int runs = argc > 1 ? std::max(1, std::atoi(argv[1])) : kDefaultRuns;
  for (int run = 0; run <= runs; ++run) {
    const std::string a = (dir / "alone.zip").string(), w = (dir / "window.zip").string();
    fs::remove(a);
    fs::remove(w);
    {
      quelt::TZipEngine engine;
      engine.TempPath = dir.string();
      TStopwatch t0;
      engine.SetZipName(a);
      engine.FilesList = {tree.string() + "/*.*"};
      engine.Recurse = true;
      engine.SetStorePaths(true);
      engine.PackLevel = 6;
      int n = engine.CompressFiles();
      double ms = t0.wallMs(), cpu = t0.cpuMsSince();
      if (n != files) return 1;
      if (run > 0) {
        alone.push_back(ms);
        aloneCpu.push_back(cpu);
      }
    }
    form.SetCurrentArchive(QString::fromStdString(w));
    form.ChangeAll(true);  // as opening a new archive leaves the commands
    TStopwatch t0;
    form.Command("AddFiles1")->trigger();
    QCoreApplication::processEvents();
    double ms = t0.wallMs(), cpu = t0.cpuMsSince();
    if (form.Listing().rowCount() != files) {
      std::fprintf(stderr, "the window added %d of %d files\n", form.Listing().rowCount(), files);
      return 1;
    }
    if (fs::file_size(a) != fs::file_size(w)) {
      std::fprintf(stderr, "the two archives differ in size\n");
      return 1;
    }
    if (run > 0) {
      window.push_back(ms);
      windowCpu.push_back(cpu);
    }
  }

  auto best = [](std::vector<double> v) { return *std::min_element(v.begin(), v.end()); };
  std::printf("best of %d runs                              wall ms   processor ms\n", runs);
  std::printf("CompressFiles alone, level 6                 %9.1f %14.1f\n", best(alone),
              best(aloneCpu));
  std::printf("window: Add Files command, output window on  %9.1f %14.1f\n", best(window),
              best(windowCpu));
  std::printf("ratio window / engine                        %9.3f %14.3f (goal: at most 1.10)\n",
              best(window) / best(alone), best(windowCpu) / best(aloneCpu));
  fs::remove_all(dir);
  return 0;
}
