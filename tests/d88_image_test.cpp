#include "diskimage/d88_image.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <random>
#include <set>

#include "fuzz/reader_check.h"
#include "testing/image_builder.h"
#include "testing/reader_work.h"

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

// Opens `image` in `reader` and selects disk `disk` when there is one;
// false when either fails.
bool open(D88Image& reader, const Bytes& image, int disk = 0) {
  return reader.open(write(image).c_str()) &&
         (reader.diskCount() <= disk || reader.selectDisk(disk));
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
  // A file larger than an offset can address (sparse): a disk at 2^31 - 16
  // leads back, and the bytes past 2^31 are never read.
  const std::string large = write(build({Disk{"far", {}, INT32_MAX - 15}}));
  std::filesystem::resize_file(large, (int64_t{1} << 31) + 1000);
  D88Image reader;
  ASSERT_TRUE(reader.open(large.c_str()));
  EXPECT_EQ(reader.tableEnd().disk, 1);
  EXPECT_EQ(reader.tableEnd().unread, 1000);
  reader.open(nullptr);
  std::filesystem::resize_file(large, 0);
}

TEST(Reader, SelectDisk) {
  Disk second{"SIXTEEN_CHARS_XYZ", {}, 8192};  // the 17th character spills over
  second.mediaType = 0x20;
  D88Image reader;
  ASSERT_TRUE(open(reader, build({Disk{"first", {}, 8192}, second}), 1));
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
  // A file that became shorter is a read error, not its end.
  EXPECT_EQ(reader.readError(), D88Image::kShrunk);
  EXPECT_NE(reader.readError(), 0);
  // Closed: nothing can be selected or read.
  EXPECT_TRUE(reader.open(nullptr));
  EXPECT_FALSE(reader.selectDisk(0));
  EXPECT_EQ(reader.readSector(0, 0, 0, 1, 1, nullptr, 0), 0);
}

// readSector of sector (0, 0, 1, 1) in track index 0: the bytes copied are
// sector 1's data, with nothing written past them. Which tracks are usable,
// where walks stop and which of two sectors of one ID is found are tried at
// length by Reader.TrackIndex.
TEST(Reader, SectorLookup) {
  const Bytes one = build({track0({at(1, 256)})});
  const struct {
    Bytes image;
    int maxLen, want;
  } cases[] = {
      {one, 999, 256},
      {one, 1, 1},
      {one, 0, 0},
      {build({track0({at(1, 0)})}), 999, 0},
      {Bytes(one.begin(), one.end() - 56), 999, 200},       // cut by the end of the file
      {build({track0({at(1, 256)}, 688, 688)}), 999, 256},  // offset = disk size
      {build({track0({at(1, 256)}, 688, -5)}), 999, 0},     // negative disk size
      {build({track0({at(1, 256)}, 1e5, 2e5)}), 999, 0},    // past the end of the file
      {build({track0({at(1, 128), {0, 0, 1, 1, Bytes(64)}})}), 999, 128},  // the first of two,
                                                                           // its data size
  };
  for (size_t i = 0; i < std::size(cases); ++i) {
    SCOPED_TRACE("case " + std::to_string(i));
    D88Image reader;
    ASSERT_TRUE(open(reader, cases[i].image));
    Bytes buffer(cases[i].maxLen + 1, 0xAA);
    const int got = reader.readSector(0, 0, 0, 1, 1, buffer.data(), cases[i].maxLen);
    EXPECT_EQ(got, cases[i].want);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), sectorData(0, 1, got));
    EXPECT_EQ(buffer[got], 0xAA);
  }

  // A disk selected again keeps its index: a lookup reads one header; its
  // header is read again from the window.
  D88Image reader;
  const Disk five{"", {track(0, 5, 1)}};
  uint8_t byte;
  for (int disk : {0, 1}) {
    ASSERT_TRUE(open(reader, build({five, five}), disk));
    EXPECT_EQ(reader.readSector(0, 0, 0, 5, 1, &byte, 1), 1);
    const int64_t headers = ReaderWork::of(reader).headersRead();
    ASSERT_TRUE(reader.selectDisk(disk));
    const int64_t windows = ReaderWork::of(reader).windowsLoaded();
    ASSERT_TRUE(reader.selectDisk(disk));
    EXPECT_EQ(ReaderWork::of(reader).windowsLoaded(), windows);
    EXPECT_EQ(reader.readSector(0, 0, 0, 5, 1, &byte, 1), 1);
    EXPECT_EQ(ReaderWork::of(reader).headersRead(), headers + 1);
  }
  // No ID outside 0..255: a size code of 0x101 is not 1.
  EXPECT_EQ(reader.readSector(0, 0, 0, 5, 0x101, &byte, 1), 0);
}

