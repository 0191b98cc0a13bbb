// The host's calls on Windows (see platform.h).
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>

#include "tool/platform.h"

namespace {

HANDLE handleOf(intptr_t handle) {
  return reinterpret_cast<HANDLE>(handle);
}

HANDLE handleOf(FILE* stream) {
  return handleOf(_get_osfhandle(_fileno(stream)));
}

bool handleIdentity(HANDLE file, FileIdentity* identity) {
  BY_HANDLE_FILE_INFORMATION info;
  if (GetFileInformationByHandle(file, &info) != 0) {
    identity->volume = info.dwVolumeSerialNumber;
    identity->file = (static_cast<uint64_t>(info.nFileIndexHigh) << 32) | info.nFileIndexLow;
    identity->changed = 0;
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
  identity->file = identity->changed = 0;
  for (int i = 7; i >= 0; --i) identity->file = identity->file << 8 | id.FileId.Identifier[i];
  return true;
}

// The longest path that GetTempPathW() and GetTempFileNameW() take.
constexpr DWORD kMaxPathShort = MAX_PATH + 1;

// A path in UTF-16, as the W calls take it: in place when it is short (a
// name the run writes), allocated when it is longer (a full path, up to the
// 32,767 units Windows allows).
class WidePath {
 public:
  WidePath() = default;
  ~WidePath() {
    if (text_ != inPlace_) free(text_);
  }
  WidePath(const WidePath&) = delete;
  WidePath& operator=(const WidePath&) = delete;

  // Makes room for `units` UTF-16 units, the final 0 among them; what the
  // path held is lost. False, with the reason for GetLastError(), when there
  // is no memory.
  bool reserve(size_t units) {
    if (units <= size_) return true;
    wchar_t* more = static_cast<wchar_t*>(malloc(units * sizeof(wchar_t)));
    if (more == nullptr) {
      SetLastError(ERROR_NOT_ENOUGH_MEMORY);
      return false;
    }
    if (text_ != inPlace_) free(text_);
    text_ = more;
    size_ = units;
    return true;
  }
  // Sets the path to `a` followed by `b` (neither of them this path's own text).
  bool join(const wchar_t* a, const wchar_t* b = L"") {
    const size_t first = wcslen(a), second = wcslen(b);
    if (!reserve(first + second + 1)) return false;
    wmemcpy(text_, a, first);
    wmemcpy(text_ + first, b, second + 1);
    return true;
  }
  // Sets the path to what `call(buffer, size)` writes: a call that returns
  // the units it wrote, or the size it needs when `size` is too small, or 0
  // when it fails (GetFullPathNameW, GetFinalPathNameByHandleW).
  template <typename Call>
  bool fill(Call call) {
    for (int tries = 0; tries < 3; ++tries) {  // a path that keeps growing gives up
      const DWORD length = call(text_, static_cast<DWORD>(size_));
      if (length == 0) return false;
      if (length < size_) return true;
      if (!reserve(length + 1)) return false;
    }
    SetLastError(ERROR_FILENAME_EXCED_RANGE);
    return false;
  }
  bool startsWith(const wchar_t* prefix) const {
    return wcsncmp(text_, prefix, wcslen(prefix)) == 0;
  }
  wchar_t* text() { return text_; }

 private:
  wchar_t inPlace_[64];
  wchar_t* text_ = inPlace_;
  size_t size_ = sizeof inPlace_ / sizeof inPlace_[0];
};

// Sets `path` to the UTF-8 `text` in UTF-16; false with the reason for
// GetLastError() when it is no UTF-8.
bool toWide(const char* text, WidePath& path) {
  const int units = MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, nullptr, 0);
  return units > 0 && path.reserve(static_cast<size_t>(units)) &&
         MultiByteToWideChar(CP_UTF8, MB_ERR_INVALID_CHARS, text, -1, path.text(), units) > 0;
}

// Sets `full` to the full path of the UTF-8 `path` in the form Windows takes
// as it is written, "\\?\C:\dir\name" or "\\?\UNC\server\share\dir\name",
// so that a last component that also names a device ("nul.d88", "aux.d88",
// "com1.d88" up to Windows 10; "nul" on any) names the file. Everything else
// is resolved as Windows resolves any path: "/" as "\", "." and "..", the
// current directory of the drive for "C:name", trailing dots and spaces. A
// path already in that form, or in the device namespace ("\\.\pipe\name"),
// stays one. False with the reason for GetLastError().
bool fullPath(const char* path, WidePath& full) {
  WidePath given, resolved;
  if (!toWide(path, given)) return false;
  if (given.startsWith(L"\\\\?\\")) return full.join(given.text());
  wchar_t* const text = given.text();
  for (wchar_t* c = text; *c != L'\0'; ++c) {
    if (*c == L'/') *c = L'\\';
  }
  if (!resolved.fill([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(text, size, buffer, nullptr);
      }))
    return false;
  if (resolved.startsWith(L"\\\\.\\") && !given.startsWith(L"\\\\.\\")) {
    // The name was taken for a device ("\\.\nul"): the directory's full
    // path, then the name.
    wchar_t* const separator = wcsrchr(text, L'\\');
    wchar_t* const name = separator != nullptr                  ? separator + 1
                          : text[0] != L'\0' && text[1] == L':' ? text + 2
                                                                : text;
    const wchar_t first = *name;
    *name = L'\0';
    const wchar_t* const directory = text[0] != L'\0' ? text : L".";
    if (!resolved.fill([&](wchar_t* buffer, DWORD size) {
          return GetFullPathNameW(directory, size, buffer, nullptr);
        }))
      return false;
    *name = first;
    size_t end = wcslen(name);
    while (end > 0 && (name[end - 1] == L'.' || name[end - 1] == L' ')) --end;
    name[end] = L'\0';
    WidePath directoryPath;
    const bool separated = resolved.text()[wcslen(resolved.text()) - 1] == L'\\';
    if (!directoryPath.join(resolved.text(), separated ? L"" : L"\\") ||
        !resolved.join(directoryPath.text(), name))
      return false;
  }
  if (resolved.startsWith(L"\\\\?\\") || resolved.startsWith(L"\\\\.\\"))
    return full.join(resolved.text());
  if (resolved.startsWith(L"\\\\")) return full.join(L"\\\\?\\UNC\\", resolved.text() + 2);
  return full.join(L"\\\\?\\", resolved.text());
}

// The stream for `file`, which it owns from then on, opened with `flags` and
// `mode` in binary. Null with the reason otherwise, the handle closed.
FILE* streamOf(HANDLE file, int flags, const char* mode, Reason& why) {
  const int fd = _open_osfhandle(reinterpret_cast<intptr_t>(file), flags | _O_BINARY);
  FILE* stream = fd >= 0 ? _fdopen(fd, mode) : nullptr;
  if (stream == nullptr) {
    why.takeErrno(errno);
    if (fd >= 0) {
      _close(fd);
    } else {
      CloseHandle(file);
    }
  }
  return stream;
}

// The current directory as a path: ".\\", since a path's last name loses
// its trailing dots and spaces ("out." is "out").
constexpr wchar_t kCurrentDirectory[] = L".\\";

// A handle that tells what the directory or file `path` is, and nothing more.
HANDLE openToLookAt(const wchar_t* path) {
  return CreateFileW(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

// Sets `path` to a path that leads to the directory `held` now, its links,
// junctions and substituted drives resolved: through its drive letter or
// share, else through its volume. A plain path ("C:\games\out",
// "\\server\share\out") where that names the same place, and the form
// Windows takes as written ("\\?\C:\games\out.") where it would not (a name
// that ends in a dot or a space). False with the reason for GetLastError().
bool finalPath(HANDLE held, WidePath& path) {
  // A volume with no drive letter has a GUID path; a network file system
  // may not tell the normalized one.
  static const DWORD kForms[] = {FILE_NAME_NORMALIZED | VOLUME_NAME_DOS,
                                 FILE_NAME_NORMALIZED | VOLUME_NAME_GUID,
                                 FILE_NAME_OPENED | VOLUME_NAME_DOS};
  bool found = false;
  for (DWORD form : kForms) {
    found = path.fill([&](wchar_t* buffer, DWORD size) {
      return GetFinalPathNameByHandleW(held, buffer, size, form);
    });
    if (found) break;
  }
  if (!found) return false;
  WidePath plain, resolved;
  const wchar_t* const text = path.text();
  if (path.startsWith(L"\\\\?\\UNC\\")) {
    if (!plain.join(L"\\\\", text + 8)) return true;
  } else if (path.startsWith(L"\\\\?\\") && text[4] != L'\0' && text[5] == L':') {
    if (!plain.join(text + 4)) return true;
  } else {
    return true;  // a volume's GUID path is taken only as written
  }
  if (resolved.fill([&](wchar_t* buffer, DWORD size) {
        return GetFullPathNameW(plain.text(), size, buffer, nullptr);
      }) &&
      wcscmp(resolved.text(), plain.text()) == 0)
    path.join(plain.text());
  return true;
}

// The first console event, plus 1 (0: none). The handler runs on a thread
// of its own; the run looks at it between items.
volatile LONG interruption = 0;

BOOL WINAPI onConsoleEvent(DWORD event) {
  if (event != CTRL_C_EVENT && event != CTRL_BREAK_EVENT && event != CTRL_CLOSE_EVENT) return FALSE;
  InterlockedCompareExchange(&interruption, static_cast<LONG>(event) + 1, 0);
  // The console closing ends the process when the handler returns: wait
  // for the run to end between items (Windows allows a few seconds).
  if (event == CTRL_CLOSE_EVENT) Sleep(INFINITE);
  return TRUE;
}

}  // namespace

bool Reason::take() {
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                      nullptr, GetLastError(), 0, text_, sizeof text_, nullptr);
  // The system's text ends with CR LF; the caller ends the line itself.
  DWORD end = length;
  while (end > 0 && (text_[end - 1] == '\r' || text_[end - 1] == '\n')) --end;
  text_[end] = '\0';
  return false;
}

// A Windows process gets no standard handle in place of a closed one, and a
// file it opens never becomes standard output; a closed pipe fails the write
// without a signal.
void prepareProcess() {
  SetConsoleCtrlHandler(onConsoleEvent, TRUE);
}

int pendingInterruption() {
  return static_cast<int>(interruption);
}

const char* interruptionName(int interruption) {
  switch (interruption - 1) {
    case CTRL_C_EVENT:
      return "Ctrl+C";
    case CTRL_BREAK_EVENT:
      return "Ctrl+Break";
    default:
      return "the console closing";
  }
}

int interruptedStatus(int) {
  return static_cast<int>(STATUS_CONTROL_C_EXIT);
}

void endByInterruption(int interruption) {
  fflush(nullptr);
  ExitProcess(static_cast<UINT>(interruptedStatus(interruption)));
}

Display displayOf(FILE* stream) {
  DWORD mode;
  const HANDLE handle = handleOf(stream);
  return handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode) != 0 ? Display::kConsole
                                                                              : Display::kBytes;
}

