// The file operations the engine needs beyond reading and writing bytes: DOS attributes and
// date-times mapped onto POSIX, temporary files, folder creation, and the durable replace.
#pragma once

#include <sys/types.h>

#include <cstdint>
#include <ctime>
#include <optional>
#include <string>
#include <string_view>

namespace quelt::files {

// DOS attribute bits as stored in archives.
constexpr uint8_t kDosReadOnly = 0x01;
constexpr uint8_t kDosHidden = 0x02;
constexpr uint8_t kDosSystem = 0x04;
constexpr uint8_t kDosFolder = 0x10;
constexpr uint8_t kDosArchive = 0x20;

// DOS attributes for a POSIX mode: read-only without the owner's write bit, the folder bit
// for folders, the archive bit for regular files.
uint8_t DosAttributesFromMode(mode_t mode);
// DOS attributes of the file or folder at `path` (symlinks followed); nullopt when it cannot
// be examined.
std::optional<uint8_t> DosAttributesOf(const std::string& path);
// Applies stored attributes to an extracted file: read-only clears every write bit; the other
// bits have no POSIX meaning. Folders and symlinks are left alone. False when chmod fails.
[[nodiscard]] bool ApplyDosAttributes(const std::string& path, uint8_t attributes);

// A moment as a local-time DOS date-time (date high, time low, seconds halved downwards);
// moments before 1980 give 1980-01-01 00:00:00, after 2107 give 2107-12-31 23:59:58.
std::optional<uint32_t> DosDateTimeFromTime(time_t moment);
// The moment a DOS date-time names in local time; nullopt when the fields are no real
// date and time (month 0, 31 April, hour 24...).
std::optional<time_t> TimeFromDosDateTime(uint32_t dosDateTime);
// The last-write time of `path` (symlinks followed) as a local DOS date-time; nullopt when
// it cannot be examined.
std::optional<uint32_t> FileDosDateTime(const std::string& path);
// Sets the last-write time of `path` (a final symlink itself, not its target) from a local
// DOS date-time; false when the value is no real date or the file refuses.
[[nodiscard]] bool SetFileDosDateTime(const std::string& path, uint32_t dosDateTime);

// Creates a new empty file, readable and writable by its owner only, with a unique name
// starting with `prefix` in `folder`; returns its path. Throws std::system_error naming the folder.
std::string TempFileName(const std::string& folder, const std::string& prefix = "QLZ");
// The folder for temporary files: $TMPDIR when it names a folder, else "/tmp".
std::string SystemTempFolder();

// Creates the folder and every missing parent (with `mode`, less the umask); a trailing "/" is
// ignored. Throws std::system_error: "Unable to create directory" for an empty path, else
// naming the path.
void MakeFolders(const std::string& path, mode_t mode = 0777);

// Type tests; with `followSymlink` false a final symlink is judged as itself.
bool PathExists(const std::string& path, bool followSymlink = true);
bool IsFolder(const std::string& path, bool followSymlink = true);
bool IsRegularFile(const std::string& path, bool followSymlink = true);
// Size in bytes of the file at `path` (symlinks followed); nullopt when it cannot be examined.
std::optional<uint64_t> FileSize(const std::string& path);

// The path a chain of symbolic links at `path` leads to (the last link's target even when
// nothing is there yet); `path` itself when it is no link.
std::string ResolveLinks(const std::string& path);

// Removes a file (a symlink itself, never its target); false when nothing was removed.
[[nodiscard]] bool DeleteFile(const std::string& path);
// Renames a file, atomically replacing any file at `to`; both must be on one volume.
[[nodiscard]] bool RenameFile(const std::string& from, const std::string& to);
// Forces a file's data, or a folder's entries, to the disk; together they make a rename durable.
[[nodiscard]] bool SyncFile(const std::string& path);
[[nodiscard]] bool SyncFolder(const std::string& path);

// The whole content of a file; nothing (errno saying why) when it cannot be read.
std::optional<std::string> ReadFileText(const std::string& path);
// Writes every byte, retrying short and interrupted writes; 0, or the errno that stopped it.
[[nodiscard]] int WriteAll(int fd, const void* data, size_t size);
// Replaces the file at `path` (a final symlink itself) with `text` so that a crash leaves the
// old file or the new one whole: a temporary file beside it with `mode`, flushed to the disk,
// renamed over it, the folder flushed. Throws std::system_error naming the path; the old file
// is then untouched and no temporary is left.
void WriteFileAtomically(const std::string& path, std::string_view text, mode_t mode = 0600);

// The folder part of a path ("." for a bare name, "/" for a name at the root).
std::string FolderOf(const std::string& path);
// The last part of a path.
std::string NameOf(const std::string& path);

// There are no separate short names on our file systems: the path itself.
std::string ShortPathName(const std::string& path);

}  // namespace quelt::files
