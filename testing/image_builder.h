// Builds D88 images for the tests, the demo, the fuzz corpus and the
// benchmarks from a short description. Every field can be overridden, so a
// damaged image is described the same way as a good one.
#ifndef TESTING_IMAGE_BUILDER_H_
#define TESTING_IMAGE_BUILDER_H_

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace d88test {

using Bytes = std::vector<uint8_t>;

struct Sector {
  int c = 0, h = 0, r = 1, n = 1;
  Bytes data;
  std::optional<int> count{};     // sector-count field; default: the sectors in the track
  std::optional<int> dataSize{};  // data-size field; default: data.size()
};

struct Track {
  int index = 0;
  std::vector<Sector> sectors{};
};

struct Disk {
  std::string name;                  // from byte 0; may run past 16 bytes into the reserved ones
  std::vector<Track> tracks{};       // laid out in this order after the header
  std::optional<int64_t> size{};     // disk-size field; default: the disk's bytes (a larger
                                     // size up to 1 MiB pads the disk with zeros)
  std::map<int, int64_t> offsets{};  // track-table entries overriding the computed ones
  int mediaType = 0;
};

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes build(const std::vector<Disk>& disks);

// Deterministic filler for sector r of track index `track`, so any run can be checked.
Bytes sectorData(int track, int r, int size);

// Track index `index`: sectors r = 1..sectors of size code n on cylinder
// index / 2, head index % 2, filled by sectorData().
Track track(int index, int sectors, int n);

// A Disk A: `tracks` tracks of five 1,024-byte sectors; the directory of
// (start, size) entries in sector (0, 1, 1) of track index 1, ended by a 0
// marker when there are fewer than 64.
using Entry = std::pair<int, int>;
Disk diskA(const std::string& name, const std::vector<Entry>& entries, int tracks = 40);

// A Disk B: 40 tracks of sixteen 256-byte sectors, and the signature.
extern const char kSignature[17];
Disk diskB(const std::string& name);

// The bytes `disk` holds for a run of `length` bytes from sector r of track
// index `track`, on through sector `last` to sector 1 of the next track
// index; shorter where a sector is missing or short. Expected item contents.
Bytes run(const Disk& disk, int track, int r, int last, int length);

}  // namespace d88test

#endif  // TESTING_IMAGE_BUILDER_H_
