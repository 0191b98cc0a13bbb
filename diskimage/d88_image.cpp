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

// One index for the process, too large for any stack: it belongs to the reader
// whose stamp matches; another reader that needs it builds it again.
TrackIndex trackIndex;
uint32_t indexOwner = 0;
uint32_t lastStamp = 0;

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
      walkLimit_(kWalkLimit),
      headersRead_(0),
      indexStamp_(0),
      walkedFar_(),
      farWalks_(0),
      windowStart_(0),
      windowLength_(0),
      windowAtEnd_(false),
      jumpFill_(kWindowSize),
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
  dropIndex();
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
  // Read the header and the tracks afresh, as the file may have changed.
  dropWindow();
  dropIndex();

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

void D88Image::setWalkLimit(int headers) {
  walkLimit_ = headers < 0                          ? 0
               : headers > TrackIndex::kLongestWalk ? TrackIndex::kLongestWalk
                                                    : headers;
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

bool D88Image::fillWindow(int64_t position, int length) {
  // A read that carries on from the window fills it whole. A read elsewhere
  // does too, unless the last one was also elsewhere: reads that jump from
  // place to place (sectors the index found on far apart tracks, say) load a
  // little more than they need rather than 64 KiB each.
  const bool carriesOn =
      windowLength_ > 0 && position >= windowStart_ && position - windowStart_ < 2 * kWindowSize;
  int size = carriesOn ? kWindowSize : jumpFill_;
  jumpFill_ = carriesOn ? kWindowSize : kJumpSize;
  if (size < length) size = length;
  dropWindow();
  // After a failed read nothing more is read: what follows could not be trusted.
  if (readError_ != 0) return false;
  const bool placed = fseek(file_, static_cast<long>(position), SEEK_SET) == 0;
  const size_t got = placed ? fread(window_, 1, static_cast<size_t>(size), file_) : 0;
  // A short read is the end of the file, unless the stream says otherwise.
  if (!placed || (got < static_cast<size_t>(size) && !feof(file_))) return failRead();
  windowStart_ = position;
  windowLength_ = static_cast<int32_t>(got);
  windowAtEnd_ = got < static_cast<size_t>(size);
  return true;
}

int D88Image::readAt(int64_t position, uint8_t* buffer, int length) {
  if (!validOffset(position) || length <= 0) return 0;
  const int64_t windowEnd = windowStart_ + windowLength_;
  const bool inWindow = position >= windowStart_ && position + length <= windowEnd;
  // A window that reaches the end of the file holds all there is past `position`.
  const bool cutByEnd = windowAtEnd_ && position >= windowStart_ && position <= windowEnd;
  if (!inWindow && !cutByEnd && !fillWindow(position, length)) return 0;
  const int64_t available = windowStart_ + windowLength_ - position;
  const int count = available < length ? static_cast<int>(available) : length;
  if (count <= 0) return 0;
  memcpy(buffer, window_ + (position - windowStart_), static_cast<size_t>(count));
  return count;
}

const uint8_t* D88Image::header(int64_t position) {
  ++headersRead_;
  // Inside the window the header is used where it lies.
  if (position >= windowStart_ && position + kSectorHeaderSize <= windowStart_ + windowLength_)
    return window_ + (position - windowStart_);
  return readAt(position, headerCopy_, kSectorHeaderSize) == kSectorHeaderSize ? headerCopy_
                                                                               : nullptr;
}

int D88Image::walk(int64_t* position, uint32_t id, int limit, int* dataSize) {
  for (int i = 0; i < limit; ++i) {
    const uint8_t* h = header(*position);
    if (h == nullptr) return 0;
    const int count = le16(h + kSectorCountOffset);
    if (count == 0) return 0;
    *dataSize = le16(h + kDataSizeOffset);
    if (static_cast<uint32_t>(le32(h)) == id) return 1;
    *position += kSectorHeaderSize + *dataSize;
    if (i + 1 >= count) return 0;
  }
  return -1;
}

void D88Image::dropIndex() {
  indexStamp_ = 0;
  for (bool& walked : walkedFar_) walked = false;
  farWalks_ = 0;
}

bool D88Image::indexReady() const {
  return indexStamp_ != 0 && indexStamp_ == indexOwner;
}

bool D88Image::buildIndex() {
  int64_t starts[kMaxTracks];
  for (int t = 0; t < kMaxTracks; ++t)
    if (!trackPosition(t, &starts[t])) starts[t] = -1;
  indexOwner = 0;
  if (!trackIndex.build(starts, headerOf, this)) return false;
  if (++lastStamp == 0) ++lastStamp;
  indexOwner = indexStamp_ = lastStamp;
  return true;
}

bool D88Image::findSector(int track, uint32_t id, int64_t* position, int* dataSize) {
  if (!indexReady()) {
    int64_t at = *position;
    int found = walk(&at, id, walkLimit_, dataSize);
    // The first two walks past the limit, on different tracks, go on to the
    // end: the index pays only where lookups come back to a track or go on
    // to others, and a disk looked up twice (neither Disk A nor B) needs none.
    if (found < 0 && !walkedFar_[track] && farWalks_ < kFarWalks) {
      walkedFar_[track] = true;
      ++farWalks_;
      at = *position;
      found = walk(&at, id, TrackIndex::kLongestWalk, dataSize);
    }
    if (found >= 0) {
      *position = at;
      return found == 1;
    }
    // The table cannot fill (see track_index.h); if it did, walk it all.
    if (!buildIndex()) return walk(position, id, TrackIndex::kLongestWalk, dataSize) == 1;
  }
  *position = trackIndex.find(track, id);
  const uint8_t* h = *position >= 0 ? header(*position) : nullptr;
  if (h == nullptr) return false;
  *dataSize = le16(h + kDataSizeOffset);
  return true;
}

int D88Image::readSector(int track, int c, int h, int r, int n, uint8_t* buffer, int maxLen) {
  int64_t position;
  if (!trackPosition(track, &position)) return 0;
  // No header holds an ID byte outside 0..255.
  if ((c | h | r | n) & ~0xFF) return 0;
  const uint32_t id = static_cast<uint32_t>(c | h << 8 | r << 16) | static_cast<uint32_t>(n) << 24;
  int dataSize;
  if (!findSector(track, id, &position, &dataSize)) return 0;
  const int k = dataSize < maxLen ? dataSize : maxLen;
  return readAt(position + kSectorHeaderSize, buffer, k);
}

int D88Image::readSectorIds(int track, uint8_t* out, int maxLen) {
  int64_t position;
  if (!trackPosition(track, &position)) return 0;
  int written = 0;
  // Unlike readSector, a sector count of 0 does not end the listing.
  for (int i = 0; maxLen - written >= 4; ++i) {
    const uint8_t* h = header(position);
    if (h == nullptr) break;
    memcpy(out + written, h, 4);
    written += 4;
    position += kSectorHeaderSize + le16(h + kDataSizeOffset);
    if (i + 1 == le16(h + kSectorCountOffset)) break;
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
