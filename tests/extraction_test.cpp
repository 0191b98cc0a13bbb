#include <gtest/gtest.h>

#include <fstream>
#include <optional>

#include "tests/image_builder.h"
#include "tests/process.h"

using namespace d88test;
using Tree = std::map<std::string, Bytes>;

namespace {

const std::string& kDiskA = kDiskANotice;
const std::string& kDiskB = kDiskBNotice;
const std::string kCutting =
    "cutting ... DRIVER\ncutting ... MUS00\ncutting ... MUS01\ncutting ... MUS02\n"
    "cutting ... MUS03\ncutting ... MUS04\ncutting ... MUS05\n";

// The files a Disk B leaves in `dir` ("" or "D000/").
Tree diskBFiles(const Disk& b) {
  Tree t{{"DRIVER", run(b, 0, 2, 16, 1536)}};
  for (int k = 0; k < 6; ++k) t["MUS0" + std::to_string(k)] = run(b, 30 + k, 1, 16, 4096);
  return t;
}

Bytes itemOf(const Disk& a, int start, int size) {
  return run(a, start / 5, start % 5 + 1, 5, size);
}

Disk neither() {
  return Disk{"PLAIN", 0, {}, {}, {track(0, 16, 1), track(1, 16, 1)}};
}

class Extraction : public ::testing::Test {
 protected:
  // Runs the tool in a fresh directory on `disks`; in this process unless
  // `asProcess`. The image lies outside the directory, so the tree holds only
  // what the tool left.
  void runOn(const std::vector<Disk>& disks, std::vector<std::string> extra = {},
             bool asProcess = false) {
    std::vector<std::string> args{images_.write("image.d88", build(disks))};
    args.insert(args.end(), extra.begin(), extra.end());
    outcome_ = asProcess ? runProgram(args, cwd()) : runInProcess(args, cwd());
  }
  void expect(int status, const std::string& out, const std::string& err, const Tree& tree) {
    EXPECT_EQ(outcome_.status, status);
    EXPECT_EQ(outcome_.out, out);
    EXPECT_EQ(outcome_.err, err);
    EXPECT_EQ(readTree(cwd()), tree);
  }
  // The directory the tool runs in; fresh() replaces it with an empty one.
  const std::filesystem::path& cwd() {
    if (!cwd_) cwd_.emplace();
    return cwd_->path();
  }
  void fresh() { cwd_.emplace(); }

  TempDir images_;
  std::optional<TempDir> cwd_;
  Outcome outcome_;
};

}  // namespace

TEST_F(Extraction, DiskAEndToEndAsAProcess) {
  const Disk a =
      diskA("GAME DISK 1", {
                               {0x23, 0x600},   // 000: the documented example
                               {9, 0xc00},      // 001: sector 5 of head 1, on to cylinder 1
                               {3, 0x500},      // 002: head 0 on to head 1
                               {0x30, 0},       // 003: size 0, listed, no file
                               {0x320, 0x400},  // 004: first sector missing
                               {198, 0x0c01},   // 005: runs off the last track: a short file
                           });
  runOn({neither(), a}, {}, true);
  const std::string out =
      "\n[GAME DISK 1] -> D001\n"
      "000  0023 (Tr.07 Sc.01) SIZE:0600\n"
      "001  0009 (Tr.01 Sc.05) SIZE:0c00\n"
      "002  0003 (Tr.00 Sc.04) SIZE:0500\n"
      "003  0030 (Tr.09 Sc.04) SIZE:0000\n"
      "004  0320 (Tr.a0 Sc.01) SIZE:0400\n"
      "005  00c6 (Tr.27 Sc.04) SIZE:0c01\n";
  expect(0, console(out), console(kDiskA),
         {{"D001/", {}},
          {"D001/000", itemOf(a, 0x23, 0x600)},
          {"D001/001", itemOf(a, 9, 0xc00)},
          {"D001/002", itemOf(a, 3, 0x500)},
          {"D001/005", itemOf(a, 198, 2048)}});
}

