// Helpers shared by the tests: a scratch directory per test and whole-file reads and writes.
#ifndef SFXSTUB_TESTS_TEST_SUPPORT_H_
#define SFXSTUB_TESTS_TEST_SUPPORT_H_

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include "sfxstub/platform/text.h"

namespace sfx {

// How GoogleTest prints a Text.
inline void PrintTo(const Text& text, std::ostream* out) {
  *out << '"' << std::string(text.data(), text.size()) << '"';
}

namespace test {

// A Text as a standard string.
inline std::string Str(const Text& text) { return std::string(text.data(), text.size()); }

using Bytes = std::vector<uint8_t>;

// A fresh directory under the system's temporary folder, removed with everything in it on
// destruction.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // path() joined with name by the platform's separator.
  std::string File(const std::string& name) const;

 private:
  std::string path_;
};

void WriteFileBytes(const std::string& path, const Bytes& bytes);
Bytes ReadFileBytes(const std::string& path);
bool FileExists(const std::string& path);
// Seconds since 1970 UTC of the file's last modification, or -1.
int64_t FileModificationTime(const std::string& path);

// Caps the size of every file this process writes: a write that would cross the cap comes up short,
// the way a filling disk cuts it, instead of raising SIGXFSZ. POSIX only (false elsewhere, or when
// the system refuses). The cap lasts for the rest of the process, so call it only in a death-test
// child.
bool CapFileSizeOfThisProcess(uint64_t bytes);
// The exit status a death-test child reports a result code with: the code when it fits the 8 bits
// a parent sees, else 255, so that no larger code passes for a smaller one.
int ExitStatusFor(uint32_t code);

// Sets or, with value null, removes an environment variable of this process.
void SetEnvironment(const char* name, const char* value);

Bytes BytesOf(const std::string& text);
// Deterministic pseudo-random bytes.
Bytes NoiseBytes(size_t size, uint32_t seed);

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_TEST_SUPPORT_H_
