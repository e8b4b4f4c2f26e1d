#include "convert/UUCode.h"

#include <algorithm>
#include <array>
#include <cerrno>
#include <cstdio>
#include <cstring>

#include "convert/PlaceFile.h"
#include "engine/BufferStream.h"
#include "engine/Errors.h"
#include "engine/FileOps.h"
#include "platform/FileSystem.h"

namespace quelt {

namespace {

enum class TKind { UU, XX, Base64 };

constexpr char kXX[] = "+-0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz";
constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr size_t kLineBytes = 45, kBase64LineBytes = 57;
constexpr size_t kMaxBeginLine = 255;
// Base64's end line: the one GNU uudecode looks for; "end" is read too.
constexpr const char* kBase64End = "====";

TKind kindOf(TAlgorithm a) {
  switch (a) {
    case xxencode:
    case xxdecode:
      return TKind::XX;
    case base64encode:
    case base64decode:
      return TKind::Base64;
    default:
      return TKind::UU;
  }
}

bool isEncoder(TAlgorithm a) {
  return a == uuencode || a == xxencode || a == base64encode;
}

char encode6(TKind kind, unsigned v) {
  switch (kind) {
    case TKind::UU:
      return v == 0 ? '`' : char(v + 32);
    case TKind::XX:
      return kXX[v];
    default:
      return kBase64[v];
  }
}

// 6-bit value of a character; -1 when it is none of the table's.
int decode6(TKind kind, unsigned char c) {
  static const auto reverse = [](const char* table) {
    std::array<int8_t, 256> r;
    r.fill(-1);
    for (int i = 0; i < 64; ++i) r[uint8_t(table[i])] = int8_t(i);
    return r;
  };
  static const std::array<int8_t, 256> xx = reverse(kXX), b64 = reverse(kBase64);
  switch (kind) {
    case TKind::UU:
      // Old encoders wrote a blank for 0, newer ones '`': both are 0 modulo 64.
      return c >= ' ' && c <= '`' ? (c - ' ') & 63 : -1;
    case TKind::XX:
      return xx[c];
    default:
      return b64[c];
  }
}

std::string_view trimRight(std::string_view line) {
  while (!line.empty() && (line.back() == '\r' || line.back() == ' ' || line.back() == '\t'))
    line.remove_suffix(1);
  return line;
}

// Splits text into lines without their line ends.
class TLines {
 public:
  explicit TLines(std::string_view text) : text_(text) {}
  bool next(std::string_view& line) {
    if (at_ >= text_.size()) return false;
    size_t end = text_.find('\n', at_);
    if (end == std::string_view::npos) end = text_.size();
    line = text_.substr(at_, end - at_);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    at_ = end + 1;
    return true;
  }

