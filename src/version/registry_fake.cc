// The registry operations over the in-memory registry of tests.
#include "version/registry_fake.h"

#include <cstring>

#include "version/registry.h"

FakeRegistry& TheFakeRegistry() {
  static FakeRegistry registry;
  return registry;
}

long OpenRegistryKey(const char* path, RegistryKey* key) {
  FakeRegistry& registry = TheFakeRegistry();
  registry.opened_path = path;
  if (!registry.key_exists) return kRegistryNotFound;
  ++registry.opened;
  *key = &registry;
  return kRegistrySuccess;
}

long QueryRegistryValue(RegistryKey key, const char* name, unsigned char* data,
                        std::uint32_t* size) {
  auto& registry = *static_cast<FakeRegistry*>(key);
  registry.queried_name = name;
  if (registry.query_status != kRegistrySuccess) return registry.query_status;
  if (registry.value.size() > *size) {
    *size = static_cast<std::uint32_t>(registry.value.size());
    return kRegistryMoreData;
  }
  std::memcpy(data, registry.value.data(), registry.value.size());
  *size = static_cast<std::uint32_t>(registry.value.size());
  return kRegistrySuccess;
}

void CloseRegistryKey(RegistryKey key) {
  ++static_cast<FakeRegistry*>(key)->closed;
}
