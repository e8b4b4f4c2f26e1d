#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>

#include <sstream>

#include "platform/LinuxProcesses.h"
#include "platform/MailMessage.h"
#include "platform/XdgMail.h"
#include "support/ScopedEnv.h"
#include "support/TestUtil.h"

using namespace quelt;
using namespace quelt::test;

namespace {

std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// An xdg-email first on PATH that writes its arguments, one a line, beside itself and then
// does what `tail` says.
struct StubMail : ::testing::Test {
  TempDir dir;
  TScopedEnv env;
  std::string log = dir / "bin/xdg-email.log";
  TLinuxProcessRunner runner;

  void SetUp() override {
    makeDirs(dir / "bin");
    env.PrependPath(dir / "bin");
    writeFile(dir / "my archive \xc3\xbc.zip", "PK");
  }
  void stub(const std::string& tail) {
    std::string path = dir / "bin/xdg-email";
    writeFile(path,
              "#!/bin/sh\necho $$ > \"$0.pid\"\nfor a in \"$@\"; do printf '%s\\n' \"$a\"; "
              "done > \"$0.log\"\n" +
                  tail + "\n");
    ::chmod(path.c_str(), 0755);
  }
  std::vector<std::string> arguments() { return linesOf(readText(log)); }
  std::string failureOf(TMailMessage& message) {
    try {
      message.Send();
    } catch (const EMapiError& e) {
      return e.what();
    }
    return "no error";
  }
};

}  // namespace

TEST_F(StubMail, HandsSubjectBodyRecipientsAndTheArchiveToXdgEmail) {
  stub("exit 0");
  TXdgMail mail(runner);
  TMailMessage message(mail);
  message.Subject = "Archive: \xc3\xbc & more";
  message.MessageText = {"Hello,", "C:\\temp is attached"};
  message.ToRecipients = {"ann@example.org", "bob@example.org"};
  message.CcRecipients = {"cy@example.org"};
  message.Attachments = {dir / "my archive \xc3\xbc.zip"};
  message.Send();
  EXPECT_EQ(arguments(), (std::vector<std::string>{
                             "--utf8",
                             "mailto:ann@example.org,bob@example.org?cc=cy@example.org"
                             "&subject=Archive%3A%20%C3%BC%20%26%20more"
                             "&body=Hello%2C%0D%0AC%3A%5Ctemp%20is%20attached",
                             "--attach",
                             dir / "my archive \xc3\xbc.zip",
                         }));

  // The window's own send: no subject, no text, the archive only.
  TMailMessage plain(mail);
  plain.Attachments = {dir / "my archive \xc3\xbc.zip"};
  plain.Send();
  EXPECT_EQ(arguments(), (std::vector<std::string>{"--utf8", "mailto:", "--attach",
                                                   dir / "my archive \xc3\xbc.zip"}));
}

TEST_F(StubMail, FailuresOfXdgEmailAreClearErrors) {
  struct Case {
    std::string tail;
    std::string message;
  } cases[] = {
      {"echo 'xdg-email: no method available' >&2; exit 3",
       "MAPI: General Failure. ErrorCode = 2\nNo mail program is set up on this desktop"},
      {"echo \"xdg-email: file 'x' does not exist\" >&2; exit 2",
       "MAPI: Attachment Not Found. ErrorCode = 11\nxdg-email: file 'x' does not exist"},
      {"echo 'xdg-email: the mail program crashed' >&2; exit 4",
       "MAPI: General Failure. ErrorCode = 2\nxdg-email: the mail program crashed"},
      {"exit 1", "MAPI: General Failure. ErrorCode = 2\nxdg-email failed with exit status 1"},
      {"kill -TERM $$", "MAPI: General Failure. ErrorCode = 2\nxdg-email ended by signal 15"},
  };
  for (const auto& c : cases) {
    stub(c.tail);
    TXdgMail mail(runner);
    TMailMessage message(mail);
    message.Attachments = {dir / "my archive \xc3\xbc.zip"};
    std::string error = failureOf(message);
    EXPECT_EQ(error.find(c.message), 0u) << error;
  }
}

