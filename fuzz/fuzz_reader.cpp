// Feeds arbitrary bytes as an image to D88Image, read from memory, and checks
// every answer of its lookups (readSector, readSectors, readSectorIds: the
// count and every byte of the buffer) against a plain walk over the same
// bytes written here, with IDs, ranges and lengths taken from the input's
// tail. Each input runs with a walk limit of 0 (every lookup but a track's
// first asks the reader's track index) or the reader's own. The reader's work
// is checked too: the headers it reads must stay within the bound its design
// gives, linear in the image's size and the lookups made.
#include <fuzzer/FuzzedDataProvider.h>
#include <sanitizer/asan_interface.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "diskimage/d88_image.h"
#include "diskimage/little_endian.h"

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

// The lookups of the selected disk as the format defines them: every one
// walks its track from the first header. The walk from a position gives the
// same answers whatever the ID, so each is walked once per input and kept
// (else a long track would make this side as slow as a reader that walks).
class PlainWalk {
 public:
  using Header = std::pair<uint32_t, int64_t>;  // ID, position

  PlainWalk(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  void select(int64_t disk) {
    const uint8_t* header = data_ + disk;
    diskSize_ = field(header + 28, 4);
    for (int t = 0; t < D88Image::kMaxTracks; ++t) {
      const int64_t offset = field(header + 32 + 4 * t, 4);
      // An offset equal to the disk size names an empty record.
      start_[t] =
          offset > 0 && offset <= diskSize_ && disk + offset <= INT32_MAX ? disk + offset : -1;
    }
  }

  // The first header of each ID that the walk of `track` reads, by ID.
  const std::vector<Header>& firsts(int track) { return walk(start(track)); }

  int sector(int track, const int id[4], uint8_t* out, int maxLen) {
    uint32_t key = 0;
    for (int j = 3; j >= 0; --j) {
      if (id[j] < 0 || id[j] > 255) return 0;
      key = key << 8 | static_cast<uint32_t>(id[j]);
    }
    const std::vector<Header>& firsts = walk(start(track));
    const auto found = std::lower_bound(firsts.begin(), firsts.end(), Header{key, 0});
    if (found == firsts.end() || found->first != key) return 0;
    const int64_t at = found->second;
    const int64_t present = static_cast<int64_t>(size_) - (at + 16);
    const int64_t n = std::min({field(data_ + at + 14, 2), static_cast<int64_t>(maxLen), present});
    if (n <= 0) return 0;
    memcpy(out, data_ + at + 16, static_cast<size_t>(n));
    return static_cast<int>(n);
  }

  // A count of 0 does not end the listing; only the header count or a cut does.
  int ids(int track, uint8_t* out, int maxLen) const {
    int written = 0;
    for (int64_t at = start(track), i = 0; written + 4 <= maxLen; ++i) {
      const uint8_t* h = header(at);
      if (h == nullptr) break;
      memcpy(out + written, h, 4);
      written += 4;
      at += 16 + field(h + 14, 2);
      if (i + 1 == field(h + 4, 2)) break;
    }
    return written;
  }

  // Whole sectors of 128 << n bytes (the last one cut to what is left),
  // stepping R through the range, then to the next track: head 0 to head 1,
  // any other head to head 0 of the next cylinder.
  int run(int track, const int start[4], int first, int last, uint8_t* out, int length) {
    int id[4] = {start[0], start[1], start[2], start[3]};
    if (id[3] < 0 || id[3] > 23) return 0;
    int done = 0;
    while (done < length) {
      const int want = std::min(128 << id[3], length - done);
      if (sector(track, id, out + done, want) < want) return done;
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

 private:
  static int64_t field(const uint8_t* p, int bytes) {
    uint32_t v = 0;
    for (int i = bytes - 1; i >= 0; --i) v = v << 8 | p[i];
    return bytes == 4 ? static_cast<int64_t>(static_cast<int32_t>(v)) : static_cast<int64_t>(v);
  }
  int64_t start(int track) const {
    return track >= 0 && track < D88Image::kMaxTracks ? start_[track] : -1;
  }
  // The first header of each ID that a walk from `at` reads: it stops before
  // a header that cannot be read in full or counts 0 sectors, and after
  // header i when i + 1 >= its count.
  const std::vector<Header>& walk(int64_t at) {
    const auto [entry, fresh] = walks_.try_emplace(at);
    std::vector<Header>& firsts = entry->second;
    if (!fresh) return firsts;
    for (int64_t i = 0;; ++i) {
      const uint8_t* h = header(at);
      if (h == nullptr || field(h + 4, 2) == 0) break;
      firsts.emplace_back(static_cast<uint32_t>(field(h, 4)), at);
      at += 16 + field(h + 14, 2);
      if (i + 1 >= field(h + 4, 2)) break;
    }
    // By ID, each ID's first header only (positions grow along the walk).
    std::sort(firsts.begin(), firsts.end());
    const auto sameId = [](const Header& a, const Header& b) { return a.first == b.first; };
    firsts.erase(std::unique(firsts.begin(), firsts.end(), sameId), firsts.end());
    return firsts;
  }
  const uint8_t* header(int64_t at) const {
    return at >= 0 && at <= INT32_MAX && at + 16 <= static_cast<int64_t>(size_) ? data_ + at
                                                                                : nullptr;
  }

  const uint8_t* data_;
  size_t size_;
  int64_t diskSize_;
  int64_t start_[D88Image::kMaxTracks];
  std::map<int64_t, std::vector<Header>> walks_;
};

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
  image.setWalkLimit(p.ConsumeBool() ? 0 : D88Image::kWalkLimit);
  Memory memory{data, size, 0};
  check(image.openStream(openMemory(memory)), "open");
  check(image.diskCount() >= 0 && image.diskCount() <= D88Image::kMaxDisks, "disk count");
  PlainWalk plain(data, size);
  // Per selected disk, two walks to the end (a header every 16 bytes at most)
  // and one index build (a header every byte at most, and a failed read a
  // track); per lookup, the headers walked before the index and the one
  // found; per listing, the headers listed.
  const int64_t perDisk =
      2 * static_cast<int64_t>(size / 16 + 1) + static_cast<int64_t>(size) + D88Image::kMaxTracks;
  constexpr int64_t kPerLookup = D88Image::kWalkLimit + 1;
  int64_t allowed = 0;
  for (int i = -1; i <= image.diskCount(); ++i) {
    const bool selected = image.selectDisk(i);
    check(image.currentDisk() == (selected ? i : -1), "selection");
    // A disk found again (a size of 0 or one leading back) answers the same.
    bool seen = false;
    for (int j = 0; j < i; ++j) seen = seen || image.diskStart(j) == image.diskStart(i);
    if (!selected || seen) continue;
    plain.select(image.diskStart(i));
    allowed += perDisk;
    const int first = p.ConsumeIntegralInRange(-1, 20), last = p.ConsumeIntegralInRange(-1, 20);
    image.setSectorRange(first, last);
    for (int track = -1; track <= D88Image::kMaxTracks; ++track) {
      const int length = p.ConsumeIntegralInRange(0, 64);
      allowed += length / 4;
      compare(
          length, "readSectorIds",
          [&](uint8_t* out) { return image.readSectorIds(track, out, length); },
          [&](uint8_t* out) { return plain.ids(track, out, length); });
      const int count = plain.ids(track, listed, length);
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
      compare(
          length, "readSectors",
          [&](uint8_t* out) {
            return image.readSectors(track, id[0], id[1], id[2], id[3], out, length);
          },
          [&](uint8_t* out) { return plain.run(track, id, first, last, out, length); });
    }
  }
  check(image.headersRead() <= allowed, "more headers read than the reader's bound");
  check(image.open(nullptr), "close");
  check(!image.selectDisk(0), "select after close");
  return 0;
}
