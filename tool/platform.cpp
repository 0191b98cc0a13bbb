#include "tool/platform.h"

#include <cstdio>

#ifdef _WIN32
#include <fcntl.h>
#include <io.h>
#include <windows.h>
#else
#include <fcntl.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <clocale>
#include <csignal>
#include <cstdlib>
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
  if (GetFileInformationByHandle(file, &info) != 0) {
    identity->volume = info.dwVolumeSerialNumber;
    identity->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    return true;
  }
  // Wine hands a file that a Linux shell opened for the program over as a
  // handle that tells only its file ID, with volume 0.
  FILE_ID_INFO id;
  if (GetFileType(file) != FILE_TYPE_DISK ||
      GetFileInformationByHandleEx(file, FileIdInfo, &id, sizeof id) == 0)
    return false;
  identity->volume = id.VolumeSerialNumber != 0 ? id.VolumeSerialNumber : kAnyVolume;
  // The file index is the ID's low 64 bits, least significant byte first.
  identity->file = 0;
  for (int i = 7; i >= 0; --i) identity->file = identity->file << 8 | id.FileId.Identifier[i];
  return true;
}

HANDLE handleOf(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

// The longest path Windows can hold, in UTF-16 units; and the longest that
// GetTempPathW() and GetTempFileNameW() take.
constexpr DWORD kMaxPath = 32768;
constexpr DWORD kMaxPathShort = MAX_PATH + 1;
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

// Keeps the reason of the call that just failed; null, as such a call returns.
FILE* failed() {
  remember(false);
  return nullptr;
}

}  // namespace

bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.file == b.file &&
         (a.volume == b.volume || a.volume == kAnyVolume || b.volume == kAnyVolume);
}

const char* systemError() {
  return lastError;
}

ItemFile::~ItemFile() {
  close();
}

#ifdef _WIN32
// A Windows process gets no standard handle in place of a closed one, and a
// file it opens never becomes standard output; a closed pipe fails the write
// without a signal. Nothing to prepare.
void prepareProcess() {}

Display displayOf(FILE* stream) {
  DWORD mode;
  const intptr_t handle = _get_osfhandle(_fileno(stream));
  return handle != -1 && GetConsoleMode(handleOf(handle), &mode) != 0 ? Display::kConsole
                                                                      : Display::kBytes;
}

void writeConsole(FILE* stream, const char* text) {
  fflush(stream);
  // The notices are short: a line of at most a few dozen characters.
  wchar_t wide[128], line[256];
  const int length = MultiByteToWideChar(CP_UTF8, 0, text, -1, wide, 128);
  DWORD count = 0;
  for (int i = 0; i + 1 < length; ++i) {
    if (wide[i] == L'\n') line[count++] = L'\r';
    line[count++] = wide[i];
  }
  DWORD written;
  WriteConsoleW(handleOf(_get_osfhandle(_fileno(stream))), line, count, &written, nullptr);
}

FILE* openTemporaryFile(const char** directory) {
  static char where[3 * kMaxPathShort];
  wchar_t folder[kMaxPathShort], name[kMaxPathShort];
  const DWORD length = GetTempPathW(kMaxPathShort, folder);
  *directory = where;
  if (length == 0 || length >= kMaxPathShort) return failed();
  // The folder without its final backslash, in UTF-8 as the program's text is.
  if (folder[length - 1] == L'\\') folder[length - 1] = L'\0';
  WideCharToMultiByte(CP_UTF8, 0, folder, -1, where, sizeof where, nullptr, nullptr);
  if (GetTempFileNameW(folder, L"d88", 0, name) == 0) return failed();
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    remember(false);
    DeleteFileW(name);
    return nullptr;
  }
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), _O_BINARY);
  FILE* stream = fd >= 0 ? _fdopen(fd, "w+b") : nullptr;
  if (stream == nullptr) {
    remember(false);
    if (fd >= 0) {
      _close(fd);
    } else {
      CloseHandle(file);
    }
  }
  return stream;
}

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
bool pathIdentity(const char* path, FileIdentity* identity) {
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
  return handle != -1 && handleIdentity(handleOf(handle), identity);
}

bool ItemFile::open(const char* name) {
  const HANDLE file =
      CreateFileA(name, GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return remember(false);
  created_ = GetLastError() != ERROR_ALREADY_EXISTS;
  handle_ = reinterpret_cast<intptr_t>(file);
  // A device (a console, say) is no file to write an item into.
  notRegular_ = GetFileType(file) != FILE_TYPE_DISK;
  LARGE_INTEGER size{};
  if (notRegular_ || !handleIdentity(file, &identity_) || GetFileSizeEx(file, &size) == 0)
    return remember(false);
  empty_ = size.QuadPart == 0;
  return true;
}

bool ItemFile::write(const uint8_t* data, size_t count) {
  const HANDLE file = handleOf(handle_);
  LARGE_INTEGER start{};
  if (!empty_ &&
      (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) == 0 || SetEndOfFile(file) == 0))
    return remember(false);
  while (count > 0) {
    const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    DWORD written = 0;
    if (WriteFile(file, data, chunk, &written, nullptr) == 0) return remember(false);
    data += written;
    count -= written;
  }
  return close();
}

