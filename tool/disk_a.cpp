#include <cstring>

#include "diskimage/d88_image.h"
#include "diskimage/little_endian.h"
#include "tool/extraction.h"
#include "tool/platform.h"

namespace {

// A Disk A has five 1,024-byte sectors (size code 3) per track; its directory
// is the first half of sector (0, 1, 1) in track index 1.
constexpr int kSectorsPerTrack = 5;
constexpr int kSizeCode = 3;
constexpr int kDirectoryTrack = 1;

// DirectoryEntry fields.
constexpr int kStartOffset = 2;
constexpr int kSizeOffset = 4;

// The entry of `name` among the items written into the start directory, or
// null when none of that name was.
Extraction::Written* writtenBefore(Extraction& x, const char* name) {
  for (int i = 0; i < x.writtenCount; ++i)
    if (strcmp(x.written[i].name, name) == 0) return &x.written[i];
  return nullptr;
}

}  // namespace

bool extractItem(Extraction& x, const char* name, int track, int c, int h, int r, int n, int skip,
                 int length) {
  if (skip < 0 || length < 0 || skip > kSectorBufferSize - length) return false;
  const int total = x.image.readSectors(track, c, h, r, n, x.sector, skip + length);
  // A run cut short by a read error may not stand for the item: write nothing.
  if (x.image.readError() != 0) return false;
  // A damaged image is the image's state, not a failure: told, not failed.
  // Names in the start directory are shared by the disks: a later disk's
  // item replaces an earlier one's, and says so.
  Extraction::Written* before = x.where[0] == '\0' ? writtenBefore(x, name) : nullptr;
  if (length == 0) {
    tell(x, "warning: %s%s: not written (its size is 0)\n", x.where, name);
    return false;
  }
  if (total == 0) {
    char kept[48] = "";
    if (before != nullptr)
      snprintf(kept, sizeof kept, "; %s holds disk %03d's item", name, before->disk);
    tell(x, "warning: %s%s: not written (its first sector is missing)%s\n", x.where, name, kept);
    return false;
  }
  // A run that came up short leaves earlier bytes in the buffer past `total`:
  // they are not the item's, so only what was read goes into the file.
  const size_t count = total > skip ? static_cast<size_t>(total - skip) : 0;
  if (total < skip + length)
    tell(x, "warning: %s%s: %d of %d bytes read (sectors missing)\n", x.where, name,
         static_cast<int>(count), length);

  // What the name leads to is checked on the open file, before it changes.
  ItemFile file;
  if (!file.open(name)) {
    if (file.notRegular()) {
      reportError(x, "cannot write", name, "not a regular file");
    } else {
      reportError(x, "cannot create", name, systemError());
    }
    return false;
  }
  for (int i = 0; i < x.keptCount; ++i) {
    if (sameFile(file.identity(), x.kept[i])) {
      reportError(x, "cannot write", name, x.keptBecause[i]);
      return false;
    }
  }
  if (!file.write(x.sector + skip, count)) {
    reportError(x, "cannot write", name, systemError());
    file.discard(name, before != nullptr && before->created);
    return false;
  }
  if (before != nullptr) {
    tell(x, "warning: %s written again (disk %03d replaces disk %03d)\n", name, x.disk,
         before->disk);
    before->disk = x.disk;
  } else if (x.where[0] == '\0' && x.writtenCount < kDirectoryEntries + kDiskBItems) {
    Extraction::Written& entry = x.written[x.writtenCount++];
    snprintf(entry.name, sizeof entry.name, "%s", name);
    entry.disk = x.disk;
    entry.created = file.created();
  }
  return true;
}

bool extractDiskA(Extraction& x, int index, bool makeSubdirectories) {
  D88Image& image = x.image;
  if (image.readSector(kDirectoryTrack, 0, 1, 1, kSizeCode, x.sector, 1) == 0) return true;
  notice(x, Notice::kDiskA);
  image.setSectorRange(1, kSectorsPerTrack);
  if (image.readSectors(kDirectoryTrack, 0, 1, 1, kSizeCode, x.directory, kDirectoryBufferSize) ==
      0) {
    if (image.readError() == 0) {
      tell(x, "error: cannot read the directory of disk %03d\n", index);
      x.failed = true;
    }
    return false;
  }

  char subdirectory[16];
  snprintf(subdirectory, sizeof subdirectory, "D%03d", index);
  char where[20] = "";
  bool writeItems = true;
  bool entered = false;
  if (makeSubdirectories) {
    char shown[kShownNameSize];
    print(x, "\n[%s] -> %s\n", shownName(x, image.diskName(), shown), subdirectory);
    // Items must not land in the starting directory instead: when the
    // subdirectory cannot be made or entered, list, and write nothing.
    if (!makeDirectory(subdirectory)) {  // an existing directory is reused
      reportError(x, "cannot create directory", subdirectory, systemError());
    } else if (!holdStartDirectory() || !changeDirectory(subdirectory)) {
      reportError(x, "cannot enter directory", subdirectory, systemError());
    } else {
      entered = true;
      snprintf(where, sizeof where, "%s/", subdirectory);
    }
    writeItems = entered;
  }
  x.where = where;

  for (int j = 0; j < kDirectoryEntries && image.readError() == 0; ++j) {
    const uint8_t* entry = x.directory + kDirectoryEntrySize * j;
    if (entry[0] == 0) break;
    const int start = le16(entry + kStartOffset);
    const int size = le16(entry + kSizeOffset);
    const int track = start / kSectorsPerTrack;
    const int sector = start % kSectorsPerTrack + 1;
    char name[12];  // room for any int, as the compiler asks
    snprintf(name, sizeof name, "%03d", j);
    print(x, "%-3s  %04x (Tr.%02x Sc.%02x) SIZE:%04x\n", name, start, track, sector, size);
    if (writeItems) extractItem(x, name, track, track / 2, track % 2, sector, kSizeCode, 0, size);
  }

  x.where = "";
  // Anything written after a failed return would land in the wrong place.
  if (entered && !returnToStartDirectory()) {
    reportError(x, "cannot leave directory", subdirectory, systemError());
    return false;
  }
  return true;
}
