// The tool on POSIX systems: descriptors, pipes, links, signals and terminals.
#include <sys/stat.h>

#include "tests/tool_test.h"

namespace {

const std::vector<Entry> kEntries = {{10, 100}, {20, 200}, {100, 300}};
const Disk kA = diskA("A", kEntries), kB = diskB("B");
const std::string kListing =
    "\n[A] -> D000\n000  000a (Tr.02 Sc.01) SIZE:0064\n001  0014 (Tr.04 Sc.01) SIZE:00c8\n"
    "002  0064 (Tr.14 Sc.01) SIZE:012c\n";

// However the suite was started: a descriptor it opens must not become
// standard input, output or error (one of them closed), and the signals that
// interrupt a run reach it (none of them blocked).
const bool kStarted = [] {
  for (int fd = 0; fd <= 2; ++fd)
    if (fcntl(fd, F_GETFD) == -1 && errno == EBADF) open("/dev/null", O_RDWR);
  sigset_t set;
  sigemptyset(&set);
  for (const int caught : {SIGINT, SIGTERM, SIGHUP}) sigaddset(&set, caught);
  sigprocmask(SIG_UNBLOCK, &set, nullptr);
  return true;
}();

}  // namespace

// However the program is started, standard output and error stay what they
// were given as, and the image is never written through them.
TEST(ToolPosix, TheImageAndOutputsAreProtected) {
  const Bytes image = build({kA, kB, kA});
  const Tree items = itemsA(kA, kEntries) + itemsA(kA, kEntries, "D002/") + itemsB(kB);
  const std::string notices = kDiskA + kDiskB + kDiskA;
  // Standard input and output closed, the image through a pipe: its copy
  // must not land where the listing goes.
  expect(throughPipe(image,
                     [](const std::string& fd) {
                       return runOn({}, {fd}, Mode::kProcess, nullptr, "<&- >&-");
                     }),
         0, "", notices, items);
  {
    // Output and error closed: without valgrind, which needs standard error.
    const Setting unwrapped("D88_TEST_WRAPPER", "");
    expect(throughPipe(image,
                       [](const std::string& fd) {
                         return runOn({}, {fd}, Mode::kProcess, nullptr, ">&- 2>&-");
                       }),
           0, "", "", items);
  }
  // Standard output or error opened on the image, even for reading and
  // writing: said on the other stream; not even the usage text goes into it.
  expect(runOn(image, {"@"}, Mode::kProcess, nullptr, "1<>@"), 1, "",
         "error: standard output is the image being read\n", {});
  expect(runOn(image, {"@", "x", "y", "z"}, Mode::kProcess, nullptr, "2>>@"), 1,
         "error: standard error is the image being read\n", "", {});
}

// A pipe is read once into a temporary copy; what cannot be read ends the
// run with its reason, and what was extracted before stays.
TEST(ToolPosix, ReadErrors) {
  const Bytes image = build({kA, kB});
  expect(throughPipe(image, [](const std::string& fd) { return runOn({}, {fd}); }), 0,
         kListing + kCutting, kDiskA + kDiskB, itemsA(kA, kEntries) + itemsB(kB));
  // A pipe that cannot be read (ftell fails on a pipe, so every read fails).
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[1]);
  const std::string fd = "/dev/fd/" + std::to_string(fds[0]);
  failReads[0] = -1;
  expect(runOn(image, {fd}), 1, "", "error: cannot read " + fd + ": Input/output error\n", {});
  close(fds[0]);
  // A read fails part way (track 20, the third item's, beyond the first window).
  const auto imageNamed = [](const fs::path& dir) {
    fs::create_hard_link(dir / "../image.d88", dir / "image");
  };
  failReads[0] = 688 + 20 * 5 * (16 + 1024);
  failReads[1] = failReads[0] + 5 * (16 + 1024);
  expect(runOn(build({kA}), {"image"}, Mode::kInProcess, imageNamed), 1, kListing,
         kDiskA + "error: cannot read image: Input/output error\n",
         Tree{{"image", build({kA})}} + itemsA(kA, {kEntries[0], kEntries[1]}));
  // A later disk header cannot be read: a read error, not the open failure.
  failReads[0] = long(build({kA}).size());
  failReads[1] = failReads[0] + 1;
  expect(runOn(image, {"image"}, Mode::kInProcess, imageNamed), 1, "",
         "error: cannot read image: Input/output error\n", Tree{{"image", image}});
  failReads[0] = failReads[1] = 0;
  // A pipe's copy that the temporary directory cannot hold says where it went.
  const std::string where = freshTempPath("d88test-tmp-").string();
  fs::create_directories(where);
  {
    const Setting limit("D88_TEST_WRAPPER", "sh -c 'ulimit -f 1 && exec \"$0\" \"$@\"'"),
        tmp("TMPDIR", where);
    const Outcome o =
        throughPipe(image, [](const std::string& fd) { return runOn({}, {fd}, Mode::kProcess); });
    EXPECT_EQ(o.status, 1);
    EXPECT_EQ(o.err.substr(0, o.err.find("/dev/fd/")), "error: cannot copy ");
    EXPECT_EQ(o.err.substr(o.err.find(" to ")), " to " + where + ": File too large\n");
  }
  EXPECT_TRUE(fs::is_empty(where));
  fs::remove(where);
}

