#include <cstring>

#include "diskimage/d88_image.h"
#include "tool/extraction.h"

namespace {

// A Disk B has sixteen 256-byte sectors (size code 1) per track. Its
// signature is the last 16 bytes of sector (0, 0, 16) in track index 0.
constexpr int kSectorsPerTrack = 16;
constexpr int kSizeCode = 1;
constexpr int kSectorSize = 256;
constexpr char kSignature[] = "QUORVELSTANE(c)A";
constexpr int kSignatureLength = sizeof kSignature - 1;
constexpr int kSignatureOffset = kSectorSize - kSignatureLength;

// DRIVER is sectors 2 to 7 of track 0; MUSk is the whole of track 30 + k.
constexpr int kDriverLength = 6 * kSectorSize;
constexpr int kMusicTrack = 30;
constexpr int kMusicItems = kDiskBItems - 1;
constexpr int kMusicLength = kSectorsPerTrack * kSectorSize;

}  // namespace

void extractDiskB(Extraction& x) {
  // A missing or short signature sector is no match: the comparison must not
  // run on bytes an earlier read left in the buffer.
  if (x.image.readSector(0, 0, 0, kSectorsPerTrack, kSizeCode, x.sector, kSectorSize) < kSectorSize)
    return;
  if (memcmp(x.sector + kSignatureOffset, kSignature, kSignatureLength) != 0) return;
  notice(x, Notice::kDiskB);
  x.image.setSectorRange(1, kSectorsPerTrack);

  print(x, "cutting ... DRIVER\n");
  extractItem(x, "DRIVER", 0, 0, 0, 2, kSizeCode, 0, kDriverLength);
  for (int k = 0; k < kMusicItems && x.image.readError() == 0; ++k) {
    char name[16];  // room for any int, as the compiler asks
    snprintf(name, sizeof name, "MUS%02d", k);
    print(x, "cutting ... %s\n", name);
    const int track = kMusicTrack + k;
    extractItem(x, name, track, track / 2, k % 2, 1, kSizeCode, 0, kMusicLength);
  }
}
