// Test-only Windows program for the Wine tests (not part of tarvex): writes
// registry values with exact bytes and type, and dumps what
// RegQueryValueExA returns to a 32-bit program.
//
//   tarvex_regtool set FILE    lines: 32|64 TAB key TAB value TAB type TAB hex
//   tarvex_regtool dump FILE   lines: key [TAB value]; the value is "Version"
//                              when not given; prints one result line a line
#define WIN32_LEAN_AND_MEAN
#define NOMINMAX
#include <windows.h>

#include <cstdio>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

namespace {

std::vector<std::string> Split(const std::string& line) {
  std::vector<std::string> fields;
  std::string field;
  std::istringstream in(line);
  while (std::getline(in, field, '\t')) fields.push_back(field);
  if (!line.empty() && line.back() == '\t') fields.emplace_back();
  return fields;
}

std::vector<unsigned char> FromHex(const std::string& hex) {
  std::vector<unsigned char> bytes;
  for (std::size_t i = 0; i + 1 < hex.size(); i += 2) {
    bytes.push_back(static_cast<unsigned char>(std::stoul(hex.substr(i, 2), nullptr, 16)));
  }
  return bytes;
}

// The W function stores the bytes as given; the A one would convert strings.
int Set(std::ifstream& in) {
  std::string line;
  int failures = 0;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Split(line);
    if (f.size() != 5) {
      std::printf("bad line: %s\n", line.c_str());
      return 2;
    }
    const REGSAM view = f[0] == "64" ? KEY_WOW64_64KEY : KEY_WOW64_32KEY;
    HKEY key = nullptr;
    LONG r = RegCreateKeyExA(HKEY_LOCAL_MACHINE, f[1].c_str(), 0, nullptr, 0,
                             KEY_SET_VALUE | view, nullptr, &key, nullptr);
    if (r == ERROR_SUCCESS) {
      const std::wstring name(f[2].begin(), f[2].end());
      const std::vector<unsigned char> data = FromHex(f[4]);
      r = RegSetValueExW(key, name.c_str(), 0, std::stoul(f[3]),
                         data.empty() ? nullptr : data.data(),
                         static_cast<DWORD>(data.size()));
      RegCloseKey(key);
    }
    if (r != ERROR_SUCCESS) {
      std::printf("set failed (%ld): %s\n", r, line.c_str());
      ++failures;
    }
  }
  return failures ? 1 : 0;
}

// A 32-bit build opens keys exactly as tarvex.exe does, with no view flag, and
// so gets the view the system gives a 32-bit program; a 64-bit build asks for
// that view.
constexpr REGSAM kView = sizeof(void*) == 4 ? 0 : KEY_WOW64_32KEY;

// The same query tarvex makes, in a 260-byte buffer whose first byte is 0.
int Dump(std::ifstream& in) {
  std::string line;
  while (std::getline(in, line)) {
    const std::vector<std::string> f = Split(line);
    const std::string path = f.empty() ? std::string() : f[0];
    const std::string value = f.size() > 1 ? f[1] : "Version";
    HKEY key = nullptr;
    const LONG open = RegOpenKeyExA(HKEY_LOCAL_MACHINE, path.c_str(), 0,
                                    KEY_READ | kView, &key);
    LONG query = -1;
    unsigned char data[260] = {0};
    DWORD size = sizeof(data);
    if (open == ERROR_SUCCESS) {
      query = RegQueryValueExA(key, value.c_str(), nullptr, nullptr, data, &size);
      RegCloseKey(key);
    }
    std::printf("open=%ld query=%ld size=%lu data=", open, query,
                static_cast<unsigned long>(size));
    if (query == ERROR_SUCCESS) {
      for (DWORD i = 0; i < size && i < sizeof(data); ++i) std::printf("%02x", data[i]);
    }
    std::printf("\n");
  }
  return 0;
}

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 3) return 2;
  std::ifstream in(argv[2], std::ios::binary);
  if (!in) return 2;
  const std::string mode = argv[1];
  if (mode == "set") return Set(in);
  if (mode == "dump") return Dump(in);
  return 2;
}
