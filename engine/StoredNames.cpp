// Turning the stored names and comments of a catalogue into text: the whole catalogue is read
// first, then the set its unflagged names are written in is found (or taken from the user) and
// every name and comment kept from disk is read in it. The raw bytes stay, so entries nobody
// changed are written back exactly as they were.
#include "engine/CodePage.h"
#include "engine/NameEncoding.h"
#include "engine/UnZipEngine.h"
#include "engine/ZipFormat.h"
#include "engine/ZipLib.h"
#include "engine/ZipObj.h"

namespace quelt {

namespace {

// Whether bytes are read as UTF-8 rather than in the archive's set. Besides the flag: when
// nothing fitted better than CP437, unflagged UTF-8 from a creator that is no DOS system is what
// zip tools on today's Unix systems store, and it was always read as UTF-8.
bool readAsUtf8(const TNameEncoding& encoding, std::string_view raw, bool flagged, bool dosHost) {
  if (flagged) return true;
  return encoding.Detected() && encoding.Charset() == "CP437" && !dosHost && isValidUtf8(raw);
}

// Comments are lines of text: their line breaks, tabs and other control bytes stay as they
// were, and what lies between them is read like a name. No set in use has a byte below 0x20
// inside a character.
std::string decodeComment(const TNameEncoding& encoding, std::string_view raw, bool utf8) {
  std::string out;
  size_t start = 0;
  for (size_t i = 0; i <= raw.size(); ++i) {
    if (i < raw.size() && uint8_t(raw[i]) >= 0x20) continue;
    out += encoding.Decode(raw.substr(start, i - start), utf8);
    if (i < raw.size()) out += raw[i];
    start = i + 1;
  }
  return out;
}

// Printable ASCII reads alike in every set: the first reading of such a name stands.
bool printableAscii(std::string_view raw) {
  for (char c : raw)
    if (uint8_t(c) < 0x20 || uint8_t(c) >= 0x7F) return false;
  return true;
}

}  // namespace

// ---- TZipHeaderInfo

std::optional<TStoredText> TZipHeaderInfo::StoredNameText() const {
  if (!rawName_) return std::nullopt;
  return TStoredText{*rawName_, VersionMadeBy, madeByKnown_, bool(BitFlag & kFlagUtf8)};
}

std::optional<TStoredText> TZipHeaderInfo::StoredCommentText() const {
  if (!rawComment_ || rawComment_->empty()) return std::nullopt;
  return TStoredText{*rawComment_, VersionMadeBy, madeByKnown_, bool(BitFlag & kFlagUtf8)};
}

void TZipHeaderInfo::DecodeStored(const TNameEncoding& encoding) {
  const bool flagged = BitFlag & kFlagUtf8;
  const bool dosHost = madeByKnown_ && madeOnDosFileSystem(VersionMadeBy);
  if (rawName_ && !printableAscii(*rawName_)) {
    const std::string decoded =
        encoding.Decode(*rawName_, readAsUtf8(encoding, *rawName_, flagged, dosHost));
    splitName(Backslashed(decoded));
    // On a DOS host "\" separates folders; elsewhere it is a character of the name.
    if (madeByKnown_) slashedName_ = dosHost ? Slashed(decoded) : decoded;
  }
  if (rawComment_ && !printableAscii(*rawComment_))
    comment_ =
        decodeComment(encoding, *rawComment_, readAsUtf8(encoding, *rawComment_, flagged, dosHost));
}

// ---- TEndCentral

std::optional<TStoredText> TEndCentral::StoredCommentText() const {
  if (!rawComment_ || rawComment_->empty()) return std::nullopt;
  return TStoredText{*rawComment_, 0, false, false};
}

void TEndCentral::DecodeStored(const TNameEncoding& encoding) {
  // The archive comment has no flag. UTF-8 is what this program and most tools here write,
  // and text in a legacy set is seldom valid UTF-8.
  if (rawComment_) comment_ = decodeComment(encoding, *rawComment_, isValidUtf8(*rawComment_));
}

// ---- TUnZipEngine

void TUnZipEngine::SetNameEncoding(const std::string& charset) {
  std::optional<TNameEncoding> chosen;
  if (!charset.empty()) chosen = TNameEncoding::Named(charset);
  chosenEncoding_ = std::move(chosen);
  nameEncoding_ = chosenEncoding_ ? chosenEncoding_->Charset() : std::string();
  if (!main_) return;
  applyNameEncoding();
  SortCatalogue(sortMode_);
}

void TUnZipEngine::applyNameEncoding() {
  if (chosenEncoding_) {
    activeEncoding_ = *chosenEncoding_;
  } else {
    std::vector<TStoredText> texts;
    for (int i = 0; main_ && i < main_->Count(); ++i) {
      const TZipHeaderInfo& entry = (*main_)[i];
      if (auto name = entry.StoredNameText()) texts.push_back(*name);
      if (auto comment = entry.StoredCommentText()) texts.push_back(*comment);
    }
    // A UTF-8 archive comment is read as such whatever the names say; it tells nothing.
    if (auto comment = endRecord_.StoredCommentText(); comment && !isValidUtf8(comment->raw))
      texts.push_back(*comment);
    activeEncoding_ = TNameEncoding::Detect(texts);
  }
  for (int i = 0; main_ && i < main_->Count(); ++i) (*main_)[i].DecodeStored(activeEncoding_);
  endRecord_.DecodeStored(activeEncoding_);
}

}  // namespace quelt
