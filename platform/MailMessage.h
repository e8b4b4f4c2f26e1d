// The mail component of the main window and the text editor: a message built from its
// properties and sent through the desktop's mail system with the archive attached.
#pragma once

#include <functional>
#include <string>
#include <vector>

#include "platform/Mail.h"

namespace quelt {

class TMailMessage {
 public:
  explicit TMailMessage(IMailSystem& mail) : mail_(mail) {}

  std::vector<std::string> Attachments;  // files to attach
  std::vector<std::string> ToRecipients, CcRecipients;
  std::vector<std::string> MessageText;  // body lines
  // When set, its lines replace MessageText at send time (the window's memo control).
  std::function<std::vector<std::string>()> MessageMemo;
  std::string Subject;
  // When set, its text is the subject (the window's edit control).
  std::function<std::string()> SubjectEdit;
  std::string ProfileName, Password;
  bool Review = true;  // let the user review the message before it is sent

  // Builds and sends one message; logs on first when there is no session yet, and keeps the
  // session for later sends. Throws EMapiUserAbort when the user cancelled, EMapiError for
  // the other failures.
  void Send();

  TMailSession Session() const { return session_; }

 private:
  IMailSystem& mail_;
  TMailSession session_ = 0;
};

// The note of a message: each line followed by CR LF, and when there are attachments one more
// line holding a blank per attachment, where the mail system places them.
std::string MailNoteText(const std::vector<std::string>& lines, size_t attachments);

}  // namespace quelt
