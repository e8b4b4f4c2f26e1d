// The mail system on a freedesktop desktop: xdg-email hands the message to the user's mail
// program, which always shows it to the user before it goes.
#pragma once

#include <functional>
#include <string>

#include "platform/Mail.h"
#include "platform/Processes.h"

namespace quelt {

struct TXdgMailConfig {
  std::string program = "xdg-email";
  // A mail program started afresh may keep xdg-email waiting until it is closed; after this
  // long the message counts as handed over and the window goes on.
  int handOverMs = 10000;
  // Called while waiting, as the process runner's keepRunning: the window handles its events
  // here; false means the user gave up, which stops xdg-email and ends the send silently.
  std::function<bool()> keepWaiting;
};

class TXdgMail : public IMailSystem {
 public:
  explicit TXdgMail(IProcessRunner& runner, TXdgMailConfig config = {});

  // Succeeds when xdg-email is installed.
  TMailStatus Logon(const std::string& profile, const std::string& password, uint32_t flags,
                    TMailSession& session) override;
  // Names are taken as addresses; the mail program resolves the rest while the user reviews.
  TMailStatus ResolveName(TMailSession session, const std::string& name, uint32_t flags,
                          TMailRecipient& resolved) override;
  TMailStatus SendMail(TMailSession session, const TMailNote& note, uint32_t flags) override;

 private:
  IProcessRunner& runner_;
  TXdgMailConfig config_;
};

// The mailto: URI xdg-email gets: recipients, subject and body percent-encoded, the body with
// the attachment blanks taken out (attachments are separate arguments) and LF line ends.
std::string MailtoUri(const TMailNote& note);

}  // namespace quelt
