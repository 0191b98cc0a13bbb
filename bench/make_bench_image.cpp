// Writes a large benchmark image: DISKS disks, Disk A and Disk B alternating.
// Every Disk A has all 164 tracks of five 1,024-byte sectors and 64 directory
// entries of 32 to 64 KiB, overlapping; every Disk B its seven items.
// Usage: make_bench_image OUTPUT.d88 DISKS
#include <cstdio>
#include <cstdlib>

#include "tests/image_builder.h"

int main(int argc, char** argv) {
  if (argc != 3 || atoi(argv[2]) <= 0) {
    fprintf(stderr, "usage: %s OUTPUT.d88 DISKS\n", argv[0]);
    return 1;
  }
  const int disks = atoi(argv[2]);
  std::vector<d88test::Entry> entries;
  for (int j = 0; j < 64; ++j) entries.push_back({10 + (j * 97) % 700, 65535 - (j * 1031) % 32768});
  const d88test::Bytes a = d88test::build({d88test::diskA("BENCH A", entries, 164)});
  const d88test::Bytes b = d88test::build({d88test::diskB("BENCH B")});

  FILE* f = fopen(argv[1], "wb");
  bool ok = f != nullptr;
  for (int i = 0; ok && i < disks; ++i) {
    const d88test::Bytes& disk = i % 2 == 0 ? a : b;
    ok = fwrite(disk.data(), 1, disk.size(), f) == disk.size();
  }
  if (f == nullptr || fclose(f) != 0 || !ok) {
    fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
