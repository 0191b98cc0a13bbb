#include "diskimage/track_index.h"

#include <algorithm>

#include "diskimage/little_endian.h"

namespace {

constexpr int kHeaderSize = 16;
constexpr int kSectorCountOffset = 4;
constexpr int kDataSizeOffset = 14;
constexpr uint32_t kDepthMask = (1u << 24) - 1;

}  // namespace

void TrackIndex::sortEntries(Entry* entries, int n, int shift) {
  // A pass costs 256 buckets whatever the entries: few are sorted by comparing.
  if (n <= 256) {
    std::sort(entries, entries + n, Before());
    return;
  }
  // In place, most significant byte of the key first: each pass counts the
  // entries of every byte value, then swaps each entry into its bucket.
  const auto digit = [&shift](const Entry& e) {
    return static_cast<int>(((static_cast<uint64_t>(e.id) << 32 | e.place) >> shift) & 0xFF);
  };
  int count[256] = {}, next[256], end[256];
  for (int i = 0; i < n; ++i) ++count[digit(entries[i])];
  // A byte all entries share sorts nothing: go on to the next.
  while (shift > 0 && count[digit(entries[0])] == n) {
    shift -= 8;
    for (int& c : count) c = 0;
    for (int i = 0; i < n; ++i) ++count[digit(entries[i])];
  }
  for (int b = 0, sum = 0; b < 256; ++b) {
    next[b] = sum;
    sum += count[b];
    end[b] = sum;
  }
  for (int b = 0; b < 256; ++b) {
    while (next[b] < end[b]) {
      Entry e = entries[next[b]];
      for (int d = digit(e); d != b; d = digit(e)) std::swap(e, entries[next[d]++]);
      entries[next[b]++] = e;
    }
  }
  if (shift == 0) return;
  for (int b = 0; b < 256; ++b)
    if (count[b] > 1) sortEntries(entries + end[b] - count[b], count[b], shift - 8);
}

void TrackIndex::push(int group) {
  int i = heapSize_++;
  while (i > 0) {
    const int parent = (i - 1) / 2;
    if (groups_[heap_[parent]].position <= groups_[group].position) break;
    heap_[i] = heap_[parent];
    i = parent;
  }
  heap_[i] = group;
}

int TrackIndex::pop() {
  const int top = heap_[0];
  const int last = heap_[--heapSize_];
  int i = 0;
  for (;;) {
    int child = 2 * i + 1;
    if (child >= heapSize_) break;
    if (child + 1 < heapSize_ &&
        groups_[heap_[child + 1]].position < groups_[heap_[child]].position)
      ++child;
    if (groups_[last].position <= groups_[heap_[child]].position) break;
    heap_[i] = heap_[child];
    i = child;
  }
  if (heapSize_ > 0) heap_[i] = last;
  return top;
}

void TrackIndex::merge(int to, int from) {
  Group& a = groups_[to];
  const Group& b = groups_[from];
  // Re-count b's tracks from a's steps, then merge the two lists by walk index.
  for (int t = b.first; t >= 0; t = next_[t]) base_[t] = a.steps - walkIndex(b, t);
  int* tail = &a.first;
  int x = a.first, y = b.first;
  while (x >= 0 || y >= 0) {
    const bool takeX = y < 0 || (x >= 0 && base_[x] <= base_[y]);
    int& taken = takeX ? x : y;
    *tail = taken;
    tail = &next_[taken];
    taken = next_[taken];
  }
  *tail = -1;
  a.weight += b.weight;
}

void TrackIndex::endPath(uint32_t place, uint32_t next) {
  const uint32_t path = place >> kDepthBits;
  pathEnd_[path] = static_cast<int32_t>(place & kDepthMask);
  pathNext_[path] = next;
}

