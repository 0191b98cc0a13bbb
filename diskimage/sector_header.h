// The fields of a sector header that the reader uses (the layout is at the
// top of d88_image.h), assembled from their bytes.
#ifndef DISKIMAGE_SECTOR_HEADER_H_
#define DISKIMAGE_SECTOR_HEADER_H_

#include <cstdint>

#include "diskimage/little_endian.h"

constexpr int kSectorHeaderSize = 16;

// C, H, R and N as one little-endian 32-bit number (bytes 0 to 3).
inline uint32_t sectorId(const uint8_t* h) {
  return static_cast<uint32_t>(le32(h));
}
// The sectors of the track, as this header counts them; 0: an empty track.
inline int sectorCount(const uint8_t* h) {
  return le16(h + 4);
}
// The bytes of data that follow the header.
inline int dataSize(const uint8_t* h) {
  return le16(h + 14);
}

#endif  // DISKIMAGE_SECTOR_HEADER_H_
