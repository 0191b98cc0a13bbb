// The reader's answers as the format defines them, over an image's bytes in
// memory: every lookup walks its track from the first header, and a run is
// lookups of one sector after another. The oracle the reader is checked
// against (reader_check.h). What a walk from a position reads does not
// depend on the ID, so each track's walk is made once, as its disk is
// selected, and kept (else a long track would make this side as slow as a
// reader that walks).
#ifndef FUZZ_PLAIN_WALK_H_
#define FUZZ_PLAIN_WALK_H_

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>
#include <vector>

#include "diskimage/little_endian.h"

namespace d88test {

class PlainWalk {
 public:
  using Header = std::pair<uint32_t, int64_t>;  // ID, position

  // `data` must outlive the walk.
  PlainWalk(const uint8_t* data, size_t size) : data_(data), size_(size) {}

  // Selects the disk at file offset `disk`, the start of a complete header,
  // and walks its tracks.
  void select(int64_t disk) {
    firsts_.clear();
    for (int t = 0; t < 164; ++t) {
      const int64_t offset = le32(data_ + disk + 32 + 4 * t);
      // An offset equal to the disk size names an empty record.
      const bool usable = offset > 0 && offset <= le32(data_ + disk + 28);
      start_[t] = usable && disk + offset <= INT32_MAX ? disk + offset : -1;
      const int64_t* same = std::find(start_, start_ + t, start_[t]);
      if (same != start_ + t) {
        range_[t] = range_[same - start_];
        continue;
      }
      // The first header of each ID the walk reads, sorted by ID. The walk
      // stops before a header that cannot be read in full or counts 0
      // sectors, and after header i when i + 1 >= its count.
      const size_t begin = firsts_.size();
      for (int64_t at = start_[t], i = 0; valid(at) && le16(data_ + at + 4) != 0; ++i) {
        firsts_.emplace_back(static_cast<uint32_t>(le32(data_ + at)), at);
        if (i + 1 >= le16(data_ + at + 4)) break;
        at += 16 + le16(data_ + at + 14);
      }
      // Positions grow along the walk: sorted, an ID's first header comes first.
      std::sort(firsts_.begin() + begin, firsts_.end());
      const auto sameId = [](const Header& a, const Header& b) { return a.first == b.first; };
      firsts_.erase(std::unique(firsts_.begin() + begin, firsts_.end(), sameId), firsts_.end());
      range_[t] = {begin, firsts_.size()};
    }
  }

  // The first header of each ID that the walk of `track` reads, by ID.
  const Header* firsts(int track, size_t* count) const {
    const std::pair<size_t, size_t> r =
        track >= 0 && track < 164 ? range_[track] : std::pair<size_t, size_t>{};
    *count = r.second - r.first;
    return firsts_.data() + r.first;
  }

  // What readSectorIds answers: the IDs of the track's headers in recorded
  // order, ended by a header cut short or the count, not by a count of 0.
  int ids(int track, uint8_t* out, int maxLen) const {
    int written = 0;
    for (int64_t at = start(track), i = 0; valid(at) && written + 4 <= maxLen; ++i) {
      memcpy(out + written, data_ + at, 4);
      written += 4;
      if (i + 1 == le16(data_ + at + 4)) break;
      at += 16 + le16(data_ + at + 14);
    }
    return written;
  }

  // What readSector answers, with the ID (C, H, R, N) in `id`.
  int sector(int track, const int id[4], uint8_t* out, int maxLen) const {
    uint32_t key = 0;
    for (int j = 3; j >= 0; --j) {
      if (id[j] < 0 || id[j] > 255) return 0;
      key = key << 8 | static_cast<uint32_t>(id[j]);
    }
    size_t count;
    const Header* all = firsts(track, &count);
    const Header* found = std::lower_bound(all, all + count, Header{key, 0});
    if (found == all + count || found->first != key) return 0;
    const int64_t at = found->second + 16, present = static_cast<int64_t>(size_) - at;
    const int64_t n = std::min<int64_t>({le16(data_ + at - 2), maxLen, present});
    if (n > 0) memcpy(out, data_ + at, static_cast<size_t>(n));
    return static_cast<int>(std::max<int64_t>(n, 0));
  }

  // What readSectors answers with the sector range first..last: whole
  // sectors of 128 << N bytes (the last cut to what is left), R stepping
  // through the range, then on to the next track, head 0 to head 1 and any
  // other head to head 0 of the next cylinder.
  int run(int track, const int start[4], int first, int last, uint8_t* out, int length) const {
    int id[4] = {start[0], start[1], start[2], start[3]}, done = 0;
    if (id[3] < 0 || id[3] > 23) return 0;
    while (done < length) {
      const int want = std::min(128 << id[3], length - done);
      if (sector(track, id, out + done, want) < want) return done;
      done += want;
      if (id[2]++ != last) continue;
      ++track;
      id[0] += id[1] != 0;
      id[1] = id[1] == 0;
      id[2] = first;
    }
    return done;
  }

 private:
  // The position of the first header of `track`; -1 when it is unusable.
  int64_t start(int track) const { return track >= 0 && track < 164 ? start_[track] : -1; }
  // A whole header lies in the image at `at`, an offset that fits 32 bits.
  bool valid(int64_t at) const {
    return at >= 0 && at <= INT32_MAX && at + 16 <= static_cast<int64_t>(size_);
  }

  const uint8_t* data_;
  size_t size_;
  int64_t start_[164] = {};
  std::pair<size_t, size_t> range_[164] = {};  // of each track's walk in firsts_
  std::vector<Header> firsts_;
};

}  // namespace d88test

#endif  // FUZZ_PLAIN_WALK_H_
