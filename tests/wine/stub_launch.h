// Starts a program (the stub) the way a user or an installer host would, waits for it, presses OK on
// every "Setup Selfextract" message box it shows and reads its full 32-bit exit code (Wine cuts exit
// codes to 8 bits at the Linux boundary; inside Wine they are whole). Used by the end-to-end tests and
// by the sfx_launcher tool.
#ifndef SFXSTUB_TESTS_WINE_STUB_LAUNCH_H_
#define SFXSTUB_TESTS_WINE_STUB_LAUNCH_H_

#include <cstdint>
#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace sfx {
namespace test {

struct LaunchRequest {
  std::string program;    // started as the application name
  std::string arguments;  // the command line is "\"program\" arguments" (no blank when empty)
  // When not empty: the whole command line, program name included, as given.
  std::string rawCommandLine;
  std::string currentDirectory;  // empty: the caller's
  std::vector<std::pair<std::string, std::string>> setEnvironment;
  std::vector<std::string> unsetEnvironment;
  uint32_t timeoutMs = 120000;  // then the program is killed and timedOut set
  // Called once, when the first error box is up and filled in, before it is answered.
  std::function<void()> atFirstBox;
  // The program is killed at its first error box instead of having it answered, the way an
  // unattended deployment ends a run that waits for nobody.
  bool killAtFirstBox = false;
  // The caption of the error boxes to answer (a branded package's, set by sfxpack build --caption).
  std::string boxCaption = "Setup Selfextract";
  // Samples the position of the progress bar as often as it answers, between searches for the
  // family's windows every half second instead of every 20 ms.
  bool sampleProgressBar = false;
};

struct LaunchOutcome {
  uint32_t startError = 0;  // CreateProcessA's error; 0 when the program ran
  uint32_t exitCode = 0;
  uint32_t processId = 0;
  bool timedOut = false;
  bool killedAtBox = false;
  std::vector<std::string> boxTexts;  // the text of each box pressed, in order
  // A progress window of the launched process or a descendant was up at one of the polls (every
  // 20 ms or so): a window that lives shorter than that may be missed.
  bool progressWindowSeen = false;
  std::string progressWindowTitle;  // its title at the first poll that saw it, UTF-8
  // With sampleProgressBar: how many times the bar was seen at a new position. Each change is at least
  // one step the bar received; steps closer together than a sample are seen as one.
  int progressPositionsSeen = 0;
};

constexpr char kErrorBoxCaption[] = "Setup Selfextract";
constexpr char kProgressWindowClass[] = "AniProgressClass";

LaunchOutcome LaunchAndWatch(const LaunchRequest& request);

// A Linux path as Wine reaches it (drive Z: is the root); other paths are returned unchanged.
std::string WindowsPathOf(const std::string& path);

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_TESTS_WINE_STUB_LAUNCH_H_