// An item that cannot be written leaves no partial bytes and removes no
// name the user made; the run goes on and ends with 1.
TEST(ToolPosix, WriteFailures) {
  // 001 links to a device: refused, never opened. The disk fills up part way
  // through 002, a link the user made to a file of theirs; DRIVER, made by
  // the run, fails at its close; MUS00 is written whole without a
  // descriptor to spare for hearing its close.
  Tree left = itemsA(kA, {kEntries[0]}) + itemsB(kB);
  left.erase("DRIVER");
  left["D000/001 -> /dev/full"] = left["D000/002 -> ../elsewhere/target"] = {};
  left["elsewhere/"] = left["elsewhere/target"] = {};
  writeFailures = {100 + 50};
  dupFaults = {0, EIO, EMFILE};
  expect(runOn(build({kA, kB}), {"@"}, Mode::kInProcess,
               [](const fs::path& dir) {
                 fs::create_directories(dir / "D000");
                 fs::create_directories(dir / "elsewhere");
                 std::ofstream(dir / "elsewhere" / "target") << "the user's";
                 fs::create_symlink("/dev/full", dir / "D000" / "001");
                 fs::create_symlink("../elsewhere/target", dir / "D000" / "002");
               }),
         1, kListing + kCutting,
         kDiskA + "error: cannot write D000/001: not a regular file\n" +
             "error: cannot write D000/002: No space left on device\n" + kDiskB +
             "error: cannot write DRIVER: Input/output error\n",
         left);
  EXPECT_TRUE(writeFailures.empty() && dupFaults.empty());

  // Two Disk B. MUS00 is a link to a file yet to be made: the run makes it,
  // and when its write fails, removes it again (the link stays); disk 001
  // makes it afresh. While MUS01 is written the user puts a file of their
  // own in DRIVER's place: disk 001's failing DRIVER empties it, and
  // leaves it.
  writeFailures = {1536 + 100, 5 * 4096 + 100};
  duringWrite = {3, [] {
                   fs::remove("DRIVER");
                   std::ofstream("DRIVER") << "the user's";
                 }};
  left = itemsB(kB);
  left["DRIVER"] = {};
  left["MUS00 -> target"] = {};
  left["target"] = left["MUS00"];
  left.erase("MUS00");
  std::string again;
  for (int k = 1; k <= 5; ++k)
    again += "warning: MUS0" + std::to_string(k) + " written again (disk 001 replaces disk 000)\n";
  expect(runOn(build({kB, kB}), {"@"}, Mode::kInProcess,
               [](const fs::path& dir) { fs::create_symlink("target", dir / "MUS00"); }),
         1, kCutting + kCutting,
         kDiskB + "error: cannot write MUS00: No space left on device\n" + kDiskB +
             "error: cannot write DRIVER: No space left on device\n" + again,
         left);
  EXPECT_TRUE(writeFailures.empty() && duringWrite.at < 0);

  // Standard error cannot be written: a notice or warning lost fails the run.
  expect(runOn(build({kA}), {"@"}, Mode::kProcess, nullptr, "2>/dev/full"), 1, kListing, "",
         itemsA(kA, kEntries));
  // The listing's reader has gone ("| head -1"): every item is still written.
  int fds[2];
  ASSERT_EQ(pipe(fds), 0);
  close(fds[0]);
  ASSERT_EQ(dup2(fds[1], 9), 9);
  close(fds[1]);
  signal(SIGPIPE, SIG_DFL);  // as a shell starts the program
  expect(runOn(build({kA, kB}), {"@"}, Mode::kProcess, nullptr, ">&9"), 1, "",
         kDiskA + kDiskB + "error: cannot write standard output: Broken pipe\n",
         itemsA(kA, kEntries) + itemsB(kB));
  signal(SIGPIPE, SIG_IGN);
  close(9);
  // A start directory that may not be written: the reason told is the true
  // one. Root may write anywhere, so there the program runs as nobody.
  const Setting nobody("D88_TEST_WRAPPER",
                       geteuid() ? "" : "setpriv --reuid=65534 --regid=65534 --clear-groups");
  expect(runOn(build({kA}), {"@"}, Mode::kProcess,
               [](const fs::path& dir) {
                 // The image readable by nobody, whatever the umask.
                 chmod((dir / "..").c_str(), 0755);
                 chmod((dir / "../image.d88").c_str(), 0644);
                 chmod(dir.c_str(), 0555);
               }),
         1, kListing, kDiskA + "error: cannot create directory D000: Permission denied\n", {});
}

