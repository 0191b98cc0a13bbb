// The reader's answers as the format defines them, over an image's bytes in
// memory: sector lookups that each walk their track from the first header. The oracle the tests and
// the reader's fuzzer check the reader against. What a walk from a position reads does not depend
// on the ID, so each is walked once and kept (else a long track would make this side as slow as a
// reader that walks).
#ifndef TESTING_PLAIN_WALK_H_
#define TESTING_PLAIN_WALK_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <map>
#include <utility>
#include <vector>

#include "diskimage/little_endian.h"

namespace d88test {

class PlainWalk {
 public:
  using Header = std::pair<uint32_t, int64_t>;  // ID, position

  // `data` must outlive the walk.
  PlainWalk(const uint8_t* data, size_t size) : data_(data), size_(size), start_() {}

  // Selects the disk at file offset `disk`, the start of a complete header.
  void select(int64_t disk) {
    for (int t = 0; t < 164; ++t) {
      const int64_t offset = le32(data_ + disk + 32 + 4 * t);
      // An offset equal to the disk size names an empty record.
      const bool usable = offset > 0 && offset <= le32(data_ + disk + 28);
      start_[t] = usable && disk + offset <= INT32_MAX ? disk + offset : -1;
    }
  }

  // The file position of the first header of `track` of the selected disk;
  // -1 when the track is unusable.
  int64_t start(int track) const { return track >= 0 && track < 164 ? start_[track] : -1; }

  // The first header of each ID that the walk of `track` reads, by ID. The
  // walk stops before a header that cannot be read in full or counts 0
  // sectors, and after header i when i + 1 >= its count.
  const std::vector<Header>& firsts(int track) {
    int64_t at = start(track);
    const auto [entry, fresh] = walks_.try_emplace(at);
    std::vector<Header>& firsts = entry->second;
    if (!fresh) return firsts;
    for (int i = 0; valid(at, 16) && le16(data_ + at + 4) != 0; ++i) {
      firsts.emplace_back(static_cast<uint32_t>(le32(data_ + at)), at);
      if (i + 1 >= le16(data_ + at + 4)) break;
      at += 16 + le16(data_ + at + 14);
    }
    // By ID, each ID's first header only (positions grow along the walk).
    std::sort(firsts.begin(), firsts.end());
    const auto sameId = [](const Header& a, const Header& b) { return a.first == b.first; };
    firsts.erase(std::unique(firsts.begin(), firsts.end(), sameId), firsts.end());
    return firsts;
  }

  // What readSector answers, with the ID (C, H, R, N) in `id`.
  int sector(int track, const int id[4], uint8_t* out, int maxLen) {
    uint32_t key = 0;
    for (int j = 3; j >= 0; --j) {
      if (id[j] < 0 || id[j] > 255) return 0;
      key = key << 8 | static_cast<uint32_t>(id[j]);
    }
    const std::vector<Header>& all = firsts(track);
    const auto found = std::lower_bound(all.begin(), all.end(), Header{key, 0});
    if (found == all.end() || found->first != key) return 0;
    const int64_t at = found->second + 16, present = static_cast<int64_t>(size_) - at;
    const int64_t n = std::min<int64_t>({le16(data_ + at - 2), maxLen, present});
    if (n > 0) memcpy(out, data_ + at, static_cast<size_t>(n));
    return static_cast<int>(std::max<int64_t>(n, 0));
  }

 private:
  // `length` bytes at `at` lie in the image, at an offset that fits 32 bits.
  bool valid(int64_t at, int length) const {
    return at >= 0 && at <= INT32_MAX && at + length <= static_cast<int64_t>(size_);
  }

  const uint8_t* data_;
  size_t size_;
  int64_t start_[164];
  std::map<int64_t, std::vector<Header>> walks_;
};

}  // namespace d88test

#endif  // TESTING_PLAIN_WALK_H_
