// What the tool's tests share: runs of the tool in this process or as a
// process, in a directory of their own, and the trees, texts and failures
// they are checked against.
#ifndef TESTS_TOOL_TEST_H_
#define TESTS_TOOL_TEST_H_

#include <gtest/gtest.h>

#include <cerrno>
#include <csignal>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <random>
#include <regex>
#include <string>
#include <vector>

#include "diskimage/d88_image.h"
#include "testing/image_builder.h"
#include "tool/run.h"

#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <thread>
#endif

using namespace d88test;
namespace fs = std::filesystem;
using Tree = std::map<std::string, Bytes>;

// Failures the suite makes happen (defined in tool_test.cpp, which wraps the
// calls): reads of the image at file offsets in [failReads[0], failReads[1]).
extern long failReads[2];
#ifndef _WIN32
// Item writes: the bytes each may write before one fails as on a full disk.
extern std::vector<size_t> writeFailures;
// The dup() calls that hear a close's error: 0, EMFILE or EIO each.
extern std::vector<int> dupFaults;
// What happens during item write call `at` (0 for the first), before its
// bytes go: a signal, a file changed by a neighbour.
struct DuringWrite {
  int at = -1;
  std::function<void()> action;
};
extern DuringWrite duringWrite;
#endif

namespace {

#ifdef _WIN32
constexpr bool kWindows = true;
#else
constexpr bool kWindows = false;
#endif

// "Disk A を認識しました.\n", "Disk B を認識しました.\n", "ファイルをオープンできません.\n"
const std::string kDiskA = "Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
const std::string kDiskB = "Disk B \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
const std::string kOpenFailure =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1.\n";
const std::string kCutting =
    "cutting ... DRIVER\ncutting ... MUS00\ncutting ... MUS01\ncutting ... MUS02\n"
    "cutting ... MUS03\ncutting ... MUS04\ncutting ... MUS05\n";

// Console text as the host writes it: every "\n" is "\r\n" on Windows.
inline std::string console(const std::string& text) {
  std::string s;
  for (char c : text) s += c == '\n' && kWindows ? "\r\n" : std::string(1, c);
  return s;
}

inline Bytes readFile(const fs::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), {});
}

// Everything below `root`: files with their bytes, directories with a
// trailing '/', links as "name -> target" (not followed), other files (a
// FIFO) with a trailing '|'.
inline Tree readTree(const fs::path& root) {
  Tree tree;
  for (auto& e : fs::recursive_directory_iterator(root)) {
    const std::string name = e.path().lexically_relative(root).generic_string();
    if (e.is_symlink()) {
      tree[name + " -> " + fs::read_symlink(e.path()).generic_string()] = {};
    } else if (e.is_directory() || !e.is_regular_file()) {
      tree[name + (e.is_directory() ? "/" : "|")] = {};
    } else {
      tree[name] = readFile(e.path());
    }
  }
  return tree;
}

// A path in the temporary directory that no other run of the suite uses.
inline fs::path freshTempPath(const std::string& prefix) {
  return fs::temp_directory_path() / (prefix + std::to_string(std::random_device()()));
}

// How a run is made: run() in this process, the built program (through the
// shell), or (POSIX) the program's main path in a child of this process,
// which sees the failures this process makes happen.
enum class Mode { kInProcess, kProcess, kForked };

struct Outcome {
  int status = -1;
  std::string out, err;
  Tree tree;  // what the run left in its directory
};

