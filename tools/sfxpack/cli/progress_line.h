// One updating line on standard error while a command works through many bytes: what it does, the
// percent done, MiB/s and the time left. Shown only when standard error is a terminal, the work is
// more than a few MiB and neither -q nor --json is given; CI logs and piped output never see a byte
// of it. The line is redrawn a few times a second at most, and ends with a newline at 100 %.
#ifndef SFXSTUB_TOOLS_SFXPACK_CLI_PROGRESS_LINE_H_
#define SFXSTUB_TOOLS_SFXPACK_CLI_PROGRESS_LINE_H_

#include <cstdint>
#include <string>

namespace sfx {

class ProgressLine {
 public:
  // Below this much work the line would only flicker.
  static constexpr uint64_t kThreshold = 4u << 20;

  // Whether lines may be shown at all in this run (a terminal on stderr, no -q, no --json).
  static void Enable(bool enabled);
  // Starts a line for total bytes of work, described by what ("building"); ignored unless enabled and
  // total is over the threshold.
  static void Begin(const std::string& what, uint64_t total);
  // bytes more of the work are done; from any thread, between Begin and End.
  static void Advance(uint64_t bytes);
  // Draws 100 % and ends the line; nothing when no line was begun.
  static void End();
  // Ends a line left unfinished (a failure): a newline, so that the error starts a line of its own.
  static void Abandon();
  // True when stderr is a terminal.
  static bool StderrIsTerminal();
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_CLI_PROGRESS_LINE_H_
