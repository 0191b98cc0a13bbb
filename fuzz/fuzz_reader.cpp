// Feeds arbitrary bytes as an image to D88Image, read from memory, and checks
// its disk table and every answer of its lookups (readSector, readSectors,
// readSectorIds: the count and every byte of the buffer) against the plain
// walk over the same bytes (testing/plain_walk.h), with IDs, ranges and
// lengths taken from the input's tail. The reader's work is checked too: the
// headers it reads and the bytes it copies must stay within the bounds its
// design gives, linear in the image's size and the lookups made.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "diskimage/d88_image.h"
#include "diskimage/little_endian.h"
#include "testing/plain_walk.h"

using d88test::PlainWalk;

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz_reader: %s\n", what);
    abort();
  }
}

// The input as a read-only stream that, like a file, can be positioned past
// its end (an fmemopen stream cannot, which the reader takes for a failed read).
struct Memory {
  const uint8_t* data;
  size_t size;
  off64_t at;
};

ssize_t readMemory(void* cookie, char* buffer, size_t n) {
  Memory& m = *static_cast<Memory*>(cookie);
  const size_t left = m.at < static_cast<off64_t>(m.size) ? m.size - static_cast<size_t>(m.at) : 0;
  n = std::min(n, left);
  memcpy(buffer, m.data + m.at, n);
  m.at += static_cast<off64_t>(n);
  return static_cast<ssize_t>(n);
}

int seekMemory(void* cookie, off64_t* offset, int whence) {
  Memory& m = *static_cast<Memory*>(cookie);
  const off64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? m.at
                                            : static_cast<off64_t>(m.size);
  if (base + *offset < 0) return -1;
  *offset = m.at = base + *offset;
  return 0;
}

FILE* openMemory(Memory& memory) {
  return fopencookie(&memory, "rb", {readMemory, nullptr, seekMemory, nullptr});
}

// What readSectorIds answers: a count of 0 does not end the listing; only
// the header count or a header cut short does.
int plainIds(const uint8_t* data, size_t size, int64_t at, uint8_t* out, int maxLen) {
  int written = 0;
  for (int i = 0;
       at >= 0 && at <= INT32_MAX && at + 16 <= static_cast<int64_t>(size) && written + 4 <= maxLen;
       ++i) {
    memcpy(out + written, data + at, 4);
    written += 4;
    if (i + 1 == le16(data + at + 4)) break;
    at += 16 + le16(data + at + 14);
  }
  return written;
}

// What readSectors answers: whole sectors of 128 << n bytes (the last one cut
// to what is left), stepping R through the range, then to the next track:
// head 0 to head 1, any other head to head 0 of the next cylinder.
int plainRun(PlainWalk& plain, int track, const int start[4], int first, int last, uint8_t* out,
             int length) {
  int id[4] = {start[0], start[1], start[2], start[3]};
  if (id[3] < 0 || id[3] > 23) return 0;
  int done = 0;
  while (done < length) {
    const int want = std::min(128 << id[3], length - done);
    if (plain.sector(track, id, out + done, want) < want) return done;
    done += want;
    if (id[2] != last) {
      ++id[2];
      continue;
    }
    ++track;
    id[0] += id[1] != 0;
    id[1] = id[1] == 0;
    id[2] = first;
  }
  return done;
}

// Buffers for the longest length asked, equal after every comparison, so
// that a byte one side writes and the other does not shows as a difference.
constexpr size_t kLongest = 70000;
alignas(8) uint8_t fromReader[kLongest], fromPlain[kLongest], listed[64];

// Poisons the reader's bytes past `n`, so that ASan sees any write past the
// end as with an exact allocation; only the change from the last length.
void allow(size_t n) {
  static size_t open = (ASAN_POISON_MEMORY_REGION(fromReader, kLongest), 0);
  // ASan keeps one boundary per 8 bytes: unpoison from the start of its group.
  if (n > open) ASAN_UNPOISON_MEMORY_REGION(fromReader + (open & ~7u), n - (open & ~7u));
  if (n < open) ASAN_POISON_MEMORY_REGION(fromReader + n, open - n);
  open = n;
}

