#include "diskimage/d88_image.h"

#include <gtest/gtest.h>

#include <fstream>
#include <random>
#include <set>

#include "bench/shapes.h"
#include "testing/image_builder.h"
#include "testing/plain_walk.h"

using namespace d88test;

namespace {

// Writes `image` to a file of the running test's own; returns its path.
std::string write(const Bytes& image) {
  // Of this process too, so that suites running at once keep to their own;
  // removed when it ends.
  static const struct Files {
    std::string process = std::to_string(std::random_device()());
    mutable std::set<std::string> paths;
    ~Files() {
      for (const std::string& path : paths) std::remove(path.c_str());
    }
  } files;
  const std::string path = testing::TempDir() +
                           testing::UnitTest::GetInstance()->current_test_info()->name() + "-" +
                           files.process + ".d88";
  files.paths.insert(path);
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  return path;
}

// Opens `image` in `reader`, selecting disk `disk` when there is one.
void open(D88Image& reader, const Bytes& image, int disk = 0) {
  ASSERT_TRUE(reader.open(write(image).c_str()));
  if (reader.diskCount() > disk) {
    EXPECT_TRUE(reader.selectDisk(disk));
  }
}

// The disk count of `image` and the names of its first four disks, each selected.
std::string table(const Bytes& image) {
  D88Image reader;
  open(reader, image);
  std::string text = std::to_string(reader.diskCount()) + ":";
  for (int i = 0; i < std::min(reader.diskCount(), 4); ++i)
    text += std::string(" ") + (reader.selectDisk(i) ? reader.diskName() : "?");
  return text;
}

// Sector r of track index 0 with `size` bytes and, when given, a sector-count field.
Sector at(int r, int size, std::optional<int> count = {}) {
  return {0, 0, r, 1, sectorData(0, r, size), count};
}
Disk track0(std::vector<Sector> sectors, int64_t offset = 688, std::optional<int64_t> size = {}) {
  return Disk{"", {{0, std::move(sectors)}}, size, {{0, offset}}};
}

// readSector of (track, c, h, r, n) = id on disk `disk` of `image`: the bytes
// copied, once checked to be sector r's data with nothing written past them.
int lookup(const Bytes& image, std::vector<int> id, int maxLen = 999) {
  D88Image reader;
  open(reader, image);
  Bytes buffer(maxLen + 1, 0xAA);
  const int got = reader.readSector(id[0], id[1], id[2], id[3], id[4], buffer.data(), maxLen);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), sectorData(0, id[3], got));
  EXPECT_EQ(buffer[got], 0xAA);
  return got;
}

}  // namespace

TEST(Reader, DiskTable) {
  const Disk a{"a", {}, 700}, b{"b", {}, 700}, header{"h", {}, 688};
  EXPECT_EQ(table(build({a, b, header})), "3: a b h");
  EXPECT_EQ(table(build({a, Disk{"z", {}, 0}})), "64: a z z z");  // size 0 repeats to the end
  EXPECT_EQ(table(Bytes(687, 0)), "0:");                          // shorter than one header
  EXPECT_EQ(table(build({header}) + Bytes(687, 1)), "1: h");      // bytes after the last header
  EXPECT_EQ(table(build({Disk{"n", {}, -1}, header})), "1: n");   // a negative size ends the walk
  EXPECT_EQ(table(build({Disk{"H", {}, INT32_MAX}, header})), "1: H");    // and a huge one
  EXPECT_EQ(table(build(std::vector<Disk>(70, header))), "64: h h h h");  // 64 at the most
}

TEST(Reader, SelectDisk) {
  Disk second{"SIXTEEN_CHARS_XYZ", {}, 8192};  // the 17th character spills over
  second.mediaType = 0x20;
  D88Image reader;
  open(reader, build({Disk{"first", {}, 8192}, second}), 1);
  EXPECT_STREQ(reader.diskName(), "SIXTEEN_CHARS_XY");
  EXPECT_EQ(reader.mediaType(), 0x20);
  EXPECT_EQ(reader.currentDisk(), 1);
  // A bad index, on the file as opened, or a header cut short since: nothing is selected.
  for (int bad : {2, -1, 1}) {
    if (bad == 1) write(build({Disk{"first", {}, 8192}}) + Bytes(100, 0));
    EXPECT_FALSE(reader.selectDisk(bad));
    EXPECT_EQ(reader.currentDisk(), -1);
    EXPECT_EQ(reader.mediaType(), -1);
    EXPECT_STREQ(reader.diskName(), "");
  }
  // Closed: nothing can be selected or read, whatever was selected before.
  EXPECT_TRUE(reader.selectDisk(0));
  EXPECT_TRUE(reader.open(nullptr));
  EXPECT_FALSE(reader.selectDisk(0));
  EXPECT_EQ(reader.readSector(0, 0, 0, 1, 1, nullptr, 0), 0);
}

