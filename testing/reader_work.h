// The reader's counts of its work, for the tests, the fuzzers and the
// benchmarks that check and print them.
#ifndef TESTING_READER_WORK_H_
#define TESTING_READER_WORK_H_

#include "diskimage/d88_image.h"

namespace d88test {

struct ReaderWork {
  static const ImageFile& of(const D88Image& image) { return image.file_; }
};

}  // namespace d88test

#endif  // TESTING_READER_WORK_H_
