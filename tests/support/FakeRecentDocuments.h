// A stand-in for the desktop's recent-documents list: remembers what was added, in order,
// and fails when a test says so.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "platform/RecentDocuments.h"

namespace quelt::test {

class TFakeRecentDocuments : public IRecentDocuments {
 public:
  std::vector<std::string> added;
  // When set, every AddDocument throws EPlatformError with this text and adds nothing.
  std::optional<std::string> failure;

  void AddDocument(const std::string& path) override {
    if (failure) throw EPlatformError(*failure);
    added.push_back(path);
  }
};

}  // namespace quelt::test