TEST_F(Extraction, DirectoryShapes) {
  std::vector<Entry> full;
  for (int j = 0; j < 64; ++j) full.push_back({10 + j, 16});
  runOn({diskA("FULL", full)});
  EXPECT_EQ(outcome_.status, 0);
  const Tree tree = readTree(cwd());
  EXPECT_EQ(tree.size(), 65u);
  EXPECT_EQ(tree.at("D000/063"), itemOf(diskA("FULL", full), 73, 16));
  EXPECT_NE(outcome_.out.find("063  0049 (Tr.0e Sc.04) SIZE:0010\n"), std::string::npos);

  // A first entry with marker 0: the empty subdirectory and the name line only.
  fresh();
  runOn({diskA("EMPTY", {})});
  expect(0, "\n[EMPTY] -> D000\n", kDiskA, {{"D000/", {}}});
}

TEST_F(Extraction, SubdirectorySwitch) {
  const Disk one = diskA("ONE", {{10, 100}, {20, 200}}), two = diskA("TWO", {{30, 300}});
  const std::string listing1 =
      "000  000a (Tr.02 Sc.01) SIZE:0064\n001  0014 (Tr.04 Sc.01) SIZE:00c8\n";
  const std::string listing2 = "000  001e (Tr.06 Sc.01) SIZE:012c\n";
  const Tree split{{"D000/", {}},
                   {"D000/000", itemOf(one, 10, 100)},
                   {"D000/001", itemOf(one, 20, 200)},
                   {"D001/", {}},
                   {"D001/000", itemOf(two, 30, 300)}};
  const std::string splitOut = "\n[ONE] -> D000\n" + listing1 + "\n[TWO] -> D001\n" + listing2;
  // "-d": all in the current directory, the later disk's 000 wins; "-d" only
  // counts in lower case and as the last of exactly two arguments.
  for (const auto& extra : std::vector<std::vector<std::string>>{{"-d"}, {"-D"}, {"-d", "x"}}) {
    SCOPED_TRACE(extra.back());
    fresh();
    runOn({one, two}, extra);
    if (extra.size() == 1 && extra[0] == "-d")
      expect(0, listing1 + listing2, kDiskA + kDiskA,
             {{"000", itemOf(two, 30, 300)}, {"001", itemOf(one, 20, 200)}});
    else
      expect(0, splitOut, kDiskA + kDiskA, split);
  }
}

TEST_F(Extraction, DiskB) {
  Disk b = diskB("MUSIC");
  runOn({b}, {}, true);
  expect(0, console(kCutting), console(kDiskB), diskBFiles(b));

  // Track 31 missing: MUS01 announced, not written, the rest goes on.
  b.tracks.erase(b.tracks.begin() + 31);
  Tree files = diskBFiles(b);
  files.erase("MUS01");
  fresh();
  runOn({b});
  expect(0, kCutting, kDiskB, files);
}

TEST_F(Extraction, Recognition) {
  // A disk that is both: Disk A items in its subdirectory, Disk B items here.
  Disk both = diskB("BOTH");
  Disk a = diskA("", {{12, 64}});
  both.tracks[1].sectors.push_back(a.tracks[1].sectors[0]);
  both.tracks[2] = a.tracks[2];
  runOn({both});
  Tree files = diskBFiles(both);
  files["D000/"] = {};
  files["D000/000"] = itemOf(a, 12, 64);
  expect(0, "\n[BOTH] -> D000\n000  000c (Tr.02 Sc.03) SIZE:0040\n" + kCutting, kDiskA + kDiskB,
         files);

  // Not a Disk B: the signature wrong in its last byte; a signature sector
  // that is short or missing, while the buffer holds the signature from an
  // item of an earlier disk; a directory sector of size code 1.
  Disk wrong = diskB("WRONG");
  wrong.tracks[0].sectors[15].data[255] ^= 1;
  Disk carrier = diskA("CARRIER", {{12, 1024}});
  std::copy(kSignature, kSignature + 16, carrier.tracks[2].sectors[2].data.begin() + 240);
  Disk shortSector = diskB("SHORT");
  shortSector.tracks[0].sectors[15].dataSize = 200;
  Disk missing = diskB("MISSING");
  missing.tracks[0].sectors.pop_back();
  Disk sizeCode = diskA("", {{12, 64}});
  sizeCode.tracks[1].sectors[0].n = 1;
  fresh();
  runOn({wrong, carrier, shortSector, missing, sizeCode});
  expect(0, "\n[CARRIER] -> D001\n000  000c (Tr.02 Sc.03) SIZE:0400\n", kDiskA,
         {{"D001/", {}}, {"D001/000", itemOf(carrier, 12, 1024)}});
}

