#include "tool/run.h"

#include <algorithm>
#include <cerrno>
#include <cstdint>
#include <cstring>

#include "diskimage/d88_image.h"
#include "tool/disk_steps.h"
#include "tool/item_writer.h"
#include "tool/platform.h"
#include "tool/reporter.h"

namespace {

uint8_t sectorBuffer[kSectorBufferSize];
uint8_t directoryBuffer[kDirectoryBufferSize];

struct CommandLine {
  const char* program;
  const char* image;  // null when there is no argument
  bool usable;        // 1 to 3 arguments
  bool makeSubdirectories;
  bool help;
  bool version;
};

CommandLine readCommandLine(int argc, const char* const* argv) {
  const int arguments = argc - 1;
  CommandLine line{argc > 0 ? argv[0] : "",
                   arguments >= 1 ? argv[1] : nullptr,
                   arguments >= 1 && arguments <= 3,
                   true,
                   false,
                   false};
  // "-d" counts only as the second of exactly two arguments.
  line.makeSubdirectories = !(arguments == 2 && strcmp(argv[2], "-d") == 0);
  // Asked for alone; an image of either name is reached as ./--help.
  line.help = arguments == 1 && strcmp(argv[1], "--help") == 0;
  line.version = arguments == 1 && strcmp(argv[1], "--version") == 0;
  return line;
}

// The reason a read of the image failed, in words.
const char* readFailure(int error) {
  return error == D88Image::kShrunk ? "it became shorter while it was read" : strerror(error);
}

// A file the run knows by its identity, where the host tells it.
struct Known {
  FileIdentity identity{};
  bool known = false;
  bool is(const Known& other) const {
    return known && other.known && sameFile(identity, other.identity);
  }
};

Known identityOf(FILE* stream) {
  Known file;
  file.known = stream != nullptr && streamIdentity(stream, &file.identity);
  return file;
}

// The image as the run opened it: so its identity is that of the file read
// (not of whatever its name leads to later), known before anything is
// written. One that cannot be opened is known by its name, so that not even
// the usage text or an error goes into it.
struct OpenedImage {
  FILE* stream = nullptr;
  Known file;
  Reason why;  // when it could not be opened
};

void openImage(const CommandLine& line, OpenedImage* image) {
  if (line.usable) image->stream = openImageFile(line.image, image->why);
  image->file = identityOf(image->stream);
  if (image->stream == nullptr && line.image != nullptr)
    image->file.known = pathIdentity(line.image, &image->file.identity);
}

// Whether standard output or error is the image: then it is said on the
// other stream, unless both are, and not a byte goes into the image.
bool outputIsImage(Reporter& reporter, const Known& image, FILE* out, FILE* err) {
  const bool outIsImage = identityOf(out).is(image), errIsImage = identityOf(err).is(image);
  if (!errIsImage && outIsImage) reporter.printError("standard output is the image being read\n");
  if (!outIsImage && errIsImage)
    reporter.printErrorOnOutput("standard error is the image being read");
  return outIsImage || errIsImage;
}

// Replaces `*stream`, which cannot be positioned (a pipe), by an unnamed
// temporary copy of what it holds, up to the largest offset an image can
// address (told when the pipe holds more). False, told, when the copy failed
// or an interruption stopped it.
bool copyPipe(Reporter& reporter, const char* path, FILE** stream) {
  const char* directory;
  Reason why;
  FILE* copy = openTemporaryFile(&directory, why);
  if (copy == nullptr) {
    reporter.printError("cannot copy %s to %s: %s\n", path, directory, why.text());
    return false;
  }
  // The sector buffer is free until the first disk is read.
  // An image addresses its first 2^31 bytes: the copy holds no more.
  constexpr int64_t kMost = int64_t{INT32_MAX} + 1;
  int64_t total = 0;
  bool copied = true;
  size_t want = 1, got = 1;
  while (copied && got == want && total < kMost && pendingInterruption() == 0) {
    want = static_cast<size_t>(std::min<int64_t>(kSectorBufferSize, kMost - total));
    got = fread(sectorBuffer, 1, want, *stream);
    // A short read is the end of the pipe, unless the stream says otherwise
    // (or an interruption, which the run tells).
    if (got < want && !feof(*stream)) {
      if (pendingInterruption() == 0)
        reporter.printError("cannot read %s: %s\n", path, strerror(errno != 0 ? errno : EIO));
      fclose(copy);
      return false;
    }
    copied = fwrite(sectorBuffer, 1, got, copy) == got && fflush(copy) == 0;
    total += static_cast<int64_t>(got);
  }
  if (!copied || fseek(copy, 0, SEEK_SET) != 0) {
    reporter.printError("cannot copy %s to %s: %s\n", path, directory,
                        strerror(errno != 0 ? errno : EIO));
    fclose(copy);
    return false;
  }
  if (total == kMost && fread(sectorBuffer, 1, 1, *stream) == 1)
    reporter.printWarning("%s is read as its first %lld bytes: an image can address no more\n",
                          path, static_cast<long long>(total));
  fclose(*stream);
  *stream = copy;
  return pendingInterruption() == 0;
}

// The kind of packed file whose first bytes `stream` holds, or null; the
// stream is left at its start.
const char* packedKind(FILE* stream) {
  static const struct {
    const char* kind;
    const char* magic;
    size_t length;
  } kKinds[] = {{"gzip", "\x1F\x8B", 2},
                {"bzip2", "BZh", 3},
                {"xz",
                 "\xFD"
                 "7zXZ\0",
                 6},
                {"zip", "PK\x03\x04", 4},
                {"7z", "7z\xBC\xAF\x27\x1C", 6}};
  char first[6] = {};
  const size_t got = fread(first, 1, sizeof first, stream);
  fseek(stream, 0, SEEK_SET);
  for (const auto& k : kKinds)
    if (got >= k.length && memcmp(first, k.magic, k.length) == 0) return k.kind;
  return nullptr;
}

// Hands the image to the reader, a pipe through its copy, which no item may
// be written over either. False, told, when it cannot be read.
bool readImage(D88Image& image, Reporter& reporter, ItemWriter& items, const char* path,
               OpenedImage& opened, Tally* tally) {
  FILE* stream = opened.stream;
  // Interrupted while waiting for a FIFO's writer: the run tells it.
  if (pendingInterruption() != 0) {
    if (stream != nullptr) fclose(stream);
    return false;
  }
  if (stream != nullptr && fseek(stream, 0, SEEK_SET) != 0) {
    if (!copyPipe(reporter, path, &stream)) {
      fclose(stream);
      return false;
    }
    const Known copy = identityOf(stream);
    if (copy.known) items.guard(copy.identity, "it is the image being read");
  }
  if (stream != nullptr && reporter.errorIsTerminal()) tally->packedAs = packedKind(stream);
  // The reader's window is the buffer: reads go straight from the file into it.
  if (stream != nullptr) setvbuf(stream, nullptr, _IONBF, 0);
  if (image.openStream(stream)) return true;
  reporter.printNotice(Notice::kOpenFailure);
  // A file that opens but cannot be read as one (a directory) tells why by its first read.
  if (stream != nullptr)
    opened.why.say(readFailure(image.readError() != 0 ? image.readError() : EIO));
  reporter.printError("cannot open %s: %s\n", path, opened.why.text());
  return false;
}

// Applies both steps to every disk, in order, until the end of the disk
// table, an interruption, a read error of the image, or a step that ends the
// run (then false).
bool walkDisks(const StepTools& tools, bool makeSubdirectories, Tally* tally) {
  D88Image& image = tools.image;
  StartDirectory start;
  for (int i = 0; i < image.diskCount(); ++i) {
    if (image.readError() != 0 || pendingInterruption() != 0) return true;
    image.selectDisk(i);
    ++tally->disks;
    if (image.diskCutShort())
      tools.reporter.printWarning("disk %03d is cut short: the image ends inside it\n", i);
    const DiskAResult a = extractDiskA(tools, start, i, makeSubdirectories);
    tally->diskA += a != DiskAResult::kNotDiskA;
    if (a == DiskAResult::kEndRun) return false;
    const bool b = extractDiskB(tools, i);
    tally->diskB += b;
    tally->neither += a == DiskAResult::kNotDiskA && !b;
  }
  return true;
}

// What the disk table leaves out, where the run went through it: a header
// cut short, a size that ends the table before the image ends, or the
// limit of 64 disks.
void tellTableEnd(const D88Image& image, Reporter& reporter) {
  const D88Image::TableEnd& end = image.tableEnd();
  if (image.headerCutShort())
    reporter.printWarning("disk %03d is cut short: the image ends inside its header\n",
                          image.diskCount());
  if (end.disk >= 0) {
    using Leads = D88Image::Leads;
    const char* kind = end.leads == Leads::kBack          ? "back"
                       : end.leads == Leads::kPastOffsets ? "past what an offset can address"
                                                          : "past the end of the image";
    char where[96], unread[80] = "";
    if (end.to < 0) {
      snprintf(where, sizeof where, "%s, before the start of the image", kind);
    } else {
      snprintf(where, sizeof where, "%s (to byte %lld)", kind, static_cast<long long>(end.to));
    }
    if (end.unread > 0)
      snprintf(unread, sizeof unread, ": the last %lld byte%s of the image %s not read",
               static_cast<long long>(end.unread), end.unread == 1 ? "" : "s",
               end.unread == 1 ? "is" : "are");
    reporter.printWarning("disk %03d's size leads %s, so the disks after it are not found%s\n",
                          end.disk, where, unread);
  }
  if (end.disk < 0 && image.moreDisks())
    reporter.printWarning("disks after disk %03d are not read: an image holds at most %d\n",
                          image.diskCount() - 1, D88Image::kMaxDisks);
}

// Tells how the run ended and returns its exit status.
int endRun(const D88Image& image, Reporter& reporter, const ItemWriter& items, const char* path,
           bool whole, Tally* tally) {
  if (whole && image.readError() == 0 && pendingInterruption() == 0) tellTableEnd(image, reporter);
  // What was extracted before a read error stays; the rest of the image is
  // not trusted. A read cut short by an interruption is told as that.
  const int readError = image.readError();
  if (readError != 0 && !(readError == EINTR && pendingInterruption() != 0))
    reporter.printError("cannot read %s: %s\n", path, readFailure(readError));
  // Standard output goes first: a wait for its reader may be interrupted too.
  const bool failed = reporter.finishOutput();
  const int interruption = pendingInterruption();
  if (interruption != 0) {
    const char* last = items.lastWritten();
    reporter.printError("interrupted by %s: %s%s\n", interruptionName(interruption),
                        last[0] != '\0' ? "the last item written is " : "no item was written",
                        last);
    return interruptedStatus(interruption);
  }
  tally->itemsWritten = items.itemsWritten();
  reporter.printSummary(*tally, path);
  return failed ? 1 : 0;
}

int extract(D88Image& image, Reporter& reporter, const CommandLine& line, FILE* out, FILE* err) {
  OpenedImage opened;
  openImage(line, &opened);
  if (outputIsImage(reporter, opened.file, out, err)) {
    if (opened.stream != nullptr) fclose(opened.stream);
    return 1;
  }
  if (!line.usable) {
    reporter.printUsage(line.program);
    return 1;
  }
  // Item files are checked against these, so that none is written over.
  ItemWriter items(image, sectorBuffer, reporter);
  if (opened.file.known) items.guard(opened.file.identity, "it is the image being read");
  const Known output = identityOf(out), error = identityOf(err);
  if (output.known) items.guard(output.identity, "it is the standard output");
  if (error.known) items.guard(error.identity, "it is the standard error");
  Tally tally;
  if (!readImage(image, reporter, items, line.image, opened, &tally)) {
    return pendingInterruption() != 0 ? endRun(image, reporter, items, line.image, false, &tally)
                                      : 1;
  }
  const StepTools tools{image, reporter, items, sectorBuffer, directoryBuffer};
  const bool whole = walkDisks(tools, line.makeSubdirectories, &tally);
  return endRun(image, reporter, items, line.image, whole, &tally);
}

}  // namespace

int run(D88Image& image, int argc, const char* const* argv, FILE* out, FILE* err) {
  Reporter reporter(out, err);
  const CommandLine line = readCommandLine(argc, argv);
  int status;
  if (line.help || line.version) {
    reporter.printHelp(line.program, line.version);
    status = reporter.finishOutput() ? 1 : 0;
  } else {
    status = extract(image, reporter, line, out, err);
  }
  image.open(nullptr);
  return status;
}

int runProgram(int argc, const char* const* argv) {
  prepareProcess();
  // The one reader of the process, made before the command line is looked at;
  // run() closes its file on every path.
  D88Image image;
  const int status = run(image, argc, argv, stdout, stderr);
  // Even one that came as the run ended: a loop in a shell stops on it.
  if (pendingInterruption() != 0) endByInterruption(pendingInterruption());
  return status;
}