TEST_F(StubMail, ProblemsFoundBeforeStartingAreReportedToo) {
  stub("exit 0");
  TXdgMail mail(runner);
  TMailMessage message(mail);
  message.Attachments = {dir / "gone.zip"};
  EXPECT_EQ(failureOf(message), "MAPI: Attachment Not Found. ErrorCode = 11\n" + dir / "gone.zip");
  message.Attachments = {dir.path()};
  EXPECT_EQ(failureOf(message).find("MAPI: Attachment Open Failure. ErrorCode = 12"), 0u);
  message.Attachments.clear();
  message.ToRecipients = {"bad\nname"};
  EXPECT_EQ(failureOf(message).find("MAPI: Unknown Recipient. ErrorCode = 14"), 0u);
  EXPECT_FALSE(fileExists(log)) << "xdg-email was never started";

  // Without xdg-email the user is told so, not left in silence.
  env.Set("PATH", dir / "empty");
  TXdgMail missing(runner);
  TMailMessage orphan(missing);
  std::string error = failureOf(orphan);
  EXPECT_EQ(error.find("MAPI: Login Failure. ErrorCode = 3\n"), 0u) << error;
  EXPECT_NE(error.find("xdg-email was not found"), std::string::npos) << error;
}

TEST_F(StubMail, AMailProgramThatStaysOpenDoesNotHoldTheWindow) {
  stub("exec sleep 30");
  TXdgMailConfig config;
  config.handOverMs = 300;
  TXdgMail mail(runner, config);
  TMailMessage message(mail);
  message.Attachments = {dir / "my archive \xc3\xbc.zip"};
  EXPECT_NO_THROW(message.Send());
  ::kill(std::stoi(readText(dir / "bin/xdg-email.pid")), SIGKILL);

  // Giving up while waiting is the user's cancel: silent.
  stub("exec sleep 30");
  bool asked = false;
  config.handOverMs = 20000;
  config.keepWaiting = [&] { return !std::exchange(asked, true); };
  TXdgMail impatient(runner, config);
  TMailMessage again(impatient);
  EXPECT_THROW(again.Send(), EMapiUserAbort);
}

TEST(XdgMail, TheRealXdgEmailReachesTheUsersMailProgram) {
  // The desktop's own xdg-email, with a mail program of ours registered for mailto: in a
  // private XDG tree; the program writes the address it was given.
  TLinuxProcessRunner runner;
  if (!runner.FindProgram("xdg-email")) GTEST_SKIP() << "xdg-email (xdg-utils) is not installed";
  TempDir dir;
  makeDirs(dir / "data/applications");
  makeDirs(dir / "config");
  makeDirs(dir / "dirs");
  writeFile(dir / "mailer", "#!/bin/sh\nprintf '%s\\n' \"$@\" > \"$0.log\"\n");
  ::chmod((dir / "mailer").c_str(), 0755);
  writeFile(dir / "data/applications/quelt-test-mailer.desktop",
            "[Desktop Entry]\nType=Application\nName=Mailer\nExec=" + dir / "mailer" +
                " %u\nMimeType=x-scheme-handler/mailto;\n");
  writeFile(dir / "config/mimeapps.list",
            "[Default Applications]\nx-scheme-handler/mailto=quelt-test-mailer.desktop\n");
  writeFile(dir / "a b.zip", "PK");
  TScopedEnv env;
  env.Set("XDG_DATA_HOME", dir / "data")
      .Set("XDG_CONFIG_HOME", dir / "config")
      .Set("XDG_DATA_DIRS", dir / "dirs")
      .Set("XDG_CONFIG_DIRS", dir / "dirs")
      .Set("DISPLAY", ":quelt-none")  // xdg-open asks the scheme's handler only on a display
      .Set("DBUS_SESSION_BUS_ADDRESS", "unix:path=/nonexistent")
      .Set("XDG_CURRENT_DESKTOP", std::nullopt)
      .Set("KDE_FULL_SESSION", std::nullopt)
      .Set("GNOME_DESKTOP_SESSION_ID", std::nullopt)
      .Set("MAILER", std::nullopt)
      .Set("BROWSER", std::nullopt);
  TXdgMail mail(runner);
  TMailMessage message(mail);
  message.Subject = "The archive";
  message.Attachments = {dir / "a b.zip"};
  message.Send();
  EXPECT_EQ(readText(dir / "mailer.log"),
            "mailto:?subject=The%20archive&attach=" + dir.path() + "/a%20b.zip\n");
}
