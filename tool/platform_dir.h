// Directory calls of the host: the one place that differs between POSIX and
// Windows.
#ifndef TOOL_PLATFORM_DIR_H_
#define TOOL_PLATFORM_DIR_H_

// Creates directory `name` in the current directory. False when it could not
// be created, an existing directory of that name included.
bool makeDirectory(const char* name);

// Makes `name` (relative, ".." included) the current directory.
bool changeDirectory(const char* name);

// The system's reason for the last failed call above.
const char* directoryError();

#endif  // TOOL_PLATFORM_DIR_H_
