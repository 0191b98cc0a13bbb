#include "diskimage/d88_image.h"

#include <gtest/gtest.h>

#include <fstream>

#include "bench/shapes.h"
#include "testing/image_builder.h"

using namespace d88test;

namespace {

// Writes `image` to a file of the running test's own; returns its path.
std::string write(const Bytes& image) {
  const std::string path =
      testing::TempDir() + testing::UnitTest::GetInstance()->current_test_info()->name() + ".d88";
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

// The disk count and the first few entries of the disk table of `image`.
std::string table(const Bytes& image) {
  D88Image reader;
  open(reader, image);
  std::string text = std::to_string(reader.diskCount()) + ":";
  for (int i = 0; i <= std::min(reader.diskCount(), 3); ++i)
    text += " " + std::to_string(reader.diskStart(i));
  return text;
}

// Sector r of track index 0 with `size` bytes and, when given, a sector-count field.
Sector at(int r, int size, int count = -1) {
  Sector s{0, 0, r, 1, sectorData(0, r, size)};
  if (count >= 0) s.count = count;
  return s;
}
Disk track0(std::vector<Sector> sectors, int64_t offset = 688, std::optional<int64_t> size = {}) {
  return Disk{"", {{0, std::move(sectors)}}, size, {{0, offset}}};
}
// Sectors 1, 2, ... of 9 bytes with these sector-count fields.
Disk counted(std::vector<int> counts) {
  std::vector<Sector> sectors;
  for (size_t i = 0; i < counts.size(); ++i) sectors.push_back(at(int(i) + 1, 9, counts[i]));
  return track0(sectors);
}

// readSector of (track, c, h, r, n) = id on disk `disk` of `image`: the bytes
// copied, once checked to be sector r's data with nothing written past them.
int lookup(const Bytes& image, std::vector<int> id, int maxLen = 999, int disk = 0) {
  D88Image reader;
  open(reader, image, disk);
  Bytes buffer(maxLen + 1, 0xAA);
  const int got = reader.readSector(id[0], id[1], id[2], id[3], id[4], buffer.data(), maxLen);
  EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), sectorData(0, id[3], got));
  EXPECT_EQ(buffer[got], 0xAA);
  return got;
}

}  // namespace

TEST(Reader, DiskTable) {
  const Disk a{"a", {}, 700}, header{"h", {}, 688};
  EXPECT_EQ(table(build({a, a, header})), "3: 0 700 1400 2088");
  EXPECT_EQ(table(build({a, Disk{"z", {}, 0}})), "64: 0 700 700 700");  // size 0 repeats to the end
  EXPECT_EQ(table(Bytes(687, 0)), "0: 0");                              // shorter than one header
  EXPECT_EQ(table(build({header}) + Bytes(687, 1)), "1: 0 688");   // bytes after the last header
  EXPECT_EQ(table(build({Disk{"n", {}, -1}, header})), "1: 0 0");  // a negative size ends the walk
  EXPECT_EQ(table(build({Disk{"h", {}, INT32_MAX}, header})), "1: 0 2147483647");  // and a huge one
  EXPECT_EQ(table(build(std::vector<Disk>(70, header))), "64: 0 688 1376 2064");   // 64 at the most
}

