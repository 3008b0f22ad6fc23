// Fault injection for FileStream: while one of these lives, the failAt-th system read of any
// FileStream (counting from 1) fails as a scratched disc or a dropped share makes it fail (EIO; on
// Windows with the system's own code, ERROR_IO_DEVICE), and every other read goes to the system.
#ifndef SFXSTUB_TESTS_FAILING_READ_H_
#define SFXSTUB_TESTS_FAILING_READ_H_

#include <cerrno>
#include <cstdlib>

#include "sfxstub/archive/file_stream.h"

namespace sfx {
namespace test {

constexpr uint32_t kFailedReadError = 1117;  // ERROR_IO_DEVICE

class FailingRead {
 public:
  explicit FailingRead(int failAt) {
    Count() = 0;
    FailAt() = failAt;
    System() = SetSystemReadForTesting(&Read);
  }
  ~FailingRead() { SetSystemReadForTesting(System()); }
  FailingRead(const FailingRead&) = delete;
  FailingRead& operator=(const FailingRead&) = delete;

  int reads() const { return Count(); }

 private:
  static int& Count() {
    static int count = 0;
    return count;
  }
  static int& FailAt() {
    static int failAt = 0;
    return failAt;
  }
  static SystemReadFn& System() {
    static SystemReadFn system = nullptr;
    return system;
  }
  static int Read(int descriptor, void* buffer, uint32_t count) {
    if (++Count() != FailAt()) return System()(descriptor, buffer, count);
    errno = EIO;
#if defined(_WIN32)
    _doserrno = static_cast<unsigned long>(kFailedReadError);
#endif
    return -1;
  }
};

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_FAILING_READ_H_