TEST(Reader, SectorIds) {
  // A count of 0 does not end a listing; a header cut short does.
  const Bytes image = build({track0({at(1, 16, 0), at(2, 0, 0), {7, 0, 3, 3, Bytes(32), 0}})});
  D88Image reader;
  ASSERT_TRUE(open(reader, image));
  uint8_t ids[16] = {};
  EXPECT_EQ(reader.readSectorIds(0, ids, 16), 12);
  EXPECT_EQ(Bytes(ids, ids + 12), (Bytes{0, 0, 1, 1, 0, 0, 2, 1, 7, 0, 3, 3}));
  EXPECT_EQ(reader.readSectorIds(0, ids, 7) + reader.readSectorIds(0, ids, 8), 12);  // whole IDs
  ASSERT_TRUE(open(reader, Bytes(image.begin(), image.end() - 32 - 8)));
  EXPECT_EQ(reader.readSectorIds(0, ids, 16), 8);
  ASSERT_TRUE(open(reader, build({Disk{"", {track(0, 2, 1), track(1, 2, 1)}}})));  // the count
  EXPECT_EQ(reader.readSectorIds(0, ids, 16), 8);                                  // ends it
}

// readSectors from (track, c, h, r, n), checked against the builder's run.
TEST(Reader, SectorRuns) {
  Disk d{"", {track(0, 17, 1), track(1, 5, 1), track(2, 5, 1), track(3, 5, 1), track(4, 5, 0)}};
  d.tracks[3].sectors.erase(d.tracks[3].sectors.begin() + 2);
  D88Image reader;
  ASSERT_TRUE(open(reader, build({d})));
  const struct {
    int last;  // of the sector range 1..last, set when not 16
    std::vector<int> id;
    int length, want;
  } cases[] = {
      {16, {0, 0, 0, 1, 1}, 4352, 4352},  // the range starts as 1..16: sector 17 is never read
      {5, {1, 0, 1, 4, 1}, 600, 600},     // from head 1 on to cylinder 1, part of a sector
      {5, {1, 0, 1, 4, 1}, 0, 0},        {5, {2, 1, 0, 6, 1}, 600, 0},  // a missing first sector
      {5, {3, 1, 1, 1, 1}, 1024, 512},                                  // a missing third sector
      {5, {4, 2, 0, 1, 0}, 200, 200},  // size code 0: sectors of 128 bytes
      {5, {1, 0, 1, 1, 24}, 600, 0},   // no such size
      {5, {1, 0, 1, 1, -1}, 600, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE("from track " + std::to_string(c.id[0]) + " r " + std::to_string(c.id[3]));
    if (c.last != 16) reader.setSectorRange(1, c.last);
    Bytes buffer(c.length + 1, 0xAA);
    const std::vector<int>& id = c.id;
    const int got = reader.readSectors(id[0], id[1], id[2], id[3], id[4], buffer.data(), c.length);
    EXPECT_EQ(got, c.want);
    EXPECT_EQ(Bytes(buffer.begin(), buffer.begin() + got), run(d, id[0], id[3], c.last, got));
    EXPECT_EQ(buffer[got], 0xAA);
  }
}

// Whatever order the tracks record their sectors in, behind headers that
// match nothing or not, reading a disk's items loads each window of the file
// about once (a seek and a read each), not once a sector.
TEST(Reader, SectorOrder) {
  const std::vector<int> orders[] = {
      {1, 2, 3, 4, 5}, {1, 4, 2, 5, 3}, {1, 3, 5, 2, 4}, {5, 4, 3, 2, 1}, {3, 1, 5, 4, 2}};
  for (const std::vector<int>& order : orders) {
    for (int fillers : {0, 3}) {
      std::string name = std::to_string(fillers) + " fillers, order";
      for (int r : order) name += " " + std::to_string(r);
      SCOPED_TRACE(name);
      Disk d = diskA("", {}, 164);
      for (Track& t : d.tracks) {
        std::vector<Sector> laid(fillers, Sector{0, 0, 0, 0, Bytes(16)});
        for (int r : order) laid.push_back(t.sectors[r - 1]);
        t.sectors = laid;
      }
      const Bytes image = build({d});
      D88Image reader;
      ASSERT_TRUE(open(reader, image));
      reader.setSectorRange(1, 5);
      Bytes item(5 * 5120);
      for (int t = 0; t < 160; t += 5) {
        ASSERT_EQ(reader.readSectors(t, t / 2, t % 2, 1, 3, item.data(), 5 * 5120), 5 * 5120);
        ASSERT_EQ(item, run(d, t, 1, 5, 5 * 5120));
      }
      // One pass to build the index, one to read the items, and the disk headers.
      const int64_t windows = int64_t(image.size()) / ImageFile::kWindowSize + 1;
      EXPECT_LE(ReaderWork::of(reader).windowsLoaded(), 2 * windows + 4);
    }
  }
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

// The reader passes its fuzzer's check (fuzz/reader_check.h) on 300 such
// images: every answer as the plain walk's, its work within its bounds.
TEST(Reader, TrackIndex) {
  std::mt19937 random(17);
  for (int round = 0; round < 300; ++round) {
    SCOPED_TRACE("round " + std::to_string(round));
    const Bytes image = indexImage(random, round % 2);
    D88Image reader;
    ASSERT_TRUE(reader.open(write(image).c_str()));
    Bytes bytes(1 << 14);
    for (uint8_t& b : bytes) b = static_cast<uint8_t>(random());
    Choices choices(bytes.data(), bytes.size());
    EXPECT_STREQ(checkReader(reader, image.data(), image.size(), choices), nullptr);
  }
}