TEST(Reader, SelectDisk) {
  Disk second{"SIXTEEN_CHARS_XYZ", {}, 8192};  // the 17th character spills over
  second.mediaType = 0x20;
  D88Image reader;
  open(reader, build({Disk{"first", {}, 8192}, second}), 1);
  EXPECT_STREQ(reader.diskName(), "SIXTEEN_CHARS_XY");
  EXPECT_EQ(reader.mediaType(), 0x20);
  EXPECT_EQ(reader.currentDisk(), 1);
  // A bad index, or a header cut short since open: nothing is selected.
  write(build({Disk{"first", {}, 8192}}) + Bytes(100, 0));
  for (int bad : {1, 2, -1}) {
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
  EXPECT_FALSE(reader.open("no such file.d88"));
}

TEST(Reader, SectorLookup) {
  const std::vector<int> r1 = {0, 0, 0, 1, 1};  // track index 0, sector (0, 0, 1, 1)
  const Bytes one = build({track0({at(1, 256)})});
  EXPECT_EQ(lookup(one, r1), 256);
  EXPECT_EQ(lookup(one, {164, 0, 0, 1, 1}), 0);
  EXPECT_EQ(lookup(one, {-1, 0, 0, 1, 1}), 0);
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 0)}), r1), 0);           // offset 0: no track
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 688, 688)}), r1), 256);  // offset = disk size
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 688, 687)}), r1), 0);    // offset > disk size
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 688, -5)}), r1), 0);     // negative disk size
  EXPECT_EQ(lookup(build({track0({at(1, 256)}, 1e5, 2e5)}), r1), 0);    // past the end of the file
  // A negative offset on a later disk, pointing back at the disk before.
  EXPECT_EQ(lookup(one + build({track0({}, 688 - int64_t(one.size()), 2000)}), r1, 99, 1), 0);

  // Recorded order 3, 1, 1, 2: the first sector 1 wins; the data size counts,
  // not the size code; every ID byte must match.
  const Bytes order =
      build({track0({at(3, 256), at(1, 128), {0, 0, 1, 1, Bytes(64, 0x11)}, at(2, 300)})});
  EXPECT_EQ(lookup(order, {0, 0, 0, 3, 1}), 256);
  EXPECT_EQ(lookup(order, r1), 128);
  EXPECT_EQ(lookup(order, {0, 0, 0, 2, 1}), 300);
  EXPECT_EQ(lookup(order, {0, 0, 0, 2, 2}) + lookup(order, {0, 0, 1, 2, 1}), 0);
  EXPECT_EQ(lookup(order, {0, 1, 0, 2, 1}), 0);

  // The count that ends the walk is read from each header in turn.
  EXPECT_EQ(lookup(build({counted({4, 4, 4, 4})}), {0, 0, 0, 4, 1}), 9);
  EXPECT_EQ(lookup(build({counted({3, 3, 3, 3})}), {0, 0, 0, 4, 1}), 0);
  EXPECT_EQ(lookup(build({counted({4, 2, 4, 4})}), {0, 0, 0, 4, 1}), 0);  // shortened
  EXPECT_EQ(lookup(build({counted({2, 4, 4, 4})}), {0, 0, 0, 4, 1}), 9);  // lengthened
  EXPECT_EQ(lookup(build({counted({0, 2})}), {0, 0, 0, 2, 1}), 0);        // 0: an empty track

  // At most maxLen bytes, at most the data size, at most what the file holds.
  EXPECT_EQ(lookup(one, r1, 0) + lookup(build({track0({at(1, 0)})}), r1), 0);
  EXPECT_EQ(lookup(one, r1, 1), 1);
  EXPECT_EQ(lookup(one, r1, 255), 255);
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
  EXPECT_EQ(reader.readSectorIds(0, ids, 7), 4);  // whole IDs only
  EXPECT_EQ(reader.readSectorIds(1, ids, 16), 0);
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

// The track index answers as a plain walk does: 600 headers of 1 byte whose
// counts (40 to 89) end each walk elsewhere, every other one with an ID of
// its own, the others with IDs repeating every 7; tracks 0 to 99 start on
// every third header, tracks 100 to 163 on a record of 10 headers that leads
// into header 200, where walks from its headers 0 to 5 end after header 5.
// The disk's name fills bytes 0 to 15, so a miss read as a hit at position 0
// reads a byte.
TEST(Reader, TrackIndex) {
  Track side{0, {}}, main{1, {}};
  for (int i = 0; i < 10; ++i) side.sectors.push_back({0, 0, 1 + i % 3, 1, {uint8_t(~i)}, 300});
  side.sectors[5].count = 1;
  side.sectors[9].dataSize = 200 * 17 + 1;  // past its own byte to header 200
  for (int i = 0; i < 600; ++i)
    main.sectors.push_back(
        {i % 2 * i / 2, i % 2, i % 2 ? 1 : 1 + i / 2 % 7, 1, {uint8_t(i)}, 40 + i % 50});
  Disk disk{"INDEX AND WALKS!", {side, main}};
  for (int t = 0; t < 164; ++t)
    disk.offsets[t] = t < 100 ? 688 + 170 + 51 * t : 688 + 17 * (t % 10);
  D88Image indexed, walked;  // every lookup but a track's first from the index; none
  indexed.setWalkLimit(0);
  walked.setWalkLimit(TrackIndex::kLongestWalk);
  open(indexed, build({disk}));
  open(walked, build({disk}));
  const auto same = [&](int track, int c, int h, int r) {
    uint8_t a = 0xAA, b = 0xAA;
    EXPECT_EQ(indexed.readSector(track, c, h, r, 1, &a, 1),
              walked.readSector(track, c, h, r, 1, &b, 1));
    EXPECT_EQ(a, b) << track << " " << c << " " << r;
  };
  for (int track = 0; track < D88Image::kMaxTracks; ++track) {
    for (int r = 1; r <= 8; ++r)
      same(track, 0, 0, r);  // the repeating IDs, and one that is nowhere
    for (int c = 1; c < 256; ++c) same(track, c, 1, 1);  // the headers' own
  }
  // A disk's lookups read its headers a few times over, not once a lookup:
  // two walks and one index build of the 2,000 headers, a header an answer,
  // for a lookup on each of 64 tracks and the 700 lookups of 64 items.
  static uint8_t item[65535];
  D88Image reader;
  open(reader, hostileImage("shape1", {2000, 2}));
  reader.setSectorRange(1, 5);
  for (int t = 2; t < 66; ++t) EXPECT_EQ(reader.readSector(t, 0, 0, 9, 9, item, 1), 0);
  for (int j = 0; j < 64; ++j) EXPECT_EQ(reader.readSectors(1, 0, 1, 1, 3, item, 65535), 10240);
  EXPECT_LT(reader.headersRead(), 4 * 2000);  // a walk a lookup: 760 times 2,000
}
