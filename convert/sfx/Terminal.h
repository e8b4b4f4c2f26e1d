// The questions the self-extractor asks, on its terminal. Without one (or with -y) nothing
// is asked and every question takes its default.
#pragma once

#include <optional>
#include <string>

namespace quelt::sfx {

class TTerminal {
 public:
  // Questions are asked when `ask` holds and standard input is a terminal.
  explicit TTerminal(bool ask);
  bool Interactive() const { return interactive_; }
  // The answer line without its end; nothing when not interactive or at the end of input.
  std::optional<std::string> Ask(const std::string& prompt);
  // The same without echoing what is typed.
  std::optional<std::string> AskSecret(const std::string& prompt);
  // A yes-or-no question; an empty answer, or none, takes `byDefault`.
  bool Confirm(const std::string& prompt, bool byDefault);

 private:
  bool interactive_;
};

}  // namespace quelt::sfx
