#include "tests/tool_test.h"

// Reads of the image at file offsets in [failReads[0], failReads[1]) fail, as
// on a failing disk.
long failReads[2] = {0, 0};
extern "C" size_t __real_fread(void* data, size_t size, size_t count, FILE* file);
extern "C" size_t __wrap_fread(void* data, size_t size, size_t count, FILE* file) {
  const long at = ftell(file);
  if (at < failReads[0] || at >= failReads[1]) return __real_fread(data, size, count, file);
  errno = EIO;
  return 0;
}

#ifndef _WIN32
// The tool's own writes (item files) pass through here (linked with
// --wrap=write): the first of `writeFailures` is the bytes they may write
// before one fails as on a full disk, then the next, and so on.
std::vector<size_t> writeFailures;
extern "C" ssize_t __real_write(int fd, const void* data, size_t count);
DuringWrite duringWrite;
extern "C" ssize_t __wrap_write(int fd, const void* data, size_t count) {
  if (duringWrite.at >= 0 && duringWrite.at-- == 0) duringWrite.action();
  if (writeFailures.empty()) return __real_write(fd, data, count);
  size_t& left = writeFailures.front();
  if (left == 0) {
    writeFailures.erase(writeFailures.begin());
    errno = ENOSPC;
    return -1;
  }
  count = std::min(count, left);
  left -= count;
  return __real_write(fd, data, count);
}
// And the dup() that hears the errors a close tells (--wrap=dup, --wrap=close):
// each call takes the next of `dupFaults`: 0 for none, EMFILE to fail as
// without a descriptor to spare, EIO for a copy whose close fails as on a
// network file system.
std::vector<int> dupFaults;
int failingCopy = -1;
extern "C" int __real_dup(int fd);
extern "C" int __wrap_dup(int fd) {
  const int fault = dupFaults.empty() ? 0 : dupFaults.front();
  if (!dupFaults.empty()) dupFaults.erase(dupFaults.begin());
  if (fault == EMFILE) {
    errno = EMFILE;
    return -1;
  }
  const int copy = __real_dup(fd);
  if (fault == EIO) failingCopy = copy;
  return copy;
}
extern "C" int __real_close(int fd);
extern "C" int __wrap_close(int fd) {
  const int closed = __real_close(fd);
  if (fd != failingCopy) return closed;
  failingCopy = -1;
  errno = EIO;
  return -1;
}
#endif

TEST(Tool, CommandLine) {
  const std::string usage =
      "Usage: " D88EXTRACT_PATH " [d88file]\n       -d : not make sub directory\n";
  expect(runOn({}, {}, Mode::kProcess), 1, "", usage, {});
  expect(runOn({}, {"@", "-d", "x", "y"}, Mode::kProcess), 1, "", usage, {});
  expect(runOn({}, {"missing.d88", "-d"}, Mode::kProcess), 1, "",
         kOpenFailure + "error: cannot open missing.d88: No such file or directory\n", {});
  std::string deep = "image.d88";  // a line longer than most
  for (int i = 0; i < 300; ++i) deep = "n/" + deep;
  expect(runOn({}, {deep}, Mode::kProcess), 1, "",
         kOpenFailure + "error: cannot open " + deep + ": No such file or directory\n", {});
  expect(runOn({}, {"."}, Mode::kProcess), 1, "",
         kOpenFailure + "error: cannot open .: Is a directory\n", {});  // a directory is no image
  // Asked for alone, help and version go to standard output.
  const Outcome help = runOn({}, {"--help"}, Mode::kProcess);
  EXPECT_EQ(help.out.substr(0, console(usage).size()), console(usage));
  EXPECT_NE(help.out.find("d88extract IMAGE [-d]"), std::string::npos);
  expect(runOn({}, {"--version"}, Mode::kProcess), 0, "d88extract " D88EXTRACT_VERSION "\n", "",
         {});
  expect(runOn({}, {"@"}, Mode::kProcess), 0, "", "", {});               // an empty image
  expect(runOn(build({kPlain}), {"@"}, Mode::kProcess), 0, "", "", {});  // a disk of neither kind
  expect(runOn(Bytes(3000, 'x'), {"@"}, Mode::kProcess), 0, "",          // not an image at all
         "warning: disk 000 is cut short: the image ends inside it\nwarning: disk 000's size leads "
         "past the end of the image (to byte 2021161080), so the disks after it are not found\n",
         {});
}

