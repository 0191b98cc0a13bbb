// The calls of the host that differ between POSIX and Windows: the start of
// the process, directories, file identities and the files items go to.
#ifndef TOOL_PLATFORM_H_
#define TOOL_PLATFORM_H_

#include <cstddef>
#include <cstdint>
#include <cstdio>

// Makes the process safe to run however it was started, before anything is
// opened, and takes the locale's encoding for terminals: a standard descriptor (0, 1 or 2) that is
// closed is opened on the null device, so that no file the tool opens can take its place and
// receive the listing or the notices; and a closed pipe or a file-size limit makes a write fail
// with its reason instead of ending the process by a signal.
void prepareProcess();

// How a stream shows text.
enum class Display {
  kBytes,     // a file or a pipe: bytes go as they are
  kTerminal,  // a terminal whose locale's encoding is not UTF-8
  kUtf8,      // a terminal whose locale's encoding is UTF-8
  kConsole,   // a Windows console: text goes to it as UTF-16 (writeConsole)
};
Display displayOf(FILE* stream);

// Writes the UTF-8 `text` to the Windows console `stream` shows on, as UTF-16
// (any console code page shows it), each "\n" as a line end.
void writeConsole(FILE* stream, const char* text);

// Makes a new, unnamed file for reading and writing in the temporary
// directory ($TMPDIR, else /tmp; on Windows the user's temporary folder),
// which goes when it is closed. Null with the system's reason otherwise.
// `*directory` is set to the directory, for messages, either way.
FILE* openTemporaryFile(const char** directory);

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

// The system's reason for the last failed call of this layer.
const char* systemError();

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
bool pathIdentity(const char* path, FileIdentity* identity);

// The identity of the file `stream` reads or writes; false when it is none
// that can be looked at (a console on Windows, say).
bool streamIdentity(FILE* stream, FileIdentity* identity);

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

  // Opens `name` in the current directory for writing, creating it when
  // there is none, without truncating it and without waiting (a FIFO with no
  // reader is refused at once). False with the system's reason otherwise;
  // notRegular() tells when the reason is that `name` is no regular file.
  bool open(const char* name);
  // Whether open() made the file, and the name is no link.
  bool created() const { return created_; }
  // Whether what open() opened, or failed to, is something other than a
  // regular file: a FIFO, a device.
  bool notRegular() const { return notRegular_; }
  const FileIdentity& identity() const { return identity_; }
  // Empties the file, writes `count` bytes into it and closes it; false with
  // the system's reason when any of that failed.
  bool write(const uint8_t* data, size_t count);
  // After a failed write(): empties the file through the handle, closes it,
  // and removes `name` when this object, or an earlier one of this run
  // (`createdBefore`), created the file and `name` still names it; so no
  // partial item stays and no name the user made goes.
  void discard(const char* name, bool createdBefore);

 private:
  bool close();

  intptr_t handle_ = -1;
  bool created_ = false;
  bool notRegular_ = false;
  bool empty_ = false;  // nothing to truncate (a truncation costs a flush on some file systems)
  FileIdentity identity_{};
};

#endif  // TOOL_PLATFORM_H_
