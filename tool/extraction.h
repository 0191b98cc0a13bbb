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

// What the steps of one run share.
struct Extraction {
  D88Image& image;
  FILE* out;           // listing and progress
  FILE* err;           // notices and errors
  uint8_t* sector;     // kSectorBufferSize bytes
  uint8_t* directory;  // kDirectoryBufferSize bytes
  const char* where;   // prefix naming the current directory in messages: "" or "D000/"
  bool failed;         // something could not be read or written: the run ends with 1
  int outError;        // the reason the first write to `out` failed; 0 while none has
  // Files no item may be written over, and why: the image, and the files
  // standard output and standard error go to.
  FileIdentity kept[3];
  const char* keptBecause[3];
  int keptCount;
};

// Writes one error line "error: WHAT WHERE+NAME: REASON" and marks the run failed.
void reportError(Extraction& x, const char* what, const char* name, const char* reason);

// Writes listing text to `out` as printf() does, keeping the reason of the
// first write that fails: the run goes on, and ends by telling it.
#ifdef __GNUC__
__attribute__((format(printf, 2, 3)))
#endif
void print(Extraction& x, const char* format, ...);

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
