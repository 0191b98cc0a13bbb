#include "tool/platform_dir.h"

#include <cstdio>

#ifdef _WIN32
#include <windows.h>
#else
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#endif

namespace {

char lastError[256];

#ifdef _WIN32
bool remember(bool ok) {
  if (ok) return true;
  const DWORD length =
      FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                     GetLastError(), 0, lastError, sizeof lastError, nullptr);
  // The system's text ends with CR LF; the caller ends the line itself.
  DWORD end = length;
  while (end > 0 && (lastError[end - 1] == '\r' || lastError[end - 1] == '\n')) --end;
  lastError[end] = '\0';
  return false;
}
#else
bool remember(bool ok) {
  if (!ok) snprintf(lastError, sizeof lastError, "%s", strerror(errno));
  return ok;
}
#endif

}  // namespace

#ifdef _WIN32
bool makeDirectory(const char* name) {
  return remember(CreateDirectoryA(name, nullptr) != 0);
}
bool changeDirectory(const char* name) {
  return remember(SetCurrentDirectoryA(name) != 0);
}
#else
bool makeDirectory(const char* name) {
  return remember(mkdir(name, 0777) == 0);
}
bool changeDirectory(const char* name) {
  return remember(chdir(name) == 0);
}
#endif

const char* directoryError() {
  return lastError;
}
