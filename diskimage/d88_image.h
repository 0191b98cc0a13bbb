// Reader of D88 floppy-disk image files.
//
// The D88 layout, all numbers little-endian:
//
//   A file is one or more disks back to back. Each disk starts with a
//   DiskHeader (688 bytes):
//     0   16  name, NUL-padded (a name of 16 characters has no NUL)
//     16  11  reserved, write-protect flag (not read)
//     27   1  media type
//     28   4  disk size: bytes from this header to the start of the next disk
//     32 656  track table: 164 offsets from the start of this disk;
//             0 means the track is absent
//
//   A track is a run of sectors in recorded order (any order: sector numbers
//   need not ascend, and an ID may repeat). Each sector is a SectorHeader
//   (16 bytes) followed by its data:
//     0   1  C, cylinder       2   1  R, sector number
//     1   1  H, head           3   1  N, size code (128 << N bytes)
//     4   2  sector count of the track, repeated in every header; 0: empty track
//     6   8  density, deleted mark, status, reserved (not read)
//     14  2  data size: the bytes of data that follow this header
//
//   The data size is what is read and skipped; it need not match N.
//
// The reader never prints and never changes the file. Offsets are held as
// signed 32-bit numbers, so images of up to 2^31 - 1 bytes are handled; every
// position is computed in 64 bits and a position outside that range counts as
// "not found".
//
// A lookup answers as a walk of its track from the first header would, from
// the selected disk's track index (track_index.h), built at the disk's first
// lookup and kept for a later disk whose tracks start at the same positions
// (a disk found again). A build that cannot get its memory is a read error,
// ENOMEM. The answers are those of the file as the index read it: a file
// changed since gives fewer, never another sector's data. The file is read
// through the window of an ImageFile (image_file.h), which selectDisk()
// forgets, so that the disk's header is read afresh, but where it selects the
// header it selected last (a disk the table finds again).
#ifndef DISKIMAGE_D88_IMAGE_H_
#define DISKIMAGE_D88_IMAGE_H_

#include <cstdint>
#include <cstdio>

#include "diskimage/image_file.h"
#include "diskimage/track_index.h"

namespace d88test {
struct ReaderWork;
}

class D88Image {
 public:
  static constexpr int kMaxDisks = 64;
  static constexpr int kMaxTracks = TrackIndex::kTracks;  // 164
  static constexpr int kNameLength = 16;
  static constexpr int kTrackTableOffset = 32;
  static constexpr int kDiskHeaderSize = kTrackTableOffset + kMaxTracks * 4;  // 688

  D88Image() { clearSelection(); }  // not copyable: it owns the file and the index

  // With a path: closes any open file, opens `path` for binary reading and
  // walks the disk headers to build the disk table (at most 64 disks; a disk
  // size of 0 finds the same header again until the table is full). The file
  // must be one that can be positioned: a pipe is for the caller to copy.
  // Returns false when the file cannot be opened or its first header cannot
  // be read (a directory, say), with readError() telling why where the file
  // did; a file with no complete header gives true with diskCount() 0. A
  // later header that cannot be read gives true with readError() set.
  // With nullptr: closes the file, if any, and returns true.
  bool open(const char* path);
  // Like open(path) with a stream the caller opened for binary reading (a
  // file, or bytes in memory) and buffered as it chose (open(path) leaves
  // files unbuffered); the reader takes it over and closes it. False, with no
  // file open, when `stream` is null or cannot be read.
  bool openStream(FILE* stream);

  int diskCount() const { return diskCount_; }
  // Whether the file holds more than the disk table: a complete header after
  // the 64th disk, or part of a header after the last (a cut file).
  bool moreDisks() const { return moreDisks_; }
  bool headerCutShort() const { return headerCutShort_; }
  // Where a disk's size ended the disk table before the end of the file: the
  // first disk whose size leads back (0 or less: the walk finds disks again,
  // or none), past what an offset can address, or past the end of the file;
  // where it leads; and the bytes at the end of the file that no disk found
  // reaches (0 where the file's size is not known).
  enum class Leads { kNowhereAmiss, kBack, kPastOffsets, kPastEnd };
  struct TableEnd {
    int disk = -1;  // -1: no size did
    Leads leads = Leads::kNowhereAmiss;
    int64_t to = 0;
    int64_t unread = 0;
  };
  const TableEnd& tableEnd() const { return tableEnd_; }

  // Makes disk `index` (0-based) the selected disk, loading its name, media
  // type, size and track table. False with nothing selected when no file is
  // open, the index is out of range, or its header can no longer be read.
  bool selectDisk(int index);

  int currentDisk() const { return currentDisk_; }
  // The selected disk's name: at most 16 characters, always terminated;
  // empty when nothing is selected.
  const char* diskName() const { return name_; }
  int mediaType() const { return mediaType_; }
  // Whether the file ends before the selected disk does, as its size says.
  bool diskCutShort() const { return diskCutShort_; }

  // The system's error number of the first read since open() that failed for
  // another reason than the end of the file, ENOMEM when a track index could
  // not get its memory, or kShrunk when the file ended before the size it
  // had at open(); 0 while none has. From then on every read of the file
  // finds nothing, so no answer is made of bytes that may be wrong.
  static constexpr int kShrunk = ImageFile::kShrunk;
  int readError() const { return file_.readError(); }

  // Sector numbers of a track for runs: readSectors() steps from `last` to
  // `first` of the next track. Not checked; kept across selectDisk().
  void setSectorRange(int first, int last) {
    firstSector_ = first;
    lastSector_ = last;
  }

  // Copies up to `maxLen` bytes of the data of the first sector with ID
  // (c, h, r, n) in track index `track` into `buffer`. Returns the bytes
  // copied: 0 when the track is unusable, the sector is absent or its data
  // size is 0; fewer than asked when the file ends inside the data.
  int readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLen);

  // Writes the IDs (C, H, R, N) of the sectors of track index `track`, in
  // recorded order, into `out`: as many whole IDs as fit in `maxLen` bytes.
  // Returns the bytes written, a multiple of 4; stops early at a header cut
  // short by the end of the file.
  int readSectorIds(int track, uint8_t* out, int maxLen);

  // Reads `length` bytes starting at sector (c, h, r, n) of track index
  // `track` into `buffer`, sector after sector through the sector range and
  // on to the next head and cylinder (track index + 1). Returns the bytes
  // read: `length`, or the bytes of the whole sectors before the first one
  // that is missing or short. A size code whose sector size does not fit a
  // positive 32-bit length reads nothing. `buffer` must hold `length` bytes.
  int readSectors(int track, int c, int h, int r, int n, uint8_t* buffer, int length);

 private:
  friend struct d88test::ReaderWork;  // the work counters, for tests and benchmarks

  void clearSelection();

  ImageFile file_;
  TrackIndex index_;
  int32_t currentDisk_;
  int32_t diskCount_ = 0;
  int32_t firstSector_ = 1;
  int32_t lastSector_ = 16;
  int32_t diskStart_[kMaxDisks] = {};
  // The file position of each track's first header in the selected disk;
  // -1 where the track is unusable (all of them when nothing is selected).
  int64_t trackStart_[kMaxTracks];
  bool indexed_;  // index_ holds the selected disk's track index
  bool moreDisks_ = false;
  bool headerCutShort_ = false;
  TableEnd tableEnd_;
  bool diskCutShort_;
  int32_t mediaType_;
  char name_[kNameLength + 1] = {};
};

#endif  // DISKIMAGE_D88_IMAGE_H_
