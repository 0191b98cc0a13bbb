#include "tests/image_builder.h"

#include <fstream>
#include <random>

namespace d88test {
namespace {

constexpr int kHeaderSize = 688;

void put16(Bytes& b, size_t at, int64_t v) {
  b[at] = static_cast<uint8_t>(v);
  b[at + 1] = static_cast<uint8_t>(v >> 8);
}

void put32(Bytes& b, size_t at, int64_t v) {
  for (int i = 0; i < 4; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * i));
}

const Sector* findSector(const Disk& disk, int track, int r) {
  for (const Track& t : disk.tracks) {
    if (t.index != track) continue;
    for (const Sector& s : t.sectors)
      if (s.r == r) return &s;
  }
  return nullptr;
}

}  // namespace

const char kSignature[17] = "QUORVELSTANE(c)A";

Bytes build(const Disk& disk) {
  Bytes out(kHeaderSize, 0);
  for (size_t i = 0; i < disk.name.size() && i < 27; ++i) out[i] = disk.name[i];
  out[27] = static_cast<uint8_t>(disk.mediaType);
  for (const Track& t : disk.tracks) {
    put32(out, 32 + 4 * t.index, static_cast<int64_t>(out.size()));
    for (const Sector& s : t.sectors) {
      const size_t at = out.size();
      out.resize(at + 16, 0);
      out[at] = static_cast<uint8_t>(s.c);
      out[at + 1] = static_cast<uint8_t>(s.h);
      out[at + 2] = static_cast<uint8_t>(s.r);
      out[at + 3] = static_cast<uint8_t>(s.n);
      put16(out, at + 4, s.count.value_or(static_cast<int>(t.sectors.size())));
      put16(out, at + 14, s.dataSize.value_or(static_cast<int>(s.data.size())));
      out.insert(out.end(), s.data.begin(), s.data.end());
    }
  }
  for (const auto& [index, offset] : disk.trackOffsets) put32(out, 32 + 4 * index, offset);
  const int64_t size = disk.size.value_or(static_cast<int64_t>(out.size()));
  put32(out, 28, size);
  // A size beyond the content pads the disk, up to a bound that keeps huge
  // size fields cheap.
  if (size > static_cast<int64_t>(out.size()) && size <= (1 << 20)) out.resize(size, 0);
  return out;
}

Bytes build(const std::vector<Disk>& disks) {
  Bytes out;
  for (const Disk& d : disks) {
    Bytes b = build(d);
    out.insert(out.end(), b.begin(), b.end());
  }
  return out;
}

Bytes sectorData(int track, int r, int size) {
  Bytes b(static_cast<size_t>(size));
  for (int i = 0; i < size; ++i)
    b[i] = static_cast<uint8_t>((track * 31 + r * 7 + i * 3 + (i >> 8)) ^ (i >> 5));
  return b;
}

Track track(int index, int sectors, int n) {
  Track t{index, {}};
  for (int r = 1; r <= sectors; ++r)
    t.sectors.push_back({index / 2, index % 2, r, n, sectorData(index, r, 128 << n), {}, {}});
  return t;
}

Disk diskA(const std::string& name, const std::vector<Entry>& entries, int tracks) {
  Disk d{name, 0x00, {}, {}, {}};
  for (int i = 0; i < tracks; ++i) d.tracks.push_back(track(i, 5, 3));
  Bytes& directory = d.tracks.at(1).sectors[0].data;
  for (size_t j = 0; j < 64; ++j) {
    if (j == entries.size()) {
      directory[8 * j] = 0;
      break;
    }
    directory[8 * j] = 1;
    put16(directory, 8 * j + 2, entries[j].first);
    put16(directory, 8 * j + 4, entries[j].second);
  }
  return d;
}

Disk diskB(const std::string& name) {
  Disk d{name, 0x00, {}, {}, {}};
  for (int i = 0; i < 40; ++i) d.tracks.push_back(track(i, 16, 1));
  Bytes& signatureSector = d.tracks[0].sectors[15].data;
  std::copy(kSignature, kSignature + 16, signatureSector.begin() + 240);
  return d;
}

Bytes run(const Disk& disk, int track, int r, int last, int length) {
  Bytes out;
  while (static_cast<int>(out.size()) < length) {
    const Sector* s = findSector(disk, track, r);
    if (s == nullptr) break;
    const size_t take = std::min(s->data.size(), static_cast<size_t>(length) - out.size());
    out.insert(out.end(), s->data.begin(), s->data.begin() + take);
    if (r == last) {
      ++track;
      r = 1;
    } else {
      ++r;
    }
  }
  return out;
}

TempDir::TempDir() {
  std::random_device random;
  for (;;) {
    path_ = std::filesystem::temp_directory_path() / ("d88test-" + std::to_string(random()));
    if (std::filesystem::create_directory(path_)) break;
  }
}

TempDir::~TempDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string TempDir::write(const std::string& name, const Bytes& bytes) const {
  const std::filesystem::path p = path_ / name;
  std::ofstream(p, std::ios::binary)
      .write(reinterpret_cast<const char*>(bytes.data()),
             static_cast<std::streamsize>(bytes.size()));
  return p.string();
}

Bytes readFile(const std::filesystem::path& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

std::map<std::string, Bytes> readTree(const std::filesystem::path& root) {
  std::map<std::string, Bytes> files;
  for (auto& e : std::filesystem::recursive_directory_iterator(root)) {
    const std::string name = std::filesystem::relative(e.path(), root).generic_string();
    if (e.is_directory())
      files[name + "/"] = {};
    else
      files[name] = readFile(e.path());
  }
  return files;
}

}  // namespace d88test
