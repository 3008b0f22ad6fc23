#include "tests/fuzz/fuzz_support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <system_error>

namespace sfx {
namespace fuzz {
namespace {

std::string Base() {
  const char* shm = "/dev/shm";
  std::error_code error;
  return std::filesystem::is_directory(shm, error) ? shm : "/tmp";
}

}  // namespace

const std::string& ScratchPath() {
  static const std::string path = Base() + "/sfxfuzz-" + std::to_string(getpid()) + ".bin";
  return path;
}

void WriteScratch(const uint8_t* data, size_t size) {
  std::FILE* file = std::fopen(ScratchPath().c_str(), "wb");
  if (file == nullptr) std::abort();
  if (size > 0 && std::fwrite(data, 1, size, file) != size) std::abort();
  std::fclose(file);
}

const std::string& ScratchDir() {
  static const std::string path = [] {
    std::string dir = Base() + "/sfxfuzz-" + std::to_string(getpid()) + ".d";
    std::filesystem::create_directories(dir);
    return dir;
  }();
  return path;
}

void ClearScratchDir() {
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(ScratchDir(), error)) {
    std::filesystem::remove_all(entry.path(), error);
  }
}

}  // namespace fuzz
}  // namespace sfx
