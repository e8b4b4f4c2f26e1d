// A stand-in for the desktop's file-type registry: answers whether this program opens ZIP
// files, and records each request to make it so (which then holds, unless a failure is set).
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/DesktopAssociation.h"

namespace quelt::test {

class TFakeDesktopAssociation : public IDesktopAssociation {
 public:
  bool zipHandler = false;
  std::vector<std::string> requests;  // program paths MakeZipHandler was given
  int queries = 0;
  // When set, MakeZipHandler throws EPlatformError with this text and changes nothing.
  std::optional<std::string> failure;

  bool IsZipHandler() override {
    ++queries;
    return zipHandler;
  }
  void MakeZipHandler(const std::string& programPath) override {
    requests.push_back(programPath);
    if (failure) throw EPlatformError(*failure);
    zipHandler = true;
  }
};

}  // namespace quelt::test