// Every line to a console goes as UTF-16; no other terminal is told apart.
Encoding terminalEncoding() {
  return Encoding::kUtf8;
}

size_t decodeShiftJis(const char* text, size_t length, char32_t* out, size_t size) {
  size_t count = 0;
  for (size_t at = 0; at < length && count < size;) {
    // One character at a time: a byte that starts none stands for itself.
    const int bytes = IsDBCSLeadByteEx(932, static_cast<BYTE>(text[at])) && at + 1 < length ? 2 : 1;
    wchar_t wide[2];
    const int n = MultiByteToWideChar(932, MB_ERR_INVALID_CHARS, text + at, bytes, wide, 2);
    out[count++] = n == 1 ? static_cast<char32_t>(wide[0]) : 0xFFFD;
    at += n == 1 ? bytes : 1;
  }
  return count;
}

size_t encodeInLocale(char32_t, char*) {
  return 0;
}

size_t decodeInLocale(const char*, size_t, char32_t*) {
  return 0;
}

bool writeConsole(FILE* stream, const char* text, size_t length) {
  fflush(stream);
  const HANDLE console = handleOf(stream);
  // A line at a time in pieces that fit on the stack, each "\n" as CR LF.
  while (length > 0) {
    size_t piece = 0;
    while (piece < length && piece < 1024 && text[piece] != '\n') ++piece;
    const bool lineEnd = piece < length && text[piece] == '\n';
    // Not inside a UTF-8 character: back to its first byte (unless the
    // piece is nothing else, which is no UTF-8).
    size_t whole = piece;
    while (!lineEnd && whole < length && whole > 0 && (text[whole] & 0xC0) == 0x80) --whole;
    if (whole > 0) piece = whole;
    wchar_t wide[1026];
    int count = MultiByteToWideChar(CP_UTF8, 0, text, static_cast<int>(piece), wide, 1024);
    if (lineEnd) {
      wide[count++] = L'\r';
      wide[count++] = L'\n';
      ++piece;
    }
    DWORD written;
    if (WriteConsoleW(console, wide, static_cast<DWORD>(count), &written, nullptr) == 0)
      return false;
    text += piece;
    length -= piece;
  }
  return true;
}

