// Feeds arbitrary bytes as an image to D88Image and exercises every
// operation with IDs, ranges and lengths taken from the input's tail.
#include <fuzzer/FuzzedDataProvider.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <string>
#include <vector>

#include "diskimage/d88_image.h"

namespace {

const std::string& imagePath() {
  static const std::string path = "/tmp/fuzz_reader_" + std::to_string(getpid()) + ".d88";
  return path;
}

void check(bool ok) {
  if (!ok) abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FILE* f = fopen(imagePath().c_str(), "wb");
  check(f != nullptr && fwrite(data, 1, size, f) == size && fclose(f) == 0);
  FuzzedDataProvider p(data, size);

  D88Image image;
  check(image.open(imagePath().c_str()));
  check(image.diskCount() >= 0 && image.diskCount() <= D88Image::kMaxDisks);
  for (int i = -1; i <= image.diskCount(); ++i) {
    const bool selected = image.selectDisk(i);
    check(image.currentDisk() == (selected ? i : -1));
    if (!selected) continue;
    image.setSectorRange(p.ConsumeIntegralInRange(-1, 20), p.ConsumeIntegralInRange(-1, 20));
    for (int track = -1; track <= D88Image::kMaxTracks; ++track) {
      // Exactly sized buffers: ASan sees any byte written past their end.
      std::vector<uint8_t> ids(static_cast<size_t>(p.ConsumeIntegralInRange(0, 64)));
      const int listed = image.readSectorIds(track, ids.data(), static_cast<int>(ids.size()));
      check(listed >= 0 && listed % 4 == 0 && listed <= static_cast<int>(ids.size()));
      for (int k = 0; k < listed; k += 4) {
        std::vector<uint8_t> buffer(p.ConsumeIntegralInRange(0, 1200));
        const int got = image.readSector(track, ids[k], ids[k + 1], ids[k + 2], ids[k + 3],
                                         buffer.data(), static_cast<int>(buffer.size()));
        check(got >= 0 && got <= static_cast<int>(buffer.size()));
      }
    }
    for (int run = 0; run < 4 && p.remaining_bytes() > 0; ++run) {
      std::vector<uint8_t> buffer(p.ConsumeIntegralInRange(0, 70000));
      const int track = p.ConsumeIntegralInRange(-1, 165);
      const int c = p.ConsumeIntegralInRange(-1, 256), h = p.ConsumeIntegralInRange(-1, 2);
      const int r = p.ConsumeIntegralInRange(-1, 256), n = p.ConsumeIntegralInRange(-1, 30);
      const int got =
          image.readSectors(track, c, h, r, n, buffer.data(), static_cast<int>(buffer.size()));
      check(got >= 0 && got <= static_cast<int>(buffer.size()));
    }
  }
  check(image.open(nullptr));
  check(!image.selectDisk(0));
  return 0;
}