// A subdirectory that links elsewhere is entered, and the run comes back
// to where it started.
TEST(ToolPosix, LinksAndDirectories) {
  Tree left = itemsA(kA, kEntries, "else/deep/") + itemsB(kB);
  left["D000 -> else/deep"] = left["else/"] = {};
  expect(runOn(build({kA, kB}), {"@"}, Mode::kInProcess,
               [](const fs::path& dir) {
                 fs::create_directories(dir / "else/deep");
                 fs::create_directory_symlink("else/deep", dir / "D000");
               }),
         0, kListing + kCutting, kDiskA + kDiskB, left);
  // Files and directories are made as any program makes them: 0666 and
  // 0777, less the umask.
  const Setting modes("D88_TEST_WRAPPER",
                      "sh -c 'umask 027; \"$0\" \"$@\"; s=$?; stat -c %a D000 D000/000 DRIVER >&2; "
                      "exit $s'");
  expect(runOn(build({kA, kB}), {"@"}, Mode::kProcess), 0, kListing + kCutting,
         kDiskA + kDiskB + "750\n640\n640\n", itemsA(kA, kEntries) + itemsB(kB));
}

// SIGINT, SIGTERM or SIGHUP ends the run between items: the item being
// written is finished, the run says which was the last, and ends as the
// signal would have. One ignored when the run starts (nohup) stays ignored.
TEST(ToolPosix, InterruptedBetweenItems) {
  for (const int caught : {SIGINT, SIGTERM, SIGHUP}) {
    duringWrite = {1, [caught] { raise(caught); }};
    const std::string name = caught == SIGINT ? "SIGINT" : caught == SIGTERM ? "SIGTERM" : "SIGHUP";
    struct sigaction now {};
    sigaction(caught, nullptr, &now);
    if (now.sa_handler == SIG_IGN)
      expect(runOn(build({kA, kB}), {"@"}, Mode::kForked), 0, kListing + kCutting, kDiskA + kDiskB,
             itemsA(kA, kEntries) + itemsB(kB));
    else
      expect(runOn(build({kA, kB}), {"@"}, Mode::kForked), 128 + caught,
             kListing.substr(0, kListing.rfind("002")),
             kDiskA + "error: interrupted by " + name + ": the last item written is D000/001\n",
             itemsA(kA, {kEntries[0], kEntries[1]}));
  }
  duringWrite = {};
  // Waiting for a FIFO's writer, or for any pipe, ends too.
  const Setting later("D88_TEST_WRAPPER",
                      "sh -c '(sleep 0.5; kill -TERM $$) & exec \"$0\" \"$@\"'");
  const Outcome o = runOn({}, {"fifo"}, Mode::kProcess,
                          [](const fs::path& dir) { mkfifo((dir / "fifo").c_str(), 0666); });
  EXPECT_EQ(o.status, 143);
  // (The shell may add a line of its own.)
  EXPECT_EQ(o.err.rfind("error: interrupted by SIGTERM: no item was written\n", 0), 0u) << o.err;
}

