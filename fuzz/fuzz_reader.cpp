// Feeds arbitrary bytes as an image to D88Image, read from memory, and runs
// the reader's check (reader_check.h) with the sector ranges, lengths and IDs
// taken from the input's tail.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "diskimage/d88_image.h"
#include "fuzz/reader_check.h"

namespace {

// The input as a read-only stream that, like a file, can be positioned past
// its end (an fmemopen stream cannot, which the reader takes for a failed read).
struct Memory {
  const uint8_t* data;
  size_t size;
  off64_t at;
};

ssize_t readMemory(void* cookie, char* buffer, size_t n) {
  Memory& m = *static_cast<Memory*>(cookie);
  const size_t left = m.at < static_cast<off64_t>(m.size) ? m.size - static_cast<size_t>(m.at) : 0;
  n = std::min(n, left);
  memcpy(buffer, m.data + m.at, n);
  m.at += static_cast<off64_t>(n);
  return static_cast<ssize_t>(n);
}

int seekMemory(void* cookie, off64_t* offset, int whence) {
  Memory& m = *static_cast<Memory*>(cookie);
  const off64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? m.at
                                            : static_cast<off64_t>(m.size);
  if (base + *offset < 0) return -1;
  *offset = m.at = base + *offset;
  return 0;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  d88test::Choices choices(data, size);
  D88Image image;
  Memory memory{data, size, 0};
  const char* failed =
      !image.openStream(fopencookie(&memory, "rb", {readMemory, nullptr, seekMemory, nullptr}))
          ? "open"
          : d88test::checkReader(image, data, size, choices);
  if (failed != nullptr) {
    fprintf(stderr, "fuzz_reader: %s\n", failed);
    abort();
  }
  return 0;
}
