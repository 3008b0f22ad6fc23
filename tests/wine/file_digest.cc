#include "tests/wine/file_digest.h"

#include <cstdint>
#include <cstdio>
#include <vector>

namespace sfx {
namespace test {

std::string FileDigest(const std::string& path) {
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return "unreadable";
  std::vector<unsigned char> buffer(1 << 20);
  uint64_t hash = 14695981039346656037ull;
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), file)) > 0) {
    for (size_t i = 0; i < n; ++i) hash = (hash ^ buffer[i]) * 1099511628211ull;
  }
  std::fclose(file);
  char text[24];
  std::snprintf(text, sizeof text, "%016llx", static_cast<unsigned long long>(hash));
  return text;
}

}  // namespace test
}  // namespace sfx
