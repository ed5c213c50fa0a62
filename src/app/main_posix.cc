// Process entry on POSIX systems.
#include <csignal>

#include "app/dispatch.h"

int main(int argc, char* argv[]) {
  // A reader that has gone away must not kill the process: the exit code is
  // the answer even when nobody reads the output.
  // SIGPIPE always exists, so this cannot fail.
  (void)std::signal(SIGPIPE, SIG_IGN);
  return RunCommand(argc, argv);
}
