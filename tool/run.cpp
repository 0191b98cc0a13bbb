#include "tool/run.h"

#include <cerrno>
#include <cstring>

#include "diskimage/d88_image.h"
#include "tool/extraction.h"

#ifndef D88EXTRACT_VERSION
#define D88EXTRACT_VERSION "unknown"
#endif

namespace {

uint8_t sectorBuffer[kSectorBufferSize];
uint8_t directoryBuffer[kDirectoryBufferSize];

void usage(FILE* stream, const char* program) {
  fprintf(stream, "Usage: %s [d88file]\n", program);
  fputs("       -d : not make sub directory\n", stream);
}

// Replaces `*stream`, which cannot be positioned (a pipe), by an unnamed
// temporary copy of what it holds, up to the largest offset an image can
// address. False, said, when the copy failed.
bool copyPipe(Extraction& x, const char* path, FILE** stream) {
  const char* directory;
  FILE* copy = openTemporaryFile(&directory);
  if (copy == nullptr) {
    tell(x, "error: cannot copy %s to %s: %s\n", path, directory, systemError());
    return false;
  }
  // The sector buffer is free until the first disk is read.
  constexpr size_t kChunk = kSectorBufferSize;
  int64_t total = 0;
  bool copied = true;
  for (size_t got = kChunk; copied && got == kChunk && total <= INT32_MAX;) {
    got = fread(x.sector, 1, kChunk, *stream);
    // A short read is the end of the pipe, unless the stream says otherwise.
    if (got < kChunk && !feof(*stream)) {
      tell(x, "error: cannot read %s: %s\n", path, strerror(errno != 0 ? errno : EIO));
      fclose(copy);
      return false;
    }
    copied = fwrite(x.sector, 1, got, copy) == got && fflush(copy) == 0;
    total += static_cast<int64_t>(got);
  }
  if (!copied || fseek(copy, 0, SEEK_SET) != 0) {
    tell(x, "error: cannot copy %s to %s: %s\n", path, directory,
         strerror(errno != 0 ? errno : EIO));
    fclose(copy);
    return false;
  }
  fclose(*stream);
  *stream = copy;
  return true;
}

int finish(D88Image& image, int status) {
  image.open(nullptr);
  return status;
}

}  // namespace

int run(D88Image& image, int argc, const char* const* argv, FILE* out, FILE* err) {
  const char* program = argc > 0 ? argv[0] : "";
  const int arguments = argc - 1;
  // Asked for alone; an image of either name is reached as ./--help.
  const bool help = arguments == 1 && strcmp(argv[1], "--help") == 0;
  if (help || (arguments == 1 && strcmp(argv[1], "--version") == 0)) {
    if (help) {
      usage(out, program);
    } else {
      fputs("d88extract " D88EXTRACT_VERSION "\n", out);
    }
    if (fflush(out) == 0 && !ferror(out)) return finish(image, 0);
    fprintf(err, "error: cannot write standard output: %s\n", strerror(errno != 0 ? errno : EIO));
    return finish(image, 1);
  }
  const bool usable = arguments >= 1 && arguments <= 3;
  // "-d" counts only as the second of exactly two arguments.
  const bool makeSubdirectories = !(arguments == 2 && strcmp(argv[2], "-d") == 0);

  // The image is opened here, so that its identity is that of the file read
  // (not of whatever its name leads to later) and is known before anything
  // is written: no item, and neither output stream, may be the image. One
  // that cannot be opened is known by its name, so that not even the usage
  // text or an error goes into it.
  FILE* stream = usable ? fopen(argv[1], "rb") : nullptr;
  int openError = errno;
  Extraction x(image, out, err, sectorBuffer, directoryBuffer);
  // The image, standard output, standard error, and the image's copy.
  FileIdentity identities[4];
  bool known[4] = {};
  known[0] = stream != nullptr ? streamIdentity(stream, &identities[0])
                               : arguments >= 1 && pathIdentity(argv[1], &identities[0]);
  known[1] = streamIdentity(out, &identities[1]);
  known[2] = streamIdentity(err, &identities[2]);
  const auto isImage = [&](int i) {
    return known[0] && known[i] && sameFile(identities[i], identities[0]);
  };
  if (isImage(1) || isImage(2)) {
    if (stream != nullptr) fclose(stream);
    // Said on the other stream, unless both are the image: not a byte into it.
    if (!isImage(2)) fputs("error: standard output is the image being read\n", err);
    if (!isImage(1)) fputs("error: standard error is the image being read\n", out);
    return finish(image, 1);
  }
  if (!usable) {
    usage(err, program);
    return finish(image, 1);
  }
  // A pipe is read from a copy, which no item may be written over either.
  if (stream != nullptr && fseek(stream, 0, SEEK_SET) != 0) {
    if (!copyPipe(x, argv[1], &stream)) {
      fclose(stream);
      return finish(image, 1);
    }
    known[3] = streamIdentity(stream, &identities[3]);
  }
  // The reader's window is the buffer: reads go straight from the file into it.
  if (stream != nullptr) setvbuf(stream, nullptr, _IONBF, 0);
  if (!image.openStream(stream)) {
    // A file that opens but cannot be read as one (a directory) tells why by its first read.
    if (stream != nullptr) openError = image.readError();
    notice(x, Notice::kOpenFailure);
    tell(x, "error: cannot open %s: %s\n", argv[1], strerror(openError != 0 ? openError : EIO));
    return finish(image, 1);
  }
  // Item files are checked against these, so that none is written over.
  const char* const why[] = {"it is the image being read", "it is the standard output",
                             "it is the standard error", "it is the image being read"};
  for (int i = 0; i < 4; ++i) {
    if (!known[i]) continue;
    x.kept[x.keptCount] = identities[i];
    x.keptBecause[x.keptCount++] = why[i];
  }
  const int count = image.diskCount();
  bool whole = true;
  for (int i = 0; i < count && image.readError() == 0; ++i) {
    image.selectDisk(i);
    x.disk = i;
    if (image.diskCutShort())
      tell(x, "warning: disk %03d is cut short: the image ends inside it\n", i);
    // A Disk A whose directory cannot be read ends the whole run.
    whole = extractDiskA(x, i, makeSubdirectories);
    if (!whole) break;
    extractDiskB(x);
  }
  // What the disk table leaves out, where the run went through it.
  whole = whole && image.readError() == 0;
  if (whole && image.headerCutShort())
    tell(x, "warning: disk %03d is cut short: the image ends inside its header\n", count);
  if (whole && image.moreDisks())
    tell(x, "warning: disks after disk %03d are not read: an image holds at most %d\n", count - 1,
         D88Image::kMaxDisks);
  // What was extracted before a read error stays; the rest of the image is not trusted.
  if (image.readError() != 0) {
    tell(x, "error: cannot read %s: %s\n", argv[1], strerror(image.readError()));
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
