// The item writer: reads an item's sectors and writes them to a file, for
// both disk steps.
//
// It keeps the files no item may be written over (the image, its copy, the
// files standard output and error go to) and the items written into the
// start directory, whose names several disks may write: a later disk's item
// replaces an earlier one's, and says so.
#ifndef TOOL_ITEM_WRITER_H_
#define TOOL_ITEM_WRITER_H_

#include <cstdint>

#include "tool/platform.h"

class D88Image;
class Reporter;

// The sector buffer: every recognition read and item read lands here. The
// largest read the tool makes is 65,535 bytes.
constexpr int kSectorBufferSize = 409600;

// Where an item goes: the disk it comes from, and the directory it is
// written into as messages name it: "" for the start directory, or "D000/".
struct ItemPlace {
  int disk;
  const char* directory;
};

class ItemWriter {
 public:
  // `sector` is the sector buffer, kSectorBufferSize bytes.
  ItemWriter(D88Image& image, uint8_t* sector, Reporter& reporter);
  ItemWriter(const ItemWriter&) = delete;
  ItemWriter& operator=(const ItemWriter&) = delete;

  // Keeps the file `identity` from being written as an item; `why` says
  // why ("it is the image being read").
  void guard(const FileIdentity& identity, const char* why);

  // Reads `skip` + `length` bytes as one sector run from (c, h, r, n) in track
  // index `track` and writes bytes skip .. skip + length - 1 of it to the file
  // `name` in the current directory. Only bytes read from the image are
  // written: a run that comes up short gives a shorter file, told by a
  // warning. Returns false, creating no file, when the run read nothing
  // (told) or met a read error (for the caller to tell); false, told as an
  // error, when `name` is a guarded file, no regular file (a FIFO, a
  // device), or could not be written in full (no partial item is left, and
  // no name the user made is removed).
  bool extractItem(const ItemPlace& place, const char* name, int track, int c, int h, int r, int n,
                   int skip, int length);

  int itemsWritten() const { return itemsWritten_; }
  // The item written last, as messages name it ("D003/017"); empty when none.
  const char* lastWritten() const { return lastWritten_; }

 private:
  // An item written into the start directory: its name, the disk that wrote
  // it last, and whether the run made that file, and which file it is.
  struct Written {
    char name[8];
    int disk;
    bool created;
    FileIdentity identity;
  };
  struct Guarded {
    FileIdentity identity;
    const char* why;
  };
  // The Disk A items and the Disk B items.
  static constexpr int kNamesInStart = 64 + 7;

  Written* writtenBefore(const char* name);
  bool writeFile(const ItemPlace& place, const char* name, Written* before, const uint8_t* data,
                 size_t count);

  D88Image& image_;
  uint8_t* sector_;
  Reporter& reporter_;
  Guarded guarded_[4] = {};
  int guardedCount_ = 0;
  Written written_[kNamesInStart] = {};
  int writtenCount_ = 0;
  int itemsWritten_ = 0;
  char lastWritten_[24] = "";
};

#endif  // TOOL_ITEM_WRITER_H_
