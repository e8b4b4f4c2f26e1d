// The character set of an archive's stored names and comments: found by looking at all of them,
// or named by the user. Entries flagged as UTF-8 (bit 11) are UTF-8 whatever the set.
//
// Display names are UTF-8. A byte that cannot be decoded, or that would decode to a control
// character, is shown as U+FFFD followed by its value in two upper-case hex digits ("caf\uFFFDE9"),
// so nothing is dropped. So is a character that does not encode back to the same bytes (the East
// Asian sets map a few characters twice). A literal U+FFFD is doubled when an escape could be
// read in its place (it is followed by U+FFFD or by two such hex digits), which keeps every
// display name distinct and reversible. The display form is also the name extraction writes:
// valid UTF-8 without NUL or control characters, turned back into the stored bytes by Encode.
#pragma once

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "engine/Errors.h"

namespace quelt {

class TCharsetCodec;

// A set name nobody knows: raised by explicit choice, with the text the user sees.
class EUnknownCharset : public EZipError {
 public:
  using EZipError::EZipError;
};

// One stored name or comment as the catalogue read it.
struct TStoredText {
  std::string_view raw;
  uint16_t versionMadeBy = 0;
  bool knownMadeBy = false;  // false for the archive comment and names found without a directory
  bool utf8Flag = false;
};

class TNameEncoding {
 public:
  // CP437, what the format prescribes for names without the UTF-8 flag.
  TNameEncoding();

  // Looks at the unflagged texts together and picks the set they were written in among those
  // their creator's system would use; CP437 unless another set fits clearly better.
  static TNameEncoding Detect(const std::vector<TStoredText>& texts);
  // The set the user named, in the usual spellings ("cp866", "IBM866", "SJIS", "windows-1251",
  // "ISO_8859-5"). Throws EUnknownCharset.
  static TNameEncoding Named(std::string_view charset);

  // Canonical name: "CP437", "CP866", "CP932", "GBK", "UTF-8", "ISO-8859-5", ...
  const std::string& Charset() const { return charset_; }
  bool Detected() const { return detected_; }

  // The display form of stored bytes (see above). Flagged bytes that are not UTF-8 are escaped,
  // not read in the set: the flag is all a reader has to go on.
  std::string Decode(std::string_view raw, bool utf8Flag) const;
  // The stored bytes of a display form: Encode(Decode(raw, f), f) == raw for every raw. Nothing
  // when a character has no form in the set.
  std::optional<std::string> Encode(std::string_view display, bool utf8Flag) const;

 private:
  TNameEncoding(std::string charset, std::shared_ptr<const TCharsetCodec> codec, bool detected);

  std::string charset_;
  std::shared_ptr<const TCharsetCodec> codec_;
  bool detected_ = false;
};

// The canonical name of a set in any accepted spelling, or nothing when it is not one we offer.
std::optional<std::string> canonicalCharsetName(std::string_view name);

// The sets a user is offered to choose from, in menu order, with a short description.
struct TCharsetChoice {
  const char* charset;
  const char* label;
};
const std::vector<TCharsetChoice>& nameEncodingChoices();

}  // namespace quelt
