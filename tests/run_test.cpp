#include <gtest/gtest.h>

#include "tests/image_builder.h"
#include "tests/process.h"

using namespace d88test;

namespace {

std::string usage(const std::string& program) {
  return "Usage: " + program + " [d88file]\n       -d : not make sub directory\n";
}

}  // namespace

TEST(Program, ArgumentsAndOpenFailure) {
  TempDir images;
  const std::string empty = images.write("empty.d88", {});
  const std::string plain =
      images.write("plain.d88", build(Disk{"PLAIN", 0, {}, {}, {track(0, 16, 1)}}));
  const std::string missing = (images.path() / "missing.d88").string();
  struct Case {
    const char* what;
    std::vector<std::string> args;
    int status;
    std::string err;
  } cases[] = {
      {"no argument", {}, 1, usage(programPath())},
      {"four arguments", {empty, "-d", "x", "y"}, 1, usage(programPath())},
      {"a path that does not exist", {missing}, 1, kOpenFailure},
      {"an empty image", {empty}, 0, ""},
      {"three arguments are accepted", {empty, "x", "y"}, 0, ""},
      {"a disk that is neither kind", {plain}, 0, ""},
      {"a missing image with -d", {missing, "-d"}, 1, kOpenFailure},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.what);
    TempDir cwd;
    const Outcome o = runProgram(c.args, cwd.path());
    EXPECT_EQ(o.status, c.status);
    EXPECT_EQ(o.out, "");
    EXPECT_EQ(o.err, console(c.err));
    EXPECT_TRUE(readTree(cwd.path()).empty());
  }
}

#ifndef _WIN32
TEST(Program, ListingThatCannotBeWrittenIsAFailure) {
  TempDir dir;
  const std::string image = dir.write("a.d88", build(diskA("A", {{10, 100}})));
  FILE* full = fopen("/dev/full", "w");
  const Outcome o = runInProcess({image}, dir.path(), full);
  fclose(full);
  EXPECT_EQ(o.status, 1);
  EXPECT_EQ(o.err, kDiskANotice + "error: cannot write standard output\n");
}
#endif
