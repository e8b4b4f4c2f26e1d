// TUUCode converts one file into another in a single pass: a plain copy, or UU, XX or Base64
// text with begin and end lines, either way.
#pragma once

#include <cstdint>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

namespace quelt {

enum TAlgorithm { filecopy, uuencode, uudecode, xxencode, xxdecode, base64encode, base64decode };
enum TUnixCRLF { CRLF, LF };

class EUUCode : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// Called with the output bytes produced so far, after every line.
using TUUProduced = std::function<void(uint64_t produced)>;

struct TUUTextFormat {
  TAlgorithm Algorithm = uuencode;  // an encoder or a decoder; which of the three encodings
  bool Headers = true;
  TUnixCRLF LineEnd = CRLF;
  uint16_t FileMode = 644;
};

// The text for `data`, with `name` on the begin line.
std::string EncodeUUText(const uint8_t* data, size_t size, const std::string& name,
                         const TUUTextFormat& format, const TUUProduced& produced = {});

struct TUUDecoded {
  std::string Name;  // from the begin line: its last path component; empty without headers
  std::vector<uint8_t> Data;
};
// Decodes text; EUUCode when the begin line is missing or names no usable file.
TUUDecoded DecodeUUText(std::string_view text, const TUUTextFormat& format,
                        const TUUProduced& produced = {});

// The decoder for an encoded text: Base64 when its begin line says so, else UU or XX by the
// characters of its first data line. uudecode when nothing tells.
TAlgorithm DetectDecoder(std::string_view text);

// Where the UU-encode command writes the encoding of `file`: beside it, named by the part of
// its name up to and including the first "." followed by "uue" ("uue" alone for a name
// without a dot).
std::string UUEncodedName(const std::string& file);

class TUUCode {
 public:
  // ---- Published properties
  TAlgorithm Algorithm = filecopy;
  std::string InputFile;
  // The decoders with Headers set it to the name found in the begin line.
  std::string OutputFile;
  uint16_t FileMode = 644;
  bool Headers = true;
  TUnixCRLF UnixCRLF = CRLF;
  std::function<void(TUUCode& Sender, uint16_t Percent)> OnProgress;
  // Ours: the folder decoders with Headers write into; empty for the input's folder.
  std::string OutputFolder;
  // Ours: whether an existing output file may be replaced.
  bool ReplaceExisting = true;

  bool Active() const { return false; }
  // Setting it runs the conversion at once; it reads false again afterwards.
  void SetActive(bool value) {
    if (value) Convert();
  }
  std::string About() const;

  // Runs the conversion: reads InputFile whole, writes OutputFile whole.
  void Convert();

 private:
  void progress(uint64_t produced, uint64_t whole);
};

}  // namespace quelt