TEST(Tool, DiskA) {
  const std::vector<Entry> entries = {
      {0x23, 0x600},   // 000: the listing's worked example
      {9, 0xc00},      // 001: sector 5 of head 1, on to cylinder 1
      {3, 0xa00},      // 002: head 0 on to head 1
      {0x30, 0},       // 003: size 0: listed, no file
      {0x320, 0x400},  // 004: first sector missing: listed, no file
      {198, 0x0c01},   // 005: runs off the last track: the whole sectors read
  };
  const Disk a = diskA("GAME DISK 1", entries);
  const std::string listing =
      "\n[GAME DISK 1] -> D001\n"
      "000  0023 (Tr.07 Sc.01) SIZE:0600\n"
      "001  0009 (Tr.01 Sc.05) SIZE:0c00\n"
      "002  0003 (Tr.00 Sc.04) SIZE:0a00\n"
      "003  0030 (Tr.09 Sc.04) SIZE:0000\n";
  const std::string empty = "warning: D001/003: not written (its size is 0)\n",
                    four = "004  0320 (Tr.a0 Sc.01) SIZE:0400\n",
                    missing = "warning: D001/004: not written (its first sector is missing)\n",
                    last = "005  00c6 (Tr.27 Sc.04) SIZE:0c01\n",
                    cut = "warning: D001/005: 2048 of 3073 bytes read (sectors missing)\n";
  expect(runOn(build({kPlain, a}), {"@"}, Mode::kProcess), 0, listing + four + last,
         kDiskA + empty + missing + cut, itemsA(a, entries, "D001/"));
  std::vector<Entry> full;  // 64 entries, no end marker
  for (int j = 0; j < 64; ++j) full.push_back({10 + j, 16});
  EXPECT_EQ(runOn(build({diskA("FULL", full)})).tree, itemsA(a, full));
  // With -d every name that the start directory gets is known, all 64 + 7 of them.
  const Bytes twice = build({diskA("FULL", full), diskB("MUSIC"), diskA("FULL", full), diskB("")});
  const std::string err = runOn(twice, {"@", "-d"}).err;
  EXPECT_EQ(std::count(err.begin(), err.end(), '\n') - 4, 64 + 7) << err;
  // Without -d only the Disk B names reach it, however many Disk A items come first.
  const std::string b = runOn(build({diskA("", full), diskA("", full), diskB(""), diskB("")})).err;
  EXPECT_EQ(std::count(b.begin(), b.end(), '\n') - 4, 7) << b;
  expect(runOn(build({diskA("EMPTY", {})})), 0, "\n[EMPTY] -> D000\n", kDiskA, {{"D000/", {}}});

  // Every Disk A holds the same sector data but for its directory, so `a`
  // tells the items of the next ones too.
  // "-d": all here, the later disk's 000 wins; "-d" counts only in lower
  // case, as the last of exactly two arguments.
  // The second disk's 001 is missing: the first disk's stays, and is told.
  // A file written again is cut to the later, shorter item.
  const std::vector<Entry> first = {{10, 300}, {20, 200}}, second = {{30, 100}, {0x320, 1}};
  const Bytes image = build({diskA("ONE", first), diskA("TWO", second)});
  const std::string one = "000  000a (Tr.02 Sc.01) SIZE:012c\n001  0014 (Tr.04 Sc.01) SIZE:00c8\n";
  const std::string two = "000  001e (Tr.06 Sc.01) SIZE:0064\n001  0320 (Tr.a0 Sc.01) SIZE:0001\n";
  expect(runOn(image, {"@", "-d"}), 0, one + two,
         kDiskA + kDiskA + "warning: 000 written again (disk 001 replaces disk 000)\n" +
             "warning: 001: not written (its first sector is missing); 001 holds disk 000's item\n",
         itemsA(a, second, "") + itemsA(a, first, ""));
  for (const auto& args : std::vector<std::vector<std::string>>{{"@", "-D"}, {"@", "-d", "x"}})
    expect(runOn(image, args), 0, "\n[ONE] -> D000\n" + one + "\n[TWO] -> D001\n" + two,
           kDiskA + kDiskA + "warning: D001/001: not written (its first sector is missing)\n",
           itemsA(a, first) + itemsA(a, second, "D001/"));
}

