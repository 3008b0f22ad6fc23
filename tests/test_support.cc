#include "tests/test_support.h"

#include <atomic>
#include <cstdlib>
#include <chrono>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <system_error>

#include <sys/stat.h>

#if !defined(_WIN32)
#include <csignal>

#include <sys/resource.h>
#endif

namespace sfx {
namespace test {

namespace fs = std::filesystem;

ScratchDir::ScratchDir() {
  static std::atomic<unsigned> counter{0};
  auto stamp = std::chrono::steady_clock::now().time_since_epoch().count();
  for (;;) {
    fs::path candidate = fs::temp_directory_path() /
                         ("sfxtest-" + std::to_string(stamp) + "-" + std::to_string(counter++));
    std::error_code error;
    if (fs::create_directory(candidate, error)) {
      path_ = candidate.string();
      return;
    }
  }
}

ScratchDir::~ScratchDir() {
  std::error_code error;
  // Read-only files left by a test must not keep the folder alive.
  for (auto it = fs::recursive_directory_iterator(path_, error); !error && it != fs::end(it);
       it.increment(error)) {
    fs::permissions(it->path(), fs::perms::owner_all, fs::perm_options::add, error);
  }
  fs::remove_all(path_, error);
}

std::string ScratchDir::File(const std::string& name) const { return (fs::path(path_) / name).string(); }

void WriteFileBytes(const std::string& path, const Bytes& bytes) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
}

Bytes ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

bool FileExists(const std::string& path) {
  std::error_code error;
  return fs::exists(path, error);
}

int64_t FileModificationTime(const std::string& path) {
  struct stat info;
  if (stat(path.c_str(), &info) != 0) return -1;
  return static_cast<int64_t>(info.st_mtime);
}

bool CapFileSizeOfThisProcess(uint64_t bytes) {
#if defined(_WIN32)
  (void)bytes;
  return false;
#else
  if (std::signal(SIGXFSZ, SIG_IGN) == SIG_ERR) return false;
  struct rlimit limit;
  if (getrlimit(RLIMIT_FSIZE, &limit) != 0) return false;
  limit.rlim_cur = static_cast<rlim_t>(bytes);
  return setrlimit(RLIMIT_FSIZE, &limit) == 0;
#endif
}

int ExitStatusFor(uint32_t code) { return code < 255 ? static_cast<int>(code) : 255; }

void SetEnvironment(const char* name, const char* value) {
#if defined(_WIN32)
  _putenv_s(name, value ? value : "");
#else
  if (value) setenv(name, value, 1);
  else unsetenv(name);
#endif
}

Bytes BytesOf(const std::string& text) { return Bytes(text.begin(), text.end()); }

Bytes NoiseBytes(size_t size, uint32_t seed) {
  Bytes out(size);
  uint32_t x = seed * 2654435761u + 1;
  for (auto& b : out) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<uint8_t>(x);
  }
  return out;
}

}  // namespace test
}  // namespace sfx
