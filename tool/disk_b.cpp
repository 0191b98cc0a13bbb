// The Disk B step.
//
// A Disk B has sixteen 256-byte sectors (size code 1) a track, numbered 1 to
// 16, and track index = cylinder x 2 + head. It is told by its signature,
// the 16 bytes "QUORVELSTANE(c)A" at the end of sector (0, 0, 16, 1) in
// track index 0. Its items lie at fixed places:
//   DRIVER     sectors 2 to 7 of track index 0 (1,536 bytes)
//   MUS00..05  the whole of track index 30 to 35 (4,096 bytes each)
#include <cstdio>
#include <cstring>

#include "diskimage/d88_image.h"
#include "tool/disk_steps.h"
#include "tool/item_writer.h"
#include "tool/platform.h"
#include "tool/reporter.h"

namespace {

constexpr int kSectorsPerTrack = 16;
constexpr int kSizeCode = 1;
constexpr int kSectorSize = 256;
constexpr char kSignature[] = "QUORVELSTANE(c)A";
constexpr int kSignatureLength = sizeof kSignature - 1;
constexpr int kSignatureOffset = kSectorSize - kSignatureLength;

constexpr int kDriverLength = 6 * kSectorSize;
constexpr int kMusicTrack = 30;
constexpr int kMusicItems = 6;
constexpr int kMusicLength = kSectorsPerTrack * kSectorSize;

}  // namespace

bool extractDiskB(const StepTools& tools, int disk) {
  D88Image& image = tools.image;
  // A missing or short signature sector is no match: the comparison must not
  // run on bytes an earlier read left in the buffer.
  if (image.readSector(0, 0, 0, kSectorsPerTrack, kSizeCode, tools.sector, kSectorSize) <
          kSectorSize ||
      memcmp(tools.sector + kSignatureOffset, kSignature, kSignatureLength) != 0)
    return false;
  tools.reporter.printNotice(Notice::kDiskB);
  image.setSectorRange(1, kSectorsPerTrack);

  const ItemPlace place{disk, ""};
  if (pendingInterruption() != 0) return true;
  tools.reporter.printListing("cutting ... DRIVER\n");
  tools.items.extractItem(place, "DRIVER", 0, 0, 0, 2, kSizeCode, 0, kDriverLength);
  for (int k = 0; k < kMusicItems; ++k) {
    if (image.readError() != 0 || pendingInterruption() != 0) return true;
    char name[16];  // room for any int, as the compiler asks
    snprintf(name, sizeof name, "MUS%02d", k);
    tools.reporter.printListing("cutting ... %s\n", name);
    const int track = kMusicTrack + k;
    tools.items.extractItem(place, name, track, track / 2, k % 2, 1, kSizeCode, 0, kMusicLength);
  }
  return true;
}