// A terminal gets the Shift_JIS notices and names in its own encoding, with
// what would act on it as '?', and a word at the end; redirected, both
// streams are the image's bytes.
TEST(ToolPosix, Terminals) {
  // ゲーム, ｹﾞｰﾑ, and ESC, a line end, the bytes of U+202E (RLO) in UTF-8,
  // which are no RLO in Shift_JIS, a space and a byte Shift_JIS lacks.
  const char* const names[] = {"\x83\x51\x81\x5b\x83\x80", "\xb9\xde\xb0\xd1",
                               "\x1b[2J\n\xe2\x80\xae \xfd"};
  const Bytes image = build({diskA(names[0], {}), diskA(names[1], {}), diskA(names[2], {})});
  const struct {
    std::string locale, notice, shown[3];
  } terminals[] = {
      {"C.UTF-8", "Disk A を認識しました.", {"ゲーム", "ｹﾞｰﾑ", "?[2J?窶ｮ ?"}},
      {"xx_XX.UTF-8", "Disk A を認識しました.", {"ゲーム", "ｹﾞｰﾑ", "?[2J?窶ｮ ?"}},  // not installed
      {"C", "Disk A recognised.", {"???", "????", "?[2J??? ?"}},
  };
  const Tree dirs{{"D000/", {}}, {"D001/", {}}, {"D002/", {}}};
  // Both streams on a pseudo-terminal made by script(1), which prints what it
  // shows. It runs the command with $SHELL, which must read bash's quoting.
  const auto onTerminal = [](const std::string& locale) {
    return "bash -c 'unset LC_ALL LC_CTYPE; LANG=" + locale +
           " SHELL=$BASH exec script -qec \"${*@Q}\" /dev/null </dev/null' bash";
  };
  std::string out, err;
  for (const auto& t : terminals) {
    SCOPED_TRACE(t.locale);
    const Setting terminal("D88_TEST_WRAPPER", onTerminal(t.locale));
    std::string shown;
    for (int i = 0; i < 3; ++i)
      shown += t.notice + "\r\n\r\n[" + t.shown[i] + "] -> D00" + std::to_string(i) + "\r\n";
    expect(runOn(image, {"@"}, Mode::kProcess), 0,
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
  const Setting terminal("D88_TEST_WRAPPER", onTerminal("C.UTF-8"));
  // A path as the user gave it, but for what would act on the terminal.
  EXPECT_EQ(runOn({}, {"nope\x1b[2J\a\xed\xa0\x80\xe2\x81\xaf.d88"}, Mode::kProcess).out,
            "ファイルをオープンできません.\r\nerror: cannot open nope?[2J?????.d88: No such file "
            "or directory\r\n");
  // A run that failed says so at its end.
  const std::string failed =
      runOn(build({diskA("", {{0x30, 0}}), diskA("", {})}), {"@"}, Mode::kProcess,
            [](const fs::path& dir) { std::ofstream(dir / "D001"); })
          .out;
  EXPECT_EQ(failed.substr(failed.rfind("summary: ")),
            "summary: 2 disks read (Disk A: 2, Disk B: 0, neither: 0); 0 files written; 1 "
            "warning; the run failed (see the errors above)\r\n");
  EXPECT_EQ(runOn(build({kPlain}), {"@"}, Mode::kProcess).out,
            "summary: 1 disk read, none of them a Disk A or a Disk B: nothing to write\r\n");
  const auto packed = [](const fs::path& dir) { std::ofstream(dir / "it's.gz") << "\x1f\x8b\x08"; };
  EXPECT_EQ(runOn({}, {"it's.gz"}, Mode::kProcess, packed).out,
            "warning: disk 000 is cut short: the image ends inside its header\r\n"
            "summary: it's.gz is a gzip file, not a D88 image: unpack it on the way in, as in\r\n"
            "  zcat 'it'\\''s.gz' | d88extract /dev/stdin\r\n");
}
