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
#ifdef _WIN32
  // A long holds 32 bits there: a larger file's size needs the 64-bit calls.
  size_ = stream_ != nullptr && _fseeki64(stream_, 0, SEEK_END) == 0 ? _ftelli64(stream_) : -1;
#else
  size_ = stream_ != nullptr && fseek(stream_, 0, SEEK_END) == 0 ? ftell(stream_) : -1;
#endif
  streamAt_ = size_;
  return stream_ != nullptr;
}

int ImageFile::fail(int error) {
  if (readError_ == 0) readError_ = error;
  dropWindow();
  return 0;
}

int ImageFile::load(int64_t position, int length, int64_t from) {
  if (!validOffset(position) || length <= 0) return 0;
  const int64_t end = windowStart_ + windowLength_;
  // A window that reaches the end of the file holds all there is from its start on.
  if (position < windowStart_ || (position + length > end && !windowAtEnd_)) {
    dropWindow();
    // After a failed read nothing more is read: what follows could not be trusted.
    if (readError_ != 0 || stream_ == nullptr) return 0;
    const int size = std::max(length, credit_);
    credit_ = 0;
    const int64_t start = from >= 0 && position - from <= size - length ? from : position;
    // Nothing is read past the size the file had at open(), so that a read
    // to its end needs no second call to find the end.
    const size_t want =
        static_cast<size_t>(size_ >= 0 ? std::clamp<int64_t>(size_ - start, 0, size) : size);
    bool placed = true;
    size_t got = 0;
    if (want > 0) {
      // No seek where the last read ended, as a pass in file order reads on.
      placed = (start == streamAt_ && !feof(stream_)) ||
               fseek(stream_, static_cast<long>(start), SEEK_SET) == 0;
      got = placed ? fread(window_, 1, want, stream_) : 0;
      streamAt_ = placed ? start + static_cast<int64_t>(got) : -1;
    }
    // A short read is the end of the file, unless the stream says otherwise,
    // or the file had more when it was opened: then what it held then is
    // lost, not read.
    if (!placed || (got < want && !feof(stream_))) return fail(errno != 0 ? errno : EIO);
    if (got < want && size_ >= 0) return fail(kShrunk);
    windowStart_ = start;
    windowLength_ = static_cast<int32_t>(got);
    windowAtEnd_ = got < static_cast<size_t>(size);
    ++windowsLoaded_;
    bytesCopied_ += static_cast<int64_t>(got);
  }
  return static_cast<int>(std::clamp<int64_t>(windowStart_ + windowLength_ - position, 0, length));
}

int ImageFile::readAt(int64_t position, uint8_t* buffer, int length) {
  const int count = load(position, length, -1);
  if (count > 0) memcpy(buffer, window_ + (position - windowStart_), static_cast<size_t>(count));
  return count;
}

const uint8_t* ImageFile::header(int64_t position, int64_t trackStart, int dataAfter) {
  ++headersRead_;
  credit_ = std::min(credit_ + kCreditPerHeader, kWindowSize);
  const int length = kSectorHeaderSize + std::clamp(dataAfter, 0, kWindowSize - kSectorHeaderSize);
  const int count = load(position, length, trackStart <= position ? trackStart : -1);
  return count >= kSectorHeaderSize ? window_ + (position - windowStart_) : nullptr;
}
