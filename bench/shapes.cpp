#include "bench/shapes.h"

#include <algorithm>
#include <cstring>
#include <functional>

namespace d88test {
namespace {

constexpr int kLongest = 65535;  // the largest sector count and data size
constexpr int kDiskHeader = 688;

// A header that matches nothing the tool asks for (sector number 0), with the
// largest sector count, so that a walk goes on past it.
Sector filler(int dataSize = 0) {
  return Sector{0, 0, 0, 0, {}, kLongest, dataSize};
}

// The 1,024-byte sectors of tracks `first` to `last` (five each, each
// counting 65,535 sectors), the directory in the first sector of track 1:
// 64 entries of 65,535 bytes, entry j from sector 1 of track start(j).
std::vector<Sector> itemSectors(int first, int last, const std::function<int(int)>& start) {
  std::vector<Sector> sectors;
  for (int t = first; t <= last; ++t) {
    for (int r = 1; r <= 5; ++r) {
      sectors.push_back({t / 2, t % 2, r, 3, sectorData(t, r, 1024), kLongest, {}});
      if (t != 1 || r != 1) continue;
      for (int j = 0; j < 64; ++j) {
        uint8_t* entry = sectors.back().data.data() + 8 * j;
        const int logical = 5 * start(j);
        entry[0] = 1;
        entry[2] = static_cast<uint8_t>(logical);
        entry[3] = static_cast<uint8_t>(logical >> 8);
        entry[4] = entry[5] = 0xFF;
      }
    }
  }
  return sectors;
}

int trackOne(int) {
  return 1;
}

// A track record of `walk` headers: fillers, then `sectors`.
Track record(int index, int walk, const std::vector<Sector>& sectors) {
  const size_t fillers = static_cast<size_t>(std::max(walk - static_cast<int>(sectors.size()), 0));
  Track t{index, std::vector<Sector>(fillers, filler())};
  t.sectors.insert(t.sectors.end(), sectors.begin(), sectors.end());
  return t;
}

// The bytes of a track record, without the disk header build() puts first.
Bytes recordBytes(const Track& track) {
  const Bytes disk = build({Disk{"", {track}}});
  return Bytes(disk.begin() + kDiskHeader, disk.end());
}

// `disks` disks of 688 + 16 x `starts` bytes, each with `starts` headers
// after its disk header, and track t of every disk starting at header t mod
// `starts`. Header k leads to `target`(k) (no further than 65,535 bytes on),
// or when `chained` to header k of the next disk, the last disk's to `target`(k).
Bytes relayDisks(const char* name, int disks, int starts, bool chained,
                 const std::function<int64_t(int)>& target) {
  const int size = kDiskHeader + 16 * starts;
  Bytes image;
  for (int i = 0; i < disks; ++i) {
    Disk disk{name, {Track{}}, size};
    for (int k = 0; k < starts; ++k) {
      const int64_t next = int64_t{size} * i + kDiskHeader + 16 * (k + 1);
      const int64_t to = chained && i + 1 < disks ? next - 16 + size : target(k);
      disk.tracks[0].sectors.push_back(filler(static_cast<int>(to - next)));
    }
    for (int t = 0; t < 164; ++t) disk.offsets[t] = kDiskHeader + 16 * (t % starts);
    image = image + build({disk});
  }
  return image;
}

// 64 disks each leading its tracks into 117 chains of `length` headers woven
// through the same bytes: a header at bytes 0 to 8 of every 21 (the sector
// counts at 4 to 13 are 0xF0F0 or more, the data sizes at 14 to 23 are 257,
// so a chain steps 13 blocks of 21). Disk k's 117 headers lead to disk k +
// 1's, the last disk's into the chains, and chain 1 (track 1's) ends at an
// empty directory. IDs change from block to block, so the index stores nearly
// every header: with 117 walks moving together, its build and sort cost the
// most per header we found.
Bytes interleavedChains(int disks, int length) {
  constexpr int kChains = 117, kBlock = 21, kStep = 13;
  const int64_t chains = int64_t{disks} * (kDiskHeader + 16 * kChains);
  Bytes image = relayDisks("SHAPE 6", disks, kChains, true,
                           [chains](int j) { return chains + kBlock * (j % kStep) + j / kStep; });
  uint32_t random = 1;
  for (int64_t m = 0; m < int64_t{kStep} * length; ++m) {
    uint8_t block[kBlock] = {1, 1, 1, static_cast<uint8_t>(m)};
    for (int i = 4; i < 14; ++i) {
      random = random * 1103515245u + 12345u;
      block[i] = static_cast<uint8_t>(0xF0 | random >> 28);
    }
    for (int i = 14; i < kBlock; ++i) block[i] = 1;
    image.insert(image.end(), block, block + kBlock);
  }
  // Chain 1 goes on past the blocks into the directory of track 1.
  image.insert(image.end(), kBlock, 0);
  return image + recordBytes(Track{0, {{0, 1, 1, 3, Bytes(1024, 0), kLongest, {}}}});
}

// Writes the 16 bytes of a sector header with ID `id` (C, H, R, N), the
// largest sector count and data size `dataSize` at `at`.
void putHeader(uint8_t* at, const uint8_t (&id)[4], int dataSize) {
  std::fill_n(at, 16, 0);
  std::copy_n(id, 4, at);
  at[4] = at[5] = 0xFF;
  at[14] = static_cast<uint8_t>(dataSize);
  at[15] = static_cast<uint8_t>(dataSize >> 8);
}

// The refill image: 64 Disk A of 14 headers (sector count 65,535) that start
// their tracks and lead to shared places: track 1 to the directory, whose 64
// items all start on track 2 and take 65,535 bytes; track t of 2 to 14 to
// chain t - 2 of 13, interleaved 16 bytes apart, each 26 headers that match
// nothing and then the five sectors of track t, all 65,551 bytes apart. Every
// lookup reads at most 32 headers, each far from the one before.
Bytes refillImage() {
  constexpr int kDisks = 64, kRelays = 14, kChains = 13, kFillers = 26, kStride = 16 + kLongest;
  const int64_t directory = int64_t{kDisks} * (kDiskHeader + 16 * kRelays);
  const int64_t chains = directory + 16 + 1024;
  Bytes image = relayDisks("REFILL", kDisks, kRelays, false, [&](int k) {
    return k == 1 ? directory : chains + 16 * ((k + kChains - 1) % kRelays);
  });
  image = image + recordBytes(Track{0, {itemSectors(1, 1, [](int) { return 2; })[0]}});
  image.resize(chains + 16 * (kChains - 1) + int64_t{kStride} * (kFillers + 4) + 16 + 1024);
  for (int c = 0; c < kChains; ++c) {
    for (int i = 0; i < kFillers + 5; ++i) {
      const int t = c + 2, r = i - kFillers + 1;
      const uint8_t filler[4] = {9, 9, 0, 9},
                    sector[4] = {uint8_t(t / 2), uint8_t(t % 2), uint8_t(r), 3};
      putHeader(&image[chains + 16 * c + int64_t{kStride} * i], r > 0 ? sector : filler, kLongest);
    }
  }
  return image;
}

}  // namespace

bool writeSparseImage(FILE* out, const Scale& scale) {
  constexpr int kChains = 150, kStride = 24576, kFillers = 32;
  // The disks, then track 1's empty directory behind 32 headers that match
  // nothing (so that every disk's lookups read more than 32 headers), then
  // the chains.
  const int64_t fillers = int64_t{scale.disks} * (kDiskHeader + 16 * kChains);
  const int64_t directory = fillers + 16 * kFillers, chains = directory + 16 + 1024;
  Bytes start = relayDisks("SPARSE", scale.disks, kChains, true,
                           [&](int j) { return j == 1 ? fillers : chains + 16 * j; });
  start.resize(chains);
  for (int k = 0; k < kFillers; ++k) putHeader(&start[fillers + 16 * k], {9, 9, 0, 9}, 0);
  putHeader(&start[directory], {0, 1, 1, 3}, 16 + 1024);
  if (fwrite(start.data(), 1, start.size(), out) != start.size()) return false;
  // Header i of chain j: ID (j, i mod 256, i / 256, 0), so that every one is stored.
  uint8_t clump[16 * kChains];
  for (int i = 0; i < scale.walk; ++i) {
    for (int j = 0; j < kChains; ++j)
      putHeader(clump + 16 * j, {uint8_t(j), uint8_t(i), uint8_t(i >> 8), 0}, kStride - 16);
    if (fseek(out, static_cast<long>(chains + int64_t{kStride} * i), SEEK_SET) != 0 ||
        fwrite(clump, 1, sizeof clump, out) != sizeof clump)
      return false;
  }
  return true;
}

Bytes hostileImage(const std::string& shape, const Scale& scale) {
  const int walk = scale.walk, lastTrack = scale.lastTrack, disks = scale.disks;
  std::map<int, int64_t> allTracks;
  for (int t = 0; t < 164; ++t) allTracks[t] = kDiskHeader;
  const std::vector<Sector> sectors = itemSectors(1, lastTrack, trackOne);
  Bytes image;
  if (shape == "shape1") {
    image = build({Disk{"SHAPE 1", {record(0, walk, sectors)}, {}, allTracks}});
  } else if (shape.rfind("shape2-", 0) == 0 && shape.size() == 8 && shape[7] >= '2' &&
             shape[7] <= '4') {
    const int n = shape[7] - '0';
    Disk disk{"SHAPE 2"};
    for (int k = 0; k < n; ++k) {
      std::vector<Sector> own;
      for (const Sector& s : sectors)
        if ((2 * s.c + s.h) % n == k) own.push_back(s);
      disk.tracks.push_back(record(k, walk, own));
    }
    image = build({disk});
    // Track t reads the record of track t mod n.
    for (int t = n; t < 164; ++t) memcpy(&image[32 + 4 * t], &image[32 + 4 * (t % n)], 4);
  } else if (shape == "shape3") {
    const int64_t shared = int64_t{disks} * (kDiskHeader + 16);
    image = relayDisks("SHAPE 3", disks, 1, false, [shared](int) { return shared; });
    return image + recordBytes(record(0, walk - 1, sectors));
  } else if (shape == "shape4") {
    Disk disk{"SHAPE 4"};
    const int last = lastTrack > 0 ? lastTrack + 63 : 0;
    disk.tracks.push_back(record(0, walk, itemSectors(1, last, [](int j) { return 1 + j; })));
    for (int t = 0; t < 164; ++t) disk.offsets[t] = kDiskHeader + 16 * t;
    image = build({disk});
  } else if (shape == "shape5") {
    // Record k has its headers at bytes k of every 16: bytes 14 to 3 are 0
    // (the data sizes), 4 to 9 the sector counts (at least 0xFF01), and byte
    // 4 changes from one 16 to the next, so four of the five records never
    // repeat an ID twice in a row.
    const int64_t records = int64_t{disks} * (kDiskHeader + 16 * 5);
    image = relayDisks("SHAPE 5", disks, 5, false, [records](int k) { return records + k; });
    const int blocks = walk - 1 - 5;
    for (int m = 0; m < blocks; ++m) {
      uint8_t block[16] = {0,    0,    0,    0,    static_cast<uint8_t>(1 + m % 255),
                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF};
      image.insert(image.end(), block, block + 16);
    }
    // Record 1 (track 1's) goes on into the sectors of track 1.
    image.push_back(0);
    return image + recordBytes(Track{0, itemSectors(1, std::min(lastTrack, 1), trackOne)});
  } else if (shape == "refill") {
    return refillImage();
  } else if (shape == "shape6" || shape == "shape6-long") {
    // Chains stay shorter than the sector counts, 0xF0F0 and more.
    return interleavedChains(disks, std::min(walk, shape == "shape6" ? 3500 : 61000));
  } else {
    return {};
  }
  return image + build({Disk{"BACK", {}, -static_cast<int64_t>(image.size())}});
}

}  // namespace d88test
