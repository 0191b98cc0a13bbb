// What the run writes to standard output and standard error.
#include <cerrno>
#include <cstdarg>

#include "tool/extraction.h"

namespace {

// Each notice as Shift_JIS bytes, and as UTF-8 for terminals that show it.
struct NoticeText {
  const char* shiftJis;
  const char* utf8;
};
const NoticeText kNotices[] = {
    // "Disk A を認識しました.\n"
    {"Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
     "Disk A "
     "\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.\n"},
    // "Disk B を認識しました.\n"
    {"Disk B \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n",
     "Disk B "
     "\xE3\x82\x92\xE8\xAA\x8D\xE8\xAD\x98\xE3\x81\x97\xE3\x81\xBE\xE3\x81\x97\xE3\x81\x9F.\n"},
    // "ファイルをオープンできません.\n"
    {"\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
     "\x82\xDC\x82\xB9\x82\xF1.\n",
     "\xE3\x83\x95\xE3\x82\xA1\xE3\x82\xA4\xE3\x83\xAB\xE3\x82\x92\xE3\x82\xAA\xE3\x83\xBC\xE3\x83"
     "\x97\xE3\x83\xB3\xE3\x81\xA7\xE3\x81\x8D\xE3\x81\xBE\xE3\x81\x9B\xE3\x82\x93.\n"},
};

// Sends what `out` holds on, keeping the reason of a failure as print() does.
void flushOut(Extraction& x) {
  if (fflush(x.out) != 0 && x.outError == 0) x.outError = errno != 0 ? errno : EIO;
}

}  // namespace

Extraction::Extraction(D88Image& image, FILE* out, FILE* err, uint8_t* sector, uint8_t* directory)
    : image(image),
      out(out),
      err(err),
      sector(sector),
      directory(directory),
      outDisplay(displayOf(out)),
      errDisplay(displayOf(err)) {}

void notice(Extraction& x, Notice which) {
  const NoticeText& text = kNotices[static_cast<int>(which)];
  flushOut(x);
  switch (x.errDisplay) {
    case Display::kUtf8:
      fputs(text.utf8, x.err);
      break;
    case Display::kConsole:
      writeConsole(x.err, text.utf8);
      break;
    default:
      fputs(text.shiftJis, x.err);
  }
}

void print(Extraction& x, const char* format, ...) {
  va_list arguments;
  va_start(arguments, format);
  const int written = vfprintf(x.out, format, arguments);
  va_end(arguments);
  if (written < 0 && x.outError == 0) x.outError = errno != 0 ? errno : EIO;
}

void tell(Extraction& x, const char* format, ...) {
  flushOut(x);
  va_list arguments;
  va_start(arguments, format);
  vfprintf(x.err, format, arguments);
  va_end(arguments);
}

void reportError(Extraction& x, const char* what, const char* name, const char* reason) {
  tell(x, "error: %s %s%s: %s\n", what, x.where, name, reason);
  x.failed = true;
}

const char* shownName(const Extraction& x, const char* name, char (&buffer)[32]) {
  if (x.outDisplay == Display::kBytes) return name;
  size_t i = 0;
  for (; name[i] != '\0' && i + 1 < sizeof buffer; ++i) {
    const unsigned char c = static_cast<unsigned char>(name[i]);
    buffer[i] = c < 0x20 || c == 0x7F ? '?' : name[i];
  }
  buffer[i] = '\0';
  return buffer;
}
