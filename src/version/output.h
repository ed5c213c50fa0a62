// The one way the program writes: a message line on standard output.
#ifndef TARVEX_VERSION_OUTPUT_H_
#define TARVEX_VERSION_OUTPUT_H_

#include <string_view>

// Writes `text` and one line end to standard output and flushes it, so every
// message has left the program by the time the next one is written. A write
// that fails (closed or full output) is not retried and changes no result.
void WriteMessageLine(std::string_view text);

#endif  // TARVEX_VERSION_OUTPUT_H_
