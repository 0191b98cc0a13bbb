#include "tool/item_writer.h"

#include <cstdio>
#include <cstring>

#include "diskimage/d88_image.h"
#include "tool/reporter.h"

ItemWriter::ItemWriter(D88Image& image, uint8_t* sector, Reporter& reporter)
    : image_(image), sector_(sector), reporter_(reporter) {}

void ItemWriter::guard(const FileIdentity& identity, const char* why) {
  if (guardedCount_ < static_cast<int>(sizeof guarded_ / sizeof guarded_[0]))
    guarded_[guardedCount_++] = {identity, why};
}

ItemWriter::Written* ItemWriter::writtenBefore(const char* name) {
  for (int i = 0; i < writtenCount_; ++i)
    if (strcmp(written_[i].name, name) == 0) return &written_[i];
  return nullptr;
}

bool ItemWriter::extractItem(const ItemPlace& place, const char* name, int track, int c, int h,
                             int r, int n, int skip, int length) {
  if (skip < 0 || length < 0 || skip > kSectorBufferSize - length) return false;
  const int total = image_.readSectors(track, c, h, r, n, sector_, skip + length);
  // A run cut short by a read error may not stand for the item: write nothing.
  if (image_.readError() != 0) return false;
  // A damaged image is the image's state, not a failure: told, not failed.
  Written* before = place.directory[0] == '\0' ? writtenBefore(name) : nullptr;
  if (length == 0) {
    reporter_.printWarning("%s%s: not written (its size is 0)\n", place.directory, name);
    return false;
  }
  if (total == 0) {
    char kept[48] = "";
    if (before != nullptr)
      snprintf(kept, sizeof kept, "; %s holds disk %03d's item", name, before->disk);
    reporter_.printWarning("%s%s: not written (its first sector is missing)%s\n", place.directory,
                           name, kept);
    return false;
  }
  // A run that came up short leaves earlier bytes in the buffer past `total`:
  // they are not the item's, so only what was read goes into the file.
  const size_t count = total > skip ? static_cast<size_t>(total - skip) : 0;
  if (total < skip + length)
    reporter_.printWarning("%s%s: %d of %d bytes read (sectors missing)\n", place.directory, name,
                           static_cast<int>(count), length);
  return writeFile(place, name, before, sector_ + skip, count);
}

bool ItemWriter::writeFile(const ItemPlace& place, const char* name, Written* before,
                           const uint8_t* data, size_t count) {
  // What the name leads to is checked on the open file, before it changes.
  ItemFile file;
  if (!file.open(name)) {
    const bool refused = file.notRegular();
    reporter_.printError("cannot %s %s%s: %s\n", refused ? "write" : "create", place.directory,
                         name, refused ? "not a regular file" : file.reason());
    return false;
  }
  for (int i = 0; i < guardedCount_; ++i) {
    if (sameFile(file.identity(), guarded_[i].identity)) {
      reporter_.printError("cannot write %s%s: %s\n", place.directory, name, guarded_[i].why);
      return false;
    }
  }
  // A file an earlier disk made counts as the run's only while it is that
  // file, as that disk left it.
  const bool made = file.created() || (before != nullptr && before->created &&
                                       sameUnchangedFile(before->identity, file.identity()));
  if (!file.write(data, count)) {
    reporter_.printError("cannot write %s%s: %s\n", place.directory, name, file.reason());
    file.discard(name, made);
    return false;
  }
  ++itemsWritten_;
  snprintf(lastWritten_, sizeof lastWritten_, "%s%s", place.directory, name);
  if (before != nullptr) {
    reporter_.printWarning("%s written again (disk %03d replaces disk %03d)\n", name, place.disk,
                           before->disk);
    before->disk = place.disk;
    before->created = made;
    before->identity = file.identity();
  } else if (place.directory[0] == '\0' && writtenCount_ < kNamesInStart) {
    Written& entry = written_[writtenCount_++];
    snprintf(entry.name, sizeof entry.name, "%s", name);
    entry.disk = place.disk;
    entry.created = made;
    entry.identity = file.identity();
  }
  return true;
}
