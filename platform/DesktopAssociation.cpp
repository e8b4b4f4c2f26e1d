#include "platform/DesktopAssociation.h"

#include <cstring>

namespace quelt {

std::string DesktopExecArgument(const std::string& arg) {
  // Quoting first, as the desktop entry rules read it back: double quotes around anything
  // a shell would take specially, with " ` $ \ escaped inside them.
  std::string quoted;
  bool reserved = arg.empty() || arg.find_first_of(" \t\n\"'\\><~|&;$*?#()`") != std::string::npos;
  if (reserved) {
    quoted = "\"";
    for (char c : arg) {
      if (std::strchr("\"`$\\", c) != nullptr) quoted.push_back('\\');
      quoted.push_back(c);
    }
    quoted += "\"";
  } else {
    quoted = arg;
  }
  // Then the field codes ("%%" is a percent sign) and the escapes of a string value.
  std::string out;
  for (char c : quoted) {
    switch (c) {
      case '%':
        out += "%%";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\t':
        out += "\\t";
        break;
      case '\r':
        out += "\\r";
        break;
      default:
        out.push_back(c);
    }
  }
  return out;
}

std::string DesktopEntryText(const std::string& program) {
  const std::string exec = "Exec=" + DesktopExecArgument(program) + " %f\n";
  return std::string(
             "[Desktop Entry]\n"
             "Type=Application\n"
             "Name=Quelt\n"
             "GenericName=Archive Manager\n"
             "Comment=Open, create and change ZIP archives\n") +
         exec +
         "Icon=quelt\n"
         "Terminal=false\n"
         "MimeType=application/zip;application/x-zip-compressed;\n"
         "Categories=Utility;Archiving;Compression;\n";
}

}  // namespace quelt
