// The UU, XX and Base64 codec: the encoded form line by line, round trips of any bytes, the
// decoders' safety with hostile begin lines, and the component's files and messages.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include "convert/UUCode.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

std::vector<std::string> linesOf(const std::string& text, const std::string& eol) {
  std::vector<std::string> lines;
  size_t at = 0;
  for (size_t end; (end = text.find(eol, at)) != std::string::npos; at = end + eol.size())
    lines.push_back(text.substr(at, end - at));
  EXPECT_EQ(at, text.size()) << "text does not end with a line end";
  return lines;
}

std::string encode(const std::vector<uint8_t>& data, TUUTextFormat f,
                   const std::string& name = "a.zip") {
  return EncodeUUText(data.data(), data.size(), name, f);
}

TEST(UUEncode, LinesOfTheMainWindowsSettings) {
  TUUTextFormat f;  // uuencode, headers, CR LF, 644
  struct Case {
    size_t size;
    std::vector<std::string> shape;  // each line's first character and length, or the line
  } cases[] = {
      {45, {"begin 0644 a.zip", "M/61", "`", "end"}},
      {10, {"begin 0644 a.zip", "*/15", "`", "end"}},
      {0, {"begin 0644 a.zip", "`", "end"}},
      {46, {"begin 0644 a.zip", "M/61", "!/3", "`", "end"}},
      {90, {"begin 0644 a.zip", "M/61", "M/61", "`", "end"}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.size);
    auto lines = linesOf(encode(randomBytes(c.size, 3), f), "\r\n");
    ASSERT_EQ(lines.size(), c.shape.size());
    for (size_t i = 0; i < lines.size(); ++i) {
      size_t slash = c.shape[i].find('/');
      if (slash == std::string::npos || c.shape[i].size() < 3) {
        EXPECT_EQ(lines[i], c.shape[i]);
      } else {
        EXPECT_EQ(lines[i][0], c.shape[i][0]);
        EXPECT_EQ(lines[i].size(), std::stoul(c.shape[i].substr(slash + 1)));
      }
    }
  }
}

TEST(UUEncode, FormatSettings) {
  const auto data = randomBytes(100, 4);
  TUUTextFormat f;
  f.LineEnd = LF;
  EXPECT_EQ(encode(data, f).find('\r'), std::string::npos);

  f.Headers = false;
  std::string bare = encode(data, f);
  EXPECT_EQ(bare.find("begin"), std::string::npos);
  EXPECT_EQ(bare.find("end"), std::string::npos);
  EXPECT_EQ(bare.substr(bare.size() - 2), "\n\n");  // still ends with an empty line

  f.Headers = true;
  struct Mode {
    uint16_t mode;
    const char* line;
  } modes[] = {{644, "begin 0644 a.zip"}, {7, "begin 0007 a.zip"}, {12345, "begin 12345 a.zip"}};
  for (const auto& m : modes) {
    f.FileMode = m.mode;
    EXPECT_EQ(linesOf(encode(data, f), "\n")[0], m.line);
  }
  // The begin line holds at most 255 characters.
  EXPECT_EQ(linesOf(encode(data, f, std::string(400, 'n')), "\n")[0].size(), 255u);

  f.Algorithm = base64encode;
  f.FileMode = 644;
  auto lines = linesOf(encode(randomBytes(58, 5), f), "\n");
  EXPECT_EQ(lines,
            (std::vector<std::string>{"begin-base64 0644 a.zip", lines[1], lines[2], "===="}));
  EXPECT_EQ(lines[1].size(), 76u);
  EXPECT_EQ(lines[2].substr(2), "==");  // one byte left: padded as decoders expect
  f.Algorithm = xxencode;
  EXPECT_EQ(linesOf(encode(randomBytes(45, 5), f), "\n")[1][0], 'h');
}

TEST(UUCodec, AnyBytesRoundTrip) {
  std::vector<std::vector<uint8_t>> inputs;
  for (size_t n = 0; n <= 120; ++n) inputs.push_back(randomBytes(n, uint32_t(n)));
  inputs.push_back(randomBytes(100000, 9));
  inputs.push_back(std::vector<uint8_t>(300, 0));
  inputs.push_back(std::vector<uint8_t>(300, 0xFF));
  // A 42-byte XX line that starts "end": still data, not the end line.
  std::vector<uint8_t> endLike = randomBytes(42, 10);
  endLike[0] = 0xCE;
  endLike[1] = 0x90;
  inputs.push_back(endLike);
  const std::pair<TAlgorithm, TAlgorithm> codecs[] = {
      {uuencode, uudecode}, {xxencode, xxdecode}, {base64encode, base64decode}};
  for (auto [enc, dec] : codecs) {
    for (bool headers : {true, false}) {
      for (TUnixCRLF eol : {CRLF, LF}) {
        TUUTextFormat f{enc, headers, eol, 644};
        TUUTextFormat d{dec, headers, eol, 644};
        for (const auto& in : inputs) {
          std::string text = encode(in, f, "x.bin");
          TUUDecoded out = DecodeUUText(text, d);
          ASSERT_EQ(out.Data, in) << enc << " headers " << headers << " size " << in.size();
          if (headers) {
            EXPECT_EQ(out.Name, "x.bin");
          }
        }
      }
    }
  }
  EXPECT_EQ(encode(endLike, {xxencode, true, LF, 644}).substr(16, 4), "\nend");
}