TEST(Reader, SectorLookup) {
  const std::vector<int> r1 = {0, 0, 0, 1, 1};  // track index 0, sector (0, 0, 1, 1)
  const Bytes one = build({track0({at(1, 256)})});
  // Which tracks are usable, where walks stop and which of two sectors of one
  // ID is found are tried at length by Reader.TrackIndex.
  EXPECT_EQ(lookup(one, r1), 256);
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 688, 688)}), r1), 256);  // offset = disk size
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 688, -5)}), r1), 0);     // negative disk size
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 1e5, 2e5)}), r1), 0);    // past the end of the file

  // The first of two sectors 1 wins; its data size counts, not its size code.
  EXPECT_EQ(lookup(build({track0({at(1, 128), {0, 0, 1, 1, Bytes(64, 0x11)}})}), r1), 128);

  // At most maxLen bytes, at most the data size, at most what the file holds.
  EXPECT_EQ(lookup(one, r1, 0) + lookup(build({track0({at(1, 0)})}), r1), 0);
  EXPECT_EQ(lookup(one, r1, 1), 1);
  EXPECT_EQ(lookup(Bytes(one.begin(), one.end() - 56), r1), 200);
}

TEST(Reader, SectorIds) {
  // A count of 0 does not end a listing; a header cut short does.
  const Bytes image = build({track0({at(1, 16, 0), at(2, 0, 0), {7, 0, 3, 3, Bytes(32), 0}})});
  D88Image reader;
  open(reader, image);
  uint8_t ids[16] = {};
  EXPECT_EQ(reader.readSectorIds(0, ids, 16), 12);
  EXPECT_EQ(Bytes(ids, ids + 12), (Bytes{0, 0, 1, 1, 0, 0, 2, 1, 7, 0, 3, 3}));
  EXPECT_EQ(reader.readSectorIds(0, ids, 7) + reader.readSectorIds(0, ids, 8), 12);  // whole IDs
  open(reader, Bytes(image.begin(), image.end() - 32 - 8));
  EXPECT_EQ(reader.readSectorIds(0, ids, 16), 8);
  open(reader, build({Disk{"", {track(0, 2, 1), track(1, 2, 1)}}}));  // the count ends it
  EXPECT_EQ(reader.readSectorIds(0, ids, 16), 8);
}

TEST(Reader, SectorRuns) {
  Disk d{"", {track(0, 17, 1), track(1, 5, 1), track(2, 5, 1), track(3, 5, 1), track(4, 5, 0)}};
  d.tracks[3].sectors.erase(d.tracks[3].sectors.begin() + 2);
  D88Image reader;
  open(reader, build({d}));
  int last = 16;  // the range starts as 1..16: sector 17 is never read
  // readSectors from (track, c, h, r, n) = id, checked against the builder's run.
  const auto runOf = [&](std::vector<int> id, int length) {
    Bytes buffer(length + 1, 0xAA);
    const int got = reader.readSectors(id[0], id[1], id[2], id[3], id[4], buffer.data(), length);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), run(d, id[0], id[3], last, got));
    EXPECT_EQ(buffer[got], 0xAA);
    return got;
  };
  EXPECT_EQ(runOf({0, 0, 0, 1, 1}, 4352), 4352);
  last = 5;
  reader.setSectorRange(1, last);
  EXPECT_EQ(runOf({1, 0, 1, 4, 1}, 600), 600);  // from head 1 on to cylinder 1, part of a sector
  EXPECT_EQ(runOf({1, 0, 1, 4, 1}, 0), 0);
  EXPECT_EQ(runOf({2, 1, 0, 6, 1}, 600), 0);     // a missing first sector
  EXPECT_EQ(runOf({3, 1, 1, 1, 1}, 1024), 512);  // a missing third sector
  EXPECT_EQ(runOf({4, 2, 0, 1, 0}, 200), 200);   // size code 0: sectors of 128 bytes
  EXPECT_EQ(runOf({1, 0, 1, 1, 24}, 600) + runOf({1, 0, 1, 1, -1}, 600), 0);  // no such size
}

