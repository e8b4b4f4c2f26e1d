// UUEncode: the archive's encoding beside it, which GNU uudecode turns back into the archive;
// the replace question; and the listing read again however the command ends.
#include "ArchiveTestUtil.h"
#include "app/QtText.h"

namespace quelt::test {
namespace {

class UUEncoding : public TArchiveTest {
 protected:
  void SetUp() override {
    TArchiveTest::SetUp();
    if (!haveTool("uudecode")) GTEST_SKIP() << "uudecode (sharutils) is not installed";
  }
  std::string sample(const std::string& name) {
    return zip(name, {{"docs/a.txt", "alpha\n"}, {"b.bin", std::string(300, '\x7f')}});
  }
  // What GNU uudecode makes of an encoded file.
  std::vector<uint8_t> decoded(const std::string& uue) {
    RunResult r = run("uudecode -o " + shq(dir / "decoded") + " " + shq(uue));
    EXPECT_EQ(r.status, 0) << r.err;
    return readFile(dir / "decoded");
  }
  std::vector<std::string> messages() const { return dialogs->Messages(); }
  // The archive is listed as before the command and the engine holds it again.
  void expectListed(const std::string& archive, const QStringList& before) {
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(form->Engine().ZipName(), archive);
    EXPECT_EQ(form->Engine().Count(), before.size());
  }
};

TEST_F(UUEncoding, GnuUudecodeGivesBackTheArchiveByteForByte) {
  struct TCase {
    std::string archive, encoded;
  } cases[] = {
      {"sample.zip", "sample.uue"},
      {"my.back.up.zip", "my.uue"},  // up to the first dot
      {"nodot", "uue"},
  };
  start();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.archive);
    const std::string archive = sample(c.archive);
    open(archive);
    const QStringList before = rows();
    dialogs->ClearLog();
    dialogs->AnswerMessage(TMsgBoxResult::OK);
    form->Command("UUEncode1")->trigger();
    const std::string encoded = dir / c.encoded;
    EXPECT_EQ(messages(),
              std::vector<std::string>{"Information: ZIP File Encoded as: \"" + encoded + "\""});
    EXPECT_EQ(decoded(encoded), readFile(archive));
    expectListed(archive, before);
  }
}

TEST_F(UUEncoding, AnExistingEncodingIsReplacedOnlyOnYes) {
  start();
  const std::string archive = sample("sample.zip");
  const std::string encoded = dir / "sample.uue";
  open(archive);
  const QStringList before = rows();
  writeFile(encoded, "keep me");
  const std::string question = "Confirm: Replace Existing File: \"" + encoded + "\"?";

  dialogs->AnswerMessage(TMsgBoxResult::No);
  form->Command("UUEncode1")->trigger();
  EXPECT_EQ(messages(), std::vector<std::string>{question});
  EXPECT_EQ(readText(encoded), "keep me");
  expectListed(archive, before);

  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::Yes);
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("UUEncode1")->trigger();
  EXPECT_EQ(messages(), (std::vector<std::string>{
                            question, "Information: ZIP File Encoded as: \"" + encoded + "\""}));
  EXPECT_EQ(decoded(encoded), readFile(archive));
  expectListed(archive, before);
}

TEST_F(UUEncoding, AFailureIsShownAndTheArchiveIsListedAgain) {
  start();
  // The encoding's place is taken by a folder: the question, then the failure.
  const std::string archive = sample("sample.zip");
  makeDirs(dir / "sample.uue/inside");
  open(archive);
  QStringList before = rows();
  dialogs->AnswerMessage(TMsgBoxResult::Yes);
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("UUEncode1")->trigger();
  ASSERT_EQ(messages().size(), 2u);
  EXPECT_EQ(messages()[1].find("Quelt: "), 0u) << messages()[1];
  EXPECT_TRUE(fileExists(dir / "sample.uue/inside"));
  expectListed(archive, before);

  // An archive named like its own encoding is never replaced by it.
  const std::string self = sample("letters.uue");
  const std::vector<uint8_t> bytes = readFile(self);
  open(self);
  before = rows();
  dialogs->ClearLog();
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("UUEncode1")->trigger();
  ASSERT_EQ(messages().size(), 1u);
  EXPECT_EQ(messages()[0],
            "Quelt: The encoded copy would replace the archive itself: \"" + self + "\"");
  EXPECT_EQ(readFile(self), bytes);
  expectListed(self, before);
}

}  // namespace
}  // namespace quelt::test
