// A desktop service could not do what was asked; the text tells the user what and why.
#pragma once

#include <stdexcept>

namespace quelt {

class EPlatformError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

}  // namespace quelt
