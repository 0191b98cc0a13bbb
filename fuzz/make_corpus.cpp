// Writes the fuzzers' seed corpus into the directory given: small Disk A,
// Disk B and mixed images made with the test-image builder, and small hostile
// shapes (bench/shapes.h).
// Usage: make_corpus DIRECTORY
#include <algorithm>
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

// A Disk B with only the tracks it reads, and short music tracks.
Disk smallDiskB() {
  Disk b = diskB("B");
  std::vector<Track> kept;
  for (Track& t : b.tracks) {
    if (t.index >= 30 && t.index <= 35) t.sectors.resize(2);
    if (t.index == 0 || (t.index >= 30 && t.index <= 35)) kept.push_back(t);
  }
  b.tracks = kept;
  return b;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) return 1;
  const std::filesystem::path dir = argv[1];
  std::filesystem::create_directories(dir);

  const Disk a = diskA("A", {{3, 0x500}, {9, 0x800}, {0x30, 0x400}, {19, 0}}, 4);
  save(dir, "disk_a.d88", build({a}));
  save(dir, "disk_b.d88", build({smallDiskB()}));

  Disk both = smallDiskB();
  both.tracks.push_back(a.tracks[1]);
  both.tracks.back().sectors.resize(1);
  both.tracks.back().sectors[0].data.resize(600);
  save(dir, "both.d88", build({both}));

  Disk plain{"PLAIN", {track(0, 4, 1)}};
  plain.mediaType = 0x10;
  save(dir, "several.d88", build({plain, a, smallDiskB(), Disk{"LAST", {}, 0}}));

  // Sectors in interleaved order, a duplicate ID, and a sector of another size.
  Disk odd = a;
  for (Track& t : odd.tracks) {
    std::reverse(t.sectors.begin(), t.sectors.end());
    std::swap(t.sectors[1], t.sectors[3]);
  }
  odd.tracks[2].sectors.push_back(odd.tracks[2].sectors[0]);
  odd.tracks[3].sectors[0].n = 1;
  odd.tracks[3].sectors[0].data.resize(256);
  save(dir, "odd_order.d88", build({odd}));

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
