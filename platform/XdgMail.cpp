#include "platform/XdgMail.h"

#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <set>

#include "platform/PercentEncoding.h"

namespace quelt {

namespace {

constexpr const char* kNoXdgEmail =
    "No mail program can be reached: xdg-email was not found. It comes with the xdg-utils "
    "package.";
constexpr const char* kNoMailProgram =
    "No mail program is set up on this desktop to send the message with.";

// The note without the blanks that only mark where attachments go, and without the empty
// lines that leaves at its end.
std::string bodyOf(const TMailNote& note) {
  std::string body = note.noteText;
  std::set<int64_t, std::greater<>> spots;
  for (const auto& a : note.attachments) spots.insert(a.position);
  for (int64_t at : spots)
    if (at >= 0 && at < int64_t(body.size()) && body[size_t(at)] == ' ') body.erase(size_t(at), 1);
  while (!body.empty() && (body.back() == '\n' || body.back() == '\r')) body.pop_back();
  return body;
}

bool hasControlCharacter(const std::string& text) {
  return std::any_of(text.begin(), text.end(),
                     [](char c) { return (unsigned char)c < 0x20 || c == 0x7F; });
}

}  // namespace

std::string MailtoUri(const TMailNote& note) {
  std::string to, params;
  auto addParam = [&](const char* name, const std::string& value) {
    params += (params.empty() ? "" : "&") + std::string(name) + "=" + value;
  };
  for (const auto& r : note.recipients) {
    if (r.recipClass == TRecipClass::To)
      to += (to.empty() ? "" : ",") + PercentEncode(r.address, "@");
    else
      addParam("cc", PercentEncode(r.address, "@"));
  }
  if (!note.subject.empty()) addParam("subject", PercentEncode(note.subject));
  if (std::string body = bodyOf(note); !body.empty()) addParam("body", PercentEncode(body));
  return "mailto:" + to + (params.empty() ? "" : "?" + params);
}

TXdgMail::TXdgMail(IProcessRunner& runner, TXdgMailConfig config)
    : runner_(runner), config_(std::move(config)) {}

TMailStatus TXdgMail::Logon(const std::string&, const std::string&, uint32_t,
                            TMailSession& session) {
  if (!runner_.FindProgram(config_.program)) return {kMailLoginFailure, kNoXdgEmail};
  session = 1;
  return {};
}

TMailStatus TXdgMail::ResolveName(TMailSession, const std::string& name, uint32_t,
                                  TMailRecipient& resolved) {
  if (name.empty() || hasControlCharacter(name)) return {kMailUnknownRecipient, name};
  resolved.name = name;
  resolved.address = name;
  return {};
}

TMailStatus TXdgMail::SendMail(TMailSession, const TMailNote& note, uint32_t) {
  auto program = runner_.FindProgram(config_.program);
  if (!program) return {kMailFailure, kNoXdgEmail};
  std::vector<std::string> argv = {*program, "--utf8", MailtoUri(note)};
  for (const auto& a : note.attachments) {
    struct stat st;
    if (::stat(a.path.c_str(), &st) != 0) return {kMailAttachmentNotFound, a.path};
    if (!S_ISREG(st.st_mode) || ::access(a.path.c_str(), R_OK) != 0)
      return {kMailAttachmentOpenFailure, a.path};
    argv.push_back("--attach");
    argv.push_back(a.path);
  }

  std::string lastError;
  TProcessOptions options;
  options.detachAfterMs = config_.handOverMs;
  options.keepRunning = config_.keepWaiting;
  TProcessResult result;
  try {
    result = RunKeepingLastError(runner_, argv, options, lastError);
  } catch (const EPlatformError& e) {
    return {kMailFailure, e.what()};
  }
  if (result.cancelled) return {kMailUserAbort, ""};
  if (result.detached || result.Succeeded()) return {};
  if (!result.Exited())
    return {kMailFailure, "xdg-email ended by signal " + std::to_string(result.signal)};
  switch (result.exitCode) {
    case 2:
      return {kMailAttachmentNotFound, lastError};
    case 3:
      return {kMailFailure, kNoMailProgram};
    default:
      return {kMailFailure, lastError.empty() ? "xdg-email failed with exit status " +
                                                    std::to_string(result.exitCode)
                                              : lastError};
  }
}

}  // namespace quelt