// An image to try the track index on: a record of 20-byte slots, each a
// header and 4 bytes of data leading 1 to 4 slots on, so that chains join;
// few distinct IDs but for one in eight; counts that end walks early or at
// once. Disk 0 (at 0) and disk 2 (at 688) start their tracks at random slots
// or not at all (an offset of 0, negative or past the disk), or on an empty
// record (an offset equal to the disk size), at the same file positions when
// `same`; disk 1, after the record, leads back to disk 2.
Bytes indexImage(std::mt19937& random, bool same) {
  const auto pick = [&random](int n) { return static_cast<int>(random() % n); };
  const int slots = 20 + pick(pick(4) == 0 ? 1500 : 200);
  const int64_t end = 1376 + 20 * slots;
  Bytes image(end + 688, 0);
  const auto put = [&image](int64_t at, int64_t value, int bytes) {
    for (int i = 0; i < bytes; ++i) image[at + i] = static_cast<uint8_t>(value >> 8 * i);
  };
  put(28, end, 4);
  put(end + 28, 688 - end, 4);
  put(688 + 28, end - 688, 4);
  const int64_t kinds[4] = {0, -20, end + 20, end};
  for (int t = 0; t < 164; ++t) {
    const auto start = [&] { return pick(4) ? 1376 + 20 * pick(slots) : kinds[pick(4)]; };
    const int64_t first = start(), second = same ? first : start();
    put(32 + 4 * t, first, 4);
    put(688 + 32 + 4 * t, second > 0 ? second - 688 : second, 4);
  }
  for (int64_t at = 1376; at < end; at += 20) {
    put(at, pick(8) == 0 ? random() : pick(2) | pick(4) << 16 | 1 << 24, 4);
    const int kind = pick(40);
    put(at + 4, kind == 0 ? 0 : kind < 3 ? 1 + pick(60) : 65535, 2);
    put(at + 14, 20 * (1 + pick(4)) - 16, 2);
    put(at + 16, random(), 4);
  }
  return image;
}

// The track index answers every lookup as a plain walk does, on 300 such
// images, with IDs each walk reads (spread over it) and one it may not, and
// reads no header twice for it.
TEST(Reader, TrackIndex) {
  std::mt19937 random(17);
  for (int round = 0; round < 300; ++round) {
    const Bytes image = indexImage(random, round % 2);
    D88Image reader;
    open(reader, image);
    PlainWalk plain(image.data(), image.size());
    for (int disk : {0, 2, 1, 0}) {
      ASSERT_TRUE(reader.selectDisk(disk));
      plain.select(disk == 0 ? 0 : disk == 2 ? 688 : int64_t(image.size()) - 688);
      const int64_t headers = reader.file().headersRead();
      int lookups = 0;
      for (int track = -1; track <= D88Image::kMaxTracks; ++track) {
        const std::vector<PlainWalk::Header>& firsts = plain.firsts(track);
        for (size_t k = 0, n = std::min<size_t>(firsts.size(), 4); k <= n; ++k, ++lookups) {
          const uint32_t key = k < n ? firsts[k * firsts.size() / n].first : 1 | 1 << 24;
          int id[4];
          for (int j = 0; j < 4; ++j) id[j] = static_cast<int>(key >> 8 * j & 0xFF);
          uint8_t got[9] = {}, want[9] = {};  // 4 bytes of data, a guard, and the count
          got[8] = uint8_t(reader.readSector(track, id[0], id[1], id[2], id[3], got, 4));
          want[8] = uint8_t(plain.sector(track, id, want, 4));
          ASSERT_EQ(Bytes(got, got + 9), Bytes(want, want + 9))
              << "round " << round << " disk " << disk << " track " << track;
        }
      }
      // A build reads a position once, a lookup the header it finds; a disk
      // whose tracks start where the last index's did builds nothing.
      const int64_t build = disk == 2 && round % 2 ? 0 : int64_t(image.size()) / 16 + 164;
      EXPECT_LE(reader.file().headersRead() - headers, build + lookups) << "round " << round;
    }
  }

  // Tracks that start at headers 0 to 163 of one record of 2,000: the
  // walks go on as one, so a build reads the record once, and a lookup
  // reads the header it finds (five a track here).
  D88Image reader;
  open(reader, hostileImage("shape4", {2000, 2}));
  uint8_t byte;
  for (int t = 0; t < D88Image::kMaxTracks; ++t)
    for (int r = 1; r <= 5; ++r) reader.readSector(t, t / 2, t % 2, r, 3, &byte, 1);
  EXPECT_LE(reader.file().headersRead(), 2000 + 5 * D88Image::kMaxTracks);
}
