// The calls of the host: one header, with platform_posix.cpp and
// platform_win32.cpp behind it (the build compiles one of them). They cover
// the start and end of the process, the image's file, directories, file
// identities, the files items go to, and terminals.
//
// A call that fails returns false (or null) and gives the system's reason
// through a Reason, its own or one the caller passes: nothing is kept in a
// global but what a signal handler must reach.
#ifndef TOOL_PLATFORM_H_
#define TOOL_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>

// The system's reason for a failed call, as text.
class Reason {
 public:
  const char* text() const { return text_; }
  // Takes the reason of the call that just failed (errno; on Windows,
  // GetLastError()); returns false, as such a call does.
  bool take();
  // Takes the reason errno value `error` gives (EIO, ENOMEM ...).
  bool takeErrno(int error) { return say(strerror(error)); }
  // Takes `text` as the reason.
  bool say(const char* text) {
    snprintf(text_, sizeof text_, "%s", text);
    return false;
  }

 private:
  char text_[256] = "";
};

// Makes the process safe to run however it was started, before anything is
// opened: a standard descriptor (0, 1 or 2) that is closed is opened on the
// null device, so that no file the tool opens takes its place; a closed
// pipe or a file-size limit makes a write fail with its reason instead of
// ending the process. Takes the locale's encoding for terminals. Catches the
// interruptions (SIGINT, SIGTERM, SIGHUP; on Windows Ctrl+C, Ctrl+Break and
// the console closing), so that the run can end between items.
void prepareProcess();

// The first interruption that arrived since prepareProcess(), 0 while none
// has: the signal's number, or on Windows the console event's number plus 1.
int pendingInterruption();
// The interruption's name for messages: "SIGINT"; on Windows "Ctrl+C",
// "Ctrl+Break" or "the console closing".
const char* interruptionName(int interruption);
// The exit status that tells the interruption: 128 + the signal's number,
// as a shell reports it; on Windows STATUS_CONTROL_C_EXIT (0xC000013A), as
// for any console program that Ctrl+C ends.
int interruptedStatus(int interruption);
// Ends the process as the interruption would have, had it not been caught
// (on POSIX the signal is raised again with its default action, so that the
// shell sees it), with interruptedStatus() where it cannot.
[[noreturn]] void endByInterruption(int interruption);

// How a stream shows text.
enum class Display {
  kBytes,     // a file or a pipe: bytes go as they are
  kTerminal,  // a terminal: text in its encoding (terminalEncoding())
  kConsole,   // a Windows console: lines go to it as UTF-16 (writeConsole)
};
Display displayOf(FILE* stream);

// The encoding a terminal shows, as the locale tells it.
enum class Encoding { kUtf8, kAscii, kOther };
Encoding terminalEncoding();

// Decodes the Shift_JIS (code page 932) `text` into `out` (room for `size`
// code points, at least `length`): one code point a character, U+FFFD for
// each byte that starts none. Returns the code points written.
size_t decodeShiftJis(const char* text, size_t length, char32_t* out, size_t size);

// Writes code point `c` into `out` (room for 16 bytes) as the locale's
// encoding (kOther) has it; returns the bytes, 0 when it has none.
size_t encodeInLocale(char32_t c, char* out);
// Decodes the character at `text` (`length` bytes) as the locale's encoding
// (kOther) has it into `*c`; returns its bytes, 0 when they are none.
size_t decodeInLocale(const char* text, size_t length, char32_t* c);

// Writes the UTF-8 `text` to the Windows console `stream` shows on, as UTF-16
// (any console code page shows it), each "\n" as a line end. False where
// the console cannot be written.
bool writeConsole(FILE* stream, const char* text, size_t length);

// What tells one file from another on the host, whatever names lead to it:
// device and inode, or volume serial number and file index. A volume of
// kAnyVolume is one the host did not tell. `changed` tells a file whose
// number a removed one had (POSIX: the inode's change time, in ns; 0 where
// it is not known); sameFile() does not look at it.
struct FileIdentity {
  uint64_t volume;
  uint64_t file;
  uint64_t changed;
};
constexpr uint64_t kAnyVolume = UINT64_MAX;

