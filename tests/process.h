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

// Console text as the host writes it: "\n" becomes "\r\n" on Windows.
std::string console(const std::string& text);

}  // namespace d88test

#endif  // TESTS_PROCESS_H_