TEST(Tool, DiskB) {
  Disk b = diskB("MUSIC"), noTrack31 = diskB("MUSIC");
  noTrack31.tracks.erase(noTrack31.tracks.begin() + 31);
  expect(runOn(build({b}), {"@"}, Mode::kProcess), 0, kCutting, kDiskB, itemsB(b));
  expect(runOn(build({noTrack31})), 0, kCutting,
         kDiskB + "warning: MUS01: not written (its first sector is missing)\n", itemsB(noTrack31));

  // A disk that is both: its Disk A items in its subdirectory, its Disk B items here.
  const Disk a = diskA("", {{12, 64}});
  Disk both = b;
  both.tracks[1].sectors.push_back(a.tracks[1].sectors[0]);
  both.tracks[2] = a.tracks[2];
  expect(runOn(build({both})), 0,
         "\n[MUSIC] -> D000\n000  000c (Tr.02 Sc.03) SIZE:0040\n" + kCutting, kDiskA + kDiskB,
         itemsB(b) + itemsA(a, {{12, 64}}));

  // Not a Disk B: the signature wrong in its last byte; a signature sector
  // too short while the buffer holds the signature from an earlier disk's item.
  Disk wrong = b, shortSector = b, carrier = diskA("CARRIER", {{12, 1024}});
  wrong.tracks[0].sectors[15].data[255] ^= 1;
  std::copy_n(kSignature, 16, carrier.tracks[2].sectors[2].data.begin() + 240);
  shortSector.tracks[0].sectors[15].dataSize = 200;
  expect(runOn(build({wrong, carrier, shortSector})), 0,
         "\n[CARRIER] -> D001\n000  000c (Tr.02 Sc.03) SIZE:0400\n", kDiskA,
         itemsA(carrier, {{12, 1024}}, "D001/"));

  // A directory sector of 300 bytes: recognised, then the run ends, and says so.
  Disk shortDirectory = both;
  shortDirectory.tracks[1].sectors.back().data.resize(300);
  expect(runOn(build({shortDirectory, a}), {"@"}, Mode::kProcess), 1, "",
         kDiskA + "error: cannot read the directory of disk 000\n", {});
}

// A disk table that ends before the image does says why, and what is left.
TEST(Tool, DiskTableEnds) {
  const Bytes plain = build({kPlain});
  const std::string p = std::to_string(plain.size()),
                    left = ": the last " + p + " bytes of the image are not read";
  const auto leads = [](const std::string& where, const std::string& unread) {
    return "warning: disk 001's size leads " + where + ", so the disks after it are not found" +
           unread + "\n";
  };
  const std::pair<Bytes, std::string> cases[] = {
      {build(std::vector<Disk>(64, kPlain)) + build({diskB("B")}),
       "warning: disks after disk 063 are not read: an image holds at most 64\n"},
      {plain + build({Disk{"zero", {}, 0}}) + plain, leads("back (to byte " + p + ")", left)},
      {plain + build({Disk{"back", {}, -int(plain.size()) - 1}}) + plain,
       leads("back, before the start of the image", left)},
      {plain + build({Disk{"zero", {}, 0}}), leads("back (to byte " + p + ")", "")},
      {plain + build({Disk{"zero", {}, 0}}) + Bytes(1),
       leads("back (to byte " + p + ")", ": the last 1 byte of the image is not read")},
      {plain + build({Disk{"far", {}, INT32_MAX}}),
       "warning: disk 001 is cut short: the image ends inside it\n" +
           leads("past what an offset can address (to byte " +
                     std::to_string(plain.size() + INT32_MAX) + ")",
                 "")},
      {plain + build({Disk{"long", {}, 1 << 21}}),  // not padded: cut short
       "warning: disk 001 is cut short: the image ends inside it\n" +
           leads("past the end of the image (to byte " + std::to_string(plain.size() + (1 << 21)) +
                     ")",
                 "")},
  };
  for (const auto& [image, err] : cases) expect(runOn(image), 0, "", err, {});
}

