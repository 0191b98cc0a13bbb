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
// "not found". Nothing is allocated: the tables live inside the object, the
// track index in static storage (one for the process: a reader whose index
// another reader has since built over builds it again).
//
// A lookup finds the first sector with its ID in the headers its track's walk
// reads from the first (see track_index.h). It walks up to 32 headers itself,
// enough for any ordinary track. The first two lookups of a disk that need
// more, on two tracks, walk on to the end; the next one has the disk's track
// index built (once per selected disk, shared by all its tracks), and every
// later lookup on that disk asks the index. So a selected disk reads the
// headers its tracks reach once for the index, plus two walks and at most 32
// headers a lookup, however many lookups it serves; a lookup then costs at
// most 8 binary searches.
//
// Reads go through a window of the file's bytes (the last 64 KiB read), so a
// walk costs no system call while it stays inside the window. The window is
// refilled when a read falls outside it; the window and the index are dropped
// whenever a disk is selected, so a file changed in between is read afresh.
#ifndef DISKIMAGE_D88_IMAGE_H_
#define DISKIMAGE_D88_IMAGE_H_

#include <cstdint>
#include <cstdio>

#include "diskimage/track_index.h"

class D88Image {
 public:
  static constexpr int kMaxDisks = 64;
  static constexpr int kMaxTracks = TrackIndex::kTracks;  // 164
  static constexpr int kNameLength = 16;
  static constexpr int kTrackTableOffset = 32;
  static constexpr int kDiskHeaderSize = kTrackTableOffset + kMaxTracks * 4;  // 688
  static constexpr int kSectorHeaderSize = 16;
  // Headers a lookup walks before it turns to the track index.
  static constexpr int kWalkLimit = 32;

  D88Image();
  ~D88Image();
  D88Image(const D88Image&) = delete;
  D88Image& operator=(const D88Image&) = delete;

  // With a path: closes any open file, opens `path` for binary reading and
  // walks the disk headers to build the disk table (at most 64 disks; a disk
  // size of 0 finds the same header again until the table is full). A stream
  // that cannot be positioned (a pipe) is first copied into an unnamed
  // temporary file and read from there. Returns false when the file cannot be
  // opened or its first header cannot be read (a directory, say); a file with
  // no complete header gives true with diskCount() 0. A copy that fails, or a
  // later header that cannot be read, gives true with readError() set.
  // With nullptr: closes the file, if any, and returns true.
  bool open(const char* path);
  // Like open(path) with a stream the caller opened for binary reading (a
  // file, or bytes in memory) and buffered as it chose (open(path) leaves
  // files unbuffered); the reader takes it over and closes it. False, with no
  // file open, when `stream` is null or cannot be read.
  bool openStream(FILE* stream);

  int diskCount() const { return diskCount_; }

  // File offset of disk `index` as found by open(); the entry just after the
  // last disk holds the offset where the walk found no complete header.
  // 0 for an index outside 0..63.
  int32_t diskStart(int index) const;

  // Makes disk `index` (0-based) the selected disk, loading its name, media
  // type, size and track table. False with nothing selected when no file is
  // open, the index is out of range, or its header can no longer be read.
  bool selectDisk(int index);

  int currentDisk() const { return currentDisk_; }
  // The selected disk's name: at most 16 characters, always terminated;
  // empty when nothing is selected.
  const char* diskName() const { return name_; }
  int mediaType() const { return mediaType_; }

  // The system's error number of the first read since open() that failed for
  // another reason than the end of the file; 0 while none has. From that
  // failure on, every read of the file finds nothing, so no answer is made of
  // bytes that may be wrong.
  int readError() const { return readError_; }

  // Sector numbers of a track for runs: readSectors() steps from `last` to
  // `first` of the next track. Not checked; kept across selectDisk().
  void setSectorRange(int first, int last);

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

  // Sector headers read since the reader was made: by walks, and by index
  // builds. A count of the work done, for benchmarks.
  int64_t headersRead() const { return headersRead_; }

  // Sets the headers a lookup walks before it turns to the index (0 to
  // 65,535; kWalkLimit by default). With 0 every lookup asks the index, as
  // the tests of the index and the fuzzers do; answers do not change.
  void setWalkLimit(int headers);

 private:
  // The 16 bytes of the sector header at `position`, counted: in the window
  // (loaded if need be), valid until the next read; null when they cannot be
  // read in full.
  const uint8_t* header(int64_t position);
  static const uint8_t* headerOf(void* image, int64_t position) {
    return static_cast<D88Image*>(image)->header(position);
  }
  // Walks the track record at `*position` for the first header with `id`,
  // reading at most `limit` headers. Returns 1 with `*position` at that
  // header and `*dataSize` its data size, 0 when the walk ends without it, -1
  // when the limit cut it short.
  int walk(int64_t* position, uint32_t id, int limit, int* dataSize);
  // Sets `*position` to the header of the first sector with `id` in the walk
  // of `track`, which starts there, and `*dataSize` to its data size; false
  // when there is none.
  bool findSector(int track, uint32_t id, int64_t* position, int* dataSize);
  bool indexReady() const;
  void dropIndex();
  bool buildIndex();
  bool trackPosition(int track, int64_t* position) const;
  // Reads up to `length` bytes at absolute file position `position` through
  // the window; returns the bytes read (0 for a position that cannot be a
  // file offset). Every read of the format fits the window: a disk header, a
  // sector header, or sector data (at most 65,535 bytes).
  int readAt(int64_t position, uint8_t* buffer, int length);
  // Loads the window from `position`, at least `length` bytes (at most
  // kWindowSize); false when the file cannot be read there.
  bool fillWindow(int64_t position, int length);
  // Replaces the open stream by a temporary copy of what it holds, up to the
  // largest offset the tables can hold; false when the copy failed.
  bool readFromCopy();
  // Keeps the reason of a read that failed (see readError()); returns false.
  bool failRead();
  void dropWindow();
  void clearSelection();

  FILE* file_;
  int32_t currentDisk_;
  int32_t diskCount_;
  int32_t firstSector_;
  int32_t lastSector_;
  int32_t diskStart_[kMaxDisks];
  int32_t diskSize_;
  int32_t diskOffset_;
  int32_t trackOffset_[kMaxTracks];
  int32_t mediaType_;
  char name_[kNameLength + 1];
  int32_t walkLimit_;
  int64_t headersRead_;
  uint32_t indexStamp_;         // the build of the shared index that is this disk's; 0: none
  bool walkedFar_[kMaxTracks];  // a lookup on the track walked past the limit
  int32_t farWalks_;            // lookups that walked past the limit to the end
  static constexpr int kFarWalks = 2;

  // Large enough for any sector's data (the data size is 16-bit) and a disk
  // header, small enough that the reader stays a few pages.
  static constexpr int kWindowSize = 64 * 1024;
  // What a read away from the window loads after another such read: a track
  // of ordinary sectors.
  static constexpr int kJumpSize = 8 * 1024;
  int64_t windowStart_;                    // file offset of window_[0]
  int32_t windowLength_;                   // valid bytes in window_
  bool windowAtEnd_;                       // the window ends at the end of the file
  int32_t jumpFill_;                       // bytes to load for a read away from the window
  uint8_t headerCopy_[kSectorHeaderSize];  // a header read across the window's end
  int readError_;                          // see readError()
  uint8_t window_[kWindowSize];
};

#endif  // DISKIMAGE_D88_IMAGE_H_
