#include "diskimage/d88_image.h"

#include <cerrno>
#include <cstring>

#include "diskimage/little_endian.h"

namespace {

constexpr int64_t kMaxFileOffset = INT32_MAX;

// DiskHeader fields.
constexpr int kMediaTypeOffset = 27;
constexpr int kDiskSizeOffset = 28;

// SectorHeader fields.
constexpr int kSectorCountOffset = 4;
constexpr int kDataSizeOffset = 14;

// 128 << n must stay a positive 32-bit length.
constexpr int kMaxSizeCode = 23;

bool validOffset(int64_t position) {
  return position >= 0 && position <= kMaxFileOffset;
}

}  // namespace

D88Image::D88Image()
    : file_(nullptr),
      currentDisk_(-1),
      diskCount_(0),
      firstSector_(1),
      lastSector_(16),
      diskStart_(),
      diskSize_(0),
      diskOffset_(0),
      trackOffset_(),
      mediaType_(-1),
      name_(),
      windowStart_(0),
      windowLength_(0),
      windowAtEnd_(false),
      readError_(0) {}  // window_ is read only where it was filled

D88Image::~D88Image() {
  open(nullptr);
}

bool D88Image::open(const char* path) {
  if (path == nullptr) {
    openStream(nullptr);
    return true;
  }
  FILE* file = fopen(path, "rb");
  // The window is the buffer: reads go straight from the file into it.
  if (file != nullptr) setvbuf(file, nullptr, _IONBF, 0);
  return openStream(file);
}

bool D88Image::openStream(FILE* stream) {
  if (file_ != nullptr) fclose(file_);
  file_ = stream;
  diskCount_ = 0;
  currentDisk_ = -1;
  mediaType_ = -1;
  readError_ = 0;
  dropWindow();
  if (file_ == nullptr) return false;
  // A stream that cannot be positioned (a pipe) is read from a copy; a copy
  // that fails is a read error, told with its reason.
  if (fseek(file_, 0, SEEK_SET) != 0 && !readFromCopy()) return true;

  uint8_t header[kDiskHeaderSize];
  int64_t offset = 0;
  while (diskCount_ < kMaxDisks) {
    // A negative or overflowing size walks to a place that cannot be a disk.
    if (!validOffset(offset)) break;
    diskStart_[diskCount_] = static_cast<int32_t>(offset);
    if (readAt(offset, header, kDiskHeaderSize) < kDiskHeaderSize) break;
    offset += le32(header + kDiskSizeOffset);
    ++diskCount_;
  }
  // A file whose first header cannot be read (a directory, a failing device)
  // is no image; a later header that cannot be read is a read error, with
  // its reason, like any other.
  if (readError_ == 0 || diskCount_ > 0) return true;
  open(nullptr);
  return false;
}

bool D88Image::failRead() {
  readError_ = errno != 0 ? errno : EIO;
  return false;
}

bool D88Image::readFromCopy() {
  FILE* copy = tmpfile();
  if (copy == nullptr) return failRead();
  setvbuf(copy, nullptr, _IONBF, 0);
  int64_t total = 0;
  size_t got = kWindowSize;
  // Bytes past the largest offset the tables can hold would never be read.
  while (got == kWindowSize && total <= kMaxFileOffset) {
    got = fread(window_, 1, kWindowSize, file_);
    if (fwrite(window_, 1, got, copy) != got || (got < kWindowSize && !feof(file_))) {
      failRead();
      fclose(copy);
      return false;
    }
    total += static_cast<int64_t>(got);
  }
  fclose(file_);
  file_ = copy;
  return true;
}

int32_t D88Image::diskStart(int index) const {
  return index >= 0 && index < kMaxDisks ? diskStart_[index] : 0;
}

void D88Image::clearSelection() {
  diskOffset_ = -1;
  currentDisk_ = -1;
  mediaType_ = -1;
  diskSize_ = 0;
  name_[0] = '\0';
}

bool D88Image::selectDisk(int index) {
  if (file_ == nullptr) return false;
  clearSelection();
  if (index < 0 || index >= diskCount_) return false;
  dropWindow();  // read the header afresh, as the file may have changed

  uint8_t header[kDiskHeaderSize];
  if (readAt(diskStart_[index], header, kDiskHeaderSize) < kDiskHeaderSize) return false;

  diskOffset_ = diskStart_[index];
  for (int t = 0; t < kMaxTracks; ++t) trackOffset_[t] = le32(header + kTrackTableOffset + 4 * t);
  mediaType_ = header[kMediaTypeOffset];
  diskSize_ = le32(header + kDiskSizeOffset);
  int i = 0;
  for (; i < kNameLength && header[i] != 0; ++i) name_[i] = static_cast<char>(header[i]);
  for (; i <= kNameLength; ++i) name_[i] = '\0';
  currentDisk_ = index;
  return true;
}

