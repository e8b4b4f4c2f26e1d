// quelt-cli list: the catalogue as the engine's per-index queries answer it.
#include <getopt.h>

#include <cstdio>
#include <iostream>
#include <sstream>

#include "cli/Cli.h"
#include "engine/ZipLib.h"

namespace quelt::cli {

namespace {

const char* kListHelp =
    "Usage: quelt-cli list [OPTIONS] ARCHIVE\n"
    "Lists the entries of a ZIP archive (or of the multi-volume set it ends).\n\n"
    "  --sort ORDER         name, path, date, size, packed or original (default original)\n"
    "  --incomplete MODE    when the archive has no end record: bad (walk the local\n"
    "                       headers, the default) or multi (treat it as part of a set)\n"
    "  --tsv                one line per entry, tab-separated: path, size, packed size,\n"
    "                       method, CRC-32, date-time, encrypted (1 or 0)\n"
    "  -O, --name-encoding CHARSET\n"
    "                       the set of names stored without the UTF-8 flag (cp437, cp866,\n"
    "                       cp1251, sjis, gbk, big5, cp949, ...); found from the names when\n"
    "                       not given\n"
    "  -h, --help           show this help\n\n"
    "A damaged or incomplete archive is listed as far as it can be read, with exit status 1.\n";

void printTsv(const TUnZipEngine& engine) {
  std::string out;
  char fields[128];
  for (int i = 0; i < engine.Count(); ++i) {
    const TZipHeaderInfo& e = engine.Entry(i);
    out += Slashed(e.FullName());
    std::snprintf(fields, sizeof fields, "\t%llu\t%llu\t%u\t%08x\t%s\t%d\n",
                  (unsigned long long)e.UncompressedSize, (unsigned long long)e.CompressedSize,
                  e.CompressionMethod, e.CRC32,
                  FormatIso(engine.EntryDateTime(i)).c_str(), e.Encrypted() ? 1 : 0);
    out += fields;
    if (out.size() > 65536) {
      std::fwrite(out.data(), 1, out.size(), stdout);
      out.clear();
    }
  }
  std::fwrite(out.data(), 1, out.size(), stdout);
}

void printTable(const TUnZipEngine& engine) {
  struct Row {
    std::string cells[6];
  };
  std::vector<Row> rows;
  rows.push_back({{"Filename", "Date", "Time", "Size", "Packed", "Path"}});
  int64_t total = 0, packed = 0;
  for (int i = 0; i < engine.Count(); ++i) {
    std::string iso = FormatIso(engine.EntryDateTime(i));
    rows.push_back({{engine.Filename(i) + (engine.Encrypted(i) ? "#" : ""), iso.substr(0, 10),
                     iso.substr(11), std::to_string(engine.UncompressedSize(i)),
                     std::to_string(engine.CompressedSize(i)), engine.EntryPath(i)}});
    total += engine.UncompressedSize(i);
    packed += engine.CompressedSize(i);
  }
  size_t width[6] = {};
  for (const auto& r : rows)
    for (int c = 0; c < 6; ++c) width[c] = std::max(width[c], r.cells[c].size());
  for (const auto& r : rows) {
    std::ostringstream line;
    for (int c = 0; c < 6; ++c) {
      const std::string& s = r.cells[c];
      bool right = c == 3 || c == 4;
      std::string pad(width[c] - s.size(), ' ');
      line << (right ? pad + s : c == 5 ? s : s + pad);
      if (c < 5) line << "  ";
    }
    std::cout << line.str() << '\n';
  }
  std::cout << engine.Count() << (engine.Count() == 1 ? " entry" : " entries") << ", " << total
            << " bytes (" << total / 1024 << " KB), packed " << packed << " bytes"
            << (engine.Count() == 0 ? " (the archive is empty)" : "") << "\n";
}

int runList(int argc, char** argv) {
  static const option longOptions[] = {{"sort", required_argument, nullptr, 's'},
                                       {"incomplete", required_argument, nullptr, 'i'},
                                       {"tsv", no_argument, nullptr, 't'},
                                       {"name-encoding", required_argument, nullptr, 'O'},
                                       {"help", no_argument, nullptr, 'h'},
                                       {nullptr, 0, nullptr, 0}};
  TZipSortMode sort = ByNone;
  TIncompleteZipMode incomplete = izAssumeBad;
  bool tsv = false;
  std::string nameEncoding;
  int c;
  while ((c = getopt_long(argc, argv, "hO:", longOptions, nullptr)) != -1) {
    switch (c) {
      case 's':
        if (!parseSortMode(optarg, sort)) return usageError("list", "unknown sort order '" + std::string(optarg) + "'");
        break;
      case 'i':
        if (!parseIncompleteMode(optarg, incomplete))
          return usageError("list", "--incomplete takes bad or multi");
        break;
      case 't':
        tsv = true;
        break;
      case 'O':
        if (!canonicalCharsetName(optarg))
          return usageError("list", "unknown name encoding '" + std::string(optarg) + "'");
        nameEncoding = optarg;
        break;
      case 'h':
        std::cout << kListHelp;
        return kOk;
      default:
        return usageError("list", "unknown option");
    }
  }
  if (optind + 1 != argc) return usageError("list", "list takes exactly one archive");
  std::string archive = argv[optind];

  TUnZipEngine engine;
  VolumeFinder finder(archive);
  finder.install(engine);
  engine.OnInCompleteZip = [incomplete](TUnZipEngine&, TIncompleteZipMode& mode) {
    mode = incomplete;
  };
  return guarded(
      [&] {
        engine.SortCatalogue(sort);
        engine.SetNameEncoding(nameEncoding);
        loadArchive(engine, archive);
        if (tsv)
          printTsv(engine);
        else
          printTable(engine);
        return reportDamage(engine, archive) ? int(kSomeFailed) : int(kOk);
      },
      &finder);
}

Registrar listCommand{{"list", "list the entries of an archive", runList}};

}  // namespace
}  // namespace quelt::cli
