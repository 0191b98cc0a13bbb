// Builds D88 images for tests, the demo and the benchmarks from a short
// description. Every field can be overridden, so damaged images are described
// the same way as good ones.
#ifndef TESTS_IMAGE_BUILDER_H_
#define TESTS_IMAGE_BUILDER_H_

#include <cstdint>
#include <filesystem>
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
  std::optional<int> count;     // sector-count field; default: sectors in the track
  std::optional<int> dataSize;  // data-size field; default: data.size()
};

struct Track {
  int index = 0;
  std::vector<Sector> sectors;
};

struct Disk {
  std::string name;  // written from byte 0; may run past 16 bytes into the reserved ones
  int mediaType = 0;
  std::optional<int64_t> size;          // disk-size field; default: the disk's bytes;
                                        // a larger size up to 1 MiB pads the disk with 0
  std::map<int, int64_t> trackOffsets;  // track-table entries overriding the computed ones
  std::vector<Track> tracks;            // laid out in this order after the header
};

inline Bytes operator+(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

Bytes build(const Disk& disk);
Bytes build(const std::vector<Disk>& disks);

// Deterministic filler for sector (track, r), so any run can be checked.
Bytes sectorData(int track, int r, int size);

// A track of sectors r = 1..sectors, all of size code n, filled by sectorData().
Track track(int index, int sectors, int n);

// A Disk A: `tracks` tracks of five 1,024-byte sectors; the directory of
// (start, size) entries is written into sector (0, 1, 1) of track index 1,
// followed by an end marker when fewer than 64.
using Entry = std::pair<int, int>;
Disk diskA(const std::string& name, const std::vector<Entry>& entries, int tracks = 40);

// A Disk B: 40 tracks of sixteen 256-byte sectors and the signature.
extern const char kSignature[17];
Disk diskB(const std::string& name);

// The bytes a run of `length` bytes from sector r of track index `track`
// holds in `disk`, going on through sector `last` to sector 1 of the next
// track index; shorter where a sector is missing. The expected item contents.
Bytes run(const Disk& disk, int track, int r, int last, int length);

// A fresh directory under the system's temporary directory, removed (with
// everything in it) on destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::filesystem::path& path() const { return path_; }
  std::string write(const std::string& name, const Bytes& bytes) const;

 private:
  std::filesystem::path path_;
};

Bytes readFile(const std::filesystem::path& path);
// Everything below `root` by relative path with '/' separators: files with
// their bytes, directories with a trailing '/' and no bytes.
std::map<std::string, Bytes> readTree(const std::filesystem::path& root);

}  // namespace d88test

#endif  // TESTS_IMAGE_BUILDER_H_
