// Writes a benchmark image.
//   make_bench_image OUTPUT.d88 DISKS   DISKS disks, Disk A and Disk B alternating.
//     Every Disk A has all 164 tracks of five 1,024-byte sectors and 64
//     directory entries of 32 to 64 KiB, overlapping; every Disk B its seven items.
//   make_bench_image OUTPUT.d88 SHAPE   a hostile image (bench/shapes.h):
//     shape1, shape2-2 to shape2-4, shape3, shape4, shape5, shape6,
//     shape6-long.
#include <cstdio>
#include <cstdlib>

#include "bench/shapes.h"

using namespace d88test;

int main(int argc, char** argv) {
  Bytes image;
  if (argc == 3 && atoi(argv[2]) > 0) {
    const int disks = atoi(argv[2]);
    std::vector<Entry> entries;
    for (int j = 0; j < 64; ++j)
      entries.push_back({10 + (j * 97) % 700, 65535 - (j * 1031) % 32768});
    const Bytes a = build({diskA("BENCH A", entries, 164)});
    const Bytes b = build({diskB("BENCH B")});
    for (int i = 0; i < disks; ++i) {
      const Bytes& disk = i % 2 == 0 ? a : b;
      image.insert(image.end(), disk.begin(), disk.end());
    }
  } else if (argc != 3 || (image = hostileImage(argv[2])).empty()) {
    fprintf(stderr, "usage: %s OUTPUT.d88 DISKS|SHAPE\n", argv[0]);
    return 1;
  }
  FILE* f = fopen(argv[1], "wb");
  if (f == nullptr || fwrite(image.data(), 1, image.size(), f) != image.size() || fclose(f) != 0) {
    fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
