// The index that answers a disk's sector lookups without walking its tracks.
//
// A lookup walks its track from the first header: it stops before a header
// that cannot be read in full or has a sector count of 0, and after header i
// when i + 1 >= that header's count. Where it stops does not depend on the ID
// it looks for, so the headers a track's walk reads are fixed: its prefix. A
// lookup's answer is the first header of the prefix with the ID.
//
// The index reads every header that the prefixes of a disk's tracks reach,
// once, in file order: all walks advance together, lowest position first, and
// walks that reach the same header go on as one (the next header always lies
// further on: position + 16 + data size). The headers they share are read and
// stored once, however many tracks start on one chain of headers or lead
// into it.
//
// The headers are stored on paths, each a run of headers along one chain: a
// walk that joins others goes on along the path of the heaviest of them (the
// one that has carried the most tracks so far) and the others end there. A
// track's prefix is then at most 8 runs of consecutive depths on paths
// (leaving a path at least doubles the tracks carried, and there are at most
// 164), and a lookup is a binary search in each run, over the stored headers
// of its path, sorted by path, ID and depth.
//
// Costs, per build: one read of every header reached (at most 164 x 65,535,
// one prefix per track) and a radix sort, in place, of at most as many
// entries of 12 bytes (a header whose ID came before it on its path is left
// out where a small table of recent IDs remembers it); per lookup, at most 8
// binary searches. The entries are allocated as the build stores them, so the
// index takes 12 bytes a stored header (at most 129 MB) and nothing before
// its first build.
//
// A header's place in the index is its path and its depth along the path,
// packed in one 32-bit number (pathDepth).
#ifndef DISKIMAGE_TRACK_INDEX_H_
#define DISKIMAGE_TRACK_INDEX_H_

#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <memory>

class ImageFile;

class TrackIndex {
 public:
  static constexpr int kTracks = 164;
  // A walk reads at most 65,535 headers: the sector count is 16-bit.
  static constexpr int kLongestWalk = 65535;

  // True when the index was built for these track starts: the file position
  // of each track's first header, negative for a track that finds nothing.
  bool holds(const int64_t (&starts)[kTracks]) const {
    return built_ && std::equal(starts, starts + kTracks, starts_);
  }

  // Indexes the walks of the tracks from `starts`, reading their headers from
  // `file`. False, with nothing held, when the memory cannot be had.
  bool build(const int64_t (&starts)[kTracks], ImageFile& file);

  // Frees the entries: the index holds nothing.
  void clear();

  // The file position of the first header with `id` (C, H, R, N as the
  // little-endian 32-bit number of header bytes 0 to 3) that the walk of
  // `track` reads; -1 when the walk reads none.
  int64_t find(int track, uint32_t id) const;

 private:
  // Depth along a path in the low 24 bits, the path in the high 8.
  static constexpr uint32_t kDepthBits = 24;
  static constexpr uint32_t kDepth = (1u << kDepthBits) - 1;
  static constexpr uint32_t kNone = UINT32_MAX;

  struct Entry {
    uint32_t id, pathDepth;
    int32_t position;
  };
  // Entry order: by path, then ID, then depth.
  static uint64_t key(const Entry& e) {
    return uint64_t{e.pathDepth >> kDepthBits} << 56 | uint64_t{e.id} << kDepthBits |
           (e.pathDepth & kDepth);
  }
  struct Before {
    bool operator()(const Entry& a, const Entry& b) const { return key(a) < key(b); }
  };
  struct Free {
    void operator()(Entry* entries) const { std::free(entries); }
  };

  // Walks moving together through the build: they read the same header next.
  struct Group {
    uint32_t pathDepth;  // of the header they read last; kNone before the first
    int32_t steps;       // headers read since the group began
    int32_t weight;      // tracks that came this way, those that stopped included
    int32_t first;       // the walking track with the most headers read; -1 when none
  };

  // Sorts by key from bit `shift` + 7 down: a radix sort in place,
  // whose time grows with the entries (at most 8 passes) whatever their order.
  static void sortEntries(Entry* entries, int n, int shift);
  // Makes room for more entries; false when there is none to be had.
  bool grow();
  int32_t walkIndex(const Group& g, int track) const { return g.steps - base_[track]; }
  void push(int group, int64_t position);
  int pop();
  // Moves the tracks of group `from` into group `to` (at the same position).
  void merge(int to, int from);
  void endPath(uint32_t pathDepth, uint32_t next);

  std::unique_ptr<Entry[], Free> entries_;
  int32_t capacity_ = 0;
  int32_t entryCount_ = 0;
  int32_t pathCount_ = 0;
  bool built_ = false;
  int64_t starts_[kTracks];  // of the build held
  // Per track: the headers its walk reads and the place of the first.
  int32_t walkLength_[kTracks];
  uint32_t walkStart_[kTracks];
  // Per path: the depth of its last header, and the place of the header
  // walks read after it (kNone: none do).
  int32_t pathEnd_[kTracks];
  uint32_t pathNext_[kTracks];
  int32_t pathFirst_[kTracks + 1];  // the first entry of each path

  // Per path, the place where the last walk entered it; and the (ID, that
  // place) pairs of recently stored headers, by hash.
  uint32_t entered_[kTracks];
  struct Seen {
    uint32_t id, entered;
  };
  static constexpr int kSeenBits = 12;
  Seen seen_[1 << kSeenBits];

  // Build state: a heap of groups by the position they read next, lowest
  // first. A track's walk index is its group's steps minus
  // base_; next_ links a group's walking tracks, most headers read first.
  Group groups_[kTracks];
  int64_t heap_[kTracks];
  int32_t heapSize_;
  int32_t base_[kTracks];
  int32_t next_[kTracks];
};

#endif  // DISKIMAGE_TRACK_INDEX_H_
