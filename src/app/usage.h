// The usage text of tarvex.exe.
#ifndef TARVEX_APP_USAGE_H_
#define TARVEX_APP_USAGE_H_

// Writes the usage text, which also documents the exit codes, as one message
// line.
void PrintUsage();

#endif  // TARVEX_APP_USAGE_H_
