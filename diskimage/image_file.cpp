#include "diskimage/image_file.h"

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "diskimage/sector_header.h"

bool ImageFile::open(FILE* stream) {
  if (stream_ != nullptr) fclose(stream_);
  stream_ = stream;
  readError_ = 0;
  dropWindow();
  size_ = stream_ != nullptr && fseek(stream_, 0, SEEK_END) == 0 ? ftell(stream_) : -1;
  return stream_ != nullptr;
}

int ImageFile::fail(int error) {
  if (readError_ == 0) readError_ = error;
  dropWindow();
  return 0;
}

int ImageFile::load(int64_t position, int length) {
  if (!validOffset(position) || length <= 0) return 0;
  const int64_t end = windowStart_ + windowLength_;
  // A window that reaches the end of the file holds all there is past `position`.
  if (position < windowStart_ || (position + length > end && !(windowAtEnd_ && position <= end))) {
    dropWindow();
    // After a failed read nothing more is read: what follows could not be trusted.
    if (readError_ != 0 || stream_ == nullptr) return 0;
    const int size = std::max(length, credit_);
    credit_ = 0;
    const bool placed = fseek(stream_, static_cast<long>(position), SEEK_SET) == 0;
    const size_t got = placed ? fread(window_, 1, static_cast<size_t>(size), stream_) : 0;
    // A short read is the end of the file, unless the stream says otherwise.
    if (!placed || (got < static_cast<size_t>(size) && !feof(stream_)))
      return fail(errno != 0 ? errno : EIO);
    windowStart_ = position;
    windowLength_ = static_cast<int32_t>(got);
    windowAtEnd_ = got < static_cast<size_t>(size);
    bytesCopied_ += static_cast<int64_t>(got);
  }
  return static_cast<int>(std::min<int64_t>(windowStart_ + windowLength_ - position, length));
}

int ImageFile::readAt(int64_t position, uint8_t* buffer, int length) {
  const int count = load(position, length);
  if (count > 0) memcpy(buffer, window_ + (position - windowStart_), static_cast<size_t>(count));
  return count;
}

const uint8_t* ImageFile::header(int64_t position) {
  ++headersRead_;
  credit_ = std::min(credit_ + kCreditPerHeader, kWindowSize);
  return load(position, kSectorHeaderSize) == kSectorHeaderSize
             ? window_ + (position - windowStart_)
             : nullptr;
}
