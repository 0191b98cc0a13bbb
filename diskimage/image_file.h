// Reads of an image file through a window of its bytes, for the reader and
// its track index.
//
// The window holds up to 64 KiB of the file, loaded with a seek and a read (the
// read alone where the last one ended), so that reads inside it cost no system
// call. Nothing is read past the size the file had at open(), and a window that
// reaches that end answers for every position past its start. How much a load
// takes is paid for with credit: every sector header read earns 4 KiB, and a
// run of sectors its length as it starts (expect()); the credit holds at most
// 64 KiB and starts full. A load takes max(the bytes the read needs, the
// credit) and spends all the credit. So
//
//   bytes copied <= 64 KiB + 4 KiB x headers read + bytes expected
//                   + bytes needed by the reads that missed the window,
//
// a lookup needing its 16-byte header and the data it reads after it. For the
// reader that is at most 64 KiB + (4 KiB + 16) x headers read + the bytes its
// lookups and disk headers ask for + twice the length of its runs, which
// fuzz_reader checks. A walk through ordinary tracks earns far more than it
// spends and loads whole windows; reads that jump from place to place load
// about 4 KiB each, not 64 KiB.
//
// A lookup loads its header and the data it reads in one load, which starts
// at the header, or, given the start of the header's track, at that start
// when what the lookup needs fits in the load from there. A track's sectors
// are then in the window whatever order it records them in (interleaved,
// reversed, shuffled, behind headers that match nothing), and so are the
// tracks after it: reading a disk's items loads each window about once, as
// in file order. Where a load starts does not change its size, so the bound
// holds either way. Measured on the 64-disk benchmark image (33 MB, items of
// 32 to 64 KiB, overlapping; doc/design.md): 2,822 windows in file order and
// 2,949 to 3,013 in four other orders, copying 180 to 192 MB; the refill
// image, whose every lookup jumps 64 KiB, copies 1.3 GB for its 2 MB.
#ifndef DISKIMAGE_IMAGE_FILE_H_
#define DISKIMAGE_IMAGE_FILE_H_

#include <cstdint>
#include <cstdio>

class ImageFile {
 public:
  static constexpr int kWindowSize = 64 * 1024;  // any sector's data (16-bit size) fits
  static constexpr int kCreditPerHeader = 4 * 1024;
  // Offsets are signed 32-bit numbers: a position beyond is never read.
  static bool validOffset(int64_t position) { return position >= 0 && position <= INT32_MAX; }

  ImageFile() = default;
  ~ImageFile() { open(nullptr); }
  ImageFile(const ImageFile&) = delete;
  ImageFile& operator=(const ImageFile&) = delete;

  // Closes the stream held, if any, and takes over `stream` (null: none),
  // which must be one that can be positioned (a file, not a pipe: its reads
  // fail). False when `stream` is null.
  bool open(FILE* stream);
  // The stream the reads go to; null when none is open.
  FILE* stream() const { return stream_; }
  // The file's size in bytes, as it was at open(); -1 where the stream does
  // not tell it.
  int64_t size() const { return size_; }

  // The read error of a file that ends before the size it had at open():
  // it became shorter while it was read.
  static constexpr int kShrunk = -1;
  // The system's error number of the first read since open() that failed for
  // another reason than the end of the file (or the one given to fail()),
  // or kShrunk; 0 while none has. From then on every read finds nothing.
  int readError() const { return readError_; }
  // Keeps `error` as the read error, unless there is one, and forgets the
  // window; returns 0, the bytes a failed read gives.
  int fail(int error);

  // Copies up to `length` bytes (at most kWindowSize) at `position` into
  // `buffer`; returns the bytes copied, fewer at the end of the file, 0 at an
  // invalid position or after a read error.
  int readAt(int64_t position, uint8_t* buffer, int length);
  // The 16 bytes of the sector header at `position`, counted and paid for
  // (see above); valid until the next read; null when they cannot be read in
  // full. A load also takes the `dataAfter` bytes the caller reads after the
  // header, and may start at `trackStart`, the first header of its track
  // when not negative (see above).
  const uint8_t* header(int64_t position, int64_t trackStart = -1, int dataAfter = 0);
  // Earns `bytes` of credit (see above): what the caller is about to read
  // in reads near one another, such as a run of sectors.
  void expect(int bytes) {
    credit_ = bytes < kWindowSize - credit_ ? credit_ + bytes : kWindowSize;
  }
  // Forgets the window, so that what the file holds now is read.
  void dropWindow() {
    windowLength_ = 0;
    windowAtEnd_ = false;
  }

  // Since the object was made: sector headers read, windows loaded (a seek
  // and a read each), and bytes loaded from the file into the window.
  int64_t headersRead() const { return headersRead_; }
  int64_t windowsLoaded() const { return windowsLoaded_; }
  int64_t bytesCopied() const { return bytesCopied_; }

 private:
  // Makes the window hold the `length` bytes at `position`, or what the file
  // holds of them, loading from `from` (at most `position`) where the bytes
  // the credit pays for reach past them; returns how many it holds (0 when
  // none can be read).
  int load(int64_t position, int length, int64_t from);

  FILE* stream_ = nullptr;
  int64_t size_ = -1;
  int readError_ = 0;
  int64_t windowStart_ = 0;   // file offset of window_[0]
  int32_t windowLength_ = 0;  // valid bytes in window_
  bool windowAtEnd_ = false;  // the window ends at the end of the file
  int64_t streamAt_ = -1;     // the stream's position; -1 when not known
  int32_t credit_ = kWindowSize;
  int64_t headersRead_ = 0;
  int64_t windowsLoaded_ = 0;
  int64_t bytesCopied_ = 0;
  uint8_t window_[kWindowSize];  // read only where it was filled
};

#endif  // DISKIMAGE_IMAGE_FILE_H_
