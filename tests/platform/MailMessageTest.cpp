#include <gtest/gtest.h>

#include <filesystem>

#include "platform/MailMessage.h"
#include "support/FakeMailSystem.h"

using namespace quelt;
using namespace quelt::test;
namespace fs = std::filesystem;

TEST(MailMessage, SendsTheArchiveWithTheDefaultsOfTheWindow) {
  TFakeMailSystem mail;
  TMailMessage message(mail);
  message.Attachments = {"archive.zip"};
  message.Send();
  ASSERT_EQ(mail.logons.size(), 1u);
  EXPECT_EQ(mail.logons[0].flags, 73u) << "no profile: the default one, with the log-on UI";
  ASSERT_EQ(mail.sent.size(), 1u);
  const TMailNote& note = mail.sent[0].note;
  EXPECT_EQ(mail.sent[0].flags, 9u) << "reviewed by the user";
  EXPECT_EQ(mail.sent[0].session, message.Session());
  EXPECT_EQ(note.subject, "");
  EXPECT_EQ(note.noteText, " \r\n");
  ASSERT_EQ(note.attachments.size(), 1u);
  EXPECT_EQ(note.attachments[0].path, (fs::current_path() / "archive.zip").string());
  EXPECT_EQ(note.attachments[0].position, 0);
  EXPECT_TRUE(note.recipients.empty());
}

TEST(MailMessage, EverySendBuildsTheSameNoteAndLogsOnOnce) {
  TFakeMailSystem mail;
  TMailMessage message(mail);
  message.MessageText = {"Hello,", "three files"};
  message.Attachments = {"/a.zip", "/b.zip", "/c.zip"};
  message.Send();
  message.Send();
  EXPECT_EQ(mail.logons.size(), 1u) << "the session is kept";
  ASSERT_EQ(mail.sent.size(), 2u);
  EXPECT_EQ(message.MessageText, (std::vector<std::string>{"Hello,", "three files"}));
  for (const auto& sent : mail.sent) {
    const std::string& text = sent.note.noteText;
    EXPECT_EQ(text, "Hello,\r\nthree files\r\n   \r\n");
    // Each attachment sits on one of the blanks of the last line, counted from its end.
    ASSERT_EQ(sent.note.attachments.size(), 3u);
    for (size_t k = 0; k < 3; ++k) {
      EXPECT_EQ(sent.note.attachments[k].position, int64_t(text.size() - 3 - k));
      EXPECT_EQ(text[size_t(sent.note.attachments[k].position)], ' ');
    }
  }
}

TEST(MailMessage, ControlsRecipientsAndReviewShapeTheMessage) {
  TFakeMailSystem mail;
  mail.addresses["Ann"] = "ann@example.org";
  TMailMessage message(mail);
  message.ProfileName = "Work";
  message.Password = "secret";
  message.Subject = "ignored";
  message.SubjectEdit = [] { return std::string("From the edit"); };
  message.MessageText = {"old"};
  message.MessageMemo = [] { return std::vector<std::string>{"memo 1", "memo 2"}; };
  message.ToRecipients = {"Ann", "bob@example.org"};
  message.CcRecipients = {"Cy"};
  message.Review = false;
  message.Send();
  EXPECT_EQ(mail.logons[0].profile, "Work");
  EXPECT_EQ(mail.logons[0].password, "secret");
  EXPECT_EQ(mail.logons[0].flags, 9u);
  const auto& sent = mail.sent.at(0);
  EXPECT_EQ(sent.flags, 1u) << "no review with recipients given";
  EXPECT_EQ(sent.note.subject, "From the edit");
  EXPECT_EQ(sent.note.noteText, "memo 1\r\nmemo 2\r\n");
  EXPECT_EQ(message.MessageText, (std::vector<std::string>{"memo 1", "memo 2"}));
  EXPECT_EQ(mail.resolved, (std::vector<std::string>{"Ann", "bob@example.org", "Cy"}));
  ASSERT_EQ(sent.note.recipients.size(), 3u);
  EXPECT_EQ(sent.note.recipients[0].address, "ann@example.org");
  EXPECT_EQ(sent.note.recipients[0].recipClass, TRecipClass::To);
  EXPECT_EQ(sent.note.recipients[2].recipClass, TRecipClass::Cc);

  // Without To recipients the user always reviews.
  message.ToRecipients.clear();
  message.Send();
  EXPECT_EQ(mail.sent.at(1).flags, 9u);
}

TEST(MailMessage, FailuresRaiseTheMailErrorsWithTheirTexts) {
  struct Case {
    int code;
    std::string detail;
    const char* message;  // empty: the silent abort
  } cases[] = {
      {1, "", ""},
      {2, "", "MAPI: General Failure. ErrorCode = 2"},
      {14, "", "MAPI: Unknown Recipient. ErrorCode = 14"},
      {26, "", "MAPI: Feature Not Supported. ErrorCode = 26"},
      {7, "", "MAPI: . ErrorCode = 7"},
      {27, "", "MAPI: . ErrorCode = 27"},
      {2, "No mail program is set up.",
       "MAPI: General Failure. ErrorCode = 2\nNo mail program is set up."},
  };
  for (const auto& c : cases) {
    TFakeMailSystem mail;
    mail.sendAnswers.push_back({c.code, c.detail});
    TMailMessage message(mail);
    try {
      message.Send();
      ADD_FAILURE() << c.code;
    } catch (const EMapiUserAbort&) {
      EXPECT_EQ(std::string(c.message), "") << c.code;
    } catch (const EMapiError& e) {
      EXPECT_EQ(e.what(), std::string(c.message));
      EXPECT_EQ(e.ErrorCode(), c.code);
    }
  }
}

TEST(MailMessage, AFailedLogOnOrResolutionSendsNothing) {
  TFakeMailSystem mail;
  mail.logonAnswers.push_back({kMailLoginFailure, ""});
  TMailMessage message(mail);
  EXPECT_THROW(message.Send(), EMapiError);
  EXPECT_EQ(message.Session(), 0u) << "a failed log-on is tried again next time";
  mail.resolveCodes["Nobody"] = kMailUnknownRecipient;
  message.ToRecipients = {"ann@example.org", "Nobody"};
  try {
    message.Send();
    ADD_FAILURE();
  } catch (const EMapiError& e) {
    EXPECT_EQ(e.ErrorCode(), 14);
  }
  EXPECT_EQ(mail.logons.size(), 2u);
  EXPECT_TRUE(mail.sent.empty());
}