// Runs one lookup on the reader and on the plain walk into buffers of
// `length` bytes and compares the results.
template <typename Reader, typename Plain>
void compare(int length, const char* what, Reader reader, Plain plain) {
  const size_t n = static_cast<size_t>(length);
  allow(n);
  check(reader(fromReader) == plain(fromPlain), what);
  check(memcmp(fromReader, fromPlain, n) == 0, what);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzedDataProvider p(data, size);
  D88Image image;
  Memory memory{data, size, 0};
  check(image.openStream(openMemory(memory)), "open");
  PlainWalk plain(data, size);
  // The disk table: each disk's size leads to the next; a header cut short or
  // an offset beyond 32 bits ends it.
  std::vector<int64_t> disks;
  for (int64_t at = 0; disks.size() < 64 && at >= 0 && at <= INT32_MAX &&
                       at + D88Image::kDiskHeaderSize <= static_cast<int64_t>(size);
       at += le32(data + at + 28))
    disks.push_back(at);
  check(image.diskCount() == static_cast<int>(disks.size()), "disk count");
  // Per selected disk, one index build (a header every byte at most, and a
  // failed read a track); per lookup, the one found; per listing, the
  // headers listed.
  const int64_t perDisk = static_cast<int64_t>(size) + D88Image::kMaxTracks;
  constexpr int64_t kPerLookup = 1;
  int64_t allowed = 0;
  // The bytes asked of the file: disk headers (the disk table, and one a
  // selection) and sector data.
  int64_t asked = int64_t{D88Image::kMaxDisks} * D88Image::kDiskHeaderSize;
  for (int i = -1; i <= image.diskCount(); ++i) {
    const bool selected = image.selectDisk(i);
    check(image.currentDisk() == (selected ? i : -1), "selection");
    asked += D88Image::kDiskHeaderSize;
    // A disk found again (a size of 0 or one leading back) answers the same.
    if (!selected || std::find(disks.begin(), disks.begin() + i, disks[i]) != disks.begin() + i)
      continue;
    plain.select(disks[i]);
    allowed += perDisk;
    const int first = p.ConsumeIntegralInRange(-1, 20), last = p.ConsumeIntegralInRange(-1, 20);
    image.setSectorRange(first, last);
    for (int track = -1; track <= D88Image::kMaxTracks; ++track) {
      const int length = p.ConsumeIntegralInRange(0, 64);
      allowed += length / 4;
      compare(
          length, "readSectorIds",
          [&](uint8_t* out) { return image.readSectorIds(track, out, length); },
          [&](uint8_t* out) { return plainIds(data, size, plain.start(track), out, length); });
      const int count = plainIds(data, size, plain.start(track), listed, length);
      // The IDs to look up: those listed (once where one repeats the one
      // before); up to 8 of those the walk reads, spread over them, so that
      // lookups reach deep into long tracks; and one from the input.
      int ids[16 + 8 + 1][4];
      int n = 0;
      const auto add = [&](uint32_t id) {
        for (int j = 0; j < 4; ++j) ids[n][j] = static_cast<int>(id >> 8 * j & 0xFF);
        ++n;
      };
      for (int k = 0; k < count; k += 4)
        if (k == 0 || memcmp(listed + k, listed + k - 4, 4) != 0)
          add(static_cast<uint32_t>(le32(listed + k)));
      // (A listing not cut short by its buffer holds every ID the walk reads.)
      const std::vector<PlainWalk::Header>& firsts = plain.firsts(track);
      const size_t deep = count + 4 > length ? std::min<size_t>(firsts.size(), 8) : 0;
      for (size_t k = 0; k < deep; ++k) add(firsts[k * firsts.size() / deep].first);
      for (int j = 0; j < 4; ++j) ids[n][j] = p.ConsumeIntegralInRange(-1, 256);
      ++n;
      for (int k = 0; k < n; ++k) {
        const int* id = ids[k];
        const int maxLen = p.ConsumeIntegralInRange(-1, 1200);
        allowed += kPerLookup;
        asked += std::max(maxLen, 0);
        compare(
            std::max(maxLen, 0), "readSector",
            [&](uint8_t* out) {
              return image.readSector(track, id[0], id[1], id[2], id[3], out, maxLen);
            },
            [&](uint8_t* out) { return plain.sector(track, id, out, maxLen); });
      }
    }
    for (int run = 0; run < 4 && p.remaining_bytes() > 0; ++run) {
      const int length = p.ConsumeIntegralInRange(0, 70000);
      const int track = p.ConsumeIntegralInRange(-1, 165);
      const int id[4] = {p.ConsumeIntegralInRange(-1, 256), p.ConsumeIntegralInRange(-1, 2),
                         p.ConsumeIntegralInRange(-1, 256), p.ConsumeIntegralInRange(-1, 30)};
      allowed += (length / 128 + 1) * kPerLookup;
      asked += length;
      compare(
          length, "readSectors",
          [&](uint8_t* out) {
            return image.readSectors(track, id[0], id[1], id[2], id[3], out, length);
          },
          [&](uint8_t* out) { return plainRun(plain, track, id, first, last, out, length); });
    }
  }
  const ImageFile& file = image.file();
  check(file.headersRead() <= allowed, "more headers read than the reader's bound");
  check(file.bytesCopied() <= ImageFile::kWindowSize +
                                  (ImageFile::kCreditPerHeader + 16) * file.headersRead() + asked,
        "more bytes copied than the window's bound");
  check(image.open(nullptr), "close");
  check(!image.selectDisk(0), "select after close");
  return 0;
}
