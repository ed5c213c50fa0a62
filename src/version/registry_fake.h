// An in-memory registry for tests: one key that exists or not, and the status
// and bytes that a query of it returns.
#ifndef TARVEX_VERSION_REGISTRY_FAKE_H_
#define TARVEX_VERSION_REGISTRY_FAKE_H_

#include <string>

struct FakeRegistry {
  bool key_exists = false;
  long query_status = 0;
  std::string value;  // The bytes a successful query returns, NUL included.

  // Counts, to check that every opened key is closed.
  int opened = 0;
  int closed = 0;
  std::string opened_path;
  std::string queried_name;
};

// The registry that the registry operations see in a test binary.
FakeRegistry& TheFakeRegistry();

#endif  // TARVEX_VERSION_REGISTRY_FAKE_H_
