// Detection of the set an archive's unflagged names are written in. uchardet's language models
// know long texts; names are short, so each candidate set also gets a plausibility score of its
// decoding: letters of one script per word, sensible case, no box drawing or controls inside
// words, characters from the commonly used part of the East Asian sets.
#include <uchardet.h>

#include <algorithm>
#include <memory>

#include "engine/CharsetCodec.h"
#include "engine/CharsetTable.h"
#include "engine/CodePage.h"
#include "engine/NameEncoding.h"
#include "engine/TextScorer.h"

namespace quelt {

namespace {

// More than this many bytes of names tell nothing new and only cost time.
constexpr size_t kSampleLimit = 64 * 1024;

struct TScore {
  double value = -1e9;  // per non-ASCII byte, from -4 (garbage) to 1 (all common letters)
  int faults = 0;       // characters and words that cannot be right
  bool plausible = false;
};

std::string detectorGuess(std::string_view bytes) {
  std::unique_ptr<std::remove_pointer_t<uchardet_t>, void (*)(uchardet_t)> ud(uchardet_new(),
                                                                              uchardet_delete);
  if (!ud || bytes.empty()) return {};
  if (uchardet_handle_data(ud.get(), bytes.data(), bytes.size()) != 0) return {};
  uchardet_data_end(ud.get());
  const char* name = uchardet_get_charset(ud.get());
  return name ? name : "";
}

// Whether an East Asian character read from `bytes` lies in the commonly used level of its set:
// text in another set read this way lands in the rarer levels far more often.
bool commonCjk(const TCharsetInfo& set, std::string_view bytes) {
  if (bytes.size() != 2) return set.script != TScript::Cjk;
  auto lead = uint8_t(bytes[0]), trail = uint8_t(bytes[1]);
  std::string_view name = set.name;
  // The Chinese and Korean sets carry Japanese kana too, at the places EUC-JP has them, but
  // names written in them seldom use kana.
  if (name == "GBK" || name == "GB18030")  // GB2312 without its kana rows
    return lead >= 0xA1 && lead <= 0xF7 && lead != 0xA4 && lead != 0xA5 && trail >= 0xA1;
  if (name == "BIG5") return lead >= 0xA4 && lead <= 0xC6;  // frequently used characters
  if (name == "CP932") return lead <= 0x98;                 // symbols, kana, level-1 kanji
  if (name == "EUC-JP") return lead <= 0xCF;
  if (name == "CP949") return lead >= 0xB0 && lead <= 0xC8 && trail >= 0xA1;  // KS X 1001 Hangul
  return true;
}

// Scores one set's reading of the sample.
TScore scoreSet(const TCharsetInfo& set, const TCharsetCodec& codec,
                const std::vector<std::string_view>& sample) {
  TTextScorer scorer;
  for (std::string_view raw : sample) {
    scorer.BeginText();
    for (size_t i = 0; i < raw.size();) {
      TCharsetCodec::TChar c = codec.Next(raw, i);
      if (c.len == 0) {
        scorer.AddInvalid();
        ++i;
        continue;
      }
      scorer.AddChar(c.cp, c.len, uint8_t(raw[i]) >= 0x80,
                     c.len > 1 && !commonCjk(set, raw.substr(i, c.len)));
      i += c.len;
    }
    scorer.EndText();
  }
  TScore s;
  s.value = scorer.Score();
  s.faults = scorer.Faults();
  // A few bad bytes are allowed for names cut short in the middle of a character.
  s.plausible = s.value >= 0.5 && scorer.InvalidBytes() * 20 <= scorer.Bytes();
  return s;
}

// The decoding of the sample re-encoded in a Windows page of its script, whose language models
// uchardet knows best; uchardet recognising it confirms the letters make words of a language.
bool confirmedByModel(const TCharsetInfo& set, const TCharsetCodec& codec,
                      const std::vector<std::string_view>& sample) {
  std::vector<const char*> probes;
  switch (set.script) {
    case TScript::Latin:
      probes = {"CP1252", "CP1250", "CP1254"};
      break;
    case TScript::Cyrillic:
      probes = {"CP1251"};
      break;
    case TScript::Greek:
      probes = {"CP1253"};
      break;
    case TScript::Hebrew:
      probes = {"CP1255"};
      break;
    case TScript::Arabic:
      probes = {"CP1256"};
      break;
    default:
      return false;
  }
  // The first page that holds every letter of the decoding.
  std::shared_ptr<const TCharsetCodec> probe;
  std::string text;
  for (const char* name : probes) {
    probe = TCharsetCodec::Open(name);
    text.clear();
    for (std::string_view raw : sample) {
      for (size_t i = 0; probe && i < raw.size();) {
        TCharsetCodec::TChar c = codec.Next(raw, i);
        if (c.len && !probe->Append(text, c.cp)) probe.reset();
        i += c.len ? c.len : 1;
      }
      text += '\n';
    }
    if (probe) break;
  }
  if (!probe) return false;
  // uchardet may name a sibling of the probe (ISO-8859-7 for Windows-1253 text); it agrees when
  // that sibling reads the bytes alike. KOI8-R for the probe's bytes means they are not Russian.
  const TCharsetInfo* seen = findCharset(detectorGuess(text));
  if (!seen || seen->script != set.script) return false;
  auto seenCodec = TCharsetCodec::Open(seen->iconv);
  if (!seenCodec) return false;
  for (size_t i = 0; i < text.size();) {
    TCharsetCodec::TChar a = probe->Next(text, i), b = seenCodec->Next(text, i);
    if (a.len != b.len || a.cp != b.cp) return false;
    i += a.len ? a.len : 1;
  }
  return true;
}

}  // namespace

TNameEncoding TNameEncoding::Detect(const std::vector<TStoredText>& texts) {
  std::vector<std::string_view> sample;
  bool dosHost = false, otherHost = false;
  size_t total = 0;
  for (const TStoredText& t : texts) {
    bool plain = std::ranges::none_of(t.raw, [](char c) { return uint8_t(c) >= 0x80; });
    if (t.utf8Flag || plain || total >= kSampleLimit) continue;
    sample.push_back(t.raw);
    total += t.raw.size();
    if (t.knownMadeBy) (madeOnDosFileSystem(t.versionMadeBy) ? dosHost : otherHost) = true;
  }
  auto chosen = [](const TCharsetInfo& info) {
    TNameEncoding enc = Named(info.name);
    enc.detected_ = true;
    return enc;
  };
  const TCharsetInfo& cp437 = *findCharset("CP437");
  if (sample.empty()) return chosen(cp437);

  // Info-ZIP's zip and most tools on Unix store the locale's bytes, today UTF-8, unflagged. A
  // short name in another set can pass for UTF-8, but then reads as marks and odd symbols.
  const bool dosOnly = dosHost && !otherHost;
  bool allUtf8 = true;
  for (std::string_view raw : sample) allUtf8 = allUtf8 && isValidUtf8(raw);
  const TCharsetInfo& utf8 = *findCharset("UTF-8");
  if (allUtf8 && !dosOnly && scoreSet(utf8, *Named(utf8.name).codec_, sample).plausible)
    return chosen(utf8);

  std::string joined;
  for (std::string_view raw : sample) (joined += raw) += '\n';
  const TCharsetInfo* guess = findCharset(detectorGuess(joined));

  struct TCandidate {
    const TCharsetInfo* info;
    std::shared_ptr<const TCharsetCodec> codec;
    TScore score;
  };
  std::vector<TCandidate> candidates;
  TScore base;
  for (const TCharsetInfo& info : charsetTable()) {
    if (!(info.candidate & (dosOnly ? kForDos : kForOthers))) continue;
    auto codec = TCharsetCodec::Open(info.iconv);
    if (!codec) continue;
    TScore score = scoreSet(info, *codec, sample);
    if (&info == &cp437)
      base = score;
    else if (score.plausible)
      candidates.push_back({&info, std::move(codec), score});
  }
  if (candidates.empty()) return chosen(cp437);

  // Sets that fit about as well as the best are told apart by uchardet: its guess for the whole
  // sample first, then whether the decoding reads as a language it knows, then the score and
  // the order of preference.
  double best = -1e9;
  for (const TCandidate& c : candidates) best = std::max(best, c.score.value);
  std::vector<const TCandidate*> close;
  for (const TCandidate& c : candidates)
    if (c.score.value >= best - 0.15) close.push_back(&c);
  auto bestOf = [&](auto&& accept) {
    const TCandidate* p = nullptr;
    for (const TCandidate* c : close)
      if (accept(*c) && (!p || c->score.value > p->score.value + 1e-9)) p = c;
    return p;
  };
  // uchardet names GB18030 for GBK text; GBK reads it alike unless four-byte forms occur, and
  // then scores lower.
  auto guessed = [&](const TCharsetInfo* info) {
    return guess && (info == guess || (guess->name == std::string_view("GB18030") &&
                                       info->name == std::string_view("GBK")));
  };
  const TCandidate* pick = bestOf([&](const TCandidate& c) { return guessed(c.info); });
  if (!pick)
    pick = bestOf([&](const TCandidate& c) { return confirmedByModel(*c.info, *c.codec, sample); });
  if (!pick) pick = bestOf([](const TCandidate&) { return true; });

  // CP437 stays unless the other set reads clearly better: fewer impossible characters, or a
  // large lead in the score.
  const TScore& s = pick->score;
  const bool better =
      s.value > base.value && (s.faults < base.faults || s.value >= base.value + 0.5);
  if (!better) return chosen(cp437);
  return TNameEncoding(pick->info->name, pick->codec, true);
}

}  // namespace quelt
