// Runs the tool on an image as d88extract does (with -d when given), writing
// into the current directory, and prints how many sector headers its reader
// read, how many bytes it copied from the file into its window, and how many
// bytes the process wrote (/proc/self/io: items, listing and notices).
// Usage: count_headers IMAGE.d88 [-d]
#include <cstdio>
#include <cstring>

#include "diskimage/d88_image.h"
#include "testing/reader_work.h"
#include "tool/run.h"

namespace {

long long bytesWritten() {
  long long written = -1;
  if (FILE* io = fopen("/proc/self/io", "r")) {
    char line[128];
    while (fgets(line, sizeof line, io) != nullptr)
      if (sscanf(line, "wchar: %lld", &written) == 1) break;
    fclose(io);
  }
  return written;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2 && !(argc == 3 && strcmp(argv[2], "-d") == 0)) {
    fprintf(stderr, "usage: %s IMAGE.d88 [-d]\n", argv[0]);
    return 2;
  }
  FILE* sink = fopen("/dev/null", "w");
  D88Image image;
  const char* args[] = {"d88extract", argv[1], "-d"};
  const long long before = bytesWritten();
  const int status = run(image, argc, args, sink, sink);
  fflush(sink);
  const ImageFile& file = d88test::ReaderWork::of(image);
  printf("%lld %lld %lld\n", static_cast<long long>(file.headersRead()),
         static_cast<long long>(file.bytesCopied()), bytesWritten() - before);
  return status;
}