bool pathIdentity(const char* path, FileIdentity* identity) {
  WidePath full;
  if (!fullPath(path, full)) return false;
  const HANDLE file = openToLookAt(full.text());
  if (file == INVALID_HANDLE_VALUE) return false;
  const bool ok = handleIdentity(file, identity);
  CloseHandle(file);
  return ok;
}

bool streamIdentity(FILE* stream, FileIdentity* identity) {
  const HANDLE handle = handleOf(stream);
  return handle != INVALID_HANDLE_VALUE && handleIdentity(handle, identity);
}

FILE* openImageFile(const char* path, Reason& why) {
  WidePath full;
  if (!fullPath(path, full)) {
    why.take();
    return nullptr;
  }
  const HANDLE file = CreateFileW(full.text(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    // A directory refuses to be opened so, and is told as what it is.
    const DWORD error = GetLastError(), attributes = GetFileAttributesW(full.text());
    if (error == ERROR_ACCESS_DENIED && attributes != INVALID_FILE_ATTRIBUTES &&
        (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0) {
      why.takeErrno(EISDIR);
    } else {
      SetLastError(error);
      why.take();
    }
    return nullptr;
  }
  // A console, a serial line or the null device is no image; a read of
  // some of them waits for ever.
  const DWORD type = GetFileType(file);
  if (type != FILE_TYPE_DISK && type != FILE_TYPE_PIPE) {
    CloseHandle(file);
    why.say("not a file or a pipe");
    return nullptr;
  }
  return streamOf(file, _O_RDONLY, "rb", why);
}

FILE* openTemporaryFile(const char** directory, Reason& why) {
  static char where[3 * kMaxPathShort];
  wchar_t folder[kMaxPathShort], name[kMaxPathShort];
  const DWORD length = GetTempPathW(kMaxPathShort, folder);
  *directory = where;
  if (length == 0 || length >= kMaxPathShort) {
    why.take();
    return nullptr;
  }
  // The folder without its final backslash, in UTF-8 as the program's text is.
  if (folder[length - 1] == L'\\') folder[length - 1] = L'\0';
  WideCharToMultiByte(CP_UTF8, 0, folder, -1, where, sizeof where, nullptr, nullptr);
  if (GetTempFileNameW(folder, L"d88", 0, name) == 0) {
    why.take();
    return nullptr;
  }
  const HANDLE file = CreateFileW(name, GENERIC_READ | GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS,
                                  FILE_ATTRIBUTE_TEMPORARY | FILE_FLAG_DELETE_ON_CLOSE, nullptr);
  if (file == INVALID_HANDLE_VALUE) {
    why.take();
    DeleteFileW(name);
    return nullptr;
  }
  return streamOf(file, 0, "w+b", why);
}

bool makeDirectory(const char* name, Reason& why) {
  WidePath wide;
  return (toWide(name, wide) && CreateDirectoryW(wide.text(), nullptr) != 0) ||
         GetLastError() == ERROR_ALREADY_EXISTS || why.take();
}

StartDirectory::~StartDirectory() {
  if (handle_ != -1) CloseHandle(handleOf(handle_));
}

bool StartDirectory::hold() {
  // Sharing all, so that the directory can still be renamed or moved.
  const HANDLE directory = openToLookAt(kCurrentDirectory);
  if (directory == INVALID_HANDLE_VALUE) return reason_.take();
  handle_ = reinterpret_cast<intptr_t>(directory);
  return true;
}

bool StartDirectory::enter(const char* name) {
  WidePath wide;
  return (handle_ != -1 || hold()) &&
         ((toWide(name, wide) && SetCurrentDirectoryW(wide.text()) != 0) || reason_.take());
}

bool StartDirectory::returnTo() {
  // There is no changing to a handle: to the path the held directory has
  // now, then checked to be that directory, since the path may lead
  // elsewhere by the time it is taken (a link changed in between).
  const HANDLE held = handleOf(handle_);
  WidePath path;
  if (!finalPath(held, path) || SetCurrentDirectoryW(path.text()) == 0) return reason_.take();
  FileIdentity start, now;
  const HANDLE current = openToLookAt(kCurrentDirectory);
  const bool same = current != INVALID_HANDLE_VALUE && handleIdentity(current, &now) &&
                    handleIdentity(held, &start) && sameFile(now, start);
  if (current != INVALID_HANDLE_VALUE) CloseHandle(current);
  return same || reason_.say("the start directory's path leads to another directory");
}

ItemFile::~ItemFile() {
  close();
}

bool ItemFile::open(const char* name) {
  WidePath wide;
  if (!toWide(name, wide)) return reason_.take();
  const HANDLE file = CreateFileW(wide.text(), GENERIC_WRITE,
                                  FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                  OPEN_ALWAYS, FILE_ATTRIBUTE_NORMAL, nullptr);
  if (file == INVALID_HANDLE_VALUE) return reason_.take();
  created_ = GetLastError() != ERROR_ALREADY_EXISTS;
  handle_ = reinterpret_cast<intptr_t>(file);
  // A device (a console, say) is no file to write an item into.
  notRegular_ = GetFileType(file) != FILE_TYPE_DISK;
  LARGE_INTEGER size{};
  if (notRegular_ || !handleIdentity(file, &identity_) || GetFileSizeEx(file, &size) == 0)
    return reason_.take();
  empty_ = size.QuadPart == 0;
  return true;
}

bool ItemFile::write(const uint8_t* data, size_t count) {
  const HANDLE file = handleOf(handle_);
  LARGE_INTEGER start{};
  if (!empty_ &&
      (SetFilePointerEx(file, start, nullptr, FILE_BEGIN) == 0 || SetEndOfFile(file) == 0))
    return reason_.take();
  while (count > 0) {
    const DWORD chunk = count > 0x40000000 ? 0x40000000 : static_cast<DWORD>(count);
    DWORD written = 0;
    if (WriteFile(file, data, chunk, &written, nullptr) == 0) return reason_.take();
    data += written;
    count -= written;
  }
  return close();
}

void ItemFile::discard(const char* name, bool made) {
  const HANDLE file = handleOf(handle_);
  LARGE_INTEGER start{};
  if (handle_ != -1 && SetFilePointerEx(file, start, nullptr, FILE_BEGIN) != 0) SetEndOfFile(file);
  close();
  if (!made) return;
  // Only the very file this object made, under the name that made it (a
  // link there, opened as itself, has an identity of its own).
  WidePath wide;
  if (!toWide(name, wide)) return;
  const HANDLE named =
      CreateFileW(wide.text(), DELETE, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                  nullptr, OPEN_EXISTING, FILE_FLAG_OPEN_REPARSE_POINT, nullptr);
  if (named == INVALID_HANDLE_VALUE) return;
  FileIdentity now;
  FILE_DISPOSITION_INFO remove{TRUE};
  if (handleIdentity(named, &now) && sameFile(now, identity_))
    SetFileInformationByHandle(named, FileDispositionInfo, &remove, sizeof remove);
  CloseHandle(named);
}

bool ItemFile::close() {
  if (handle_ == -1) return true;
  const bool closed = CloseHandle(handleOf(handle_)) != 0;
  handle_ = -1;
  return closed || reason_.take();
}
