// The Disk A step.
//
// A Disk A has five 1,024-byte sectors (size code 3) a track, numbered 1 to
// 5, and track index = cylinder x 2 + head. Its directory is the first 512
// bytes of sector (0, 1, 1, 3) in track index 1: 64 entries of 8 bytes, each
//   0  1  marker: 0 ends the directory
//   2  2  start: the logical sector of the item's first sector
//   4  2  size: the item's length in bytes
// (little-endian; the other bytes are not read). Logical sector s is sector
// s mod 5 + 1 of track index s / 5. An item is read as a run of sectors from
// there, on through the next tracks.
#include <cstdio>

#include "diskimage/d88_image.h"
#include "diskimage/little_endian.h"
#include "tool/disk_steps.h"
#include "tool/item_writer.h"
#include "tool/platform.h"
#include "tool/reporter.h"

namespace {

constexpr int kSectorsPerTrack = 5;
constexpr int kSizeCode = 3;
constexpr int kDirectoryTrack = 1;

// DirectoryEntry fields.
constexpr int kStartOffset = 2;
constexpr int kSizeOffset = 4;

// Whether the directory sector is there; then the notice, and the directory
// read. False when it is there but cannot be read as a whole: told, unless
// a read error of the image is why.
bool readDirectory(const StepTools& tools, int disk, bool* recognised) {
  D88Image& image = tools.image;
  *recognised = image.readSector(kDirectoryTrack, 0, 1, 1, kSizeCode, tools.sector, 1) != 0;
  if (!*recognised) return true;
  tools.reporter.printNotice(Notice::kDiskA);
  image.setSectorRange(1, kSectorsPerTrack);
  if (image.readSectors(kDirectoryTrack, 0, 1, 1, kSizeCode, tools.directory,
                        kDirectoryBufferSize) != 0)
    return true;
  if (image.readError() == 0)
    tools.reporter.printError("cannot read the directory of disk %03d\n", disk);
  return false;
}

// Lists every directory entry and, when `writeItems`, writes its item into
// the current directory, named in messages by `place`.
void extractEntries(const StepTools& tools, const ItemPlace& place, bool writeItems) {
  for (int j = 0; j < kDirectoryEntries; ++j) {
    if (tools.image.readError() != 0 || pendingInterruption() != 0) return;
    const uint8_t* entry = tools.directory + kDirectoryEntrySize * j;
    if (entry[0] == 0) return;
    const int start = le16(entry + kStartOffset);
    const int size = le16(entry + kSizeOffset);
    const int track = start / kSectorsPerTrack;
    const int sector = start % kSectorsPerTrack + 1;
    char name[12];  // room for any int, as the compiler asks
    snprintf(name, sizeof name, "%03d", j);
    tools.reporter.printListing("%-3s  %04x (Tr.%02x Sc.%02x) SIZE:%04x\n", name, start, track,
                                sector, size);
    if (writeItems)
      tools.items.extractItem(place, name, track, track / 2, track % 2, sector, kSizeCode, 0, size);
  }
}

}  // namespace

DiskAResult extractDiskA(const StepTools& tools, StartDirectory& start, int disk,
                         bool makeSubdirectories) {
  bool recognised;
  if (!readDirectory(tools, disk, &recognised)) return DiskAResult::kEndRun;
  if (!recognised) return DiskAResult::kNotDiskA;
  // No subdirectory is made for items an interruption keeps from it.
  if (pendingInterruption() != 0) return DiskAResult::kExtracted;
  if (!makeSubdirectories) {
    extractEntries(tools, ItemPlace{disk, ""}, true);
    return DiskAResult::kExtracted;
  }

  char subdirectory[16];
  snprintf(subdirectory, sizeof subdirectory, "D%03d", disk);
  tools.reporter.printDiskName(tools.image.diskName(), subdirectory);
  // Items must not land in the start directory instead: when the
  // subdirectory cannot be made or entered, list, and write nothing.
  Reason why;
  if (!makeDirectory(subdirectory, why)) {  // an existing directory is reused
    tools.reporter.printError("cannot create directory %s: %s\n", subdirectory, why.text());
  } else if (!start.enter(subdirectory)) {
    tools.reporter.printError("cannot enter directory %s: %s\n", subdirectory, start.reason());
  } else {
    char directory[20];
    snprintf(directory, sizeof directory, "%s/", subdirectory);
    extractEntries(tools, ItemPlace{disk, directory}, true);
    // Anything written after a failed return would land in the wrong place.
    if (!start.returnTo()) {
      tools.reporter.printError("cannot leave directory %s: %s\n", subdirectory, start.reason());
      return DiskAResult::kEndRun;
    }
    return DiskAResult::kExtracted;
  }
  extractEntries(tools, ItemPlace{disk, ""}, false);
  return DiskAResult::kExtracted;
}
