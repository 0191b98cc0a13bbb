// Little-endian fields assembled byte by byte, whatever the host's byte order.
#ifndef DISKIMAGE_LITTLE_ENDIAN_H_
#define DISKIMAGE_LITTLE_ENDIAN_H_

#include <cstdint>

inline uint16_t le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}

inline int32_t le32(const uint8_t* p) {
  const uint32_t v = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
                     (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
  return static_cast<int32_t>(v);
}

#endif  // DISKIMAGE_LITTLE_ENDIAN_H_
