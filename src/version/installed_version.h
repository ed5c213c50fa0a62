// The installed version of ZOLP, as recorded in the registry.
#ifndef TARVEX_VERSION_INSTALLED_VERSION_H_
#define TARVEX_VERSION_INSTALLED_VERSION_H_

#include <cstdint>

// Reads ZOLP's "Version" value, writes one message line saying what was found
// and returns 1 with the version in `*major` and `*minor`, or 0 when ZOLP is
// not installed or its version cannot be read (then both are 0).
int GetInstalledVersion(std::int32_t* major, std::int32_t* minor);

#endif  // TARVEX_VERSION_INSTALLED_VERSION_H_
