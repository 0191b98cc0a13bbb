// The host's calls on POSIX systems (see platform.h).
#include <fcntl.h>
#include <iconv.h>
#include <langinfo.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <clocale>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <initializer_list>

#include "tool/platform.h"

namespace {

FileIdentity identityOf(const struct stat& status) {
  return {static_cast<uint64_t>(status.st_dev), static_cast<uint64_t>(status.st_ino),
          static_cast<uint64_t>(status.st_ctim.tv_sec) * 1000000000u +
              static_cast<uint64_t>(status.st_ctim.tv_nsec)};
}

// The first interruption's signal. The handler only sets it; the run looks
// at it between items.
volatile sig_atomic_t interruption = 0;

extern "C" void onInterruption(int signal) {
  if (interruption == 0) interruption = signal;
}

void catchInterruption(int signal) {
  struct sigaction action {};
  // An interruption ignored when the run began (nohup) stays ignored.
  if (sigaction(signal, nullptr, &action) != 0 || action.sa_handler == SIG_IGN) return;
  action.sa_handler = onInterruption;
  sigemptyset(&action.sa_mask);
  // Calls are not resumed: a run that waits on a pipe or a FIFO (the image,
  // standard output) ends when interrupted. A read or write of a file on a
  // disk is never cut short by a signal.
  action.sa_flags = 0;
  sigaction(signal, &action, nullptr);
}

// Without waiting: a FIFO with no reader fails at once (ENXIO) rather than
// blocking; no terminal becomes the controlling one.
constexpr int kItemFlags = O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC;

// Opens the existing file `path` for writing, as the file it was when
// looked at, so that a device swapped in between is never opened (opening a
// serial line resets many boards). -1 with errno, ENXIO when it is neither
// a regular file nor a directory (which the open refuses, with its reason).
int openExisting(const char* path) {
  struct stat status;
#ifdef O_PATH
  const int seen = ::open(path, O_PATH | O_CLOEXEC);
  if (seen < 0) return -1;
  int fd = -1;
  if (fstat(seen, &status) == 0) {
    char self[32];
    snprintf(self, sizeof self, "/proc/self/fd/%d", seen);
    if (!S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
      errno = ENXIO;
    } else if ((fd = ::open(self, kItemFlags)) < 0 && errno == ENOENT) {
      fd = ::open(path, kItemFlags);  // no /proc: by its name again
    }
  }
  const int error = errno;
  ::close(seen);
  errno = error;
  return fd;
#else
  if (stat(path, &status) == 0 && !S_ISREG(status.st_mode) && !S_ISDIR(status.st_mode)) {
    errno = ENXIO;
    return -1;
  }
  return ::open(path, kItemFlags);
#endif
}

// Opens `name` for writing, without truncating it: first as a new file
// (which never follows a link), so that it is known whether the run made it
// (`*created`); then as the existing one; where that is a link that leads
// nowhere yet, the file it names is made, as a new file. The descriptor, or
// -1 with errno (ENXIO: no regular file).
int openItem(const char* name, bool* created) {
  char path[PATH_MAX];
  snprintf(path, sizeof path, "%s", name);
  int fd = -1;
  for (int links = 0; fd < 0 && links < 8; ++links) {
    fd = ::open(path, kItemFlags | O_CREAT | O_EXCL, 0666);
    *created = fd >= 0;
    if (fd >= 0 || errno != EEXIST) break;
    fd = openExisting(path);
    char target[PATH_MAX];
    const ssize_t length =
        fd < 0 && errno == ENOENT ? readlink(path, target, sizeof target - 1) : -1;
    if (length < 0) break;
    target[length] = '\0';
    // A relative target is relative to the link's directory.
    const char* slash = strrchr(path, '/');
    const int directory = target[0] == '/' || slash == nullptr ? 0 : int(slash - path + 1);
    if (snprintf(path + directory, sizeof path - directory, "%s", target) >=
        static_cast<int>(sizeof path) - directory) {
      errno = ENAMETOOLONG;
      break;
    }
  }
  return fd;
}

}  // namespace

bool Reason::take() {
  return takeErrno(errno);
}