TEST_F(Extraction, UnreadableDirectoryEndsTheRun) {
  // The directory sector holds 1..511 bytes: recognised, then the run ends
  // with 0; the Disk B step and later disks are skipped.
  Disk shortDirectory = diskB("SHORT DIRECTORY");
  Disk a = diskA("", {{12, 64}});
  a.tracks[1].sectors[0].data.resize(300);
  shortDirectory.tracks[1].sectors.push_back(a.tracks[1].sectors[0]);
  runOn({shortDirectory, diskA("LATER", {{12, 64}})}, {}, true);
  expect(0, "", console(kDiskA), {});

  // An earlier failure is not forgotten by the early end: status 1.
  fresh();
  std::ofstream(cwd() / "D000") << "x";
  runOn({diskA("", {}), shortDirectory});
  EXPECT_EQ(outcome_.status, 1);
}

TEST_F(Extraction, WriteFailuresAreReportedAndTheRunGoesOn) {
  const Disk a = diskA("A", {{10, 100}, {20, 200}, {30, 300}});
  const Disk b = diskB("B");
  // 000 is taken by a directory; D000 itself is taken by a plain file on the
  // second run.
  std::filesystem::create_directories(cwd() / "D000" / "000");
#ifndef _WIN32
  // A full disk: the write of 001 goes to /dev/full and fails on close.
  std::filesystem::create_symlink("/dev/full", cwd() / "D000" / "001");
#endif
  runOn({a, b}, {}, true);
  EXPECT_EQ(outcome_.status, 1);
  const std::string listing =
      "\n[A] -> D000\n000  000a (Tr.02 Sc.01) SIZE:0064\n001  0014 (Tr.04 Sc.01) SIZE:00c8\n"
      "002  001e (Tr.06 Sc.01) SIZE:012c\n";
  EXPECT_EQ(outcome_.out, console(listing + kCutting));
  // The system's reasons differ: the C runtime's on both, the Windows API's
  // for directories on Windows.
#ifdef _WIN32
  const std::string isDirectory = "Permission denied", notDirectory = "Directory name invalid.";
#else
  const std::string isDirectory = "Is a directory", notDirectory = "Not a directory";
#endif
  std::string err = kDiskA + "error: cannot create D000/000: " + isDirectory + "\n";
  Tree files = diskBFiles(b);
#ifndef _WIN32
  err += "error: cannot write D000/001: No space left on device\n";
#else
  files["D000/001"] = itemOf(a, 20, 200);
#endif
  EXPECT_EQ(outcome_.err, console(err + kDiskB));
  files["D000/"] = {};
  files["D000/000/"] = {};
  files["D000/002"] = itemOf(a, 30, 300);
  EXPECT_EQ(readTree(cwd()), files);

  // A plain file named D000: listed, nothing written, no step above the start.
  fresh();
  std::ofstream(cwd() / "D000") << "x";
  runOn({a, b});
  EXPECT_EQ(outcome_.status, 1);
  EXPECT_EQ(outcome_.out, listing + kCutting);
  EXPECT_EQ(outcome_.err,
            kDiskA + "error: cannot enter directory D000: " + notDirectory + "\n" + kDiskB);
  files = diskBFiles(b);
  files["D000"] = {'x'};
  EXPECT_EQ(readTree(cwd()), files);
}
