// Command dispatch: what one run of tarvex does with its arguments.
#ifndef TARVEX_APP_DISPATCH_H_
#define TARVEX_APP_DISPATCH_H_

// Runs the command named by argv[1] and returns the process exit code.
int RunCommand(int argc, char* argv[]);

#endif  // TARVEX_APP_DISPATCH_H_