void ItemFile::discard(const char* name, bool createdBefore) {
  const HANDLE file = handleOf(handle_);
  LARGE_INTEGER start{};
  if (handle_ != -1 && SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0) SetEndOfFile(file);
  close();
  if (!created_ && !createdBefore) return;
  // Only the very file this object made, under the name that made it (a
  // link there, opened as itself, has an identity of its own).
  const HANDLE named =
      CreateFileA(name, DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                  OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE) return;
  FileIdentity now;
  FILE_DISPOSITION_INFO remove{TRUE};
  if (handleIdentity(named, &now) && sameFile(now, identity_))
    SetFileInformationByHandle(named, FileDispositionInfo, &remove, sizeof remove);
  CloseHandle(named);
}

bool ItemFile::close() {
  if (handle_ == -1) return true;
  const bool ok = CloseHandle(handleOf(handle_)) != 0;
  handle_ = -1;
  return remember(ok);
}
#else
void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    // open() takes the lowest free descriptor: the closed one.
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) break;
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  setlocale(LC_CTYPE, "");
}

Display displayOf(FILE* stream) {
  if (!isatty(fileno(stream))) return Display::kBytes;
  if (strcmp(nl_langinfo(CODESET), "UTF-8") == 0) return Display::kUtf8;
  // A UTF-8 locale the system lacks still means a UTF-8 terminal.
  const char* names[] = {"LC_ALL", "LC_CTYPE", "LANG"};
  for (const char* name : names) {
    const char* value = getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    return strstr(value, "UTF-8") != nullptr || strstr(value, "utf8") != nullptr
               ? Display::kUtf8
               : Display::kTerminal;
  }
  return Display::kTerminal;
}

void writeConsole(FILE* stream, const char* text) {
  fputs(text, stream);
}

FILE* openTemporaryFile(const char** directory) {
  static char path[4096];
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  *directory = folder;
  if (snprintf(path, sizeof path, "%s/d88extract-XXXXXX", folder) >=
      static_cast<int>(sizeof path)) {
    errno = ENAMETOOLONG;
    return failed();
  }
  // Unnamed at once: nothing is left behind, whatever ends the run.
  const int fd = mkostemp(path, O_CLOEXEC);
  if (fd < 0) return failed();
  unlink(path);
  FILE* stream = fdopen(fd, "w+b");
  if (stream == nullptr) {
    remember(false);
    close(fd);
  }
  return stream;
}

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
bool pathIdentity(const char* path, FileIdentity* identity) {
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

bool ItemFile::open(const char* name) {
  // Without waiting: a FIFO with no reader fails at once (ENXIO) rather than
  // blocking; no terminal becomes the controlling one.
  constexpr int kFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;
  // First as a new file (which never follows a link), so that it is known
  // whether this run made it; then as the existing one.
  int fd = ::open(name, kFlags | O_CREAT | O_EXCL, 0666);
  created_ = fd >= 0;
  // A link that leads nowhere yet is followed, and its target made.
  if (fd < 0 && errno == EEXIST) fd = ::open(name, kFlags | O_CREAT, 0666);
  notRegular_ = fd < 0 && errno == ENXIO;
  if (fd < 0) return remember(false);
  handle_ = fd;
  struct stat status;
  if (fstat(fd, &status) != 0) return remember(false);
  identity_ = identityOf(status);
  notRegular_ = !S_ISREG(status.st_mode);
  empty_ = status.st_size == 0;
  return !notRegular_;
}

bool ItemFile::write(const uint8_t* data, size_t count) {
  const int fd = static_cast<int>(handle_);
  if (!empty_ && ftruncate(fd, 0) != 0) return remember(false);
  while (count > 0) {
    const ssize_t written = ::write(fd, data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return remember(false);
    data += written;
    count -= static_cast<size_t>(written);
  }
  // A file system that writes later (NFS) tells its errors at a close:
  // closing a copy of the handle hears them while the item can still be
  // emptied through the handle.
  const int copy = dup(fd);
  if (copy < 0 || ::close(copy) != 0) return remember(false);
  return close();
}

void ItemFile::discard(const char* name, bool createdBefore) {
  // Where even this fails nothing more can be done: the write's error is told.
  if (handle_ != -1 && ftruncate(static_cast<int>(handle_), 0) != 0) remember(false);
  close();
  // Only the very file this object made, under the name that made it (a
  // link there now has an identity of its own).
  struct stat status;
  if ((created_ || createdBefore) && lstat(name, &status) == 0 &&
      sameFile(identityOf(status), identity_))
    unlink(name);
}

bool ItemFile::close() {
  if (handle_ == -1) return true;
  const bool ok = ::close(static_cast<int>(handle_)) == 0;
  handle_ = -1;
  return remember(ok);
}
#endif
