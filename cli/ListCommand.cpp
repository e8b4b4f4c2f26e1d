// quelt-cli list: the catalogue as the engine's per-index queries answer it.
#include <getopt.h>

#include <cstdio>
#include <ctime>
#include <iostream>
#include <sstream>

#include "cli/Cli.h"
#include "cli/Options.h"
#include "cli/Select.h"
#include "cli/TextWidth.h"
#include "engine/ZipLib.h"
#include "engine/codecs/Methods.h"

namespace quelt::cli {

namespace {

const char* kListHelp =
    "Usage: quelt-cli list [OPTIONS] ARCHIVE [PATTERN...]\n"
    "Lists the entries of a ZIP archive (or of the multi-volume set it ends) that match the\n"
    "patterns (all without patterns): path, date, time, size, packed size and method. A\n"
    "pattern with a \"/\" is matched against the whole path, else against the name alone.\n"
    "The ARCHIVE '-' reads the archive from standard input.\n\n"
    "  -x, --exclude PATTERN    leave out the entries matching PATTERN (repeatable)\n"
    "  -C, --ignore-case        wildcard patterns match A-Z without regard to case\n"
    "      --sort ORDER         name, path, date, size, packed or original (default original)\n"
    "      --incomplete MODE    when the archive has no end record: bad (walk the local\n"
    "                           headers, the default) or multi (treat it as part of a set)\n"
    "      --tsv                one line per entry, tab-separated: path, size, packed size,\n"
    "                           method number, CRC-32, date-time, encrypted (1 or 0); a tab,\n"
    "                           newline, carriage return or backslash in a path is written\n"
    "                           as \\t, \\n, \\r or \\\\, other control characters as \\xHH\n"
    "      --json               a JSON array with one object per entry: path, size, packed,\n"
    "                           method, method_number, crc32, time (ISO 8601, with the zone\n"
    "                           when the archive records it), mode, folder, encrypted,\n"
    "                           comment\n"
    "  -O, --name-encoding CHARSET\n"
    "                           the set of names stored without the UTF-8 flag (cp437,\n"
    "                           cp866, cp1251, sjis, gbk, big5, cp949, ...); found from the\n"
    "                           names when not given\n";

const char* kListHelpEnd =
    "\nWith -v the table also shows each entry's CRC-32 and comment. A damaged or incomplete\n"
    "archive is listed as far as it can be read, with exit status 1; so is a pattern that\n"
    "matches nothing.\n";

std::string methodOf(const TZipHeaderInfo& e) {
  const std::string& extra = e.CentralExtra();
  return EntryMethodName(e.CompressionMethod, reinterpret_cast<const uint8_t*>(extra.data()),
                         extra.size());
}

std::string hex8(uint32_t v) {
  char buf[16];
  std::snprintf(buf, sizeof buf, "%08x", v);
  return buf;
}

// ISO 8601: with the zone when the entry carries a UTC time, else the stored local time.
std::string isoTime(const TUnZipEngine& engine, int i) {
  const TZipHeaderInfo& e = engine.Entry(i);
  if (e.ModTimeUtc) {
    time_t t = time_t(*e.ModTimeUtc);
    tm local{};
    if (localtime_r(&t, &local)) {
      char buf[64];
      std::strftime(buf, sizeof buf, "%Y-%m-%dT%H:%M:%S", &local);
      long off = local.tm_gmtoff / 60;
      char zone[32];
      std::snprintf(zone, sizeof zone, "%c%02ld:%02ld", off < 0 ? '-' : '+', std::labs(off) / 60,
                    std::labs(off) % 60);
      return std::string(buf) + zone;
    }
  }
  std::string iso = FormatIso(engine.EntryDateTime(i));
  if (iso.size() > 10) iso[10] = 'T';
  return iso;
}

std::string jsonString(const std::string& text) {
  std::string out = "\"";
  for (char ch : ValidUtf8(text)) {
    switch (ch) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        if (uint8_t(ch) < 0x20) {
          char buf[8];
          std::snprintf(buf, sizeof buf, "\\u%04x", unsigned(ch));
          out += buf;
        } else {
          out += ch;
        }
    }
  }
  return out + "\"";
}

void flushIfLarge(std::string& out, bool last = false) {
  if (out.size() > 65536 || last) {
    std::fwrite(out.data(), 1, out.size(), stdout);
    out.clear();
  }
}

void printTsv(const TUnZipEngine& engine, const std::vector<int>& rows) {
  std::string out;
  char fields[128];
  for (int i : rows) {
    const TZipHeaderInfo& e = engine.Entry(i);
    out += EscapeName(e.NameKey());
    std::snprintf(fields, sizeof fields, "\t%llu\t%llu\t%u\t%08x\t%s\t%d\n",
                  (unsigned long long)e.UncompressedSize, (unsigned long long)e.CompressedSize,
                  e.CompressionMethod, e.CRC32,
                  FormatIso(engine.EntryDateTime(i)).c_str(), e.Encrypted() ? 1 : 0);
    out += fields;
    flushIfLarge(out);
  }
  flushIfLarge(out, true);
}

void printJson(const TUnZipEngine& engine, const std::vector<int>& rows) {
  std::string out = "[";
  for (size_t r = 0; r < rows.size(); ++r) {
    const int i = rows[r];
    const TZipHeaderInfo& e = engine.Entry(i);
    char mode[16] = "null";
    if (auto m = e.UnixMode()) std::snprintf(mode, sizeof mode, "\"%06o\"", *m);
    out += r ? ",\n  {" : "\n  {";
    out += "\"path\": " + jsonString(e.NameKey());
    out += ", \"size\": " + std::to_string(e.UncompressedSize);
    out += ", \"packed\": " + std::to_string(e.CompressedSize);
    out += ", \"method\": " + jsonString(methodOf(e));
    out += ", \"method_number\": " + std::to_string(e.CompressionMethod);
    out += ", \"crc32\": \"" + hex8(e.CRC32) + "\"";
    out += ", \"time\": \"" + isoTime(engine, i) + "\"";
    out += std::string(", \"mode\": ") + mode;
    out += std::string(", \"folder\": ") + (e.IsFolder() ? "true" : "false");
    out += std::string(", \"encrypted\": ") + (e.Encrypted() ? "true" : "false");
    out += ", \"comment\": " + jsonString(e.EntryComment()) + "}";
    flushIfLarge(out);
  }
  out += rows.empty() ? "]\n" : "\n]\n";
  flushIfLarge(out, true);
}

void printTable(const TUnZipEngine& engine, const std::vector<int>& rows, bool verbose) {
  std::vector<std::vector<std::string>> cells;
  cells.push_back({"Name", "Date", "Time", "Size", "Packed", "Method"});
  if (verbose) cells.back().insert(cells.back().end(), {"CRC-32", "Comment"});
  int64_t total = 0, packed = 0;
  for (int i : rows) {
    const TZipHeaderInfo& e = engine.Entry(i);
    std::string iso = FormatIso(engine.EntryDateTime(i));
    cells.push_back({EscapeName(e.NameKey()) + (e.Encrypted() ? "#" : ""), iso.substr(0, 10),
                     iso.substr(11), std::to_string(e.UncompressedSize),
                     std::to_string(e.CompressedSize), methodOf(e)});
    if (verbose)
      cells.back().insert(cells.back().end(), {hex8(e.CRC32), EscapeName(e.EntryComment())});
    total += e.UncompressedSize;
    packed += e.CompressedSize;
  }
  const size_t columns = cells.front().size();
  std::vector<size_t> width(columns, 0);
  for (const auto& r : cells)
    for (size_t c = 0; c < columns; ++c) width[c] = std::max(width[c], DisplayWidth(r[c]));
  std::string out;
  for (const auto& r : cells) {
    for (size_t c = 0; c < columns; ++c) {
      const bool right = c == 3 || c == 4, last = c + 1 == columns;
      std::string pad(width[c] - DisplayWidth(r[c]), ' ');
      out += right ? pad + r[c] : last ? r[c] : r[c] + pad;
      if (!last) out += "  ";
    }
    out += '\n';
    flushIfLarge(out);
  }
  flushIfLarge(out, true);
  const size_t n = rows.size();
  say() << n << (n == 1 ? " entry" : " entries") << ", " << total << " bytes (" << total / 1024
        << " KB), packed " << packed << " bytes"
        << (engine.Count() == 0 ? " (the archive is empty)" : "") << "\n";
}

int runList(int argc, char** argv) {
  const auto longOptions = withCommonOptions({{"sort", required_argument, nullptr, 's'},
                                              {"incomplete", required_argument, nullptr, 'i'},
                                              {"tsv", no_argument, nullptr, 't'},
                                              {"json", no_argument, nullptr, 'J'},
                                              {"exclude", required_argument, nullptr, 'x'},
                                              {"ignore-case", no_argument, nullptr, 'C'},
                                              {"name-encoding", required_argument, nullptr, 'O'},
                                              {"help", no_argument, nullptr, 'h'}});
  TZipSortMode sort = ByNone;
  TIncompleteZipMode incomplete = izAssumeBad;
  bool tsv = false, json = false, ignoreCase = false;
  std::string nameEncoding;
  std::vector<std::string> excludes;
  int c;
  const std::string shortOptions = withCommonShort("x:ChO:");
  while ((c = nextOption(argc, argv, shortOptions, longOptions)) != -1) {
    if (c == kVersionShown) return kOk;
    switch (c) {
      case 's':
        if (!parseSortMode(optarg, sort))
          return usageError("list", "unknown sort order '" + std::string(optarg) + "'");
        break;
      case 'i':
        if (!parseIncompleteMode(optarg, incomplete))
          return usageError("list", "--incomplete takes bad or multi");
        break;
      case 't':
        tsv = true;
        break;
      case 'J':
        json = true;
        break;
      case 'x':
        excludes.push_back(patternFromArg(optarg));
        break;
      case 'C':
        ignoreCase = true;
        break;
      case 'O':
        if (!canonicalCharsetName(optarg))
          return usageError("list", "unknown name encoding '" + std::string(optarg) + "'");
        nameEncoding = optarg;
        break;
      case 'h':
        std::cout << kListHelp << kCommonHelp << kListHelpEnd;
        return kOk;
      default:
        return usageError("list", "unknown option");
    }
  }
  if (tsv && json) return usageError("list", "--tsv and --json exclude each other");
  if (optind >= argc) return usageError("list", "list needs an archive");
  std::string archive = argv[optind++];
  std::vector<std::string> patterns;
  for (; optind < argc; ++optind) patterns.push_back(patternFromArg(argv[optind]));
  const std::string shown = shownArchive(archive);
  StdinArchive fromStdin;
  if (archive == "-" && !fromStdin.take(archive)) return kUnreadable;

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
        loadArchive(engine, archive, shown);
        Selection chosen = selectEntries(engine, patterns, excludes, ignoreCase);
        if (tsv)
          printTsv(engine, chosen.indices);
        else if (json)
          printJson(engine, chosen.indices);
        else
          printTable(engine, chosen.indices, commonOptions().verbose);
        std::cout.flush();
        const bool unmatched = reportUnmatched(chosen.unmatched);
        return reportDamage(engine, shown) || unmatched ? int(kSomeFailed) : int(kOk);
      },
      &finder);
}

Registrar listCommand{{"list", "list the entries of an archive", runList}};

}  // namespace
}  // namespace quelt::cli
