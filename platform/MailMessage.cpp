#include "platform/MailMessage.h"

#include <unistd.h>

#include <cstdlib>
#include <memory>

namespace quelt {

namespace {

std::string fullPath(const std::string& path) {
  if (path.empty() || path[0] == '/') return path;
  std::unique_ptr<char, decltype(&std::free)> cwd(::getcwd(nullptr, 0), &std::free);
  return cwd ? std::string(cwd.get()) + "/" + path : path;
}

}  // namespace

std::string MailNoteText(const std::vector<std::string>& lines, size_t attachments) {
  std::string note;
  for (const auto& line : lines) note += line + "\r\n";
  if (attachments > 0) note += std::string(attachments, ' ') + "\r\n";
  return note;
}

void TMailMessage::Send() {
  if (session_ == 0) {
    uint32_t flags = kMailLogonUi | kMailDialog | (ProfileName.empty() ? kMailUseDefault : 0);
    TMailSession session = 0;
    CheckMailStatus(mail_.Logon(ProfileName, Password, flags, session));
    session_ = session;
  }
  if (MessageMemo) MessageText = MessageMemo();

  TMailNote note;
  // Built from a copy: sending twice must not add a second line of attachment blanks.
  note.noteText = MailNoteText(MessageText, Attachments.size());
  note.subject = SubjectEdit ? SubjectEdit() : Subject;
  auto resolve = [&](const std::vector<std::string>& names, TRecipClass recipClass) {
    for (const auto& name : names) {
      TMailRecipient recipient;
      CheckMailStatus(mail_.ResolveName(session_, name, kMailLogonUi | kMailDialog, recipient));
      recipient.recipClass = recipClass;
      note.recipients.push_back(std::move(recipient));
    }
  };
  resolve(ToRecipients, TRecipClass::To);
  resolve(CcRecipients, TRecipClass::Cc);
  // The k-th attachment sits on the k-th blank of the last line, counted from its end.
  for (size_t k = 0; k < Attachments.size(); ++k)
    note.attachments.push_back(
        {fullPath(Attachments[k]), int64_t(note.noteText.size()) - 3 - int64_t(k)});

  uint32_t flags = Review || ToRecipients.empty() ? kMailLogonUi | kMailDialog : kMailLogonUi;
  CheckMailStatus(mail_.SendMail(session_, note, flags));
}

}  // namespace quelt
