// Runs the built tool as a process, and the run in this process, with their
// output captured.
#ifndef TESTS_PROCESS_H_
#define TESTS_PROCESS_H_

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

namespace d88test {

struct Outcome {
  int status = -1;
  std::string out;
  std::string err;
};

// Runs the d88extract program with `args` in directory `cwd`.
Outcome runProgram(const std::vector<std::string>& args, const std::filesystem::path& cwd);

// Calls run() with `args` (argv[0] is "d88extract") in directory `cwd`;
// standard output goes to `out` when given (and is not captured).
Outcome runInProcess(const std::vector<std::string>& args, const std::filesystem::path& cwd,
                     FILE* out = nullptr);

// The program's path, as given to runProgram's command line and so as argv[0].
std::string programPath();

// The tool's Shift_JIS messages, as the bytes expected on standard error.
// "Disk A を認識しました.\n", "Disk B を認識しました.\n", "ファイルをオープンできません.\n"
inline const std::string kDiskANotice =
    "Disk A \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
inline const std::string kDiskBNotice =
    "Disk B \x82\xF0\x94\x46\x8E\xAF\x82\xB5\x82\xDC\x82\xB5\x82\xBD.\n";
inline const std::string kOpenFailure =
    "\x83\x74\x83\x40\x83\x43\x83\x8B\x82\xF0\x83\x49\x81\x5B\x83\x76\x83\x93\x82\xC5\x82\xAB"
    "\x82\xDC\x82\xB9\x82\xF1.\n";

// Console text as the host writes it: "\n" becomes "\r\n" on Windows.
std::string console(const std::string& text);

}  // namespace d88test

#endif  // TESTS_PROCESS_H_
