// The zolpversionlessthan command.
#ifndef TARVEX_VERSION_VERSION_CHECK_H_
#define TARVEX_VERSION_VERSION_CHECK_H_

// Answers whether ZOLP is installed with a version lower than argv[2]:
// 0 yes; 1 not installed; 2 installed, equal or higher; 3 VERSION missing;
// 4 VERSION malformed. Writes what it found as message lines.
int RunVersionLessThan(int argc, char* argv[]);

#endif  // TARVEX_VERSION_VERSION_CHECK_H_
