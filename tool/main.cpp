#include "diskimage/d88_image.h"
#include "tool/platform.h"
#include "tool/run.h"

int main(int argc, char** argv) {
  prepareProcess();
  // The one reader of the process, made before the command line is looked at;
  // run() closes its file on every path.
  D88Image image;
  return run(image, argc, argv, stdout, stderr);
}