// Whether `a` and `b` are the same file; a file whose volume is not known is
// taken for any file with its index, so that it is never written over.
inline bool sameFile(const FileIdentity& a, const FileIdentity& b) {
  return a.file == b.file &&
         (a.volume == b.volume || a.volume == kAnyVolume || b.volume == kAnyVolume);
}
// Whether `a` and `b` are the same file, and nothing changed it between.
inline bool sameUnchangedFile(const FileIdentity& a, const FileIdentity& b) {
  return sameFile(a, b) && a.changed == b.changed;
}

// The identity of the file `path` names, following links; false when there is
// no such file or it cannot be looked at.
bool pathIdentity(const char* path, FileIdentity* identity);

// The identity of the file `stream` reads or writes; false when it is none
// that can be looked at (a console on Windows, say).
bool streamIdentity(FILE* stream, FileIdentity* identity);

// Opens the image `path` for binary reading, as the file its name gives (on
// Windows never a device its name may also mean). Null with the reason when
// it cannot be opened, or is neither a file nor a pipe.
FILE* openImageFile(const char* path, Reason& why);

// Makes a new, unnamed file for reading and writing in the temporary
// directory ($TMPDIR, else /tmp; on Windows the user's temporary folder),
// which goes when it is closed, however the process ends. Null with the
// reason otherwise. `*directory` is set to the directory, for messages,
// either way.
FILE* openTemporaryFile(const char** directory, Reason& why);

// Creates directory `name` in the current directory. True when it was made,
// or when something of that name exists already (entering it tells whether
// it is a directory); false with the reason otherwise.
bool makeDirectory(const char* name, Reason& why);

// The directory the run started in, held from the first enter() on, so that
// returnTo() comes back to it whatever its path leads to by then (a link,
// a junction or a drive letter pointed elsewhere): never by "..".
class StartDirectory {
 public:
  StartDirectory() = default;
  ~StartDirectory();
  StartDirectory(const StartDirectory&) = delete;
  StartDirectory& operator=(const StartDirectory&) = delete;

  // Makes `name`, relative to the current directory, the current one.
  bool enter(const char* name);
  // Makes the start directory the current one again, and checks that it
  // is; false, with the current directory unknown, when it cannot be.
  bool returnTo();
  const char* reason() const { return reason_.text(); }

 private:
  bool hold();
  intptr_t handle_ = -1;  // a descriptor, or a HANDLE
  Reason reason_;
};

// A file an item is written to. It is opened without being truncated, so that
// what it is (its identity, whether it is a regular file) is known before a
// byte of it changes, and no name can be swapped between that check and the
// write. Closed when destroyed.
class ItemFile {
 public:
  ItemFile() = default;
  ~ItemFile();
  ItemFile(const ItemFile&) = delete;
  ItemFile& operator=(const ItemFile&) = delete;

  // Opens `name` in the current directory for writing, creating it (or the
  // file a dangling link names) when there is none, without truncating it
  // and without waiting. What `name` leads to is refused when it is no
  // regular file, looked at before it is opened for writing (on Linux
  // through a handle that only looks, so that no device is ever opened,
  // even one swapped in; opening a serial line resets many boards) and again
  // on the open file; a FIFO is not waited for. False with the reason
  // otherwise; notRegular() tells when that reason is that `name` is no
  // regular file.
  bool open(const char* name);
  // Whether open() made the file.
  bool created() const { return created_; }
  bool notRegular() const { return notRegular_; }
  const FileIdentity& identity() const { return identity_; }
  // Empties the file, writes `count` bytes into it and closes it; false with
  // the reason when any of that failed. identity() is then the file's as
  // this write left it.
  bool write(const uint8_t* data, size_t count);
  // After a failed write(): empties the file (through the handle, or where
  // that is closed, through its name when it is still this file), closes
  // it, and removes the file when this run made it (`made`: this object or
  // an earlier one), where it is still named; so no partial item stays and
  // no name the user made goes.
  void discard(const char* name, bool made);
  const char* reason() const { return reason_.text(); }

 private:
  bool close();

  intptr_t handle_ = -1;
  bool created_ = false;
  bool notRegular_ = false;
  bool empty_ = false;  // nothing to truncate (a truncation costs a flush on some file systems)
  FileIdentity identity_{};
  Reason reason_;
};

#endif  // TOOL_PLATFORM_H_
