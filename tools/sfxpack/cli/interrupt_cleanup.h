// Ctrl-C, SIGTERM and SIGHUP in the middle of a write: the temporary files the command holds are
// removed, and the tool exits with 128 + the signal's number, as a shell reports a signal. Temporary
// files register while they exist; the handler touches nothing but this fixed table.
#ifndef SFXSTUB_TOOLS_SFXPACK_CLI_INTERRUPT_CLEANUP_H_
#define SFXSTUB_TOOLS_SFXPACK_CLI_INTERRUPT_CLEANUP_H_

#include <string>

namespace sfx {

class InterruptCleanup {
 public:
  // Installs the handlers; once per process, before the command runs.
  static void Install();
  // path is removed if a signal arrives before Forget(path). A path too long for the table, or one
  // past its few slots, is not registered (and so left, as before the handler existed).
  static void Remember(const std::string& path);
  // A folder whose registered files go first, then the folder itself (when nothing else is left in
  // it). Forget(path) takes it back.
  static void RememberFolder(const std::string& path);
  static void Forget(const std::string& path);
  // Called by the handler before it exits: the progress line's end, so that the shell's prompt
  // starts on a line of its own. Must be async-signal-safe.
  static void SetFinisher(void (*finish)());
};

}  // namespace sfx

#endif  // SFXSTUB_TOOLS_SFXPACK_CLI_INTERRUPT_CLEANUP_H_
