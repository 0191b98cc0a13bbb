// Images built to make lookups walk far, for the benchmarks, the fuzzers'
// seeds and the tests, at any scale.
#ifndef BENCH_SHAPES_H_
#define BENCH_SHAPES_H_

#include <cstdio>
#include <string>

#include "testing/image_builder.h"

namespace d88test {

// The size of a hostile image; the benchmarks use the defaults.
struct Scale {
  int walk = 65535;    // headers from a track's first to the last sector (at most 65,535)
  int lastTrack = 13;  // the items' sectors are those of tracks 1 to lastTrack
  int disks = 64;      // for shape3, shape5 and shape6
};

// Makes hostile image `shape`; empty for an unknown name. Each is a Disk A
// (or several) whose 64 directory entries are items of 65,535 bytes, and
// whose tracks lead into long track records of headers that match nothing
// (sector number 0) and count 65,535 sectors, with the sectors the items read
// at their end, `walk` headers from the first. Tracks 1 to 13 hold whole
// items; fewer cut them short, and none leaves no directory.
//   shape1   all 164 tracks share one record; the next disk leads back, so
//            the disk table holds 32 copies of this Disk A.
//   shape2-N the same with N records (2 to 4): track t reads record t mod N,
//            which holds the sectors of its own tracks.
//   shape3   64 disks of 704 bytes, each a Disk A whose tracks start at one
//            header leading into one shared record.
//   shape4   one record whose t-th header starts track t; item j starts at
//            track 1 + j, so the items start on 64 tracks, and the record
//            holds the sectors of tracks 1 to lastTrack + 63 (none for 0).
//   shape5   64 disks of 768 bytes, each a Disk A whose tracks lead into five
//            records interleaved in the same bytes (a header at bytes 0 to 4
//            of every 16), with IDs that differ from one header to the next:
//            the most headers per megabyte we found walks can read. Record
//            1 ends in the sectors of track 1, so the items are 5 KiB.
//   shape6   64 disks leading into 117 chains woven through the same bytes,
//            at most 3,500 headers long (shape6-long: 61,000, 16.8 MB), ending
//            in an empty directory: the costliest index per megabyte we found.
//   refill   64 Disk A whose lookups each read up to 32 headers 65,551 bytes
//            apart, tracks leading to the same places (2.0 MB; no scale).
Bytes hostileImage(const std::string& shape, const Scale& scale = {});

// Writes the sparse image to `out` (a file that can be positioned) with
// seeks, so that its holes take no space: `disks` Disk A whose 150 headers
// each, one a track (t mod 150), lead to those of the next disk, the last
// disk's into 150 chains of `walk` headers 24,576 bytes apart, interleaved 16
// bytes apart, with IDs all different (chain 1, track 1's, through 32
// headers and an empty directory first): 1.6 GB, whose every disk indexes
// nearly 9.8 million headers. False when the file cannot be written.
bool writeSparseImage(FILE* out, const Scale& scale = {});

}  // namespace d88test

#endif  // BENCH_SHAPES_H_
