#include "diskimage/d88_image.h"

#include <gtest/gtest.h>

#include "tests/image_builder.h"

using namespace d88test;

namespace {

class ReaderTest : public ::testing::Test {
 protected:
  // Opens `bytes` as an image and selects disk 0 when there is one.
  D88Image& open(const Bytes& bytes) {
    path_ = dir_.write("image.d88", bytes);
    EXPECT_TRUE(image_.open(path_.c_str()));
    if (image_.diskCount() > 0) {
      EXPECT_TRUE(image_.selectDisk(0));
    }
    return image_;
  }

  int read(int track, int c, int h, int r, int n, int maxLen = 4096) {
    buffer_.assign(static_cast<size_t>(maxLen) + 1, 0xAA);
    return image_.readSector(track, c, h, r, n, buffer_.data(), maxLen);
  }

  TempDir dir_;
  std::string path_;
  D88Image image_;
  Bytes buffer_;
};

Disk header(const std::string& name, int64_t size) {
  return Disk{name, 0, size, {}, {}};
}

// A disk with one track at index 0 holding the given sectors.
Disk oneTrack(std::vector<Sector> sectors) {
  return Disk{"", 0, {}, {}, {{0, std::move(sectors)}}};
}

Sector sector(int r, int size, int count = -1, int c = 0, int h = 0, int n = 1) {
  Sector s{c, h, r, n, sectorData(0, r, size), {}, {}};
  if (count >= 0) s.count = count;
  return s;
}

}  // namespace

