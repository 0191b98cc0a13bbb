// Writes a benchmark image.
//   make_bench_image OUTPUT.d88 DISKS   DISKS disks, Disk A and Disk B alternating.
//     Every Disk A has all 164 tracks of five 1,024-byte sectors and 64
//     directory entries of 32 to 64 KiB, overlapping; every Disk B its seven items.
//   make_bench_image OUTPUT.d88 DISKS-ORDER   the same with every track's
//     sectors recorded in another order, behind three headers that match
//     nothing: interleave2 (1, 4, 2, 5, 3, and likewise for sixteen),
//     interleave3 (1, 3, 5, 2, 4), reversed, shuffled.
//   make_bench_image OUTPUT.d88 rewrite   shape3 with no headers before the
//     sectors: 64 Disk A whose 64 items all read the same 65 sectors, so
//     that with -d the tool writes the same 64 files 64 times (256 MiB from
//     113 KB).
//   make_bench_image OUTPUT.d88 SHAPE   a hostile image (bench/shapes.h):
//     shape1, shape2-2 to shape2-4, shape3, shape4, shape5, shape6,
//     shape6-long, refill, sparse.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>

#include "bench/shapes.h"

using namespace d88test;

namespace {

// Records the sectors of every track of `disk` in `order`, behind three
// headers that match nothing; false for an unknown order.
bool reorder(Disk& disk, const std::string& order) {
  std::mt19937 random(1);
  for (Track& t : disk.tracks) {
    std::vector<Sector>& s = t.sectors;
    const size_t n = s.size(), step = order == "interleave2" ? 2 : 3;
    if (order == "reversed") {
      std::reverse(s.begin(), s.end());
    } else if (order == "shuffled") {
      std::shuffle(s.begin(), s.end(), random);
    } else if (order == "interleave2" || order == "interleave3") {
      // Sector k + 1 in slot k x step, moved on past the slots taken.
      std::vector<Sector> laid(n);
      std::vector<bool> taken(n);
      for (size_t k = 0, slot = 0; k < n; ++k, slot = (slot + step) % n) {
        while (taken[slot]) slot = (slot + 1) % n;
        laid[slot] = s[k];
        taken[slot] = true;
      }
      s = laid;
    } else {
      return false;
    }
    s.insert(s.begin(), 3, Sector{0, 0, 0, 0, Bytes(16)});
  }
  return true;
}

// The image `what` names, a disk count (with an order) or a shape; empty
// when it names none.
Bytes imageOf(const char* what) {
  if (strcmp(what, "rewrite") == 0) return hostileImage("shape3", {66});
  const int disks = atoi(what);
  if (disks <= 0) return hostileImage(what);
  std::vector<Entry> entries;
  for (int j = 0; j < 64; ++j) entries.push_back({10 + (j * 97) % 700, 65535 - (j * 1031) % 32768});
  Disk diskOfA = diskA("BENCH A", entries, 164), diskOfB = diskB("BENCH B");
  const char* order = strchr(what, '-');
  if (order != nullptr && !(reorder(diskOfA, order + 1) && reorder(diskOfB, order + 1))) return {};
  const Bytes a = build({diskOfA});
  const Bytes b = build({diskOfB});
  Bytes image;
  for (int i = 0; i < disks; ++i)
    image.insert(image.end(), i % 2 ? b.begin() : a.begin(), i % 2 ? b.end() : a.end());
  return image;
}

}  // namespace

int main(int argc, char** argv) {
  const bool sparse = argc == 3 && strcmp(argv[2], "sparse") == 0;
  const Bytes image = argc == 3 && !sparse ? imageOf(argv[2]) : Bytes();
  if (argc != 3 || (!sparse && image.empty())) {
    fprintf(stderr, "usage: %s OUTPUT.d88 DISKS|SHAPE\n", argv[0]);
    return 1;
  }
  FILE* f = fopen(argv[1], "wb");
  const bool written =
      f != nullptr &&
      (sparse ? writeSparseImage(f) : fwrite(image.data(), 1, image.size(), f) == image.size());
  if (f == nullptr || !written || fclose(f) != 0) {
    fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