void prepareProcess() {
  for (int fd = 0; fd <= 2; ++fd) {
    // open() takes the lowest free descriptor: the closed one.
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF && open("/dev/null", O_RDWR) != fd) break;
  }
  signal(SIGPIPE, SIG_IGN);
  signal(SIGXFSZ, SIG_IGN);
  for (int caught : {SIGINT, SIGTERM, SIGHUP}) catchInterruption(caught);
  setlocale(LC_CTYPE, "");
}

int pendingInterruption() {
  return interruption;
}

const char* interruptionName(int interruption) {
  switch (interruption) {
    case SIGINT:
      return "SIGINT";
    case SIGTERM:
      return "SIGTERM";
    case SIGHUP:
      return "SIGHUP";
    default:
      return "a signal";
  }
}

int interruptedStatus(int interruption) {
  return 128 + interruption;
}

void endByInterruption(int interruption) {
  fflush(nullptr);
  signal(interruption, SIG_DFL);
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, interruption);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  raise(interruption);
  _exit(interruptedStatus(interruption));
}

Display displayOf(FILE* stream) {
  return isatty(fileno(stream)) ? Display::kTerminal : Display::kBytes;
}

Encoding terminalEncoding() {
  const char* codeset = nl_langinfo(CODESET);
  if (strcmp(codeset, "UTF-8") == 0) return Encoding::kUtf8;
  // A UTF-8 locale the system lacks still means a UTF-8 terminal.
  for (const char* name : {"LC_ALL", "LC_CTYPE", "LANG"}) {
    const char* value = getenv(name);
    if (value == nullptr || value[0] == '\0') continue;
    if (strstr(value, "UTF-8") != nullptr || strstr(value, "utf8") != nullptr)
      return Encoding::kUtf8;
    break;
  }
  return strcmp(codeset, "ANSI_X3.4-1968") == 0 || strcmp(codeset, "ASCII") == 0 ? Encoding::kAscii
                                                                                 : Encoding::kOther;
}

size_t decodeShiftJis(const char* text, size_t length, char32_t* out, size_t size) {
  // glibc's CP932 is the code page itself; plain Shift_JIS lacks its extensions.
  iconv_t converter = iconv_open("UTF-32LE", "CP932");
  if (converter == reinterpret_cast<iconv_t>(-1)) converter = iconv_open("UTF-32LE", "SHIFT_JIS");
  size_t count = 0;
  for (size_t at = 0; at < length && count < size;) {
    unsigned char bytes[4];
    char* in = const_cast<char*>(text + at);
    char* to = reinterpret_cast<char*>(bytes);
    size_t inLeft = length - at < 2 ? length - at : 2, toLeft = sizeof bytes;
    // One character at a time: a byte that starts none stands for itself.
    const bool none = converter == reinterpret_cast<iconv_t>(-1);
    if (!none) iconv(converter, &in, &inLeft, &to, &toLeft);
    if (none || toLeft != 0) {
      out[count++] = static_cast<unsigned char>(text[at]) < 0x80 && none ? text[at] : 0xFFFD;
      ++at;
      if (!none) iconv(converter, nullptr, nullptr, nullptr, nullptr);
      continue;
    }
    out[count++] = static_cast<char32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16) |
                   static_cast<char32_t>(bytes[3]) << 24;
    at = static_cast<size_t>(in - text);
  }
  if (converter != reinterpret_cast<iconv_t>(-1)) iconv_close(converter);
  return count;
}

size_t encodeInLocale(char32_t c, char* out) {
  mbstate_t state{};
  const size_t n = wcrtomb(out, static_cast<wchar_t>(c), &state);
  return n == static_cast<size_t>(-1) ? 0 : n;
}

size_t decodeInLocale(const char* text, size_t length, char32_t* c) {
  mbstate_t state{};
  wchar_t wide = 0;
  const size_t n = mbrtowc(&wide, text, length, &state);
  *c = static_cast<char32_t>(wide);
  return n == static_cast<size_t>(-1) || n == static_cast<size_t>(-2) ? 0 : n;
}

