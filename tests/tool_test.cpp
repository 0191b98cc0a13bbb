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
extern "C" ssize_t __wrap_write(int fd, const void* data, size_t count) {
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
  expect(runOn({}, {}, true), 1, "", usage, {});
  expect(runOn({}, {"@", "-d", "x", "y"}, true), 1, "", usage, {});
  expect(runOn({}, {"missing.d88", "-d"}, true), 1, "",
         kOpenFailure + "error: cannot open missing.d88: No such file or directory\n", {});
  expect(runOn({}, {"."}, true), 1, "", kOpenFailure + "error: cannot open .: Is a directory\n",
         {});  // a directory is no image
  // Asked for alone, help and version go to standard output.
  expect(runOn({}, {"--help"}, true), 0, usage, "", {});
  expect(runOn({}, {"--version"}, true), 0, "d88extract " D88EXTRACT_VERSION "\n", "", {});
  expect(runOn({}, {"@"}, true), 0, "", "", {});               // an empty image
  expect(runOn(build({kPlain}), {"@"}, true), 0, "", "", {});  // a disk of neither kind
  expect(runOn(Bytes(3000, 'x'), {"@"}, true), 0, "",          // not an image at all
         "warning: disk 000 is cut short: the image ends inside it\n", {});
}

// Names in any script reach the file system as they are: on Windows not
// through the local code page, which lacks most and swaps some for look-alikes.
TEST(Tool, FileNamesInAnyScript) {
  if (!kWindows) GTEST_SKIP() << "POSIX hands names to the file system as they are";
  const Disk b = diskB("B");
  // Runs the program on `name`, a copy of the image, beside `decoy` (not an
  // image), what a mangled name would open: the named file must be the one read.
  const auto on = [&](const std::string& name, const std::string& decoy) {
    Tree inputs;
    const Outcome o = runOn(build({b}), {name}, true, [&](const fs::path& dir) {
      std::error_code noLongPaths;
      fs::create_directories((dir / fs::u8path(name)).parent_path(), noLongPaths);
      if (noLongPaths) GTEST_SKIP() << "the host does not allow long paths";
      fs::copy_file(dir.parent_path() / "image.d88", dir / fs::u8path(name));
      std::ofstream(dir / fs::u8path(decoy)) << "not an image";
      inputs = readTree(dir);
    });
    if (!testing::Test::IsSkipped()) expect(o, 0, kCutting, kDiskB, itemsB(b) + inputs);
  };
  on("フォルダ Ω/ディスク 1.d88", "ディスク 1.d88");  // outside the code page, in a directory too
  on("Győr.d88", "Gyor.d88");                         // a best-fit twin beside it
  std::string deep;  // over 260 characters, where the host allows it
  for (int i = 0; i < 12; ++i) deep += "ディレクトリ名の長いフォルダ/";
  on(deep + "ディスク.d88", "ディスク.d88");
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
  expect(runOn(build({kPlain, a}), {"@"}, true), 0, listing + four + last,
         kDiskA + empty + missing + cut, itemsA(a, entries, "D001/"));
  // With both streams on one file, each warning follows its item's line.
  if (!kWindows)
    expect(runOn(build({kPlain, a}), {"@"}, true, nullptr, "2>&1"), 0,
           kDiskA + listing + empty + four + missing + last + cut, "", itemsA(a, entries, "D001/"));
  std::vector<Entry> full;  // 64 entries, no end marker
  for (int j = 0; j < 64; ++j) full.push_back({10 + j, 16});
  EXPECT_EQ(runOn(build({diskA("FULL", full)})).tree, itemsA(a, full));
  expect(runOn(build({diskA("EMPTY", {})})), 0, "\n[EMPTY] -> D000\n", kDiskA, {{"D000/", {}}});

  // Every Disk A holds the same sector data but for its directory, so `a`
  // tells the items of the next ones too.
  // "-d": all here, the later disk's 000 wins; "-d" counts only in lower
  // case, as the last of exactly two arguments.
  // The second disk's 001 is missing: the first disk's stays, and is told.
  const std::vector<Entry> first = {{10, 100}, {20, 200}}, second = {{30, 300}, {0x320, 1}};
  const Bytes image = build({diskA("ONE", first), diskA("TWO", second)});
  const std::string one = "000  000a (Tr.02 Sc.01) SIZE:0064\n001  0014 (Tr.04 Sc.01) SIZE:00c8\n";
  const std::string two = "000  001e (Tr.06 Sc.01) SIZE:012c\n001  0320 (Tr.a0 Sc.01) SIZE:0001\n";
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
  expect(runOn(build({b}), {"@"}, true), 0, kCutting, kDiskB, itemsB(b));
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

  // A disk table full at 64 disks leaves the next one out, and says so.
  expect(runOn(build(std::vector<Disk>(64, kPlain)) + build({b})), 0, "",
         "warning: disks after disk 063 are not read: an image holds at most 64\n", {});

  // A directory sector of 300 bytes: recognised, then the run ends, and says so.
  Disk shortDirectory = both;
  shortDirectory.tracks[1].sectors.back().data.resize(300);
  expect(runOn(build({shortDirectory, a}), {"@"}, true), 1, "",
         kDiskA + "error: cannot read the directory of disk 000\n", {});
}

