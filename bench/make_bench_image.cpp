// Writes a benchmark image.
//   make_bench_image OUTPUT.d88 DISKS   DISKS disks, Disk A and Disk B alternating.
//     Every Disk A has all 164 tracks of five 1,024-byte sectors and 64
//     directory entries of 32 to 64 KiB, overlapping; every Disk B its seven items.
//   make_bench_image OUTPUT.d88 SHAPE   a hostile image (bench/shapes.h):
//     shape1, shape2-2 to shape2-4, shape3, shape4, shape5, shape6,
//     shape6-long, refill, sparse.
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "bench/shapes.h"

using namespace d88test;

namespace {

// The image `what` names, a disk count or a shape; empty when it names none.
Bytes imageOf(const char* what) {
  const int disks = atoi(what);
  if (disks <= 0) return hostileImage(what);
  std::vector<Entry> entries;
  for (int j = 0; j < 64; ++j) entries.push_back({10 + (j * 97) % 700, 65535 - (j * 1031) % 32768});
  const Bytes a = build({diskA("BENCH A", entries, 164)});
  const Bytes b = build({diskB("BENCH B")});
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
