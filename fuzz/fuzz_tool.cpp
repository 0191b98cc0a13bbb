// Runs the whole tool on arbitrary bytes inside a fresh directory, with "-d"
// when the first byte is odd, and checks that it wrote nothing outside that
// directory, left the image as it was, came back to where it started, and
// failed only where an image can make it fail.
#include <fcntl.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "diskimage/d88_image.h"
#include "tool/run.h"

namespace fs = std::filesystem;

namespace {

void check(bool ok, const char* what) {
  if (!ok) {
    fprintf(stderr, "fuzz_tool: %s\n", what);
    abort();
  }
}

const fs::path& base() {
  static const fs::path dir = [] {
    fs::path d = fs::temp_directory_path() / ("fuzz_tool_" + std::to_string(getpid()));
    fs::remove_all(d);
    fs::create_directories(d);
    return d;
  }();
  return dir;
}

// Whether the file at `path` holds the `size` bytes at `data`, read at once.
bool holds(const char* path, const uint8_t* data, size_t size) {
  std::vector<uint8_t> bytes(size + 1);
  const int fd = open(path, O_RDONLY);
  const ssize_t got = fd >= 0 ? read(fd, bytes.data(), size + 1) : -1;
  if (fd >= 0) close(fd);
  return got == static_cast<ssize_t>(size) && memcmp(bytes.data(), data, size) == 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // libFuzzer reads its corpus by relative paths: come back to where it runs.
  static const fs::path home = fs::current_path();
  static const fs::path work = base() / "work";
  static const std::string imagePath = (base() / "image.d88").string();
  const int fd = open(imagePath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  check(fd >= 0 && write(fd, data, size) == static_cast<ssize_t>(size) && close(fd) == 0,
        "the image cannot be written");
  fs::create_directory(work);
  static FILE* sink = fopen("/dev/null", "w");

  const char* argv[] = {"d88extract", imagePath.c_str(), "-d"};
  const int argc = size > 0 && (data[0] & 1) ? 3 : 2;
  fs::current_path(work);
  {
    // The errors go to memory: the one failure an image may cause is a Disk A
    // directory that cannot be read.
    char* errors = nullptr;
    size_t length = 0;
    FILE* err = open_memstream(&errors, &length);
    D88Image reader;
    const int status = run(reader, argc, argv, sink, err);
    fclose(err);
    const std::string text(errors, length);
    free(errors);
    // An error line, if any, must be the last line, and say that.
    const size_t error = text.find("error: ");
    const std::string expected = "error: cannot read the directory of disk ";
    const bool unreadableDirectory = error != std::string::npos &&
                                     text.compare(error, expected.size(), expected) == 0 &&
                                     text.find('\n', error) == text.size() - 1;
    check(status == 0 ? error == std::string::npos : status == 1 && unreadableDirectory,
          "a run on a writable directory ended with a failure other than an unreadable directory");
  }
  check(fs::current_path() == work, "the run did not end in the directory it started in");
  fs::current_path(home);

  check(holds(imagePath.c_str(), data, size), "the image changed");
  int entries = 0;
  for (const auto& e : fs::directory_iterator(base())) {
    (void)e;
    ++entries;
  }
  check(entries == 2, "something was written outside the run's directory");
  fs::remove_all(work);
  return 0;
}
