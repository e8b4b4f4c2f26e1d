// The engine's exception classes; each carries the text the user sees.
#pragma once

#include <stdexcept>
#include <string>

namespace quelt {

class EZipError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// No end record where one was expected: "Incomplete Zip File".
class EIncompleteZip : public EZipError {
 public:
  EIncompleteZip() : EZipError("Incomplete Zip File") {}
};

// The user (or a handler on the user's behalf) stopped the operation.
class EUserCanceled : public EZipError {
 public:
  using EZipError::EZipError;
};

// The archive's data cannot be read on: "Premature end of file reached" and the like.
class EFatalUnzipError : public EZipError {
 public:
  using EZipError::EZipError;
};

// An internal consistency check failed; the message names the check. Correct operation never
// raises it.
class EAssertionFailed : public EZipError {
 public:
  using EZipError::EZipError;
};

class EInvalidMatch : public EZipError {
 public:
  using EZipError::EZipError;
};

// Index, duplicate and capacity errors of the catalogue lists.
class EListError : public EZipError {
 public:
  using EZipError::EZipError;
};

// Stream errors: "Seek error", "Putback overflow", failed writes and flushes.
class EStreamError : public EZipError {
 public:
  using EZipError::EZipError;
};

// A file that cannot be opened or created; the message names it.
class EFOpenError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};
class EFCreateError : public EStreamError {
 public:
  using EStreamError::EStreamError;
};

// Input/output failures of whole-file operations (copying, making folders).
class EInOutError : public EZipError {
 public:
  using EZipError::EZipError;
};

// The writer refuses something it cannot store soundly (sizes, comments, volumes).
class EZipRefused : public EZipError {
 public:
  using EZipError::EZipError;
};

}  // namespace quelt
