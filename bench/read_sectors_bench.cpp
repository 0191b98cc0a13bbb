// readSectors throughput over a Disk A image held in the page cache: runs of
// 1 KiB (one sector), a whole track (five sectors) and 64 KiB (thirteen tracks).
#include <benchmark/benchmark.h>

#include <filesystem>
#include <fstream>

#include "diskimage/d88_image.h"
#include "testing/image_builder.h"

namespace {

const std::string& imagePath() {
  static const std::string path = [] {
    const d88test::Bytes image = d88test::build({d88test::diskA("BENCH", {}, 164)});
    const std::string p =
        (std::filesystem::temp_directory_path() / "read_sectors_bench.d88").string();
    std::ofstream(p, std::ios::binary)
        .write(reinterpret_cast<const char*>(image.data()),
               static_cast<std::streamsize>(image.size()));
    return p;
  }();
  return path;
}

uint8_t buffer[65536];

void readSectors(benchmark::State& state) {
  D88Image image;
  image.open(imagePath().c_str());
  image.selectDisk(0);
  image.setSectorRange(1, 5);
  const int length = static_cast<int>(state.range(0));
  int track = 2;
  for (auto _ : state) {
    const int got = image.readSectors(track, track / 2, track % 2, 1, 3, buffer, length);
    if (got != length) state.SkipWithError("short run");
    benchmark::DoNotOptimize(buffer);
    track = track < 140 ? track + 1 : 2;  // walk the disk, as an extraction does
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(length));
}
BENCHMARK(readSectors)->ArgName("bytes")->Arg(1024)->Arg(5 * 1024)->Arg(65536);

}  // namespace

BENCHMARK_MAIN();