TEST(Tool, FailuresAreReportedAndTheRunGoesOn) {
  const std::vector<Entry> entries = {{10, 100}, {20, 200}, {30, 300}};
  const Disk a = diskA("A", entries), b = diskB("B");
  const std::string out =
      "\n[A] -> D000\n000  000a (Tr.02 Sc.01) SIZE:0064\n001  0014 (Tr.04 Sc.01) SIZE:00c8\n"
      "002  001e (Tr.06 Sc.01) SIZE:012c\n" +
      kCutting;
  // 000 is taken by a directory; 001 is a link to a device, MUS01 a FIFO
  // with no reader: neither is written (nor waited for), and both stay.
  Tree left = itemsA(a, entries) + itemsB(b);
  left.erase("D000/000");
  left["D000/000/"] = {};
  std::string err = kDiskA + "error: cannot create D000/000: Is a directory\n";
  std::string errB = kDiskB;
  if (!kWindows) {
    left.erase("D000/001");
    left.erase("MUS01");
    left["D000/001 -> /dev/full"] = left["MUS01|"] = {};
    err += "error: cannot write D000/001: not a regular file\n";
    errB += "error: cannot write MUS01: not a regular file\n";
  }
  expect(runOn(build({a, b}), {"@"}, true,
               [](const fs::path& dir) {
                 fs::create_directories(dir / "D000" / "000");
#ifndef _WIN32
                 fs::create_symlink("/dev/full", dir / "D000" / "001");
                 mkfifo((dir / "MUS01").c_str(), 0666);
#endif
               }),
         1, out, err + errB, left);

  // A plain file named D000: listed, nothing written, no step above the
  // start; in one log, the error right after the line it is about.
  const std::string d000 = "error: cannot enter directory D000: Not a directory\n";
  const auto plainD000 = [](const fs::path& dir) { std::ofstream(dir / "D000") << "x"; };
  expect(runOn(build({a, b}), {"@"}, false, plainD000), 1, out, kDiskA + d000 + kDiskB,
         itemsB(b) + Tree{{"D000", {'x'}}});
  if (!kWindows)
    expect(runOn(build({a, b}), {"@"}, true, plainD000, "2>&1"), 1,
           kDiskA + "\n[A] -> D000\n" + d000 + out.substr(13, out.find("cutting") - 13) + kDiskB +
               kCutting,
           "", itemsB(b) + Tree{{"D000", {'x'}}});
#ifndef _WIN32
  // The disk fills up part way through 001, a link the user made, and at
  // once in 002, a file the user made; DRIVER, made by the run, fails at its
  // close: no partial item stays, and no name but the run's own goes.
  left = itemsA(a, {entries[0]}) + itemsB(b);
  left.erase("DRIVER");
  left["D000/001 -> ../elsewhere/target"] = left["elsewhere/"] = {};
  left["elsewhere/target"] = left["D000/002"] = {};
  writeFailures = {100 + 50, 0};
  dupFaults = {0, EIO, EMFILE};  // MUS00 is written without a descriptor to spare
  expect(runOn(build({a, b}), {"@"}, false,
               [](const fs::path& dir) {
                 fs::create_directories(dir / "D000");
                 fs::create_directories(dir / "elsewhere");
                 std::ofstream(dir / "elsewhere" / "target") << "the user's";
                 std::ofstream(dir / "D000" / "002") << "the user's";
                 fs::create_symlink("../elsewhere/target", dir / "D000" / "001");
               }),
         1, out,
         kDiskA + "error: cannot write D000/001: No space left on device\n" +
             "error: cannot write D000/002: No space left on device\n" + kDiskB +
             "error: cannot write DRIVER: Input/output error\n",
         left);
  EXPECT_TRUE(writeFailures.empty() && dupFaults.empty());
  // Standard output cannot be written: the reason is told.
  expect(runOn(build({a}), {"@"}, true, nullptr, ">/dev/full"), 1, "",
         kDiskA + "error: cannot write standard output: No space left on device\n",
         itemsA(a, entries));
#endif
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

TEST(Tool, TheImageIsNeverWrittenAndTheRunEndsWhereItStarted) {
  const std::vector<Entry> entries = {{10, 100}, {100, 200}};
  const Disk a = diskA("A", entries), b = diskB("B");
  const Bytes image = build({a, b});
  const std::string listing =
      "000  000a (Tr.02 Sc.01) SIZE:0064\n001  0064 (Tr.14 Sc.01) SIZE:00c8\n";
  // The image under the name of an item (on Windows in other letters).
  const auto imageAs = [](std::string name) {
    return [name](const fs::path& dir) { fs::create_hard_link(dir / "../image.d88", dir / name); };
  };
  const std::string driver = kWindows ? "driver" : "DRIVER";
  Tree left = itemsA(a, entries) + itemsB(b);
  left.erase("DRIVER");
  left[driver] = image;
  expect(runOn(image, {driver}, true, imageAs(driver)), 1, "\n[A] -> D000\n" + listing + kCutting,
         kDiskA + kDiskB + "error: cannot write DRIVER: it is the image being read\n", left);
#ifndef _WIN32
  // Nor when standard input and error are closed, and the refusal would go
  // to the descriptor the item's file takes (valgrind wants standard error).
  {
    const Setting direct("D88_TEST_WRAPPER", "");
    expect(runOn(image, {driver}, true, imageAs(driver), "<&- 2>&-"), 1,
           "\n[A] -> D000\n" + listing + kCutting, "", left);
  }
#endif
  expect(runOn(build({a}), {"000", "-d"}, false, imageAs("000")), 1, listing,
         kDiskA + "error: cannot write 000: it is the image being read\n",
         Tree{{"000", build({a})}} + itemsA(a, entries, ""));
  // Standard output goes to a file of an item's name: neither is garbled.
  const std::string printed = console("\n[A] -> D000\n" + listing + kCutting);
  left = itemsA(a, entries) + itemsB(b);
  left["DRIVER"] = Bytes(printed.begin(), printed.end());
  expect(runOn(image, {"@"}, false, nullptr, "DRIVER"), 1, "",
         kDiskA + kDiskB + "error: cannot write DRIVER: it is the standard output\n", left);
#ifndef _WIN32
  // D000 links elsewhere: it is entered, and the run comes back to where it
  // started. MUS00 links to a file yet to be made: it is made.
  left = itemsA(a, entries, "else/deep/") + itemsB(b);
  left["MUS00 -> mus00.bin"] = {};
  left["mus00.bin"] = left["MUS00"];
  left.erase("MUS00");
  expect(runOn(image, {"@"}, false,
               [](const fs::path& dir) {
                 fs::create_directories(dir / "else/deep");
                 fs::create_directory_symlink("else/deep", dir / "D000");
                 fs::create_symlink("mus00.bin", dir / "MUS00");
               }),
         0, "\n[A] -> D000\n" + listing + kCutting, kDiskA + kDiskB,
         Tree{{"D000 -> else/deep", {}}, {"else/", {}}} + left);
  // A pipe is read once into a temporary copy: the same files as from the file.
  expect(throughPipe(image, [](const std::string& fd) { return runOn({}, {fd}); }), 0,
         "\n[A] -> D000\n" + listing + kCutting, kDiskA + kDiskB, itemsA(a, entries) + itemsB(b));
  int fds[2];
  // A pipe that cannot be read (ftell fails on a pipe): the reason is told.
  ASSERT_EQ(pipe(fds), 0);
  close(fds[1]);
  const std::string fd = "/dev/fd/" + std::to_string(fds[0]);
  failReads[0] = -1;
  expect(runOn(image, {fd}), 1, "", "error: cannot read " + fd + ": Input/output error\n", {});
  close(fds[0]);
  // A read fails part way (track 20): what came before stays, the run ends and says why.
  failReads[0] = 688 + 20 * 5 * (16 + 1024);
  failReads[1] = failReads[0] + 5 * (16 + 1024);
  expect(runOn(build({a}), {"image"}, false, imageAs("image")), 1, "\n[A] -> D000\n" + listing,
         kDiskA + "error: cannot read image: Input/output error\n",
         Tree{{"D000/", {}}, {"image", build({a})}} + itemsA(a, {{10, 100}}));
  // A later disk header cannot be read: a read error with its reason, not the open failure.
  failReads[0] = long(build({a}).size());
  failReads[1] = failReads[0] + 1;
  expect(runOn(image, {"image"}, false, imageAs("image")), 1, "",
         "error: cannot read image: Input/output error\n", Tree{{"image", image}});
  failReads[0] = failReads[1] = 0;
  // A start directory that may not be written: the reason told is the true
  // one. Root may write anywhere, so there the program runs as nobody.
  const Setting nobody("D88_TEST_WRAPPER",
                       geteuid() ? "" : "setpriv --reuid=65534 --regid=65534 --clear-groups");
  expect(runOn(build({a}), {"@"}, true, [](const fs::path& dir) { chmod(dir.c_str(), 0555); }), 1,
         "\n[A] -> D000\n" + listing,
         kDiskA + "error: cannot create directory D000: Permission denied\n", {});
#endif
}

#ifndef _WIN32
// However the program is started, standard output and error stay what they
// were given as, and the image is never written through them.
TEST(Tool, AnyStart) {
  std::vector<Entry> entries;
  for (int j = 0; j < 64; ++j) entries.push_back({10 + j, 16});
  const Disk a = diskA("A", entries), b = diskB("B");
  const Bytes image = build({a, b, a, a});
  const Tree items =
      itemsA(a, entries) + itemsA(a, entries, "D002/") + itemsA(a, entries, "D003/") + itemsB(b);
  const std::string notices = kDiskA + kDiskB + kDiskA + kDiskA;
  // Standard input and output closed, the image through a pipe: its copy
  // must not land where the listing goes.
  expect(
      throughPipe(image,
                  [](const std::string& fd) { return runOn({}, {fd}, true, nullptr, "<&- >&-"); }),
      0, "", notices, items);
  // Standard output or error opened on the image, even for reading and writing.
  expect(runOn(image, {"@"}, true, nullptr, "1<>@"), 1, "",
         "error: standard output is the image being read\n", {});
  expect(runOn(image, {"@"}, true, nullptr, "2<>@"), 1,
         "error: standard error is the image being read\n", "", {});
  expect(runOn(image, {"@", "x", "y", "z"}, true, nullptr, "2>>@"), 1,  // not even the usage
         "error: standard error is the image being read\n", "", {});
  // A pipe's copy that the temporary directory cannot hold says where it went.
  const std::string where = (fs::temp_directory_path() / "d88test-tmp").string();
  fs::create_directories(where);
  {
    const Setting limit("D88_TEST_WRAPPER", "sh -c 'ulimit -f 1 && exec \"$0\" \"$@\"'"),
        tmp("TMPDIR", where);
    const Outcome o =
        throughPipe(image, [](const std::string& fd) { return runOn({}, {fd}, true); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.substr(0, o.err.find("/dev/fd/")), "error: cannot copy ");
    EXPECT_EQ(o.err.substr(o.err.find(" to ")), " to " + where + ": File too large\n");
  }
  EXPECT_TRUE(fs::is_empty(where));
  fs::remove(where);
  // The listing's reader has gone ("| head -1"): every item is still written.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  ASSERT_EQ(dup2(fds[1], 9), 9);
  close(fds[1]);
  signal(SIGPIPE, SIG_DFL);  // as a shell starts the program
  expect(runOn(image, {"@"}, true, nullptr, ">&9"), 1, "",
         notices + "error: cannot write standard output: Broken pipe\n", items);
  signal(SIGPIPE, SIG_IGN);
  close(9);
}
#endif

#ifndef _WIN32
// A terminal gets the Shift_JIS notices and names in its own encoding, with
// what would act on it as '?', and a word at the end; redirected, both
// streams are the image's bytes.
TEST(Tool, TerminalsGetTextTheyCanShow) {
  // ゲーム, ｹﾞｰﾑ, and ESC with the bytes of U+202E (RLO) in UTF-8, which
  // are no RLO in Shift_JIS.
  const char* const names[] = {"\x83\x51\x81\x5b\x83\x80", "\xb9\xde\xb0\xd1",
                               "\x1b[2J\xe2\x80\xae"};
  const Bytes image = build({diskA(names[0], {}), diskA(names[1], {}), diskA(names[2], {})});
  const struct {
    std::string locale, notice, shown[3];
  } terminals[] = {
      {"C.UTF-8", "Disk A を認識しました.", {"ゲーム", "ｹﾞｰﾑ", "?[2J窶ｮ"}},
      {"xx_XX.UTF-8", "Disk A を認識しました.", {"ゲーム", "ｹﾞｰﾑ", "?[2J窶ｮ"}},  // not installed
      {"C", "Disk A recognised.", {"???", "????", "?[2J??"}},
  };
  const Tree dirs{{"D000/", {}}, {"D001/", {}}, {"D002/", {}}};
  std::string out, err;
  for (const auto& t : terminals) {
    SCOPED_TRACE(t.locale);
    // Both streams on a pseudo-terminal made by script(1), which prints what it shows.
    const Setting terminal("D88_TEST_WRAPPER",
                           "sh -c 'LANG=" + t.locale + " exec script -qec \"$*\" /dev/null' sh");
    std::string shown;
    for (int i = 0; i < 3; ++i)
      shown += t.notice + "\r\n\r\n[" + t.shown[i] + "] -> D00" + std::to_string(i) + "\r\n";
    expect(runOn(image, {"@"}, true), 0,
           shown +
               "summary: 3 disks read (Disk A: 3, Disk B: 0, neither: 0); 0 files written; "
               "0 warnings\r\n",
           "", dirs);
  }
  for (int i = 0; i < 3; ++i) {
    out += "\n[" + std::string(names[i]) + "] -> D00" + std::to_string(i) + "\n";
    err += kDiskA;
  }
  expect(runOn(image), 0, out, err, dirs);
  // Nothing recognised, or a packed image: the summary says so.
  const Setting terminal("D88_TEST_WRAPPER", "sh -c 'exec script -qec \"$*\" /dev/null' sh");
  EXPECT_EQ(runOn(build({kPlain})).out, "");
  EXPECT_NE(
      runOn(build({kPlain}), {"@"}, true)
          .out.find(
              "summary: 1 disk read, none of them a Disk A or a Disk B: nothing to write\r\n"),
      std::string::npos);
  const std::string packed = runOn(Bytes{0x1F, 0x8B, 8, 0}, {"@"}, true).out;
  EXPECT_NE(
      packed.find(" is a gzip file, not a D88 image: unpack it on the way in, as in\r\n  zcat "),
      std::string::npos)
      << packed;
}
#endif
