#include "tests/process.h"

#include <cstdio>
#include <cstdlib>

#include "diskimage/d88_image.h"
#include "tests/image_builder.h"
#include "tool/run.h"

#ifndef _WIN32
#include <sys/wait.h>
#endif

namespace d88test {
namespace {

std::string text(const std::filesystem::path& p) {
  const Bytes b = readFile(p);
  return std::string(b.begin(), b.end());
}

std::string quote(const std::string& s) {
  return "\"" + s + "\"";
}

// Runs `body` with `cwd` as the current directory.
template <typename F>
void inDirectory(const std::filesystem::path& cwd, F body) {
  const std::filesystem::path saved = std::filesystem::current_path();
  std::filesystem::current_path(cwd);
  body();
  std::filesystem::current_path(saved);
}

}  // namespace

std::string programPath() {
  std::string path = D88EXTRACT_PATH;
#ifdef _WIN32
  for (char& c : path)
    if (c == '/') c = '\\';
#endif
  return path;
}

std::string console(const std::string& text) {
#ifdef _WIN32
  std::string s;
  for (char c : text) {
    if (c == '\n') s += '\r';
    s += c;
  }
  return s;
#else
  return text;
#endif
}

Outcome runProgram(const std::vector<std::string>& args, const std::filesystem::path& cwd) {
  TempDir capture;
  // D88_TEST_WRAPPER runs the program under another, valgrind say.
  const char* wrapper = std::getenv("D88_TEST_WRAPPER");
  std::string command = wrapper != nullptr ? std::string(wrapper) + " " : "";
  command += quote(programPath());
  for (const std::string& a : args) command += " " + quote(a);
  command += " >" + quote((capture.path() / "out").string());
  command += " 2>" + quote((capture.path() / "err").string());
#ifdef _WIN32
  command = "\"" + command + "\"";  // cmd /c strips one pair of outer quotes
#endif
  Outcome o;
  inDirectory(cwd, [&] {
    fflush(nullptr);
    const int raw = std::system(command.c_str());
#ifdef _WIN32
    o.status = raw;
#else
    o.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : 128 + WTERMSIG(raw);
#endif
  });
  o.out = text(capture.path() / "out");
  o.err = text(capture.path() / "err");
  return o;
}

Outcome runInProcess(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                     FILE* given) {
  std::vector<const char*> argv{"d88extract"};
  for (const std::string& a : args) argv.push_back(a.c_str());
  TempDir capture;
  FILE* out = given != nullptr ? given : fopen((capture.path() / "out").string().c_str(), "wb");
  FILE* err = fopen((capture.path() / "err").string().c_str(), "wb");
  Outcome o;
  inDirectory(cwd, [&] {
    D88Image image;
    o.status = run(image, static_cast<int>(argv.size()), argv.data(), out, err);
  });
  if (given == nullptr) fclose(out);
  fclose(err);
  o.out = text(capture.path() / "out");
  o.err = text(capture.path() / "err");
  return o;
}

}  // namespace d88test
