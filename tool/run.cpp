#include "tool/run.h"

#include <cstring>

#include "diskimage/d88_image.h"
#include "tool/extraction.h"

namespace {

// "ファイルをオープンできません.\n" in Shift_JIS.
const char kOpenFailure[] =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1.\n";

uint8_t sectorBuffer[kSectorBufferSize];
uint8_t directoryBuffer[kDirectoryBufferSize];

int finish(D88Image& image, int status) {
  image.open(nullptr);
  return status;
}

}  // namespace

int run(D88Image& image, int argc, const char* const* argv, FILE* out, FILE* err) {
  bool makeSubdirectories = true;
  const int arguments = argc - 1;
  if (arguments < 1 || arguments > 3) {
    fprintf(err, "Usage: %s [d88file]\n", argc > 0 ? argv[0] : "");
    fputs("       -d : not make sub directory\n", err);
    return finish(image, 1);
  }
  // "-d" counts only as the second of exactly two arguments.
  if (arguments == 2 && strcmp(argv[2], "-d") == 0) makeSubdirectories = false;

  if (!image.open(argv[1])) {
    fputs(kOpenFailure, err);
    return finish(image, 1);
  }
  Extraction x{image, out, err, sectorBuffer, directoryBuffer, "", false, {}, {}, 0};
  // Item files are checked against these, so that none is written over.
  const auto keep = [&x](bool known, const char* why) {
    if (known) x.keptBecause[x.keptCount++] = why;
  };
  keep(fileIdentity(argv[1], &x.kept[x.keptCount]), "it is the image being read");
  keep(streamIdentity(out, &x.kept[x.keptCount]), "it is the standard output");
  keep(streamIdentity(err, &x.kept[x.keptCount]), "it is the standard error");
  const int count = image.diskCount();
  for (int i = 0; i < count && image.readError() == 0; ++i) {
    image.selectDisk(i);
    // A Disk A whose directory cannot be read ends the whole run.
    if (!extractDiskA(x, i, makeSubdirectories)) break;
    extractDiskB(x);
  }
  // What was extracted before a read error stays; the rest of the image is not trusted.
  if (image.readError() != 0) {
    fprintf(err, "error: cannot read %s: %s\n", argv[1], strerror(image.readError()));
    x.failed = true;
  }
  if (fflush(out) != 0 || ferror(out)) {
    fputs("error: cannot write standard output\n", err);
    x.failed = true;
  }
  return finish(image, x.failed ? 1 : 0);
}
