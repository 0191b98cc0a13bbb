// Writes the fuzzers' seed corpus into the directory given: small Disk A,
// Disk B and mixed images made with the test-image builder, and small hostile
// shapes (bench/shapes.h), each at most 2 KiB, the longest input the fuzzers
// make (fuzz/run). With "large", the hostile shapes at the scale of tens of
// kilobytes instead, for the slower run of fuzz/run.
// Usage: make_corpus DIRECTORY [large]
#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "bench/shapes.h"

using namespace d88test;

namespace {

void save(const std::filesystem::path& dir, const char* name, const Bytes& bytes) {
  std::ofstream(dir / name, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
}

// A Disk A whose directory (sector 1 of track 1) lists an item of 250 bytes
// in sector 2, one whose first sector is missing, and one of size 0.
Disk smallDiskA() {
  Bytes directory(512);
  const int entries[3][2] = {{6, 250}, {8, 0x500}, {19, 0}};
  for (int j = 0; j < 3; ++j) {
    directory[8 * j] = 1;
    directory[8 * j + 2] = static_cast<uint8_t>(entries[j][0]);
    directory[8 * j + 4] = static_cast<uint8_t>(entries[j][1]);
    directory[8 * j + 5] = static_cast<uint8_t>(entries[j][1] >> 8);
  }
  return Disk{"A", {Track{1, {{0, 1, 1, 3, directory}, {0, 1, 2, 3, sectorData(1, 2, 250)}}}}};
}

// A Disk B with its signature and the first sector of DRIVER only.
Disk smallDiskB() {
  Sector signature{0, 0, 16, 1, Bytes(256)};
  std::copy_n(kSignature, 16, signature.data.begin() + 240);
  return Disk{"B", {Track{0, {signature, {0, 0, 2, 1, sectorData(0, 2, 256)}}}}};
}

}  // namespace

int main(int argc, char** argv) {
  const bool large = argc == 3 && strcmp(argv[2], "large") == 0;
  if (argc != 2 && !large) return 1;
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);
  if (large) {
    // Long track records: shared by all tracks, with tracks starting along
    // one, shared by several disks, interleaved, and woven through the same
    // bytes by many walks at once.
    save(dir, "shared_track.d88", hostileImage("shape1", {2400, 2}));
    save(dir, "staggered.d88", hostileImage("shape4", {600, 0}));
    save(dir, "overlapping.d88", hostileImage("shape3", {600, 1, 4}));
    save(dir, "interleaved.d88", hostileImage("shape5", {600, 1, 2}));
    save(dir, "woven.d88", hostileImage("shape6", {200, 1, 2}));
    return 0;
  }

  save(dir, "disk_a.d88", build({smallDiskA()}));
  save(dir, "disk_b.d88", build({smallDiskB()}));
  Disk both = smallDiskB();
  both.tracks.push_back(smallDiskA().tracks[0]);
  save(dir, "both.d88", build({both}));
  Disk plain{"PLAIN", {track(0, 2, 0)}};
  plain.mediaType = 0x10;
  save(dir, "several.d88", build({plain, Disk{"LAST", {}, 0}}));

  // Sectors in reversed order behind a header that matches nothing, a
  // duplicate ID, and a sector of another size.
  Disk odd{"ODD", {track(0, 4, 0), track(1, 3, 0)}};
  std::reverse(odd.tracks[0].sectors.begin(), odd.tracks[0].sectors.end());
  odd.tracks[0].sectors.insert(odd.tracks[0].sectors.begin(), Sector{0, 0, 0, 0, Bytes(16)});
  odd.tracks[1].sectors.push_back(odd.tracks[1].sectors[0]);
  odd.tracks[1].sectors[1].n = 1;
  save(dir, "odd_order.d88", build({odd}));

  // Long track records, made short: shared by all tracks (and by the disk
  // the table finds again), with tracks starting along one, shared by two
  // disks, and interleaved in the same bytes.
  save(dir, "shared_track.d88", hostileImage("shape1", {40, 0}));
  save(dir, "staggered.d88", hostileImage("shape4", {40, 0}));
  save(dir, "overlapping.d88", hostileImage("shape3", {40, 0, 2}));
  save(dir, "interleaved.d88", hostileImage("shape5", {30, 0, 2}));
  return 0;
}
