// sfx_launcher: starts a program (the stub) under Wine, presses OK on its "Setup Selfextract" boxes
// and prints what happened, with the full 32-bit exit code that Wine's own exit status cannot carry.
//
//   sfx_launcher [--cd DIR] [--set NAME=VALUE]... [--unset NAME]... [--args TEXT] PROGRAM
//
// PROGRAM may be a Linux path (reached through drive Z:). TEXT is placed after the quoted program
// path, verbatim. Prints "message box: TEXT" for each box, "progress window: seen" when the program's
// progress window was up at one of the polls, and "exit code: 0xXXXXXXXX (N)".
#include <cstdio>
#include <cstring>
#include <string>

#include "tests/wine/stub_launch.h"

namespace {

int Usage() {
  std::fprintf(stderr,
               "usage: sfx_launcher [--cd DIR] [--set NAME=VALUE]... [--unset NAME]... "
               "[--args TEXT] PROGRAM\n");
  return 2;
}

}  // namespace

int main(int argc, char** argv) {
  sfx::test::LaunchRequest request;
  int i = 1;
  for (; i + 1 < argc && argv[i][0] == '-' && argv[i][1] == '-'; i += 2) {
    std::string option = argv[i];
    std::string value = argv[i + 1];
    if (option == "--cd") {
      request.currentDirectory = sfx::test::WindowsPathOf(value);
    } else if (option == "--set") {
      size_t equals = value.find('=');
      if (equals == std::string::npos) return Usage();
      request.setEnvironment.emplace_back(value.substr(0, equals), value.substr(equals + 1));
    } else if (option == "--unset") {
      request.unsetEnvironment.push_back(value);
    } else if (option == "--args") {
      request.arguments = value;
    } else {
      return Usage();
    }
  }
  if (i + 1 != argc) return Usage();
  request.program = sfx::test::WindowsPathOf(argv[i]);

  sfx::test::LaunchOutcome outcome = sfx::test::LaunchAndWatch(request);
  if (outcome.startError != 0) {
    std::printf("cannot start %s: error %u\n", request.program.c_str(), outcome.startError);
    return 1;
  }
  for (const auto& text : outcome.boxTexts) {
    std::string shown = text;
    for (size_t at = 0; (at = shown.find('\n', at)) != std::string::npos; at += 2) shown.replace(at, 1, "\\n");
    std::printf("message box: %s\n", shown.c_str());
  }
  if (outcome.progressWindowSeen) std::printf("progress window: seen, titled '%s'\n", outcome.progressWindowTitle.c_str());
  if (outcome.timedOut) std::printf("timed out: killed\n");
  std::printf("exit code: 0x%08X (%u)\n", outcome.exitCode, outcome.exitCode);
  return outcome.timedOut ? 1 : 0;
}
