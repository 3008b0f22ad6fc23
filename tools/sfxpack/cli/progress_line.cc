#include "tools/sfxpack/cli/progress_line.h"

#include <chrono>
#include <cstdio>
#include <cstring>
#include <mutex>

#include "tools/sfxpack/cli/interrupt_cleanup.h"

#if defined(_WIN32)
#include <io.h>
#define isatty _isatty
#define fileno _fileno
#define write _write
#else
#include <unistd.h>
#endif

namespace sfx {
namespace {

using Clock = std::chrono::steady_clock;
constexpr auto kRedrawInterval = std::chrono::milliseconds(200);
constexpr double kMiB = 1024.0 * 1024.0;

bool enabled = false;
// Compression workers advance the line from their own threads.
std::mutex lock;
volatile bool active = false;  // read by the interrupt handler
std::string label;
uint64_t total = 0, done = 0;
Clock::time_point started, lastDrawn;

void Draw() {
  const double seconds = std::chrono::duration<double>(Clock::now() - started).count();
  const uint64_t shown = done < total ? done : total;
  const double rate = seconds > 0 ? shown / kMiB / seconds : 0;
  char left[32] = "";
  if (shown < total && rate > 0) {
    const unsigned long remaining = static_cast<unsigned long>((total - shown) / kMiB / rate + 0.5);
    std::snprintf(left, sizeof left, ", %lu:%02lu left", remaining / 60, remaining % 60);
  }
  // \033[K clears what a longer line before left behind.
  std::fprintf(stderr, "\rsfxpack: %s %3u %% (%.0f of %.0f MiB, %.1f MiB/s%s)\033[K", label.c_str(),
               static_cast<unsigned>(total ? shown * 100 / total : 100), shown / kMiB, total / kMiB, rate, left);
  std::fflush(stderr);
  lastDrawn = Clock::now();
}

extern "C" void EndLineOnSignal() {
  if (active) (void)!write(2, "\n", 1);
}

}  // namespace

bool ProgressLine::StderrIsTerminal() { return isatty(fileno(stderr)) != 0; }

void ProgressLine::Enable(bool on) {
  enabled = on;
  InterruptCleanup::SetFinisher(EndLineOnSignal);
}

void ProgressLine::Begin(const std::string& what, uint64_t work) {
  if (active) End();
  if (!enabled || work <= kThreshold) return;
  label = what;
  total = work;
  done = 0;
  started = Clock::now();
  active = true;
  Draw();
}

void ProgressLine::Advance(uint64_t bytes) {
  if (!active) return;
  std::lock_guard<std::mutex> hold(lock);
  done += bytes;
  if (Clock::now() - lastDrawn >= kRedrawInterval) Draw();
}

void ProgressLine::End() {
  if (!active) return;
  done = total;
  Draw();
  std::fprintf(stderr, "\n");
  active = false;
}

void ProgressLine::Abandon() {
  if (!active) return;
  std::fprintf(stderr, "\n");
  active = false;
}

}  // namespace sfx
