#include "diskimage/d88_image.h"
#include "tool/platform.h"
#include "tool/run.h"

int main(int argc, char** argv) {
  prepareProcess();
  // The one reader of the process, made before the command line is looked at;
  // run() closes its file on every path.
  D88Image image;
  const int status = run(image, argc, argv, stdout, stderr);
  // A run that ended for an interruption ends as the interruption would have.
  const int interruption = pendingInterruption();
  if (interruption != 0 && status == interruptedStatus(interruption))
    endByInterruption(interruption);
  return status;
}
