#include "diskimage/d88_image.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "diskimage/little_endian.h"
#include "diskimage/sector_header.h"

namespace {

// DiskHeader fields.
constexpr int kMediaTypeOffset = 27;
constexpr int kDiskSizeOffset = 28;

// 128 << n must stay a positive 32-bit length.
constexpr int kMaxSizeCode = 23;

}  // namespace

bool D88Image::open(const char* path) {
  FILE* file = path != nullptr ? fopen(path, "rb") : nullptr;
  // The window is the buffer: reads go straight from the file into it.
  if (file != nullptr) setvbuf(file, nullptr, _IONBF, 0);
  return openStream(file) || path == nullptr;
}

bool D88Image::openStream(FILE* stream) {
  diskCount_ = 0;
  moreDisks_ = headerCutShort_ = false;
  clearSelection();
  index_.clear();
  if (!file_.open(stream)) return false;

  uint8_t header[kDiskHeaderSize];
  int got = 0;
  tableEnd_ = TableEnd();
  int64_t reached = 0;  // the end of the furthest disk found
  int64_t offset = 0;
  // A negative or overflowing size walks to a place that cannot be a disk.
  for (; ImageFile::validOffset(offset); ++diskCount_) {
    got = file_.readAt(offset, header, kDiskHeaderSize);
    if (got < kDiskHeaderSize || diskCount_ == kMaxDisks) break;
    diskStart_[diskCount_] = static_cast<int32_t>(offset);
    const int32_t size = le32(header + kDiskSizeOffset);
    reached = std::max(reached, offset + std::max<int64_t>(size, kDiskHeaderSize));
    const Leads leads = size <= 0                                ? Leads::kBack
                        : !ImageFile::validOffset(offset + size) ? Leads::kPastOffsets
                                                                 : Leads::kNowhereAmiss;
    if (tableEnd_.disk < 0 && leads != Leads::kNowhereAmiss)
      tableEnd_ = {diskCount_, leads, offset + size, 0};
    offset += size;
  }
  if (tableEnd_.disk < 0 && diskCount_ > 0 && file_.size() >= 0 && offset > file_.size())
    tableEnd_ = {diskCount_ - 1, Leads::kPastEnd, offset, 0};
  // No offset reaches past 2^31 - 1: what lies beyond is never read.
  reached = std::min<int64_t>(reached, int64_t{INT32_MAX} + 1);
  tableEnd_.unread = file_.size() > reached ? file_.size() - reached : 0;
  moreDisks_ = diskCount_ == kMaxDisks && got == kDiskHeaderSize;
  headerCutShort_ = got > 0 && got < kDiskHeaderSize;
  // A file whose first header cannot be read (a directory, a failing device)
  // is no image; a later header that cannot be read is a read error, with
  // its reason, like any other.
  const int error = readError();
  if (error == 0 || diskCount_ > 0) return true;
  openStream(nullptr);
  file_.fail(error);  // why, for the caller
  return false;
}

void D88Image::clearSelection() {
  indexed_ = diskCutShort_ = false;
  currentDisk_ = -1;
  mediaType_ = -1;
  name_[0] = '\0';
  std::fill(trackStart_, trackStart_ + kMaxTracks, -1);
}

bool D88Image::selectDisk(int index) {
  if (file_.stream() == nullptr) return false;
  // The same header again, as a disk size of 0 makes the table find it: from
  // the window as it was read for the disk selected last.
  const bool again = currentDisk_ >= 0 && index >= 0 && index < diskCount_ &&
                     diskStart_[index] == diskStart_[currentDisk_];
  clearSelection();
  if (index < 0 || index >= diskCount_) return false;
  // Any other header afresh, as the file may have changed.
  if (!again) file_.dropWindow();
  uint8_t header[kDiskHeaderSize];
  if (file_.readAt(diskStart_[index], header, kDiskHeaderSize) < kDiskHeaderSize) return false;

  const int32_t diskSize = le32(header + kDiskSizeOffset);
  diskCutShort_ = file_.size() >= 0 && int64_t{diskStart_[index]} + diskSize > file_.size();
  for (int t = 0; t < kMaxTracks; ++t) {
    const int32_t offset = le32(header + kTrackTableOffset + 4 * t);
    const int64_t start = int64_t{diskStart_[index]} + offset;
    // An offset equal to the disk size is usable: it names an empty record.
    if (offset > 0 && offset <= diskSize && ImageFile::validOffset(start)) trackStart_[t] = start;
  }
  indexed_ = index_.holds(trackStart_);
  mediaType_ = header[kMediaTypeOffset];
  memcpy(name_, header, kNameLength);  // name_[16] stays NUL
  currentDisk_ = index;
  return true;
}

int D88Image::readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLen) {
  // No header holds an ID byte outside 0..255.
  if (track < 0 || track >= kMaxTracks || trackStart_[track] < 0 || ((c | h | r | n) & ~0xFF))
    return 0;
  if (!indexed_ && !(indexed_ = index_.build(trackStart_, file_))) {
    // No memory for the index: no lookup can be answered from here on.
    file_.fail(ENOMEM);
    return 0;
  }
  const uint32_t id = static_cast<uint32_t>(c | h << 8 | r << 16) | static_cast<uint32_t>(n) << 24;
  const int64_t position = index_.find(track, id);
  const uint8_t* header =
      position >= 0 ? file_.header(position, trackStart_[track], maxLen) : nullptr;
  // A header that no longer holds the ID (the file changed since the index
  // was built) is no answer: never another sector's data.
  if (header == nullptr || sectorId(header) != id) return 0;
  const int size = dataSize(header);
  return file_.readAt(position + kSectorHeaderSize, buffer, size < maxLen ? size : maxLen);
}

int D88Image::readSectorIds(int track, uint8_t* out, int maxLen) {
  if (track < 0 || track >= kMaxTracks) return 0;
  int64_t position = trackStart_[track];
  int written = 0;
  // Unlike readSector, a sector count of 0 does not end the listing.
  for (int i = 0; position >= 0 && maxLen - written >= 4; ++i, written += 4) {
    const uint8_t* h = file_.header(position);
    if (h == nullptr) break;
    memcpy(out + written, h, 4);
    position += kSectorHeaderSize + dataSize(h);
    if (i + 1 == sectorCount(h)) return written + 4;
  }
  return written;
}

int D88Image::readSectors(int track, int c, int h, int r, int n, uint8_t* buffer, int length) {
  if (n < 0 || n > kMaxSizeCode) return 0;
  // The run's sectors lie near one another: a miss may load as much.
  if (length > 0) file_.expect(length);
  int total = 0, chunk = 128 << n;
  while (total < length) {
    if (chunk > length - total) chunk = length - total;
    if (readSector(track, c, h, r, n, buffer + total, chunk) < chunk) return total;
    total += chunk;
    if (r++ != lastSector_) continue;
    // On to the next track: head 0 to head 1, head 1 to head 0 of the next cylinder.
    ++track;
    c += h != 0;
    h = h == 0;
    r = firstSector_;
  }
  return total;
}