TEST(UUDecode, HonoursLengthCharactersAndOtherEncoders) {
  // A line whose last group was padded to four characters, and text around the encoding.
  std::string text = "From: someone\n\nbegin 644 ten.bin\n*,#$R,S0U-C<X.0``\n`\nend\nsignature\n";
  TUUDecoded d = DecodeUUText(text, {uudecode, true, LF, 644});
  EXPECT_EQ(std::string(d.Data.begin(), d.Data.end()), "0123456789");
  // Unpadded Base64 with "end", as earlier versions wrote it.
  d = DecodeUUText("begin-base64 0644 b\r\nMDEyMzQ1Njc4OQ\r\nend\r\n",
                   {base64decode, true, CRLF, 644});
  EXPECT_EQ(std::string(d.Data.begin(), d.Data.end()), "0123456789");
  EXPECT_EQ(DetectDecoder(text), uudecode);
  EXPECT_EQ(DetectDecoder("begin-base64 644 b\nMDEy\n====\n"), base64decode);
  EXPECT_EQ(DetectDecoder(encode(randomBytes(100, 1), {xxencode, true, LF, 644})), xxdecode);
  EXPECT_EQ(DetectDecoder(encode(randomBytes(4, 1), {xxencode, true, LF, 644})), xxdecode);
  EXPECT_EQ(DetectDecoder(encode(randomBytes(100, 1), {uuencode, true, LF, 644})), uudecode);
}

TEST(UUDecode, BeginLineNamesStayInTheFolder) {
  struct Case {
    const char* name;
    const char* kept;  // nullptr: refused
  } cases[] = {
      {"plain.zip", "plain.zip"},
      {"../../etc/passwd", "passwd"},
      {"/tmp/abs", "abs"},
      {"C:\\dir\\win.zip", "win.zip"},
      {"\"quoted\"", "quoted"},
      {"..", nullptr},
      {".", nullptr},
      {"dir/", nullptr},
      {"", nullptr},
      {"a/..", nullptr},
  };
  TempDir dir;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    writeFile(dir / "in.uue", "begin 644 " + std::string(c.name) + "\nhello\n`\nend\n");
    TUUCode code;
    code.Algorithm = uudecode;
    code.InputFile = dir / "in.uue";
    if (c.kept) {
      code.Convert();
      EXPECT_EQ(code.OutputFile, dir / c.kept);
      EXPECT_TRUE(fileExists(dir / c.kept));
    } else {
      EXPECT_THROW(code.Convert(), EUUCode);
    }
  }
  EXPECT_EQ(run("ls -A " + shq(dir.path())).out,
            "abs\nin.uue\npasswd\nplain.zip\nquoted\nwin.zip\n");
  TUUCode code;
  code.Algorithm = uudecode;
  code.InputFile = dir / "in.uue";
  writeFile(dir / "in.uue", std::string("no encoding here\n"));
  EXPECT_THROW(code.Convert(), EUUCode);
}

TEST(UUCode, FilesMessagesAndProgress) {
  TempDir dir;
  TUUCode code;
  try {
    code.Convert();
    FAIL();
  } catch (const EUUCode& e) {
    EXPECT_STREQ(e.what(), "InputFileName is empty");
  }
  code.InputFile = dir / "a.zip";
  for (TAlgorithm a : {filecopy, uuencode, xxencode, base64encode}) {
    code.Algorithm = a;
    try {
      code.Convert();
      FAIL();
    } catch (const EUUCode& e) {
      EXPECT_STREQ(e.what(), "OutputFileName is empty");
    }
  }
  const auto data = randomBytes(1000, 7);
  writeFile(dir / "a.zip", data);
  std::vector<uint16_t> percents;
  code.OnProgress = [&](TUUCode&, uint16_t p) { percents.push_back(p); };
  code.Algorithm = uuencode;
  code.OutputFile = UUEncodedName(code.InputFile);
  code.SetActive(true);
  EXPECT_FALSE(code.Active());
  // At the start, after each of the 22 full lines, at the end, and once the file is written.
  ASSERT_EQ(percents.size(), 25u);
  EXPECT_EQ(percents.front(), 0);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);

  TUUCode back;
  back.Algorithm = uudecode;
  back.InputFile = dir / "a.uue";
  back.OutputFolder = dir / "out";
  makeDirs(dir / "out");
  back.Convert();
  EXPECT_EQ(readFile(dir / "out/a.zip"), data);
  // An existing file stays when replacing was not allowed.
  writeFile(dir / "out/a.zip", std::string("mine"));
  back.ReplaceExisting = false;
  EXPECT_THROW(back.Convert(), EUUCode);
  EXPECT_EQ(readText(dir / "out/a.zip"), "mine");

  code.Algorithm = filecopy;
  code.OutputFile = dir / "copy.bin";
  code.Convert();
  EXPECT_EQ(readFile(dir / "copy.bin"), data);
  EXPECT_FALSE(code.About().empty());
}

TEST(UUCode, EncodedFileNames) {
  const std::pair<const char*, const char*> cases[] = {
      {"/x/a.zip", "/x/a.uue"},   {"/x/backup.2024.zip", "/x/backup.uue"},
      {"/x/noext", "/x/uue"},     {"rel.zip", "rel.uue"},
      {"/x.y/plain", "/x.y/uue"},
  };
  for (auto [in, out] : cases) EXPECT_EQ(UUEncodedName(in), out) << in;
}

}  // namespace
