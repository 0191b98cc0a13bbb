// Directory and file calls of the host: the one place that differs between
// POSIX and Windows.
#ifndef TOOL_PLATFORM_DIR_H_
#define TOOL_PLATFORM_DIR_H_

#include <cstdint>
#include <cstdio>

// Creates directory `name` in the current directory. True when it was made,
// or when something of that name exists already (entering it tells whether
// it is a directory); false with the system's reason otherwise.
bool makeDirectory(const char* name);

// Takes a handle to the current directory, the one returnToStartDirectory()
// comes back to, dropping any handle taken before.
bool holdStartDirectory();

// Makes `name` (relative) the current directory.
bool changeDirectory(const char* name);

// Makes the directory held by holdStartDirectory() the current one again,
// whatever links led away from it (never by "..").
bool returnToStartDirectory();

// The system's reason for the last failed call above.
const char* directoryError();

// What tells one file from another on the host, whatever names lead to it:
// device and inode, or volume serial number and file index. A volume of
// kAnyVolume is one the host did not tell.
struct FileIdentity {
  uint64_t volume;
  uint64_t file;
};
constexpr uint64_t kAnyVolume = UINT64_MAX;

// Whether `a` and `b` are the same file; a file whose volume is not known is
// taken for any file with its index, so that it is never written over.
bool sameFile(const FileIdentity& a, const FileIdentity& b);

// The identity of the file `path` names, following links; false when there is
// no such file or it cannot be looked at.
bool fileIdentity(const char* path, FileIdentity* identity);

// The identity of the file `stream` reads or writes; false when it is none
// that can be looked at (a console on Windows, say).
bool streamIdentity(FILE* stream, FileIdentity* identity);

#endif  // TOOL_PLATFORM_DIR_H_
