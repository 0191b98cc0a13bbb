#include "tool/run.h"

#include <cerrno>
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

  // The image is opened here, so that its identity is that of the file read
  // (not of whatever its name leads to later) and is known before anything
  // is written: no item, and neither output stream, may be the image.
  FILE* stream = fopen(argv[1], "rb");
  Extraction x{image, out, err, sectorBuffer, directoryBuffer, "", false, 0, {}, {}, 0};
  FileIdentity identities[3];
  FILE* const streams[] = {stream, out, err};
  bool known[3];
  for (int i = 0; i < 3; ++i)
    known[i] = streams[i] != nullptr && streamIdentity(streams[i], &identities[i]);
  const auto isImage = [&](int i) {
    return known[0] && known[i] && sameFile(identities[i], identities[0]);
  };
  if (isImage(1) || isImage(2)) {
    fclose(stream);
    // Said on the other stream, unless both are the image: not a byte into it.
    if (!isImage(2)) fputs("error: standard output is the image being read\n", err);
    if (!isImage(1)) fputs("error: standard error is the image being read\n", out);
    return finish(image, 1);
  }
  // The reader's window is the buffer: reads go straight from the file into it.
  if (stream != nullptr) setvbuf(stream, nullptr, _IONBF, 0);
  if (!image.openStream(stream)) {
    fputs(kOpenFailure, err);
    return finish(image, 1);
  }
  // Item files are checked against these, so that none is written over.
  const char* const why[] = {"it is the image being read", "it is the standard output",
                             "it is the standard error"};
  for (int i = 0; i < 3; ++i) {
    if (!known[i]) continue;
    x.kept[x.keptCount] = identities[i];
    x.keptBecause[x.keptCount++] = why[i];
  }
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
  if (fflush(out) != 0 && x.outError == 0) x.outError = errno;
  if (ferror(out) && x.outError == 0) x.outError = EIO;
  if (x.outError != 0) {
    fprintf(err, "error: cannot write standard output: %s\n", strerror(x.outError));
    x.failed = true;
  }
  return finish(image, x.failed ? 1 : 0);
}
