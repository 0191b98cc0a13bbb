#include "fuzz/reader_check.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "diskimage/d88_image.h"
#include "fuzz/plain_walk.h"
#include "testing/reader_work.h"

#if __has_include(<sanitizer/asan_interface.h>)
#include <sanitizer/asan_interface.h>
#else
#define ASAN_POISON_MEMORY_REGION(at, n) ((void)(at), (void)(n))
#define ASAN_UNPOISON_MEMORY_REGION(at, n) ((void)(at), (void)(n))
#endif

namespace d88test {
namespace {

// Buffers for the longest length asked, equal after every comparison, so
// that a byte one side writes and the other does not shows as a difference.
constexpr size_t kLongest = 70000;
alignas(8) uint8_t fromReader[kLongest], fromPlain[kLongest];

// Poisons the reader's bytes past `n`, so that AddressSanitizer sees any
// write past the end as with an exact allocation; only the change from the
// last length.
void allow(size_t n) {
  static size_t open = (ASAN_POISON_MEMORY_REGION(fromReader, kLongest), 0);
  // ASan keeps one boundary per 8 bytes: unpoison from the start of its group.
  if (n > open) ASAN_UNPOISON_MEMORY_REGION(fromReader + (open & ~7u), n - (open & ~7u));
  if (n < open) ASAN_POISON_MEMORY_REGION(fromReader + n, open - n);
  open = n;
}

// Runs one call on the reader and on the plain walk into buffers of `length`
// bytes; true when they agree.
template <typename Reader, typename Plain>
bool same(int length, Reader reader, Plain plain) {
  const size_t n = static_cast<size_t>(length);
  allow(n);
  return reader(fromReader) == plain(fromPlain) && memcmp(fromReader, fromPlain, n) == 0;
}

// `what` on disk `disk`, track `track`, kept for the caller.
const char* failure(const char* what, int disk, int track) {
  static char text[96];
  snprintf(text, sizeof text, "%s differs on disk %d, track %d", what, disk, track);
  return text;
}

}  // namespace

const char* checkReader(D88Image& image, const uint8_t* data, size_t size, Choices& choices) {
  const auto pick = [&choices](int lo, int hi) { return choices.pick(lo, hi); };
  PlainWalk plain(data, size);
  // The disk table: each disk's size leads to the next; a header cut short or
  // an offset beyond 32 bits ends it.
  std::vector<int64_t> disks;
  for (int64_t at = 0; disks.size() < 64 && at >= 0 && at <= INT32_MAX &&
                       at + D88Image::kDiskHeaderSize <= static_cast<int64_t>(size);
       at += le32(data + at + 28))
    disks.push_back(at);
  if (image.diskCount() != static_cast<int>(disks.size())) return "the disk count differs";
  // Headers: per selected disk one index build (a header every byte at most,
  // and a failed read a track); per lookup the one found; per listing those
  // listed. Bytes asked: disk headers (the table, and one a selection),
  // sector data and runs.
  const ImageFile& file = ReaderWork::of(image);
  int64_t allowed = 0, asked = int64_t{D88Image::kMaxDisks} * D88Image::kDiskHeaderSize;
  for (int i = -1; i <= image.diskCount(); ++i) {
    const bool selected = image.selectDisk(i);
    if (image.currentDisk() != (selected ? i : -1)) return failure("the selection", i, -1);
    asked += D88Image::kDiskHeaderSize;
    // A disk found again (a size of 0 or one leading back) answers the same.
    if (!selected || std::find(disks.begin(), disks.begin() + i, disks[i]) != disks.begin() + i)
      continue;
    plain.select(disks[i]);
    allowed += static_cast<int64_t>(size) + D88Image::kMaxTracks;
    const int first = pick(-1, 20), last = pick(-1, 20);
    image.setSectorRange(first, last);
    for (int track = -1; track <= D88Image::kMaxTracks; ++track) {
      const int length = pick(0, 64);
      allowed += length / 4;
      int count = 0;
      if (!same(
              length, [&](uint8_t* out) { return image.readSectorIds(track, out, length); },
              [&](uint8_t* out) { return count = plain.ids(track, out, length); }))
        return failure("readSectorIds", i, track);
      // The IDs to look up: those listed (once where one repeats the one
      // before); when the listing is cut short by its buffer, up to 8 of those
      // the walk reads, spread over them, so that lookups reach deep into long
      // tracks; and one picked.
      uint32_t ids[16 + 8 + 1];
      int n = 0;
      for (int k = 0; k < count; k += 4)
        if (k == 0 || memcmp(fromPlain + k, fromPlain + k - 4, 4) != 0)
          ids[n++] = le32(fromPlain + k);
      size_t walked;
      const PlainWalk::Header* firsts = plain.firsts(track, &walked);
      const size_t deep = count + 4 > length ? std::min<size_t>(walked, 8) : 0;
      for (size_t k = 0; k < deep; ++k) ids[n++] = firsts[k * walked / deep].first;
      for (int k = 0; k <= n; ++k) {
        int id[4];
        for (int j = 0; j < 4; ++j)
          id[j] = k < n ? static_cast<int>(ids[k] >> 8 * j & 0xFF) : pick(-1, 256);
        const int maxLen = pick(-1, 1200);
        allowed += 1;
        asked += std::max(maxLen, 0);
        if (!same(
                std::max(maxLen, 0),
                [&](uint8_t* out) {
                  return image.readSector(track, id[0], id[1], id[2], id[3], out, maxLen);
                },
                [&](uint8_t* out) { return plain.sector(track, id, out, maxLen); }))
          return failure("readSector", i, track);
      }
    }
    for (int run = 0; run < 4; ++run) {
      const int length = pick(0, 70000), track = pick(-1, 165);
      const int id[4] = {pick(-1, 256), pick(-1, 2), pick(-1, 256), pick(-1, 30)};
      allowed += length / 128 + 1;
      asked += 2 * length;  // earned as the run starts, then needed by its lookups
      if (!same(
              length,
              [&](uint8_t* out) {
                return image.readSectors(track, id[0], id[1], id[2], id[3], out, length);
              },
              [&](uint8_t* out) { return plain.run(track, id, first, last, out, length); }))
        return failure("readSectors", i, track);
    }
  }
  if (file.headersRead() > allowed) return "more headers read than the reader's bound";
  if (file.bytesCopied() >
      ImageFile::kWindowSize + (ImageFile::kCreditPerHeader + 16) * file.headersRead() + asked)
    return "more bytes copied than the window's bound";
  if (!image.open(nullptr) || image.selectDisk(0)) return "a closed image can still be read";
  return nullptr;
}

}  // namespace d88test
