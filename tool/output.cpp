// What the run writes to standard output and standard error.
#include <cerrno>
#include <cstdarg>
#include <cstring>
#include <cwchar>
#include <cwctype>

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
  fflush(x.err);
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
  fflush(x.err);  // where standard error is buffered (msvcrt's, redirected)
}

void reportError(Extraction& x, const char* what, const char* name, const char* reason) {
  tell(x, "error: %s %s%s: %s\n", what, x.where, name, reason);
  x.failed = true;
}

const char* shownName(const Extraction& x, const char* name, char (&buffer)[kShownNameSize]) {
  if (x.outDisplay == Display::kBytes) return name;
  // As the terminal's locale reads the bytes: a control character, or a byte
  // that is no character there, shows as '?'. A Windows console takes bytes
  // in its own code page (Shift_JIS, say), whose lead bytes must stay.
  const size_t length = strlen(name);
  size_t out = 0;
  mbstate_t state{};
  for (size_t i = 0; i < length && out + 1 < sizeof buffer;) {
    wchar_t c = 0;
    size_t size = 1;
    bool shown;
    if (x.outDisplay == Display::kConsole) {
      const unsigned char byte = static_cast<unsigned char>(name[i]);
      shown = byte >= 0x20 && byte != 0x7F;
    } else {
      size = mbrtowc(&c, name + i, length - i, &state);
      const bool character = size != static_cast<size_t>(-1) && size != static_cast<size_t>(-2);
      shown = character && !iswcntrl(c);
      if (!character) state = mbstate_t{};
      if (!character || size == 0) size = 1;
    }
    if (!shown) {
      buffer[out++] = '?';
    } else if (out + size < sizeof buffer) {
      memcpy(buffer + out, name + i, size);
      out += size;
    }
    i += size;
  }
  buffer[out] = '\0';
  return buffer;
}
