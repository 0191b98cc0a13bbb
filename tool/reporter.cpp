#include "tool/reporter.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

namespace {

// Each notice as the Shift_JIS bytes it is, and in English for a terminal
// that shows ASCII alone.
struct NoticeText {
  const char* shiftJis;
  const char* english;
};
// The program's own two lines of usage, with its path.
constexpr char kUsage[] = "Usage: %s [d88file]\n       -d : not make sub directory\n";

const NoticeText kNotices[] = {
    // "Disk A を認識しました.\n"
    {"Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n", "Disk A recognised.\n"},
    // "Disk B を認識しました.\n"
    {"Disk B \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n", "Disk B recognised.\n"},
    // "ファイルをオープンできません.\n"
    {"\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
     "\x82\xDC\x82\xB9\x82\xF1.\n",
     "Cannot open the file.\n"},
};

// Characters that would act on a terminal rather than show: controls (C0,
// DEL, C1), the bidirectional, zero-width and isolate marks, the other
// format characters, and U+FFFD, which stands for bytes that are none.
bool acts(char32_t c) {
  return c < 0x20 || (c >= 0x7F && c < 0xA0) || c == 0xAD || c == 0x061C || c == 0x180E ||
         (c >= 0x200B && c <= 0x200F) || (c >= 0x2028 && c <= 0x202E) ||
         (c >= 0x2060 && c <= 0x206F) || c == 0xFEFF || (c >= 0xFFF9 && c <= 0xFFFD) ||
         c > 0x10FFFF;
}

size_t encodeUtf8(char32_t c, char* out) {
  if (c < 0x80) {
    out[0] = static_cast<char>(c);
    return 1;
  }
  const int bytes = c < 0x800 ? 2 : c < 0x10000 ? 3 : 4;
  static const unsigned char kLead[] = {0, 0, 0xC0, 0xE0, 0xF0};
  for (int i = bytes - 1; i > 0; --i, c >>= 6) out[i] = static_cast<char>(0x80 | (c & 0x3F));
  out[0] = static_cast<char>(kLead[bytes] | c);
  return static_cast<size_t>(bytes);
}

// Decodes the character at `text` (`length` bytes left) as `encoding` has
// it into `*c`, U+FFFD for a byte that starts none; returns its bytes.
size_t decodeCharacter(Encoding encoding, const char* text, size_t length, char32_t* c) {
  const auto byte = [text](size_t i) { return static_cast<unsigned char>(text[i]); };
  *c = 0xFFFD;
  if (byte(0) < 0x80) {
    *c = byte(0);
    return 1;
  }
  if (encoding == Encoding::kOther) {
    const size_t n = decodeInLocale(text, length, c);
    return n > 0 ? n : 1;
  }
  if (encoding == Encoding::kAscii) return 1;
  // UTF-8: the shortest form of a code point that is no surrogate.
  const size_t n = byte(0) >= 0xF0 ? 4 : byte(0) >= 0xE0 ? 3 : byte(0) >= 0xC0 ? 2 : 0;
  if (n == 0 || n > length) return 1;
  char32_t value = byte(0) & (0x7F >> n);
  for (size_t i = 1; i < n; ++i) {
    if ((byte(i) & 0xC0) != 0x80) return 1;
    value = value << 6 | (byte(i) & 0x3F);
  }
  static const char32_t kLeast[] = {0, 0, 0x80, 0x800, 0x10000};
  if (value < kLeast[n] || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return 1;
  *c = value;
  return n;
}

// Writes `c` into `out` (room for 16 bytes) as a terminal of `encoding`
// shows it: '?' for a character that would act on it (a line end too,
// unless `lineEnds`) or that it has no way to show (then `*lost` is set).
// Returns the bytes.
size_t encodeShown(Encoding encoding, char32_t c, bool lineEnds, char* out, bool* lost) {
  size_t n = 0;
  if ((c == '\n' && lineEnds) || !acts(c)) {
    if (encoding == Encoding::kUtf8 || c < 0x80) {
      n = encodeUtf8(c, out);
    } else if (encoding == Encoding::kOther) {
      n = encodeInLocale(c, out);
    }
    if (n == 0) *lost = true;
  }
  if (n == 0) out[n++] = '?';
  return n;
}

// The encoding `display` is written in; a console takes UTF-8 on its way to UTF-16.
Encoding encodingOf(Display display) {
  return display == Display::kConsole ? Encoding::kUtf8 : terminalEncoding();
}

// The longest Shift_JIS text shown: a notice (30 bytes) or a disk name (16).
constexpr size_t kLongestText = 32;
constexpr size_t kShownSize = kLongestText * 16;

// `text` (Shift_JIS) as `display` shows it, into `shown`, terminated, its
// line ends kept where `lineEnds` (a notice's, not a disk name's); false when
// a character of it could not be shown.
bool showShiftJis(const char* text, Display display, bool lineEnds, char (&shown)[kShownSize]) {
  char32_t characters[kLongestText];
  const size_t count = decodeShiftJis(text, strlen(text), characters, kLongestText);
  const Encoding encoding = encodingOf(display);
  size_t length = 0;
  bool lost = false;
  for (size_t i = 0; i < count; ++i)
    length += encodeShown(encoding, characters[i], lineEnds, shown + length, &lost);
  shown[length] = '\0';
  return !lost;
}

// A line formatted as printf() does: on the stack when it is short, as any
// listing line is; allocated for a long one (a path).
class Line {
 public:
  Line(const char* prefix, const char* format, va_list arguments) {
    va_list again;
    va_copy(again, arguments);
    const size_t start = strlen(prefix);
    memcpy(stack_, prefix, start);
    const int length = vsnprintf(stack_ + start, sizeof stack_ - start, format, arguments);
    length_ = length > 0 ? start + static_cast<size_t>(length) : start;
    if (length_ >= sizeof stack_ && (heap_ = static_cast<char*>(malloc(length_ + 1))) != nullptr) {
      memcpy(heap_, prefix, start);
      vsnprintf(heap_ + start, length_ + 1 - start, format, again);
    } else if (length_ >= sizeof stack_) {
      length_ = sizeof stack_ - 1;  // no memory: the line cut, not lost
    }
    va_end(again);
  }
  ~Line() { free(heap_); }
  Line(const Line&) = delete;
  Line& operator=(const Line&) = delete;
  const char* text() const { return heap_ != nullptr ? heap_ : stack_; }
  size_t length() const { return length_; }

 private:
  char stack_[512];
  char* heap_ = nullptr;
  size_t length_;
};

}  // namespace

Reporter::Reporter(FILE* out, FILE* err)
    : out_(out), err_(err), outDisplay_(displayOf(out)), errDisplay_(displayOf(err)) {}

bool Reporter::write(FILE* stream, Display display, const char* text, size_t length) {
  if (display == Display::kBytes) return fwrite(text, 1, length, stream) == length;
  // A terminal: text as its encoding has it (a path as the user gave it),
  // in pieces, each character shown or '?'.
  const Encoding encoding = encodingOf(display);
  char piece[256 + 16];
  size_t used = 0;
  bool written = true, lost = false;
  for (size_t at = 0; at < length;) {
    char32_t c;
    at += decodeCharacter(encoding, text + at, length - at, &c);
    used += encodeShown(encoding, c, true, piece + used, &lost);
    if (used < 256 && at < length) continue;
    written = (display == Display::kConsole ? writeConsole(stream, piece, used)
                                            : fwrite(piece, 1, used, stream) == used) &&
              written;
    used = 0;
  }
  return written;
}

void Reporter::flushOutput() {
  if (fflush(out_) != 0 && outError_ == 0) outError_ = errno != 0 ? errno : EIO;
}

void Reporter::printListing(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const Line line("", format, arguments);
  va_end(arguments);
  if (!write(out_, outDisplay_, line.text(), line.length()) && outError_ == 0)
    outError_ = errno != 0 ? errno : EIO;
}

void Reporter::printDiskName(const char* name, const char* directory) {
  char shown[kShownSize];
  if (outDisplay_ != Display::kBytes) {
    showShiftJis(name, outDisplay_, false, shown);
    name = shown;
  }
  printListing("\n[%s] -> %s\n", name, directory);
}

void Reporter::printHelp(const char* program, bool version) {
  if (version) {
    printListing("d88extract %s\n", D88EXTRACT_VERSION);
    return;
  }
  printListing(kUsage, program);
  printListing(
      "\nd88extract IMAGE [-d]\n"
      "d88extract --help | --version\n"
      "Writes the items of every Disk A and Disk B in the D88 image IMAGE (a file,\n"
      "or a pipe such as /dev/stdin) into the current directory: a Disk A's into\n"
      "D000, D001 ... (with -d, here), a Disk B's as DRIVER and MUS00 to MUS05.\n");
}

void Reporter::writeError(const char* text, size_t length) {
  flushOutput();
  // A warning lost is a shortfall not told: the run fails.
  if (!write(err_, errDisplay_, text, length)) failed_ = true;
  if (fflush(err_) != 0) failed_ = true;  // where standard error is buffered (msvcrt's)
}

void Reporter::printLine(const char* prefix, const char* format, va_list arguments) {
  const Line line(prefix, format, arguments);
  writeError(line.text(), line.length());
}

void Reporter::printNotice(Notice notice) {
  const NoticeText& text = kNotices[static_cast<int>(notice)];
  const char* shown = text.shiftJis;
  char converted[kShownSize];
  // A terminal that cannot show the Japanese gets the English.
  if (errDisplay_ != Display::kBytes)
    shown = showShiftJis(text.shiftJis, errDisplay_, true, converted) ? converted : text.english;
  writeError(shown, strlen(shown));
}

void Reporter::printWarning(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  printLine("warning: ", format, arguments);
  va_end(arguments);
  ++warnings_;
}

void Reporter::printError(const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  printLine("error: ", format, arguments);
  va_end(arguments);
  failed_ = true;
}

void Reporter::printUsage(const char* program) {
  printPrefixed("", kUsage, program);
  failed_ = true;
}

void Reporter::printErrorOnOutput(const char* text) {
  printListing("error: %s\n", text);
  fflush(out_);
  failed_ = true;
}

void Reporter::printSummary(const Tally& tally, const char* image) {
  if (errDisplay_ == Display::kBytes) return;
  if (tally.packedAs != nullptr && tally.diskA + tally.diskB == 0) {
    printUnpacking(tally.packedAs, image);
  } else if (tally.disks == 0) {
    printPrefixed("summary: ", "no disk in %s: it is empty, or no D88 image\n", image);
  } else if (tally.diskA + tally.diskB == 0) {
    printPrefixed(
        "summary: ", "%d disk%s read, none of them a Disk A or a Disk B: nothing to write\n",
        tally.disks, tally.disks == 1 ? "" : "s");
  } else {
    printPrefixed("summary: ",
                  "%d disk%s read (Disk A: %d, Disk B: %d, neither: %d); %d file%s written; "
                  "%d warning%s%s\n",
                  tally.disks, tally.disks == 1 ? "" : "s", tally.diskA, tally.diskB, tally.neither,
                  tally.itemsWritten, tally.itemsWritten == 1 ? "" : "s", warnings_,
                  warnings_ == 1 ? "" : "s",
                  failed_ ? "; the run failed (see the errors above)" : "");
  }
}

void Reporter::printUnpacking(const char* kind, const char* image) {
  static const char* const kUnpack[][2] = {{"gzip", "zcat"},
                                           {"bzip2", "bzcat"},
                                           {"xz", "xzcat"},
                                           {"zip", "unzip -p"},
                                           {"7z", "7z x -so"}};
  const char* command = "zcat";
  for (const auto& unpack : kUnpack)
    if (strcmp(unpack[0], kind) == 0) command = unpack[1];
  // The name quoted for a shell: inside '...', each ' as '\''.
  char* quoted = static_cast<char*>(malloc(4 * strlen(image) + 1));
  if (quoted == nullptr) return;
  char* end = quoted;
  for (const char* c = image; *c != '\0'; ++c) {
    if (*c == '\'') {
      memcpy(end, "'\\''", 4);
      end += 4;
    } else {
      *end++ = *c;
    }
  }
  *end = '\0';
  printPrefixed("summary: ",
                "%s is a %s file, not a D88 image: unpack it on the way in, as in\n"
                "  %s '%s' | d88extract /dev/stdin\n",
                image, kind, command, quoted);
  free(quoted);
}

void Reporter::printPrefixed(const char* prefix, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  printLine(prefix, format, arguments);
  va_end(arguments);
}

bool Reporter::finishOutput() {
  flushOutput();
  if (ferror(out_) && outError_ == 0) outError_ = EIO;
  // A write cut short by an interruption is told as that.
  if (outError_ != 0 && !(outError_ == EINTR && pendingInterruption() != 0))
    printError("cannot write standard output: %s\n", strerror(outError_));
  return failed_;
}
