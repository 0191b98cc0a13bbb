// What the run writes on its two streams, and whether it failed.
//
// Standard output carries the listing alone (printListing, printDiskName);
// every other line goes to standard error, after what standard output holds
// so far, so that with both streams on one file each line follows the one it
// is about. Redirected to a file or a pipe, both streams get exact bytes: the
// notices in Shift_JIS and disk names as the image holds them. A terminal
// gets text it can show: the Shift_JIS text (notices, disk names) converted
// to its encoding, with every control or format character (C0, DEL, C1, the
// bidirectional, zero-width and isolate marks), and every character it has
// no way to show, as '?'; a terminal that shows ASCII alone gets the notices
// in English. On a Windows console every line goes as UTF-16.
#ifndef TOOL_REPORTER_H_
#define TOOL_REPORTER_H_

#include <cstdarg>
#include <cstddef>
#include <cstdio>

#include "tool/platform.h"

#ifdef __GNUC__
#define D88_PRINTF(string, first) __attribute__((format(printf, string, first)))
#else
#define D88_PRINTF(string, first)
#endif

// The Japanese notices: "Disk A を認識しました.", "Disk B を認識しました.",
// "ファイルをオープンできません.".
enum class Notice { kDiskA, kDiskB, kOpenFailure };

// What a run did, for the summary a terminal gets at its end.
struct Tally {
  int disks = 0;  // selected and read
  int diskA = 0;
  int diskB = 0;
  int neither = 0;
  int itemsWritten = 0;
  // The kind of packed file the image is ("gzip", "zip" ...), or null.
  const char* packedAs = nullptr;
};

class Reporter {
 public:
  Reporter(FILE* out, FILE* err);
  Reporter(const Reporter&) = delete;
  Reporter& operator=(const Reporter&) = delete;

  // Standard output: listing text, as printf() does. A failed write is kept
  // and told by finishOutput(); the run goes on.
  void printListing(const char* format, ...) D88_PRINTF(2, 3);
  // Standard output: "\n[NAME] -> DIRECTORY\n", the disk name (Shift_JIS,
  // bytes of the image) shown as the stream shows text.
  void printDiskName(const char* name, const char* directory);
  // Standard output: the usage text, or the version, asked for.
  void printHelp(const char* program, bool version);

  // Standard error: notice `notice`.
  void printNotice(Notice notice);
  // Standard error: "warning: " and the text; counted.
  void printWarning(const char* format, ...) D88_PRINTF(2, 3);
  // Standard error: "error: " and the text; the run fails.
  void printError(const char* format, ...) D88_PRINTF(2, 3);
  // Standard error: the usage text of a command line that cannot be run.
  void printUsage(const char* program);
  // Standard output: "error: " and the text, for when standard error is the
  // image; the run fails.
  void printErrorOnOutput(const char* text);
  // Standard error, on a terminal only: a word on what the run did.
  void printSummary(const Tally& tally, const char* image);

  // Sends standard output on; a write of it that failed is told on standard
  // error, and fails the run. Returns whether the run failed.
  bool finishOutput();
  // Whether standard error is a terminal (or a console): one that gets a summary.
  bool errorIsTerminal() const { return errDisplay_ != Display::kBytes; }

 private:
  // Writes `length` bytes of `text` to `stream` as `display` shows text.
  bool write(FILE* stream, Display display, const char* text, size_t length);
  // Standard error: `text`, after what standard output holds so far.
  void writeError(const char* text, size_t length);
  void printLine(const char* prefix, const char* format, va_list arguments);
  // Standard error: that the image is a packed file of `kind`, and how to
  // unpack it on the way in.
  void printUnpacking(const char* kind, const char* image);
  void printPrefixed(const char* prefix, const char* format, ...) D88_PRINTF(3, 4);
  void flushOutput();

  FILE* out_;
  FILE* err_;
  Display outDisplay_;
  Display errDisplay_;
  int outError_ = 0;  // the reason the first write to standard output failed; 0 while none has
  bool failed_ = false;
  int warnings_ = 0;
};

#endif  // TOOL_REPORTER_H_
