// Mail ZIP: the current archive handed to the mail system as the only attachment, through the
// fake and through the real xdg-email layer with a stub xdg-email on PATH.
#include <sys/stat.h>

#include <sstream>

#include "ArchiveTestUtil.h"
#include "app/QtText.h"
#include "support/FakeMailSystem.h"
#include "support/ScopedEnv.h"

namespace quelt::test {
namespace {

class MailingZip : public TArchiveTest {
 protected:
  std::string openSample() {
    start();
    const std::string path = zip("sample.zip", {{"a.txt", "alpha\n"}});
    open(path);
    return path;
  }
  std::vector<std::string> errors() const {
    std::vector<std::string> out;
    for (const TPrompt& p : dialogs->log)
      if (p.kind == TPromptKind::Message) out.push_back(p.text);
    return out;
  }
};

TEST_F(MailingZip, SendsTheCurrentArchiveAndEverySendHasTheSameNote) {
  start();
  EXPECT_FALSE(form->Command("MailZIP1")->isEnabled()) << "no archive, nothing to mail";
  const std::string path = zip("sample.zip", {{"a.txt", "alpha\n"}});
  open(path);
  TFakeMailSystem mail;
  form->SetMailSystem(mail);
  ASSERT_TRUE(form->Command("MailZIP1")->isEnabled());
  form->Command("MailZIP1")->trigger();
  form->Command("MailZIP1")->trigger();
  EXPECT_EQ(mail.logons.size(), 1u) << "the session is kept";
  ASSERT_EQ(mail.sent.size(), 2u);
  for (const auto& sent : mail.sent) {
    EXPECT_EQ(sent.note.subject, "");
    // One blank for the one attachment, also on the second send.
    EXPECT_EQ(sent.note.noteText, " \r\n");
    ASSERT_EQ(sent.note.attachments.size(), 1u);
    EXPECT_EQ(sent.note.attachments[0].path, path);
    EXPECT_EQ(sent.flags, kMailLogonUi | kMailDialog) << "the user reviews the message";
  }
  EXPECT_TRUE(errors().empty());
}

TEST_F(MailingZip, TheUsersCancelIsSilentOtherFailuresAreShown) {
  struct TCase {
    TMailStatus answer;
    std::string shown;  // empty: nothing
  } cases[] = {
      {{kMailUserAbort, ""}, ""},
      {{kMailUnknownRecipient, ""}, "MAPI: Unknown Recipient. ErrorCode = 14"},
      {{kMailFailure, "No mail program is set up on this desktop to send the message with."},
       "MAPI: General Failure. ErrorCode = 2\nNo mail program is set up on this desktop to send "
       "the message with."},
  };
  openSample();
  for (const TCase& c : cases) {
    SCOPED_TRACE(c.answer.code);
    TFakeMailSystem mail;
    mail.sendAnswers.push_back(c.answer);
    form->SetMailSystem(mail);
    dialogs->ClearLog();
    if (!c.shown.empty()) dialogs->AnswerMessage(TMsgBoxResult::OK);
    form->Command("MailZIP1")->trigger();
    EXPECT_EQ(errors(),
              c.shown.empty() ? std::vector<std::string>{} : std::vector<std::string>{c.shown});
  }
}

// The window's own mail layer, with an xdg-email of the test's first on PATH.
TEST_F(MailingZip, TheRealLayerHandsTheArchiveToXdgEmail) {
  const std::string path = openSample();
  TScopedEnv env;
  makeDirs(dir / "empty");
  env.Set("PATH", dir / "empty");

  // Without xdg-email the user is told so.
  dialogs->AnswerMessage(TMsgBoxResult::OK);
  form->Command("MailZIP1")->trigger();
  ASSERT_EQ(errors().size(), 1u);
  EXPECT_EQ(errors()[0].find("MAPI: Login Failure. ErrorCode = 3\n"), 0u) << errors()[0];
  EXPECT_NE(errors()[0].find("xdg-email was not found"), std::string::npos) << errors()[0];

  makeDirs(dir / "bin");
  const std::string stub = dir / "bin/xdg-email";
  writeFile(stub, "#!/bin/sh\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; done > \"$0.log\"\n");
  ::chmod(stub.c_str(), 0755);
  env.PrependPath(dir / "bin");
  dialogs->ClearLog();
  form->Command("MailZIP1")->trigger();
  form->Command("MailZIP1")->trigger();
  EXPECT_TRUE(errors().empty());
  EXPECT_EQ(readText(stub + ".log"), "--utf8\nmailto:\n--attach\n" + path + "\n");
}

}  // namespace
}  // namespace quelt::test
