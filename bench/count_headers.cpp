// Runs the tool on an image as d88extract does, writing into the current
// directory, and prints how many sector headers its reader read and how many
// bytes it copied from the file into its window.
// Usage: count_headers IMAGE.d88
#include <cstdio>

#include "diskimage/d88_image.h"
#include "testing/reader_work.h"
#include "tool/run.h"

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s IMAGE.d88\n", argv[0]);
    return 2;
  }
  FILE* sink = fopen("/dev/null", "w");
  D88Image image;
  const char* args[] = {"d88extract", argv[1]};
  const int status = run(image, 2, args, sink, sink);
  const ImageFile& file = d88test::ReaderWork::of(image);
  printf("%lld %lld\n", static_cast<long long>(file.headersRead()),
         static_cast<long long>(file.bytesCopied()));
  return status;
}
