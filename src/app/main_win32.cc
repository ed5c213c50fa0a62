// Process entry on Windows. The C runtime's standard output is a text stream,
// so every line end reaches the console or a file as CR LF.
#include "app/dispatch.h"

int main(int argc, char* argv[]) { return RunCommand(argc, argv); }
