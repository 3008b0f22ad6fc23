#include "tools/sfxpack/cli/interrupt_cleanup.h"

#include <atomic>
#include <csignal>
#include <cstring>

#if defined(_WIN32)
#include <direct.h>
#include <io.h>
#include <process.h>
#define unlink _unlink
#define rmdir _rmdir
#else
#include <unistd.h>
#endif

namespace sfx {
namespace {

constexpr size_t kSlots = 16;
constexpr size_t kPathLimit = 4096;

// A slot is written while unused, then published by used; the handler reads published slots only.
struct Slot {
  char path[kPathLimit];
  volatile std::sig_atomic_t folder;
  volatile std::sig_atomic_t used;
};
Slot slots[kSlots];
void (*volatile finisher)() = nullptr;

extern "C" void OnSignal(int signal) {
  for (Slot& slot : slots) {
    if (slot.used && !slot.folder) unlink(slot.path);
  }
  for (Slot& slot : slots) {
    if (slot.used && slot.folder) rmdir(slot.path);
  }
  if (finisher != nullptr) finisher();
  _exit(128 + signal);
}

}  // namespace

void InterruptCleanup::Install() {
  for (int signal : {SIGINT, SIGTERM
#if defined(SIGHUP)
                     , SIGHUP
#endif
       }) {
    // A signal ignored when the tool starts stays ignored (nohup, a shell's background job).
    if (std::signal(signal, OnSignal) == SIG_IGN) std::signal(signal, SIG_IGN);
  }
}

namespace {

void RememberSlot(const std::string& path, bool folder) {
  if (path.empty() || path.size() >= kPathLimit) return;
  for (Slot& slot : slots) {
    if (slot.used) continue;
    std::memcpy(slot.path, path.c_str(), path.size() + 1);
    slot.folder = folder ? 1 : 0;
    std::atomic_signal_fence(std::memory_order_seq_cst);
    slot.used = 1;
    return;
  }
}

}  // namespace

void InterruptCleanup::Remember(const std::string& path) { RememberSlot(path, false); }

void InterruptCleanup::RememberFolder(const std::string& path) { RememberSlot(path, true); }

void InterruptCleanup::Forget(const std::string& path) {
  for (Slot& slot : slots) {
    if (slot.used && path == slot.path) {
      slot.used = 0;
      return;
    }
  }
}

void InterruptCleanup::SetFinisher(void (*finish)()) { finisher = finish; }

}  // namespace sfx