 private:
  std::string_view text_;
  size_t at_ = 0;
};

bool isEndLine(std::string_view line) {
  line = trimRight(line);
  return line == "end" || line == kBase64End;
}

// The file name of a begin line: what follows the mode, less quotes, cut to its last path
// component so that no name leads out of the folder the decoder writes into.
std::string nameFromBeginLine(std::string_view rest) {
  size_t at = rest.find_first_not_of(' ');
  at = rest.find(' ', at == std::string_view::npos ? rest.size() : at);  // past the mode
  std::string name;
  if (at != std::string_view::npos)
    for (char c : rest.substr(at + 1))
      if (c != '"' && c != '\r' && c != '\n') name += c;
  size_t cut = name.find_last_of("/\\");
  std::string last = cut == std::string::npos ? name : name.substr(cut + 1);
  if (last.empty() || last == "." || last == "..")
    throw EUUCode("The begin line names no usable file name: \"" + name + "\"");
  return last;
}

std::string lastComponent(const std::string& path) {
  size_t cut = path.rfind('/');
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::vector<uint8_t> readWhole(const std::string& path) {
  TFileStream in(path, TOpenMode::Read);
  // The size the file system lists, plus room for a file that grows meanwhile.
  std::vector<uint8_t> data(size_t(std::max<int64_t>(in.Size(), 0)));
  size_t got = in.Read(data.data(), data.size());
  data.resize(got);
  uint8_t more[65536];
  while (size_t n = in.Read(more, sizeof more)) data.insert(data.end(), more, more + n);
  return data;
}

}  // namespace

std::string EncodeUUText(const uint8_t* data, size_t size, const std::string& name,
                         const TUUTextFormat& format, const TUUProduced& produced) {
  const TKind kind = kindOf(format.Algorithm);
  const std::string eol = format.LineEnd == CRLF ? "\r\n" : "\n";
  const size_t perLine = kind == TKind::Base64 ? kBase64LineBytes : kLineBytes;
  std::string out;
  // Sized for the whole result: four characters for every three bytes, a length character
  // and a line end for every line, the begin and end lines.
  const uint64_t lines = size / perLine + 2;
  out.reserve(size_t((uint64_t(size) + 2) / 3 * 4 + lines * (eol.size() + 1) + kMaxBeginLine + 16));
  auto tick = [&] {
    if (produced) produced(out.size());
  };
  auto group = [&](const uint8_t* p, size_t real) {
    const unsigned b0 = p[0], b1 = real > 1 ? p[1] : 0, b2 = real > 2 ? p[2] : 0;
    const unsigned v[4] = {b0 >> 2, ((b0 & 3) << 4) | (b1 >> 4), ((b1 & 15) << 2) | (b2 >> 6),
                           b2 & 63};
    for (size_t i = 0; i <= real; ++i) out += encode6(kind, v[i]);
    // Base64 decoders insist on whole groups: pad as RFC 2045 says.
    if (kind == TKind::Base64) out.append(3 - real, '=');
  };

  tick();
  if (format.Headers) {
    char mode[16];
    std::snprintf(mode, sizeof mode, "%.4d", int(format.FileMode));
    std::string begin =
        std::string(kind == TKind::Base64 ? "begin-base64 " : "begin ") + mode + " " + name;
    if (begin.size() > kMaxBeginLine) begin.resize(kMaxBeginLine);
    out += begin + eol;
  }
  size_t at = 0;
  for (; size - at >= perLine; at += perLine) {
    if (kind != TKind::Base64) out += encode6(kind, unsigned(perLine));
    for (size_t g = 0; g < perLine; g += 3) group(data + at + g, 3);
    out += eol;
    tick();
  }
  const size_t rest = size - at;
  if (kind != TKind::Base64) out += encode6(kind, unsigned(rest));
  for (size_t g = 0; g < rest; g += 3) group(data + at + g, std::min<size_t>(3, rest - g));
  // An empty Base64 line makes GNU uudecode fail: leave it out when no bytes are left.
  if (kind != TKind::Base64 || rest > 0) out += eol;
  // Decoders stop at a line of length 0, and read the end line as data without one.
  if (kind != TKind::Base64 && rest > 0) out += encode6(kind, 0) + eol;
  if (format.Headers) out += kind == TKind::Base64 ? kBase64End : "end";
  out += eol;
  tick();
  return out;
}

TUUDecoded DecodeUUText(std::string_view text, const TUUTextFormat& format,
                        const TUUProduced& produced) {
  const TKind kind = kindOf(format.Algorithm);
  TUUDecoded result;
  TLines lines(text);
  std::string_view line;
  if (format.Headers) {
    const std::string_view word = kind == TKind::Base64 ? "begin-base64 " : "begin ";
    bool found = false;
    while (!found && lines.next(line)) found = line.substr(0, word.size()) == word;
    if (!found)
      throw EUUCode(std::string("No \"") + std::string(trimRight(word)) + "\" line found");
    result.Name = nameFromBeginLine(line.substr(word.size() - 1));
  }

  std::vector<uint8_t>& out = result.Data;
  out.reserve(text.size() / 4 * 3 + 3);
  if (produced) produced(0);
  uint32_t bits = 0;
  int held = 0;  // Base64 carries groups across lines
  auto emit6 = [&](int v) {
    bits = (bits << 6) | uint32_t(v);
    held += 6;
    if (held >= 8) {
      held -= 8;
      out.push_back(uint8_t(bits >> held));
    }
  };
  while (lines.next(line)) {
    if (isEndLine(line)) break;
    if (kind == TKind::Base64) {
      for (unsigned char c : line)
        if (int v = decode6(kind, c); v >= 0) emit6(v);
    } else if (!line.empty()) {
      // The length character says how many bytes the line holds; whatever pads the last
      // group beyond them is not data.
      const int length = std::max(decode6(kind, uint8_t(line[0])), 0);
      const size_t end = out.size() + size_t(length);
      std::string_view chars = trimRight(line.substr(1));
      if (kind == TKind::UU) chars = line.substr(1);  // a blank is a UU digit
      for (size_t g = 0; g < chars.size() && out.size() < end; g += 4) {
        held = 0;
        size_t n = std::min<size_t>(4, chars.size() - g);
        for (size_t i = 0; i < n && out.size() < end; ++i)
          emit6(std::max(decode6(kind, uint8_t(chars[g + i])), 0));
      }
      held = 0;
    }
    if (produced) produced(out.size());
  }
  if (produced) produced(out.size());
  return result;
}

TAlgorithm DetectDecoder(std::string_view text) {
  TLines lines(text);
  std::string_view line;
  bool inside = false;
  while (lines.next(line)) {
    if (!inside) {
      if (line.substr(0, 13) == "begin-base64 ") return base64decode;
      inside = line.substr(0, 6) == "begin ";
      continue;
    }
    line = trimRight(line);
    if (line.empty()) continue;
    bool uu = true, xx = true;
    for (unsigned char c : line) {
      uu = uu && decode6(TKind::UU, c) >= 0;
      xx = xx && decode6(TKind::XX, c) >= 0;
    }
    if (uu != xx) return xx ? xxdecode : uudecode;
    // Characters both tables have: the one whose length character fits the line's length.
    auto fits = [&](TKind kind) {
      int n = decode6(kind, uint8_t(line[0]));
      return n >= 0 && (size_t(n) + 2) / 3 * 4 >= line.size() - 1 &&
             (size_t(n) + 2) / 3 * 4 <= line.size() + 2;
    };
    return fits(TKind::XX) && !fits(TKind::UU) ? xxdecode : uudecode;
  }
  return uudecode;
}

std::string UUEncodedName(const std::string& file) {
  size_t slash = file.rfind('/');
  std::string folder = slash == std::string::npos ? "" : file.substr(0, slash + 1);
  std::string name = file.substr(folder.size());
  size_t dot = name.find('.');
  return folder + (dot == std::string::npos ? "" : name.substr(0, dot + 1)) + "uue";
}

// ---- TUUCode

std::string TUUCode::About() const {
  return "UU, XX and Base64 encoder and decoder";
}

void TUUCode::progress(uint64_t produced, uint64_t whole) {
  if (!OnProgress) return;
  OnProgress(*this, uint16_t(whole == 0 ? 100 : std::min<uint64_t>(produced * 100 / whole, 100)));
}

void TUUCode::Convert() {
  if (InputFile.empty()) throw EUUCode("InputFileName is empty");
  const bool decoder = Algorithm != filecopy && !isEncoder(Algorithm);
  if (OutputFile.empty() && !(decoder && Headers)) throw EUUCode("OutputFileName is empty");

  const std::vector<uint8_t> input = readWhole(InputFile);
  const uint64_t n = uint64_t(input.size()) + 3;
  // The denominator of the progress figures: the output buffer the format was planned with.
  const uint64_t whole = isEncoder(Algorithm) ? n / 3 + n + n / 15 + 32 : n;
  auto produced = [&](uint64_t bytes) { progress(bytes, whole); };

  TUUTextFormat format;
  format.Algorithm = Algorithm;
  format.Headers = Headers;
  format.LineEnd = UnixCRLF;
  format.FileMode = FileMode;
  std::string text;
  std::vector<uint8_t> decoded;
  const uint8_t* bytes = input.data();
  size_t size = input.size();
  if (isEncoder(Algorithm)) {
    text = EncodeUUText(input.data(), input.size(), lastComponent(InputFile), format, produced);
    bytes = reinterpret_cast<const uint8_t*>(text.data());
    size = text.size();
  } else if (decoder) {
    TUUDecoded d =
        DecodeUUText(std::string_view(reinterpret_cast<const char*>(input.data()), input.size()),
                     format, produced);
    if (Headers) {
      std::string folder = OutputFolder.empty() ? FolderOf(InputFile) : OutputFolder;
      OutputFile = (folder.back() == '/' ? folder : folder + "/") + d.Name;
    }
    decoded = std::move(d.Data);
    bytes = decoded.data();
    size = decoded.size();
  }

  if (!ReplaceExisting && files::PathExists(OutputFile, false))
    throw EUUCode("\"" + OutputFile + "\" already exists");
  // Written beside the output and renamed into place: a failure leaves any old file whole, and
  // a symlink of the output's name is replaced, not followed.
  TScratchFile temp;
  temp.path = MakeTempFile(FolderOf(OutputFile), "QLZ");
  {
    TFileStream out(temp.path, TOpenMode::ReadWrite);
    if (size > 0) out.Write(bytes, size);
    out.Close();
  }
  if (!PlaceFile(temp.path, OutputFile, ReplaceExisting)) {
    if (errno == EEXIST) throw EUUCode("\"" + OutputFile + "\" already exists");
    throw EInOutError("Cannot write \"" + OutputFile + "\": " + std::strerror(errno));
  }
  temp.path.clear();
  progress(whole, whole);
}

}  // namespace quelt
