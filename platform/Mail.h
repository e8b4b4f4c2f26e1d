// The desktop's mail system as the mail component uses it: log on, resolve recipient names,
// send one message with attachments (optionally after the user reviewed it). Failures are
// numbered as the classic desktop mail interface numbers them, and raised with its texts.
#pragma once

#include <cstdint>
#include <stdexcept>
#include <string>
#include <vector>

namespace quelt {

// Result codes; 0 is success.
enum : int {
  kMailSuccess = 0,
  kMailUserAbort = 1,
  kMailFailure = 2,
  kMailLoginFailure = 3,
  kMailAttachmentNotFound = 11,
  kMailAttachmentOpenFailure = 12,
  kMailUnknownRecipient = 14,
};

// Flags of the calls.
constexpr uint32_t kMailLogonUi = 0x01;     // the mail system may ask the user to log on
constexpr uint32_t kMailDialog = 0x08;      // the user reviews the message before it goes
constexpr uint32_t kMailUseDefault = 0x40;  // log on with the default profile

// The text of a result code ("Unknown Recipient" for 14); empty for a code without one.
std::string MailErrorText(int code);

// A failed mail call: "MAPI: <text>. ErrorCode = <code>", then what the mail system said.
class EMapiError : public std::runtime_error {
 public:
  explicit EMapiError(int code, const std::string& detail = "");
  int ErrorCode() const { return code_; }

 private:
  int code_;
};

// The user cancelled: a silent abort, which the window's error display does not show.
class EMapiUserAbort : public std::runtime_error {
 public:
  EMapiUserAbort() : std::runtime_error(MailErrorText(kMailUserAbort)) {}
};

// What a mail call answered.
struct TMailStatus {
  int code = kMailSuccess;
  std::string detail;  // the mail system's own words, when it gave any
};

// Throws EMapiUserAbort for code 1 and EMapiError for any other non-zero code.
void CheckMailStatus(const TMailStatus& status);

using TMailSession = uint64_t;  // 0: not logged on

enum class TRecipClass { To = 1, Cc = 2 };

struct TMailRecipient {
  TRecipClass recipClass = TRecipClass::To;
  std::string name;
  std::string address;
};

struct TMailAttachment {
  std::string path;      // full path of the file
  int64_t position = 0;  // where in the note text the attachment sits
};

struct TMailNote {
  std::string subject;
  std::string noteText;  // lines ended by CR LF
  std::vector<TMailRecipient> recipients;
  std::vector<TMailAttachment> attachments;
};

class IMailSystem {
 public:
  virtual ~IMailSystem() = default;

  virtual TMailStatus Logon(const std::string& profile, const std::string& password, uint32_t flags,
                            TMailSession& session) = 0;
  virtual TMailStatus ResolveName(TMailSession session, const std::string& name, uint32_t flags,
                                  TMailRecipient& resolved) = 0;
  virtual TMailStatus SendMail(TMailSession session, const TMailNote& note, uint32_t flags) = 0;
};

}  // namespace quelt
