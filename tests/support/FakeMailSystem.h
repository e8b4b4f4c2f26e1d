// A stand-in for the desktop's mail system: records every log-on, name resolution and message
// sent, and answers with the codes a test scripts (success unless told otherwise).
#pragma once

#include <deque>
#include <map>
#include <string>
#include <vector>

#include "platform/Mail.h"

namespace quelt::test {

class TFakeMailSystem : public IMailSystem {
 public:
  struct TLogon {
    std::string profile, password;
    uint32_t flags;
  };
  struct TSent {
    TMailSession session;
    TMailNote note;
    uint32_t flags;
  };

  std::vector<TLogon> logons;
  std::vector<std::string> resolved;  // names, in the order asked
  std::vector<TSent> sent;

  // Answers for the calls to come; each is used once, in order.
  std::deque<TMailStatus> logonAnswers, sendAnswers;
  // A name resolved with a code other than 0 fails; others resolve to `addresses[name]`, or
  // to the name itself.
  std::map<std::string, int> resolveCodes;
  std::map<std::string, std::string> addresses;

  TMailStatus Logon(const std::string& profile, const std::string& password, uint32_t flags,
                    TMailSession& session) override {
    logons.push_back({profile, password, flags});
    TMailStatus status = next(logonAnswers);
    if (status.code == kMailSuccess) session = TMailSession(100 + logons.size());
    return status;
  }
  TMailStatus ResolveName(TMailSession, const std::string& name, uint32_t,
                          TMailRecipient& recipient) override {
    resolved.push_back(name);
    if (auto it = resolveCodes.find(name); it != resolveCodes.end() && it->second != 0)
      return {it->second, name};
    recipient.name = name;
    auto it = addresses.find(name);
    recipient.address = it == addresses.end() ? name : it->second;
    return {};
  }
  TMailStatus SendMail(TMailSession session, const TMailNote& note, uint32_t flags) override {
    TMailStatus status = next(sendAnswers);
    if (status.code == kMailSuccess) sent.push_back({session, note, flags});
    return status;
  }

 private:
  static TMailStatus next(std::deque<TMailStatus>& answers) {
    if (answers.empty()) return {};
    TMailStatus status = answers.front();
    answers.pop_front();
    return status;
  }
};

}  // namespace quelt::test
