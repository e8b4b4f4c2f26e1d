#include "platform/Mail.h"

#include <iterator>

namespace quelt {

std::string MailErrorText(int code) {
  static const char* const kTexts[] = {
      "",                          // 0
      "User Abort",                // 1
      "General Failure",           // 2
      "Login Failure",             // 3
      "Disk Full",                 // 4
      "Insufficient Memory",       // 5
      "Access Denied",             // 6
      "",                          // 7
      "Too Many Sessions",         // 8
      "Too Many Files",            // 9
      "Too Many Recipients",       // 10
      "Attachment Not Found",      // 11
      "Attachment Open Failure",   // 12
      "Attachment Write Failure",  // 13
      "Unknown Recipient",         // 14
      "Bad Recipient Type",        // 15
      "No Messages",               // 16
      "Invalid Message",           // 17
      "Text Too Large",            // 18
      "Invalid Session",           // 19
      "Type Not Supported",        // 20
      "Ambiguous Recipient",       // 21
      "Message In Use",            // 22
      "Network Failure",           // 23
      "Invalid Edit Fields",       // 24
      "Invalid Recipients",        // 25
      "Feature Not Supported",     // 26
  };
  if (code <= 0 || code >= int(std::size(kTexts))) return "";
  return kTexts[code];
}

EMapiError::EMapiError(int code, const std::string& detail)
    : std::runtime_error("MAPI: " + MailErrorText(code) + ". ErrorCode = " + std::to_string(code) +
                         (detail.empty() ? "" : "\n" + detail)),
      code_(code) {}

void CheckMailStatus(const TMailStatus& status) {
  if (status.code == kMailSuccess) return;
  if (status.code == kMailUserAbort) throw EMapiUserAbort();
  throw EMapiError(status.code, status.detail);
}

}  // namespace quelt
