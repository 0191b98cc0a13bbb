#include "testing/image_builder.h"

#include <algorithm>

namespace d88test {
namespace {

// Writes the low `bytes` bytes of `v` at `at`, little-endian.
void put(Bytes& b, size_t at, int64_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

}  // namespace

const char kSignature[17] = "QUORVELSTANE(c)A";

Bytes build(const std::vector<Disk>& disks) {
  Bytes out;
  for (const Disk& disk : disks) {
    const size_t base = out.size();
    out.resize(base + 688, 0);
    std::copy_n(disk.name.begin(), std::min<size_t>(disk.name.size(), 27), out.begin() + base);
    out[base + 27] = static_cast<uint8_t>(disk.mediaType);
    for (const Track& t : disk.tracks) {
      put(out, base + 32 + 4 * t.index, static_cast<int64_t>(out.size() - base), 4);
      for (const Sector& s : t.sectors) {
        const size_t at = out.size();
        out.insert(out.end(), {uint8_t(s.c), uint8_t(s.h), uint8_t(s.r), uint8_t(s.n)});
        out.resize(at + 16, 0);
        put(out, at + 4, s.count.value_or(static_cast<int>(t.sectors.size())), 2);
        put(out, at + 14, s.dataSize.value_or(static_cast<int>(s.data.size())), 2);
        out.insert(out.end(), s.data.begin(), s.data.end());
      }
    }
    for (const auto& [index, offset] : disk.offsets) put(out, base + 32 + 4 * index, offset, 4);
    const int64_t size = disk.size.value_or(static_cast<int64_t>(out.size() - base));
    put(out, base + 28, size, 4);
    // A larger size pads the disk, up to a bound that keeps huge size fields cheap.
    if (size > static_cast<int64_t>(out.size() - base) && size <= (1 << 20))
      out.resize(base + size);
  }
  return out;
}

Bytes sectorData(int track, int r, int size) {
  Bytes b(static_cast<size_t>(size));
  for (int i = 0; i < size; ++i)
    b[i] = static_cast<uint8_t>((track * 31 + r * 7 + i * 3 + (i >> 8)) ^ (i >> 5));
  return b;
}

Track track(int index, int sectors, int n) {
  Track t{index};
  for (int r = 1; r <= sectors; ++r)
    t.sectors.push_back({index / 2, index % 2, r, n, sectorData(index, r, 128 << n)});
  return t;
}

Disk diskA(const std::string& name, const std::vector<Entry>& entries, int tracks) {
  Disk d{name};
  for (int i = 0; i < tracks; ++i) d.tracks.push_back(track(i, 5, 3));
  Bytes& directory = d.tracks.at(1).sectors[0].data;
  if (entries.size() < 64) directory[8 * entries.size()] = 0;
  for (size_t j = 0; j < entries.size(); ++j) {
    directory[8 * j] = 1;
    put(directory, 8 * j + 2, entries[j].first, 2);
    put(directory, 8 * j + 4, entries[j].second, 2);
  }
  return d;
}

Disk diskB(const std::string& name) {
  Disk d{name};
  for (int i = 0; i < 40; ++i) d.tracks.push_back(track(i, 16, 1));
  std::copy_n(kSignature, 16, d.tracks[0].sectors[15].data.begin() + 240);
  return d;
}

Bytes run(const Disk& disk, int track, int r, int last, int length) {
  Bytes out;
  for (;;) {
    const Sector* s = nullptr;
    for (const Track& t : disk.tracks)
      for (const Sector& x : t.sectors)
        if (s == nullptr && t.index == track && x.r == r) s = &x;
    const size_t want = std::min<size_t>(128 << (s ? s->n : 0), length - out.size());
    if (want == 0 || s == nullptr || s->data.size() < want) return out;
    out.insert(out.end(), s->data.begin(), s->data.begin() + want);
    track += r == last ? 1 : 0;
    r = r == last ? 1 : r + 1;
  }
}

}  // namespace d88test
