#include "diskimage/track_index.h"

#include <algorithm>
#include <functional>

#include "diskimage/image_file.h"
#include "diskimage/sector_header.h"

void TrackIndex::sortEntries(Entry* entries, int n, int shift) {
  // A pass costs 256 buckets whatever the entries: a few dozen are sorted by comparing.
  if (n <= 64) {
    std::sort(entries, entries + n, Before());
    return;
  }
  // In place, most significant byte of the key first: each pass counts the
  // entries of every byte value, then swaps each entry into its bucket.
  const auto digit = [shift](const Entry& e) { return static_cast<int>(key(e) >> shift & 0xFF); };
  int count[256] = {}, next[256], end[256];
  for (int i = 0; i < n; ++i) ++count[digit(entries[i])];
  // Bucket b follows bucket b - 1.
  for (int b = 0; b < 256; ++b) end[b] = (next[b] = b > 0 ? end[b - 1] : 0) + count[b];
  for (int b = 0; b < 256; ++b) {
    while (next[b] < end[b]) {
      Entry e = entries[next[b]];
      for (int d = digit(e); d != b; d = digit(e)) std::swap(e, entries[next[d]++]);
      entries[next[b]++] = e;
    }
  }
  for (int b = 0; b < 256 && shift > 0; ++b)
    if (count[b] > 1) sortEntries(entries + end[b] - count[b], count[b], shift - 8);
}

// A heap entry is the position a group reads next, shifted past the group
// (below 256): one number orders the heap.
void TrackIndex::push(int group, int64_t position) {
  heap_[heapSize_++] = position << 8 | group;
  std::push_heap(heap_, heap_ + heapSize_, std::greater<int64_t>());
}

int TrackIndex::pop() {
  std::pop_heap(heap_, heap_ + heapSize_, std::greater<int64_t>());
  return static_cast<int>(heap_[--heapSize_] & 0xFF);
}

void TrackIndex::merge(int to, int from) {
  Group& a = groups_[to];
  const Group& b = groups_[from];
  // Re-count b's tracks from a's steps, then merge the two lists by walk index.
  for (int t = b.first; t >= 0; t = next_[t]) base_[t] = a.steps - walkIndex(b, t);
  int* tail = &a.first;
  int x = a.first, y = b.first;
  while (x >= 0 || y >= 0) {
    int& taken = y < 0 || (x >= 0 && base_[x] <= base_[y]) ? x : y;
    *tail = taken;
    tail = &next_[taken];
    taken = next_[taken];
  }
  *tail = -1;
  a.weight += b.weight;
}

void TrackIndex::endPath(uint32_t pathDepth, uint32_t next) {
  pathEnd_[pathDepth >> kDepthBits] = static_cast<int32_t>(pathDepth & kDepth);
  pathNext_[pathDepth >> kDepthBits] = next;
}

void TrackIndex::clear() {
  entries_.reset();
  capacity_ = entryCount_ = 0;
  built_ = false;
}

bool TrackIndex::grow() {
  // No more entries than one a header the walks read (see above).
  const int32_t capacity = capacity_ == 0 ? 256 : std::min(2 * capacity_, kTracks * kLongestWalk);
  if (capacity == capacity_) return false;
  // realloc moves a large block without copying it, so the entries never
  // take more than their final size at once.
  Entry* grown = static_cast<Entry*>(std::realloc(entries_.get(), sizeof(Entry) * capacity));
  if (grown == nullptr) return false;
  entries_.release();
  entries_.reset(grown);
  capacity_ = capacity;
  return true;
}

