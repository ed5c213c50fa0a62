// Message lines on standard output.
#include "version/output.h"

#include <cstdio>

void WriteMessageLine(std::string_view text) {
  // The exit code is the program's answer; output that cannot be written must
  // not change it, so write errors are deliberately ignored.
  (void)std::fwrite(text.data(), 1, text.size(), stdout);
  (void)std::fputc('\n', stdout);
  (void)std::fflush(stdout);
}