void D88Image::setSectorRange(int first, int last) {
  firstSector_ = first;
  lastSector_ = last;
}

bool D88Image::trackPosition(int track, int64_t* position) const {
  if (file_ == nullptr || track < 0 || track >= kMaxTracks) return false;
  const int32_t offset = trackOffset_[track];
  // An offset equal to the disk size is usable: it names an empty record.
  if (offset <= 0 || offset > diskSize_) return false;
  *position = static_cast<int64_t>(diskOffset_) + offset;
  return validOffset(*position);
}

void D88Image::dropWindow() {
  windowStart_ = 0;
  windowLength_ = 0;
  windowAtEnd_ = false;
}

bool D88Image::fillWindow(int64_t position) {
  dropWindow();
  // After a failed read nothing more is read: what follows could not be trusted.
  if (readError_ != 0) return false;
  const bool placed = fseek(file_, static_cast<long>(position), SEEK_SET) == 0;
  const size_t got = placed ? fread(window_, 1, kWindowSize, file_) : 0;
  // A short read is the end of the file, unless the stream says otherwise.
  if (!placed || (got < static_cast<size_t>(kWindowSize) && !feof(file_))) return failRead();
  windowStart_ = position;
  windowLength_ = static_cast<int32_t>(got);
  windowAtEnd_ = got < static_cast<size_t>(kWindowSize);
  return true;
}

int D88Image::readAt(int64_t position, uint8_t* buffer, int length) {
  if (!validOffset(position) || length <= 0) return 0;
  const int64_t windowEnd = windowStart_ + windowLength_;
  const bool inWindow = position >= windowStart_ && position + length <= windowEnd;
  // A window that reaches the end of the file holds all there is past `position`.
  const bool cutByEnd = windowAtEnd_ && position >= windowStart_ && position <= windowEnd;
  if (!inWindow && !cutByEnd && !fillWindow(position)) return 0;
  const int64_t available = windowStart_ + windowLength_ - position;
  const int count = available < length ? static_cast<int>(available) : length;
  if (count <= 0) return 0;
  memcpy(buffer, window_ + (position - windowStart_), static_cast<size_t>(count));
  return count;
}

int D88Image::readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLen) {
  int64_t position;
  if (!trackPosition(track, &position)) return 0;
  uint8_t header[kSectorHeaderSize];
  for (int i = 0;; ++i) {
    if (readAt(position, header, kSectorHeaderSize) < kSectorHeaderSize) return 0;
    const int count = le16(header + kSectorCountOffset);
    if (count == 0) return 0;
    const int dataSize = le16(header + kDataSizeOffset);
    if (header[0] == c && header[1] == h && header[2] == r && header[3] == n) {
      const int k = dataSize < maxLen ? dataSize : maxLen;
      return readAt(position + kSectorHeaderSize, buffer, k);
    }
    position += kSectorHeaderSize + dataSize;
    if (i + 1 >= count) return 0;
  }
}

int D88Image::readSectorIds(int track, uint8_t* out, int maxLen) {
  int64_t position;
  if (!trackPosition(track, &position)) return 0;
  uint8_t header[kSectorHeaderSize];
  int written = 0;
  // Unlike readSector, a sector count of 0 does not end the listing.
  for (int i = 0; maxLen - written >= 4; ++i) {
    if (readAt(position, header, kSectorHeaderSize) < kSectorHeaderSize) break;
    memcpy(out + written, header, 4);
    written += 4;
    position += kSectorHeaderSize + le16(header + kDataSizeOffset);
    if (i + 1 == le16(header + kSectorCountOffset)) break;
  }
  return written;
}

int D88Image::readSectors(int track, int c, int h, int r, int n, uint8_t* buffer, int length) {
  if (n < 0 || n > kMaxSizeCode) return 0;
  int total = 0;
  int chunk = 128 << n;
  while (total < length) {
    if (chunk > length - total) chunk = length - total;
    if (readSector(track, c, h, r, n, buffer + total, chunk) < chunk) return total;
    total += chunk;
    if (r == lastSector_) {
      ++track;
      if (h == 0) {
        h = 1;
      } else {
        h = 0;
        ++c;
      }
      r = firstSector_;
    } else {
      ++r;
    }
  }
  return total;
}