bool writeConsole(FILE* stream, const char* text, size_t length) {
  return fwrite(text, 1, length, stream) == length;
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

FILE* openImageFile(const char* path, Reason& why) {
  FILE* stream = fopen(path, "rb");
  struct stat status;
  if (stream == nullptr || fstat(fileno(stream), &status) != 0) {
    why.take();
    if (stream != nullptr) fclose(stream);
    return nullptr;
  }
  // A directory tells why by its first read; a terminal or a socket is no image.
  if (S_ISCHR(status.st_mode) || S_ISSOCK(status.st_mode)) {
    fclose(stream);
    why.say("not a file or a pipe");
    return nullptr;
  }
  return stream;
}

FILE* openTemporaryFile(const char** directory, Reason& why) {
  static char path[4096];
  const char* folder = getenv("TMPDIR");
  if (folder == nullptr || folder[0] == '\0') folder = "/tmp";
  *directory = folder;
  if (snprintf(path, sizeof path, "%s/d88extract-XXXXXX", folder) >=
      static_cast<int>(sizeof path)) {
    why.takeErrno(ENAMETOOLONG);
    return nullptr;
  }
  // Unnamed at once: nothing is left behind, whatever ends the run.
  const int fd = mkostemp(path, O_CLOEXEC);
  if (fd < 0) {
    why.take();
    return nullptr;
  }
  unlink(path);
  FILE* stream = fdopen(fd, "w+b");
  if (stream == nullptr) {
    why.take();
    close(fd);
  }
  return stream;
}

bool makeDirectory(const char* name, Reason& why) {
  return mkdir(name, 0777) == 0 || errno == EEXIST || why.take();
}

StartDirectory::~StartDirectory() {
  if (handle_ >= 0) close(static_cast<int>(handle_));
}

bool StartDirectory::hold() {
  // O_PATH, where there is one, needs no permission to read the directory.
#ifdef O_PATH
  handle_ = open(".", O_PATH | O_DIRECTORY | O_CLOEXEC);
#else
  handle_ = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
#endif
  return handle_ >= 0 || reason_.take();
}

bool StartDirectory::enter(const char* name) {
  return (handle_ >= 0 || hold()) && (chdir(name) == 0 || reason_.take());
}

bool StartDirectory::returnTo() {
  // The descriptor is the directory itself, whatever names lead to it now.
  return fchdir(static_cast<int>(handle_)) == 0 || reason_.take();
}

ItemFile::~ItemFile() {
  close();
}

bool ItemFile::open(const char* name) {
  struct stat status;
  const int fd = openItem(name, &created_);
  notRegular_ = fd < 0 && errno == ENXIO;
  if (fd < 0) return reason_.take();
  handle_ = fd;
  if (fstat(fd, &status) != 0) return reason_.take();
  identity_ = identityOf(status);
  notRegular_ = !S_ISREG(status.st_mode);
  empty_ = status.st_size == 0;
  return !notRegular_;
}

bool ItemFile::write(const uint8_t* data, size_t count) {
  const int fd = static_cast<int>(handle_);
  if (!empty_ && ftruncate(fd, 0) != 0) return reason_.take();
  while (count > 0) {
    const ssize_t written = ::write(fd, data, count);
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) return reason_.take();
    data += written;
    count -= static_cast<size_t>(written);
  }
  // A file system that writes later (NFS) tells its errors at a close:
  // closing a copy of the handle hears them while the item can still be
  // emptied through the handle. Without a descriptor to spare, the close
  // itself tells, and discard() finds the file by its name.
  const int copy = dup(fd);
  if (copy >= 0 && ::close(copy) != 0) return reason_.take();
  struct stat status;
  if (fstat(fd, &status) == 0) identity_ = identityOf(status);
  return close();
}

void ItemFile::discard(const char* name, bool made) {
  int fd = static_cast<int>(handle_);
  struct stat status;
  if (fd < 0) {
    fd = ::open(name, kItemFlags);
    if (fd >= 0 && (fstat(fd, &status) != 0 || !sameFile(identityOf(status), identity_))) {
      ::close(fd);
      fd = -1;
    }
    handle_ = fd;
  }
  // Where even this fails nothing more can be done: the write's error is told.
  if (fd >= 0 && ftruncate(fd, 0) != 0) reason_.take();
  close();
  if (!made) return;
  // Only the very file this run made, where it is now named: the name
  // itself, or the file a link of that name leads to.
  char path[PATH_MAX];
  if (realpath(name, path) != nullptr && lstat(path, &status) == 0 &&
      sameFile(identityOf(status), identity_))
    unlink(path);
}

bool ItemFile::close() {
  if (handle_ == -1) return true;
  const bool closed = ::close(static_cast<int>(handle_)) == 0;
  handle_ = -1;
  return closed || reason_.take();
}
