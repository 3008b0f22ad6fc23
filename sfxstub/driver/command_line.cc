#include "sfxstub/driver/command_line.h"

#include <cstdint>

namespace sfx {
namespace {

constexpr size_t kAutorunLength = 8;  // "/Autorun"

bool IsBlankOrControl(char c) { return static_cast<uint8_t>(c) <= ' '; }

}  // namespace

const char* SkipProgramName(const char* fullCommandLine, LeadBytePredicate isLead) {
  const char* p = fullCommandLine;
  bool quoted = false;
  while (*p != '\0' && (quoted || !IsBlankOrControl(*p))) {
    if (*p == '"') quoted = !quoted;
    if (isLead(static_cast<uint8_t>(*p)) && p[1] != '\0') ++p;
    ++p;
  }
  while (*p != '\0' && IsBlankOrControl(*p)) ++p;
  return p;
}

Switches FindSwitches(const Text& commandLine, LeadBytePredicate isLead) {
  Switches found;
  found.oem = ContainsText(commandLine, "/oem", isLead);
  found.msi = ContainsText(commandLine, "/msi", isLead);
  found.silent = ContainsText(commandLine, "/silent", isLead);
  found.verySilent = ContainsText(commandLine, "/verysilent", isLead);
  found.autorun = ContainsText(commandLine, "/Autorun", isLead);
  return found;
}

Text RelaunchArguments(const Text& commandLine) {
  if (commandLine.size() <= kAutorunLength) return Text();
  size_t blank = commandLine.find(' ', kAutorunLength);  // a blank is never a second byte
  return blank == Text::npos ? Text() : commandLine.substr(blank);
}

}  // namespace sfx