TEST_F(ReaderTest, DiskTableWalk) {
  struct Case {
    const char* what;
    Bytes image;
    int count;
    std::vector<int32_t> starts;  // diskStart(0), diskStart(1), ...
  } cases[] = {
      {"three disks, and the offset after the last",
       build({header("a", 700), header("b", 800), header("c", 900)}),
       3,
       {0, 700, 1500, 2400}},
      {"size 0 repeats the same header to the end of the table",
       build({header("a", 1000), header("b", 0)}),
       64,
       {0, 1000, 1000, 1000}},
      {"a file shorter than one header", Bytes(687, 0), 0, {0}},
      {"an empty file", Bytes(), 0, {0}},
      {"bytes after the last header are ignored",
       build(header("a", 688)) + Bytes(687, 1),
       1,
       {0, 688}},
      {"a negative size ends the walk", build(header("a", -1)), 1, {0}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    D88Image image;
    const std::string path = dir_.write("walk.d88", c.image);
    ASSERT_TRUE(image.open(path.c_str()));
    EXPECT_EQ(image.diskCount(), c.count);
    for (size_t i = 0; i < c.starts.size(); ++i) EXPECT_EQ(image.diskStart(i), c.starts[i]) << i;
  }
  // More than 64 disks: only the first 64 are found.
  std::vector<Disk> many(70, header("x", 688));
  open(build(many));
  EXPECT_EQ(image_.diskCount(), 64);
  EXPECT_EQ(image_.diskStart(63), 63 * 688);
}

TEST_F(ReaderTest, SelectDiskLoadsAndClears) {
  Disk second = header("SIXTEEN_CHARS_XYZ", 8192);  // 17 characters: the 17th spills over
  second.mediaType = 0x20;
  open(build({header("first", 8192), second}));
  ASSERT_TRUE(image_.selectDisk(1));
  EXPECT_STREQ(image_.diskName(), "SIXTEEN_CHARS_XY");
  EXPECT_EQ(image_.mediaType(), 0x20);
  EXPECT_EQ(image_.currentDisk(), 1);

  for (int bad : {2, -1}) {
    EXPECT_FALSE(image_.selectDisk(bad));
    EXPECT_EQ(image_.currentDisk(), -1);
    EXPECT_EQ(image_.mediaType(), -1);
    EXPECT_STREQ(image_.diskName(), "");
  }

  // The file shrank after open: the second header is no longer whole.
  EXPECT_TRUE(image_.selectDisk(0));
  dir_.write("image.d88", build(header("first", 8192)) + Bytes(100, 0));
  EXPECT_FALSE(image_.selectDisk(1));
  EXPECT_EQ(image_.currentDisk(), -1);
  EXPECT_TRUE(image_.selectDisk(0));

  EXPECT_TRUE(image_.open(nullptr));
  EXPECT_FALSE(image_.selectDisk(0));
  EXPECT_EQ(image_.diskCount(), 0);
  EXPECT_TRUE(image_.open(nullptr));
  EXPECT_FALSE(image_.open((dir_.path() / "missing.d88").string().c_str()));
}

TEST_F(ReaderTest, UsableTrackRule) {
  struct Case {
    const char* what;
    int64_t trackOffset;  // of track index 0; the track itself lies at 688
    int64_t diskSize;
    int track;
    int expected;
  } cases[] = {
      {"a good track", 688, 2000, 0, 256},
      {"offset 0: absent", 0, 2000, 0, 0},
      {"offset equal to the disk size is usable", 688, 688, 0, 256},
      {"offset beyond the disk size", 688, 687, 0, 0},
      {"negative offset", -688, 2000, 0, 0},
      {"offset past the end of the file", 100000, 200000, 0, 0},
      {"track index 164", 688, 2000, 164, 0},
      {"track index -1", 688, 2000, -1, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Disk d = oneTrack({sector(1, 256)});
    d.trackOffsets[0] = c.trackOffset;
    d.size = c.diskSize;
    open(build(d));
    EXPECT_EQ(read(c.track, 0, 0, 1, 1), c.expected);
  }
  // Nothing selected: no track is usable.
  EXPECT_FALSE(image_.selectDisk(5));
  EXPECT_EQ(read(0, 0, 0, 1, 1), 0);
}

TEST_F(ReaderTest, LookupWalksHeadersInRecordedOrder) {
  // Recorded order 3, 1, 1 (a duplicate ID), 2, with different sizes.
  Sector first = sector(1, 128);
  Sector duplicate = sector(1, 64);
  duplicate.data.assign(64, 0x11);
  open(build(oneTrack({sector(3, 256), first, duplicate, sector(2, 300)})));
  EXPECT_EQ(read(0, 0, 0, 3, 1), 256);
  EXPECT_EQ(read(0, 0, 0, 1, 1), 128);  // the first of the two wins
  EXPECT_EQ(Bytes(buffer_.begin(), buffer_.begin() + 128), first.data);
  EXPECT_EQ(read(0, 0, 0, 2, 1), 300);  // data size, not the size code, counts
  EXPECT_EQ(read(0, 0, 0, 2, 2), 0);    // every ID byte must match
  EXPECT_EQ(read(0, 0, 1, 2, 1), 0);
  EXPECT_EQ(read(0, 1, 0, 2, 1), 0);
  EXPECT_EQ(read(0, 0, 0, 4, 1), 0);

  // The count that ends the walk is taken from each header in turn.
  struct Case {
    const char* what;
    std::vector<int> counts;  // sector-count field of each of four sectors r = 1..4
    int expected;             // reading r = 4
  } cases[] = {
      {"count 4 reaches the fourth", {4, 4, 4, 4}, 256},
      {"count 3: exactly three headers", {3, 3, 3, 3}, 0},
      {"a later header shortens the walk", {4, 2, 4, 4}, 0},
      {"a later header lengthens it", {1, 4, 4, 4}, 0},
      {"a later header lengthens it after the first", {2, 4, 4, 4}, 256},
      {"count 0 marks an empty track", {0, 4, 4, 4}, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    std::vector<Sector> sectors;
    for (int r = 1; r <= 4; ++r) sectors.push_back(sector(r, 256, c.counts[r - 1]));
    open(build(oneTrack(sectors)));
    EXPECT_EQ(read(0, 0, 0, 4, 1), c.expected);
  }
}

TEST_F(ReaderTest, DataLengthLimits) {
  struct Case {
    int dataSize;
    int maxLen;
    int expected;
  } cases[] = {{300, 0, 0},     {300, 1, 1},     {300, 299, 299},
               {300, 300, 300}, {300, 301, 300}, {0, 100, 0}};
  for (auto& c : cases) {
    SCOPED_TRACE(testing::Message() << c.dataSize << " bytes, maxLen " << c.maxLen);
    open(build(oneTrack({sector(1, c.dataSize)})));
    EXPECT_EQ(read(0, 0, 0, 1, 1, c.maxLen), c.expected);
    EXPECT_EQ(Bytes(buffer_.begin(), buffer_.begin() + c.expected), sectorData(0, 1, c.expected));
    EXPECT_EQ(buffer_[c.expected], 0xAA);  // nothing written past what was read
  }
  // Data cut short by the end of the file: the bytes actually read.
  Bytes image = build(oneTrack({sector(1, 256)}));
  image.resize(image.size() - 56);
  open(image);
  EXPECT_EQ(read(0, 0, 0, 1, 1), 200);
  // A data-size field larger than what follows the header.
  Sector big = sector(1, 10);
  big.dataSize = 5000;
  open(build(oneTrack({big})));
  EXPECT_EQ(read(0, 0, 0, 1, 1), 10);
}

TEST_F(ReaderTest, SectorIds) {
  Disk d = oneTrack({sector(5, 16, -1, 1, 0, 2), sector(1, 0), sector(9, 32, -1, 7, 1, 3)});
  open(build(d));
  uint8_t ids[16] = {};
  EXPECT_EQ(image_.readSectorIds(0, ids, 16), 12);
  EXPECT_EQ(Bytes(ids, ids + 12), (Bytes{1, 0, 5, 2, 0, 0, 1, 1, 7, 1, 9, 3}));
  EXPECT_EQ(image_.readSectorIds(0, ids, 7), 4);  // whole IDs only
  EXPECT_EQ(image_.readSectorIds(1, ids, 16), 0);

  // A count of 0 does not end the listing; a header cut short does.
  for (Sector& s : d.tracks[0].sectors) s.count = 0;
  Bytes image = build(d);
  open(image);
  EXPECT_EQ(image_.readSectorIds(0, ids, 16), 12);
  image.resize(image.size() - 32 - 8);
  open(image);
  EXPECT_EQ(image_.readSectorIds(0, ids, 16), 8);
}

TEST_F(ReaderTest, RunsCrossSectorsHeadsAndCylinders) {
  Disk d{"", 0, {}, {}, {}};
  for (int t = 0; t < 10; ++t) d.tracks.push_back(track(t, 5, 1));
  open(build(d));
  image_.setSectorRange(1, 5);
  struct Case {
    const char* what;
    int track, c, h, r, n, length, expected;
  } cases[] = {
      {"600 bytes from (3, 0, 4) go on to head 1", 6, 3, 0, 4, 1, 600, 600},
      {"head 1 goes on to the next cylinder", 7, 3, 1, 5, 1, 512, 512},
      {"length 0", 6, 3, 0, 4, 1, 0, 0},
      {"part of one sector", 0, 0, 0, 1, 1, 100, 100},
      {"a missing first sector", 0, 0, 0, 6, 1, 600, 0},
      {"the run stops at the end of the disk", 9, 4, 1, 4, 1, 1000, 512},
      {"size code too large for a 32-bit length", 0, 0, 0, 1, 24, 600, 0},
      {"negative size code", 0, 0, 0, 1, -1, 600, 0},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    Bytes buffer(2000, 0xAA);
    EXPECT_EQ(image_.readSectors(c.track, c.c, c.h, c.r, c.n, buffer.data(), c.length), c.expected);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + c.expected),
              run(d, c.track, c.r, 5, c.expected));
  }

  // A missing third sector in a run of four; then a sector cut short by the
  // end of the file is not counted.
  d.tracks.resize(1);
  d.tracks[0].sectors.erase(d.tracks[0].sectors.begin() + 2);
  open(build(d));
  image_.setSectorRange(1, 5);
  Bytes buffer(1024);
  EXPECT_EQ(image_.readSectors(0, 0, 0, 1, 1, buffer.data(), 1024), 512);
  Bytes cut = build(d);
  cut.resize(cut.size() - 100);
  open(cut);
  EXPECT_EQ(image_.readSectors(0, 0, 0, 4, 1, buffer.data(), 512), 256);  // the cut fifth is not
  EXPECT_EQ(image_.readSectors(0, 0, 0, 2, 1, buffer.data(), 1024), 256);
}
