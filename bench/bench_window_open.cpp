// Opening a 65,000-entry archive in the window, from OpenIT until the listing is filled and
// painted, against the engine's LoadCatalogue alone on the same file in the same run.
// Goal: the window adds no more than the catalogue itself costs (ratio at most 2).
#include <stdlib.h>
#include <unistd.h>

#include <QApplication>
#include <QTreeView>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "app/mainunit.h"
#include "bench/WindowBench.h"
#include "platform/SettingsStore.h"

namespace {

using Clock = std::chrono::steady_clock;
constexpr int kEntries = 65000;
constexpr int kRuns = 5;

double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v[v.size() / 2];
}

double msSince(Clock::time_point t0) {
  return std::chrono::duration<double, std::milli>(Clock::now() - t0).count();
}

}  // namespace

int main(int argc, char** argv) {
  if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);

  std::string tmpl = (std::filesystem::temp_directory_path() / "quelt-bench-XXXXXX").string();
  if (!mkdtemp(tmpl.data())) return 1;
  const std::string dir = tmpl, archive = dir + "/many.zip";
  ::setenv("QUELT_CONFIG_HOME", (dir + "/cfg").c_str(), 1);

  std::string make =
      "python3 -c 'import sys, zipfile\n"
      "with zipfile.ZipFile(sys.argv[1], \"w\", zipfile.ZIP_STORED) as z:\n"
      "    for i in range(" +
      std::to_string(kEntries) +
      "):\n"
      "        z.writestr(\"dir%03d/file%05d.txt\" % (i % 500, i), str(i))\n' " +
      archive;
  std::printf("making %s with %d entries...\n", archive.c_str(), kEntries);
  if (std::system(make.c_str()) != 0) return 1;

  quelt::bench::TBenchWindow bench;
  quelt::TMainform& form = bench.form;
  form.SetCurrentArchive(QString::fromStdString(archive));

  // The two are timed in turn, so a busy moment of the machine spoils both alike. The first
  // round warms the file cache and is not counted.
  std::vector<double> alone, window;
  for (int run = 0; run < kRuns + 1; ++run) {
    {
      // The engine alone, sorting as the window does by default.
      quelt::TUnZipEngine engine;
      auto t0 = Clock::now();
      engine.SetZipName(archive);
      engine.SortCatalogue(quelt::ByFileName);
      engine.LoadCatalogue();
      double ms = msSince(t0);
      if (engine.Count() != kEntries) return 1;
      if (run > 0) alone.push_back(ms);
    }
    auto t0 = Clock::now();
    form.OpenIT();
    form.ListView()->viewport()->repaint();
    QCoreApplication::processEvents();
    double ms = msSince(t0);
    if (form.Listing().rowCount() != kEntries) return 1;
    if (run > 0) window.push_back(ms);
  }

  double a = median(alone), w = median(window);
  std::printf("entries                                   %d\n", kEntries);
  std::printf("LoadCatalogue alone (sorted by name)      %8.1f ms\n", a);
  std::printf("window: OpenIT to filled, painted listing %8.1f ms\n", w);
  std::printf("ratio window / catalogue                  %8.2f (goal: at most 2)\n", w / a);
  std::filesystem::remove_all(dir);
  return 0;
}
