// The check the reader's fuzzer runs on every input, and the reader's tests
// on images made to try the track index: the reader's answers against the
// plain walk over the same bytes (plain_walk.h), and its work against
// its bounds.
#ifndef FUZZ_READER_CHECK_H_
#define FUZZ_READER_CHECK_H_

#include <cstddef>
#include <cstdint>

class D88Image;

namespace d88test {

// The sector ranges, lengths and IDs to try, each a number from lo to hi
// (lo <= hi) made of the bytes given, taken from the last on; lo once they
// run out.
class Choices {
 public:
  Choices(const uint8_t* bytes, size_t count) : bytes_(bytes), count_(count) {}
  int pick(int lo, int hi) {
    const uint32_t range = static_cast<uint32_t>(hi - lo);
    uint32_t value = 0;
    for (uint32_t left = range; left != 0 && count_ > 0; left >>= 8)
      value = value << 8 | bytes_[--count_];
    return lo + static_cast<int>(value % (range + 1));
  }

 private:
  const uint8_t* bytes_;
  size_t count_;
};

// Checks `image`, opened on the `size` bytes at `data`: its disk table; on
// each disk (once where the table finds a disk again) and each track,
// readSectorIds, readSector of the IDs the track's walk reads (those listed,
// and up to 8 spread over a long walk) and of one picked, and four runs of
// readSectors, every count and every byte of the buffers, with the ranges,
// lengths and one ID of each track from `choices`; then that the
// reader read no more headers than one index build a disk and one a lookup,
// and copied no more bytes than its window's bound (diskimage/image_file.h).
// Closes the image. Returns null when all holds, else what did not.
const char* checkReader(D88Image& image, const uint8_t* data, size_t size, Choices& choices);

}  // namespace d88test

#endif  // FUZZ_READER_CHECK_H_