TEST(Tool, ImageCutAtEveryLength) {
  // Cutting an image never adds bytes: every file left is a prefix of the
  // same file from the whole image, and nothing else appears.
  Disk b = diskB("B");
  b.tracks = {b.tracks[0], track(30, 16, 1)};
  const Bytes first = build({diskA("A", {{3, 0x500}, {9, 0x800}}, 4)}), image = first + build({b});
  const Tree whole = runOn(image).tree;
  ASSERT_EQ(whole.size(), 5u);  // D000/, 000, 001, DRIVER, MUS00
  for (size_t length = 1; length < image.size(); length += 37) {
    const Outcome o = runOn(Bytes(image.begin(), image.begin() + length));
    EXPECT_EQ(o.status, o.err.find("cannot read the directory") == std::string::npos ? 0 : 1);
    // Told, at the disk the cut falls in.
    const size_t disk = length < first.size() ? 0 : 1, in = length - disk * first.size();
    EXPECT_NE(o.err.find("warning: disk 00" + std::to_string(disk) +
                         " is cut short: the image ends inside it" + (in < 688 ? "s header" : "")),
              std::string::npos)
        << length;
    for (const auto& [name, bytes] : o.tree) {
      ASSERT_TRUE(whole.count(name)) << name;
      const Bytes& all = whole.at(name);
      EXPECT_TRUE(bytes.size() <= all.size() && std::equal(bytes.begin(), bytes.end(), all.begin()))
          << name << " cut at " << length;
    }
  }
}

// No item is written over the image, under any name, nor over the file
// standard output goes to.
TEST(Tool, TheImageAndOutputsAreProtected) {
  const std::vector<Entry> entries = {{10, 100}, {100, 200}};
  const Disk a = diskA("A", entries), b = diskB("B");
  const Bytes image = build({a, b});
  const std::string listing =
      "\n[A] -> D000\n000  000a (Tr.02 Sc.01) SIZE:0064\n001  0064 (Tr.14 Sc.01) SIZE:00c8\n" +
      kCutting;
  // The image under the name of an item (on Windows in other letters).
  const std::string driver = kWindows ? "driver" : "DRIVER";
  Tree left = itemsA(a, entries) + itemsB(b);
  left.erase("DRIVER");
  left[driver] = image;
  expect(
      runOn(image, {driver}, Mode::kProcess,
            [&](const fs::path& dir) { fs::create_hard_link(dir / "../image.d88", dir / driver); }),
      1, listing, kDiskA + kDiskB + "error: cannot write DRIVER: it is the image being read\n",
      left);
  // Standard output goes to a file of an item's name: neither is garbled.
  const std::string printed = console(listing);
  left = itemsA(a, entries) + itemsB(b);
  left["DRIVER"] = Bytes(printed.begin(), printed.end());
  expect(runOn(image, {"@"}, Mode::kInProcess, nullptr, "DRIVER"), 1, "",
         kDiskA + kDiskB + "error: cannot write DRIVER: it is the standard output\n", left);
}

// What cannot be written is told with its reason, and the run goes on.
TEST(Tool, WriteFailures) {
  const std::vector<Entry> entries = {{10, 100}, {20, 200}, {30, 300}};
  const Disk a = diskA("A", entries), b = diskB("B");
  const std::string listing =
      "000  000a (Tr.02 Sc.01) SIZE:0064\n001  0014 (Tr.04 Sc.01) SIZE:00c8\n"
      "002  001e (Tr.06 Sc.01) SIZE:012c\n";
  // 000 is taken by a directory: the others are written.
  Tree left = itemsA(a, entries) + itemsB(b);
  left.erase("D000/000");
  left["D000/000/"] = {};
  expect(runOn(build({a, b}), {"@"}, Mode::kProcess,
               [](const fs::path& dir) { fs::create_directories(dir / "D000" / "000"); }),
         1, "\n[A] -> D000\n" + listing + kCutting,
         kDiskA + "error: cannot create D000/000: Is a directory\n" + kDiskB, left);
  // A plain file named D000: listed, nothing written, no step above the
  // start; in one log, the error right after the line it is about.
  const std::string d000 = "error: cannot enter directory D000: Not a directory\n";
  const auto plainD000 = [](const fs::path& dir) { std::ofstream(dir / "D000") << "x"; };
  left = itemsB(b) + Tree{{"D000", {'x'}}};
  expect(runOn(build({a, b}), {"@"}, Mode::kInProcess, plainD000), 1,
         "\n[A] -> D000\n" + listing + kCutting, kDiskA + d000 + kDiskB, left);
  if (!kWindows)
    expect(runOn(build({a, b}), {"@"}, Mode::kProcess, plainD000, "2>&1"), 1,
           kDiskA + "\n[A] -> D000\n" + d000 + listing + kDiskB + kCutting, "", left);
}
