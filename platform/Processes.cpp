#include "platform/Processes.h"

#include <cstring>

namespace quelt {

TProcessResult RunKeepingLastError(IProcessRunner& runner, const std::vector<std::string>& argv,
                                   TProcessOptions options, std::string& lastError) {
  auto forward = std::move(options.onLine);
  options.onLine = [&](TOutputChannel channel, const std::string& line) {
    if (channel == TOutputChannel::StdErr && !line.empty()) lastError = line;
    if (forward) forward(channel, line);
  };
  return runner.Run(argv, options);
}

std::vector<std::string> SplitArguments(const std::string& text) {
  std::vector<std::string> args;
  std::string current;
  bool inWord = false;
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == ' ' || c == '\t' || c == '\n' || c == '\r') {
      if (inWord) args.push_back(std::move(current));
      current.clear();
      inWord = false;
      continue;
    }
    inWord = true;
    if (c == '\\') {
      if (++i < text.size()) current.push_back(text[i]);
    } else if (c == '\'') {
      size_t close = text.find('\'', i + 1);
      if (close == std::string::npos) throw EPlatformError("Unclosed quote in: " + text);
      current.append(text, i + 1, close - i - 1);
      i = close;
    } else if (c == '"') {
      for (++i; i < text.size() && text[i] != '"'; ++i) {
        if (text[i] == '\\' && i + 1 < text.size() && std::strchr("\"\\$`", text[i + 1]) != nullptr)
          ++i;
        current.push_back(text[i]);
      }
      if (i >= text.size()) throw EPlatformError("Unclosed quote in: " + text);
    } else {
      current.push_back(c);
    }
  }
  if (inWord) args.push_back(std::move(current));
  return args;
}

}  // namespace quelt
