// Virus Scan: the archive extracted into a folder of its name in the temporary folder and the
// configured scanner run on that folder, its output in the output window line by line and its
// exit status at the end. Without a usable scanner the Preferences open on "Anti-Virus".
#pragma once

#include <string>

namespace quelt {

class TMainform;

void VirusScanCommand(TMainform& form);

// The closing line of a scan that ended with `exitCode`; the scanner's own meaning is added
// for clamscan (0 clean, 1 found, 2 error).
std::string ScanResultText(const std::string& program, int exitCode);

}  // namespace quelt