bool TrackIndex::build(const int64_t (&starts)[kTracks], ReadHeader read, void* source) {
  entryCount_ = 0;
  pathCount_ = 0;
  // What earlier builds stored in seen_ no longer counts.
  if (++builds_ == 0) {
    for (Seen& seen : seen_) seen.build = 0;
    builds_ = 1;
  }
  heapSize_ = 0;
  for (int t = 0; t < kTracks; ++t) {
    length_[t] = 0;
    start_[t] = kNone;
    if (starts[t] < 0) continue;
    groups_[t] = Group{starts[t], kNone, 0, 1, t};
    base_[t] = 0;
    next_[t] = -1;
    push(t);
  }

  int arrived[kTracks];
  int carried = -1;  // the group that read the last header, while it stays lowest
  while (carried >= 0 || heapSize_ > 0) {
    // All groups at the lowest position: those that read headers before it
    // (the heaviest goes on along its path) and tracks that start here.
    int arrivals = 0, heavy = -1, fresh = -1;
    if (carried >= 0 &&
        (heapSize_ == 0 || groups_[carried].position < groups_[heap_[0]].position)) {
      arrived[arrivals++] = heavy = carried;
    } else {
      if (carried >= 0) push(carried);
      const int64_t lowest = groups_[heap_[0]].position;
      while (heapSize_ > 0 && groups_[heap_[0]].position == lowest) {
        const int g = pop();
        if (groups_[g].place == kNone) {
          if (fresh < 0) {
            fresh = g;
          } else {
            merge(fresh, g);
          }
        } else {
          arrived[arrivals++] = g;
          if (heavy < 0 || groups_[g].weight > groups_[heavy].weight) heavy = g;
        }
      }
    }
    carried = -1;
    const int group = heavy >= 0 ? heavy : fresh;
    Group& g = groups_[group];
    const int64_t position = g.position;

    const uint8_t* header = read(source, position);
    if (header == nullptr || le16(header + kSectorCountOffset) == 0) {
      // Every walk here stops before this header.
      for (int i = 0; i < arrivals; ++i) {
        const Group& a = groups_[arrived[i]];
        for (int t = a.first; t >= 0; t = next_[t]) length_[t] = walkIndex(a, t);
        endPath(a.place, kNone);
      }
      continue;  // tracks starting here read nothing
    }

    uint32_t place;
    if (heavy >= 0) {
      place = g.place + 1;
    } else {
      place = static_cast<uint32_t>(pathCount_++) << kDepthBits;
    }
    if (fresh >= 0) {
      for (int t = groups_[fresh].first; t >= 0; t = next_[t]) start_[t] = place;
      if (fresh != group) merge(group, fresh);
    }
    for (int i = 0; i < arrivals; ++i) {
      if (arrived[i] == group) continue;
      endPath(groups_[arrived[i]].place, place);
      merge(group, arrived[i]);
    }

    // A header whose ID came before it on its path, with no walk entering
    // the path in between, is never the first with that ID: it is left out
    // when the table of recent (ID, stretch) pairs remembers that ID.
    const uint32_t id = static_cast<uint32_t>(le32(header));
    const uint32_t path = place >> kDepthBits;
    if (fresh >= 0 || arrivals != 1) stretch_[path] = place;
    Seen& seen = seen_[((id * 0x9E3779B1u) ^ (stretch_[path] * 0x85EBCA77u)) >> (32 - kSeenBits)];
    if (seen.id != id || seen.stretch != stretch_[path] || seen.build != builds_) {
      if (entryCount_ == kCapacity) return false;
      entries_[entryCount_++] = {id, place, static_cast<int32_t>(position)};
      seen = {id, stretch_[path], builds_};
    }

    // Walks whose index reaches this header's count stop after it.
    const int count = le16(header + kSectorCountOffset);
    while (g.first >= 0 && walkIndex(g, g.first) + 1 >= count) {
      length_[g.first] = walkIndex(g, g.first) + 1;
      g.first = next_[g.first];
    }
    if (g.first < 0) {
      endPath(place, kNone);
      continue;
    }
    ++g.steps;
    g.place = place;
    g.position = position + kHeaderSize + le16(header + kDataSizeOffset);
    carried = group;
  }

  sortEntries(entries_, entryCount_, 56);
  return true;
}

int64_t TrackIndex::find(int track, uint32_t id) const {
  if (track < 0 || track >= kTracks) return -1;
  int remaining = length_[track];
  uint32_t place = start_[track];
  const Entry* end = entries_ + entryCount_;
  while (remaining > 0 && place != kNone) {
    const uint32_t path = place >> kDepthBits;
    int run = pathEnd_[path] - static_cast<int>(place & kDepthMask) + 1;
    if (run > remaining) run = remaining;
    // The first entry at or after (id, place); a hit if it lies in this run.
    const Entry* e = std::lower_bound(entries_, end, Entry{id, place, 0}, Before());
    if (e != end && e->id == id && e->place < place + static_cast<uint32_t>(run))
      return e->position;
    remaining -= run;
    place = pathNext_[path];
  }
  return -1;
}
