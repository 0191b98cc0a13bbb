// Writes the demo image: a Disk A with a few items (one crossing from head 0
// to head 1, one from one cylinder to the next), a Disk B, and a disk that is
// neither. Usage: make_demo OUTPUT.d88
#include <cstdio>
#include <string>

#include "testing/image_builder.h"

using d88test::Bytes;

namespace {

// Writes readable lines over the sectors of a Disk A entry.
void writeText(d88test::Disk& disk, int start, int size, const std::string& item) {
  std::string text;
  for (int line = 1; static_cast<int>(text.size()) < size; ++line)
    text += "demo item " + item + ", line " + std::to_string(line) + "\n";
  for (int at = 0; at < size; at += 1024) {
    const int s = start + at / 1024;
    Bytes& data = disk.tracks.at(s / 5).sectors.at(s % 5).data;
    for (int i = 0; i < 1024 && at + i < size; ++i) data[i] = static_cast<uint8_t>(text[at + i]);
  }
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    fprintf(stderr, "usage: %s OUTPUT.d88\n", argv[0]);
    return 1;
  }
  // 000 crosses from head 0 to head 1, 001 from cylinder 1 to cylinder 2.
  const std::vector<d88test::Entry> entries = {
      {0x0d, 0x0c00}, {0x13, 0x0800}, {0x23, 0x0600}, {0x30, 0x0123}};
  d88test::Disk a = d88test::diskA("DEMO DISK A", entries);
  for (size_t j = 0; j < entries.size(); ++j) {
    char item[8];
    snprintf(item, sizeof item, "%03d", static_cast<int>(j));
    writeText(a, entries[j].first, entries[j].second, item);
  }
  d88test::Disk other{"DATA DISK"};
  for (int t = 0; t < 4; ++t) other.tracks.push_back(d88test::track(t, 16, 1));

  const Bytes image = d88test::build({a, d88test::diskB("DEMO DISK B"), other});
  FILE* f = fopen(argv[1], "wb");
  if (f == nullptr || fwrite(image.data(), 1, image.size(), f) != image.size() || fclose(f) != 0) {
    fprintf(stderr, "cannot write %s\n", argv[1]);
    return 1;
  }
  return 0;
}
