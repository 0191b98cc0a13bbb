#include "tool/platform_dir.h"

#include <cstdio>

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
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

bool handleIdentity(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info) == 0) return false;
  identity->volume = info.dwVolumeSerialNumber;
  identity->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
  return true;
}

// The longest path Windows can hold, in UTF-16 units.
constexpr DWORD kMaxPath = 32768;
wchar_t startDirectory[kMaxPath];
#else
bool remember(bool ok) {
  if (!ok) snprintf(lastError, sizeof lastError, "%s", strerror(errno));
  return ok;
}

int startDirectory = -1;

FileIdentity identityOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino)};
}
#endif

}  // namespace

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.file == b.file &&
         (a.volume == b.volume || a.volume == kAnyVolume || b.volume == kAnyVolume);
}

#ifdef _WIN32
bool makeDirectory(const char* name) {
  return remember(CreateDirectoryA(name, nullptr) != 0 || GetLastError() == ERROR_ALREADY_EXISTS);
}
bool holdStartDirectory() {
  const DWORD length = GetCurrentDirectoryW(kMaxPath, startDirectory);
  return remember(length > 0 && length < kMaxPath);
}
bool changeDirectory(const char* name) {
  return remember(SetCurrentDirectoryA(name) != 0);
}
bool returnToStartDirectory() {
  return remember(SetCurrentDirectoryW(startDirectory) != 0);
}
bool fileIdentity(const char* path, FileIdentity* identity) {
  // No access asked for: the handle only answers what file it is.
  const HANDLE file = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                                  nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = handleIdentity(file, identity);
  CloseHandle(file);
  return ok;
}
bool streamIdentity(FILE* stream, FileIdentity* identity) {
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  if (handle == -1) return false;
  const HANDLE file = reinterpret_cast<HANDLE>(handle);
  if (handleIdentity(file, identity)) return true;
  // Wine hands a file that a Linux shell opened for the program over as a
  // handle that tells only its file ID, with volume 0.
  FILE_ID_INFO info;
  if (GetFileType(file) != FILE_TYPE_DISK ||
      GetFileInformationByHandleEx(file, FileIdInfo, &info, sizeof info) == 0)
    return false;
  identity->volume = info.VolumeSerialNumber != 0 ? info.VolumeSerialNumber : kAnyVolume;
  // The file index is the ID's low 64 bits, least significant byte first.
  identity->file = 0;
  for (int i = 7; i >= 0; --i) identity->file = identity->file << 8 | info.FileId.Identifier[i];
  return true;
}
#else
bool makeDirectory(const char* name) {
  return remember(mkdir(name, 0777) == 0 || errno == EEXIST);
}
// O_PATH, where there is one, needs no permission to read the directory.
bool holdStartDirectory() {
  if (startDirectory >= 0) close(startDirectory);
#ifdef O_PATH
  startDirectory = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  startDirectory = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  return remember(startDirectory >= 0);
}
bool changeDirectory(const char* name) {
  return remember(chdir(name) == 0);
}
bool returnToStartDirectory() {
  return remember(fchdir(startDirectory) == 0);
}
bool fileIdentity(const char* path, FileIdentity* identity) {
  struct stat status;
  if (stat(path, &status) != 0) return false;
  *identity = identityOf(status);
  return true;
}
bool streamIdentity(FILE* stream, FileIdentity* identity) {
  struct stat status;
  if (fstat(fileno(stream), &status) != 0) return false;
  *identity = identityOf(status);
  return true;
}
#endif

const char* directoryError() {
  return lastError;
}
