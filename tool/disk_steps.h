// The two steps the run applies to every disk: the Disk A step and the Disk
// B step. The layouts of both disks are described at the top of their files.
#ifndef TOOL_DISK_STEPS_H_
#define TOOL_DISK_STEPS_H_

#include <cstdint>

class D88Image;
class ItemWriter;
class Reporter;
class StartDirectory;

// The directory buffer: a Disk A directory of 64 entries of 8 bytes.
constexpr int kDirectoryEntrySize = 8;
constexpr int kDirectoryEntries = 64;
constexpr int kDirectoryBufferSize = kDirectoryEntries * kDirectoryEntrySize;

// What both steps read with and write through.
struct StepTools {
  D88Image& image;  // with the disk selected
  Reporter& reporter;
  ItemWriter& items;
  uint8_t* sector;     // the sector buffer (item_writer.h)
  uint8_t* directory;  // the directory buffer, kDirectoryBufferSize bytes
};

enum class DiskAResult {
  kNotDiskA,
  kExtracted,  // listed, and its items written as far as they could be
  kEndRun,     // the run must end at once: the directory cannot be read, or
               // the step could not come back to the start directory (both
               // told, unless the cause is a read error of the image, which
               // the run tells)
};

// The Disk A step for disk `disk`: recognition, listing and items, in
// subdirectory "D%03d" of the disk's number entered through `start`, unless
// !makeSubdirectories. Between items it stops at an interruption.
DiskAResult extractDiskA(const StepTools& tools, StartDirectory& start, int disk,
                         bool makeSubdirectories);

// The Disk B step: recognition by signature, then DRIVER and MUS00..MUS05 in
// the current directory. Stops at a read error of the image, and between
// items at an interruption. Returns whether the disk is a Disk B.
bool extractDiskB(const StepTools& tools, int disk);

#endif  // TOOL_DISK_STEPS_H_