bool TrackIndex::build(const int64_t (&starts)[kTracks], ImageFile& file) {
  built_ = false;
  entryCount_ = pathCount_ = heapSize_ = 0;
  // What earlier builds stored in seen_ no longer counts (no place entered is kNone).
  std::fill(seen_, seen_ + (1 << kSeenBits), Seen{0, kNone});
  for (int t = 0; t < kTracks; ++t) {
    starts_[t] = starts[t];
    walkLength_[t] = 0;
    walkStart_[t] = kNone;
    groups_[t] = Group{kNone, 0, 1, t};
    base_[t] = 0;
    next_[t] = -1;
    if (starts[t] >= 0) push(t, starts[t]);
  }

  int arrived[kTracks];
  // The group that read the last header goes on to `next` without passing
  // through the heap, while no other group is as low.
  int continuing = -1;
  int64_t next = 0;
  while (continuing >= 0 || heapSize_ > 0) {
    if (continuing >= 0 && heapSize_ > 0 && heap_[0] >> 8 <= next) {
      push(continuing, next);
      continuing = -1;
    }
    // All groups at the lowest position: those that read headers before it
    // (the heaviest goes on along its path) and tracks that start here.
    const int64_t position = continuing >= 0 ? next : heap_[0] >> 8;
    int arrivals = 0, heaviest = continuing, starting = -1;
    if (continuing >= 0) arrived[arrivals++] = continuing;
    continuing = -1;
    while (heapSize_ > 0 && heap_[0] >> 8 == position) {
      const int a = pop();
      if (groups_[a].pathDepth != kNone) {
        arrived[arrivals++] = a;
        if (heaviest < 0 || groups_[a].weight > groups_[heaviest].weight) heaviest = a;
      } else if (starting < 0) {
        starting = a;
      } else {
        merge(starting, a);
      }
    }
    const int group = heaviest >= 0 ? heaviest : starting;
    Group& g = groups_[group];

    const uint8_t* header = file.header(position);
    if (header == nullptr || sectorCount(header) == 0) {
      // Every walk here stops before this header; tracks starting here read nothing.
      for (int i = 0; i < arrivals; ++i) {
        const Group& a = groups_[arrived[i]];
        for (int t = a.first; t >= 0; t = next_[t]) walkLength_[t] = walkIndex(a, t);
        endPath(a.pathDepth, kNone);
      }
      continue;
    }
    const uint32_t pathDepth =
        heaviest >= 0 ? g.pathDepth + 1 : static_cast<uint32_t>(pathCount_++) << kDepthBits;
    if (starting >= 0) {
      for (int t = groups_[starting].first; t >= 0; t = next_[t]) walkStart_[t] = pathDepth;
      if (starting != group) merge(group, starting);
    }
    for (int i = 0; i < arrivals; ++i) {
      if (arrived[i] == group) continue;
      endPath(groups_[arrived[i]].pathDepth, pathDepth);
      merge(group, arrived[i]);
    }

    // A header whose ID came before it on its path, with no walk entering
    // the path in between, is never the first with that ID: it is left out
    // when the table of recent (ID, place entered) pairs remembers that ID.
    const uint32_t id = sectorId(header);
    uint32_t& entered = entered_[pathDepth >> kDepthBits];
    if (starting >= 0 || arrivals != 1) entered = pathDepth;
    Seen& seen = seen_[((id * 0x9E3779B1u) ^ (entered * 0x85EBCA77u)) >> (32 - kSeenBits)];
    if (seen.id != id || seen.entered != entered) {
      if (entryCount_ == capacity_ && !grow()) {
        clear();
        return false;
      }
      entries_[entryCount_++] = {id, pathDepth, static_cast<int32_t>(position)};
      seen = {id, entered};
    }

    // Walks whose index reaches this header's count stop after it.
    while (g.first >= 0 && walkIndex(g, g.first) + 1 >= sectorCount(header)) {
      walkLength_[g.first] = walkIndex(g, g.first) + 1;
      g.first = next_[g.first];
    }
    if (g.first < 0) {
      endPath(pathDepth, kNone);
      continue;
    }
    ++g.steps;
    g.pathDepth = pathDepth;
    continuing = group;
    next = position + kSectorHeaderSize + dataSize(header);
  }

  sortEntries(entries_.get(), entryCount_, 56);
  // Where each path's entries begin: they are sorted by path first.
  for (int p = 0, i = 0; p <= pathCount_; pathFirst_[p++] = i)
    while (i < entryCount_ && static_cast<int>(entries_[i].pathDepth >> kDepthBits) < p) ++i;
  built_ = true;
  return true;
}

int64_t TrackIndex::find(int track, uint32_t id) const {
  if (track < 0 || track >= kTracks) return -1;
  int remaining = walkLength_[track];
  uint32_t pathDepth = walkStart_[track];
  const Entry* entries = entries_.get();
  while (remaining > 0 && pathDepth != kNone) {
    const uint32_t path = pathDepth >> kDepthBits;
    const int run = std::min(pathEnd_[path] - static_cast<int>(pathDepth & kDepth) + 1, remaining);
    // The path's first entry at or after (id, depth); a hit if it lies in this run.
    const Entry* end = entries + pathFirst_[path + 1];
    const Entry* e =
        std::lower_bound(entries + pathFirst_[path], end, Entry{id, pathDepth, 0}, Before());
    if (e != end && e->id == id && e->pathDepth < pathDepth + static_cast<uint32_t>(run))
      return e->position;
    remaining -= run;
    pathDepth = pathNext_[path];
  }
  return -1;
}
