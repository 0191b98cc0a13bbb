// The program's run: command line, the walk over the disks of the image, the
// exit status. Callable from tests with their own streams; main() is a shell.
#ifndef TOOL_RUN_H_
#define TOOL_RUN_H_

#include <cstdio>

class D88Image;

// Runs the tool on `argv` (argv[0] is the program name) with `image`, which
// must be a newly constructed reader; the image is closed before returning.
// Writes the listing and progress to `out`, notices, usage and errors to `err`.
// Returns the exit status: 0, or 1 for a usage error, an image that cannot be
// opened, or an item that could not be written.
int run(D88Image& image, int argc, const char* const* argv, FILE* out, FILE* err);

// The program: makes the process safe to run (prepareProcess()), runs the
// tool on `argv` with standard output and error, and returns its exit
// status; after an interruption it ends the process as the interruption
// would have.
int runProgram(int argc, const char* const* argv);

#endif  // TOOL_RUN_H_