// Runs the tool with `args`, where "@" stands for `image`, in a directory of
// its own beside the image, after `prepare` has put there what it wants, as
// `mode` says. The built program has its standard output and error
// captured, then `redirect` applied after
// them ("@" for the image again), in the shell's syntax; in this process,
// `redirect` names the file standard output goes to. Checks what must
// hold for every run: the image is unchanged, and nothing appeared outside
// the run's directory.
inline Outcome runOn(const Bytes& image, std::vector<std::string> args = {"@"},
                     Mode mode = Mode::kInProcess,
                     const std::function<void(const fs::path&)>& prepare = nullptr,
                     const std::string& redirect = "") {
  const fs::path parent = freshTempPath("d88test-");
  fs::create_directories(parent / "run");
  const std::string path = (parent / "image.d88").string(), err = (parent / "err").string();
  const bool inProcess = mode == Mode::kInProcess;
  const std::string out = inProcess && !redirect.empty() ? redirect : (parent / "out").string();
  std::ofstream(path, std::ios::binary)
      .write(reinterpret_cast<const char*>(image.data()), std::streamsize(image.size()));
  if (prepare) prepare(parent / "run");
  for (std::string& a : args) a = a == "@" ? path : a;
  const fs::path saved = fs::current_path();
  fs::current_path(parent / "run");
  Outcome o;
  if (mode == Mode::kProcess) {
    // D88_TEST_WRAPPER runs the program under another, valgrind say.
    std::string command = std::getenv("D88_TEST_WRAPPER") ? std::getenv("D88_TEST_WRAPPER") : "";
    command += " \"" D88EXTRACT_PATH "\"";
    for (const std::string& a : args) command += " \"" + a + "\"";
    command += " >\"" + out + "\" 2>\"" + err + "\" ";
    for (char c : redirect) command += c == '@' ? "\"" + path + "\"" : std::string(1, c);
    fflush(nullptr);
#ifdef _WIN32
    o.status = std::system(("\"" + command + "\"").c_str());  // cmd strips one pair of quotes
#else
    const int raw = std::system(command.c_str());
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
#ifndef _WIN32
  } else if (mode == Mode::kForked) {
    fflush(nullptr);
    const pid_t child = fork();
    if (child == 0) {
      std::vector<char*> argv{const_cast<char*>("d88extract")};
      for (std::string& a : args) argv.push_back(a.data());
      argv.push_back(nullptr);
      dup2(open(out.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 1);
      dup2(open(err.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0666), 2);
      _exit(runProgram(int(argv.size()) - 1, argv.data()));
    }
    int raw = 0;
    waitpid(child, &raw, 0);
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
  } else {
    std::vector<const char*> argv{"d88extract"};
    for (const std::string& a : args) argv.push_back(a.c_str());
    FILE* outFile = fopen(out.c_str(), "w");  // text mode, as the console streams are
    FILE* errFile = fopen(err.c_str(), "w");
    D88Image reader;
    o.status = run(reader, int(argv.size()), argv.data(), outFile, errFile);
    fclose(outFile);
    fclose(errFile);
  }
  fs::current_path(saved);
  EXPECT_EQ(readFile(path), image);
  o.tree = readTree(parent / "run");
  // Beside run/ only the image and the captured output.
  for (const auto& [name, bytes] : readTree(parent))
    EXPECT_TRUE(name.rfind("run/", 0) == 0 || name == "image.d88" || name == "out" || name == "err")
        << name;
  const Bytes outBytes = out == redirect ? Bytes() : readFile(out), errBytes = readFile(err);
  o.out.assign(outBytes.begin(), outBytes.end());
  o.err.assign(errBytes.begin(), errBytes.end());
  fs::remove_all(parent);
  return o;
}

// Error lines on Windows up to the system's reason, which each Windows words
// and translates its own way: "error: cannot create D000/000: ".
inline std::string upToReason(const std::string& text) {
  return kWindows ? std::regex_replace(text, std::regex("(error: [^:\r\n]*: )[^\r\n]*"), "$1")
                  : text;
}

// Checks a run's exit status, standard output and error, and the tree it left;
// a failure names the caller's line.
#define expect(...)             \
  do {                          \
    SCOPED_TRACE("expect");     \
    expectOutcome(__VA_ARGS__); \
  } while (false)
inline void expectOutcome(const Outcome& o, int status, const std::string& out,
                          const std::string& err, const Tree& tree) {
  EXPECT_EQ(o.status, status);
  EXPECT_EQ(o.out, console(out));
  EXPECT_EQ(upToReason(o.err), upToReason(console(err)));
  EXPECT_EQ(o.tree, tree);
}

// The union of two trees; where both hold a name, the left one's file.
inline Tree operator+(Tree a, Tree b) {
  a.merge(b);
  return a;
}

// The files of a Disk A with `entries`, its items in `dir` ("D000/", or ""
// with -d). An item whose run reads nothing leaves no file.
inline Tree itemsA(const Disk& a, const std::vector<Entry>& entries,
                   const std::string& dir = "D000/") {
  Tree tree;
  if (!dir.empty()) tree[dir] = {};
  for (size_t j = 0; j < entries.size(); ++j) {
    const Bytes item = run(a, entries[j].first / 5, entries[j].first % 5 + 1, 5, entries[j].second);
    if (!item.empty()) tree[dir + (j < 10 ? "00" : "0") + std::to_string(j)] = item;
  }
  return tree;
}
inline Tree itemsB(const Disk& b) {
  Tree tree{{"DRIVER", run(b, 0, 2, 16, 1536)}};
  for (int k = 0; k < 6; ++k) tree["MUS0" + std::to_string(k)] = run(b, 30 + k, 1, 16, 4096);
  if (tree["MUS01"].empty()) tree.erase("MUS01");
  return tree;
}

const Disk kPlain{"PLAIN", {track(0, 16, 1)}};

#ifndef _WIN32
// Sets environment variable `name` to `value` while it lives: the program's
// wrapper (D88_TEST_WRAPPER), TMPDIR.
class Setting {
 public:
  Setting(const char* name, const std::string& value)
      : name_(name), had_(getenv(name) != nullptr), was_(had_ ? getenv(name) : "") {
    setenv(name, value.c_str(), 1);
  }
  ~Setting() { had_ ? setenv(name_, was_.c_str(), 1) : unsetenv(name_); }

 private:
  const char* name_;
  bool had_;
  std::string was_;
};

// Runs `runIt` with "/dev/fd/N", the read end of a pipe that a thread feeds
// `image` into, as "zcat game.d88.gz |" would.
inline Outcome throughPipe(const Bytes& image,
                           const std::function<Outcome(const std::string&)>& runIt) {
  int fds[2];
  EXPECT_EQ(pipe(fds), 0);
  fcntl(fds[1], F_SETFD, FD_CLOEXEC);  // the program must see the end of it
  signal(SIGPIPE, SIG_IGN);  // a run that left the pipe unread fails the write, not the test
  std::thread feed([&] {     // until the program has read it all, or stopped reading
    for (size_t at = 0; at < image.size();) {
      const ssize_t n = write(fds[1], image.data() + at, image.size() - at);
      if (n <= 0) break;
      at += size_t(n);
    }
    close(fds[1]);
  });
  Outcome o = runIt("/dev/fd/" + std::to_string(fds[0]));
  close(fds[0]);
  feed.join();
  return o;
}
#endif

}  // namespace

#endif  // TESTS_TOOL_TEST_H_
