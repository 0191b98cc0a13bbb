// The extraction steps applied to every disk of the image, and the item
// writer they share.
#ifndef TOOL_EXTRACTION_H_
#define TOOL_EXTRACTION_H_

#include <cstdint>
#include <cstdio>

#include "tool/platform.h"

class D88Image;

// The sector buffer: every recognition read and item read lands here. The
// largest read the tool makes is 65,535 bytes.
constexpr int kSectorBufferSize = 409600;
// The directory buffer: a Disk A directory of 64 entries of 8 bytes.
constexpr int kDirectoryEntrySize = 8;
constexpr int kDirectoryEntries = 64;
constexpr int kDirectoryBufferSize = kDirectoryEntries * kDirectoryEntrySize;

// The Disk B items: DRIVER and MUS00 to MUS05.
constexpr int kDiskBItems = 7;

// What the steps of one run share.
struct Extraction {
  Extraction(D88Image& image, FILE* out, FILE* err, uint8_t* sector, uint8_t* directory);

  D88Image& image;
  FILE* out;           // listing and progress
  FILE* err;           // notices, warnings and errors
  uint8_t* sector;     // kSectorBufferSize bytes
  uint8_t* directory;  // kDirectoryBufferSize bytes
  Display outDisplay;  // how `out` shows text: disk names on a terminal lose their control bytes
  Display errDisplay;  // how `err` shows text: the notices in the terminal's encoding
  int disk = -1;       // the disk being extracted
  const char* where = "";  // prefix naming the current directory in messages: "" or "D000/"
  bool failed = false;     // something could not be read or written: the run ends with 1
  int outError = 0;        // the reason the first write to `out` failed; 0 while none has
  // Files no item may be written over, and why: the image (and its copy,
  // for a pipe), and the files standard output and standard error go to.
  FileIdentity kept[4] = {};
  const char* keptBecause[4] = {};
  int keptCount = 0;
  // The items written into the start directory, whose names later disks may
  // write again: each name, the disk that wrote it last, and whether the run
  // made the file.
  struct Written {
    char name[8];
    int disk;
    bool created;
  };
  Written written[kDirectoryEntries + kDiskBItems] = {};
  int writtenCount = 0;
};

// The Japanese notices: "Disk A を認識しました.", "Disk B を認識しました.",
// "ファイルをオープンできません.".
enum class Notice { kDiskA, kDiskB, kOpenFailure };

// Writes notice `notice` to `err` as Shift_JIS bytes, or, on a terminal that
// shows UTF-8 (or a Windows console), as text it can show.
void notice(Extraction& x, Notice notice);

// Writes listing text to `out` as printf() does, keeping the reason of the
// first write that fails: the run goes on, and ends by telling it.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void print(Extraction& x, const char* format, ...);

// Writes a line to `err` as printf() does, after what `out` holds so far, so
// that with both on one file each line follows what it is about.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void tell(Extraction& x, const char* format, ...);

// Writes one error line "error: WHAT WHERE+NAME: REASON" and marks the run failed.
void reportError(Extraction& x, const char* what, const char* name, const char* reason);

// `name` (a disk's name, bytes of the image) as it may be shown on `out`:
// on a terminal every control character as '?', so the image cannot drive it.
constexpr int kShownNameSize = 32;
const char* shownName(const Extraction& x, const char* name, char (&buffer)[kShownNameSize]);

// Reads `skip` + `length` bytes as one sector run from (c, h, r, n) in track
// index `track` and writes bytes skip .. skip + length - 1 of it to the file
// `name` in the current directory. Only bytes read from the image are written:
// a run that comes up short gives a shorter file. Returns false, creating no
// file, when the run read nothing or met a read error; false, reported, when
// `name` is one of the kept files (the image is never written, nor an output
// stream) or no regular file (a FIFO, a device), or when the file could not
// be written in full (no partial item is left, and no name the user made is
// removed).
bool extractItem(Extraction& x, const char* name, int track, int c, int h, int r, int n, int skip,
                 int length);

// The Disk A step for disk `index`: recognition, listing and items, in
// subdirectory "D%03d" of the index unless !makeSubdirectories. Returns false
// when the run must end at once: the disk was recognised but its directory
// cannot be read, or the step could not come back to the directory it
// started in (both reported, unless the cause is a read error of the image,
// which the run reports).
bool extractDiskA(Extraction& x, int index, bool makeSubdirectories);

// The Disk B step: recognition by signature, then DRIVER and MUS00..MUS05 in
// the current directory. Stops at a read error of the image.
void extractDiskB(Extraction& x);

#endif  // TOOL_EXTRACTION_H_
