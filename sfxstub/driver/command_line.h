// The program's command line as the driver reads it: the text after the program's own name, the
// switches found in it, and the arguments handed on in relaunch mode. Portable string logic.
#ifndef SFXSTUB_DRIVER_COMMAND_LINE_H_
#define SFXSTUB_DRIVER_COMMAND_LINE_H_

#include "sfxstub/platform/multibyte.h"
#include "sfxstub/platform/text.h"

namespace sfx {

// The full command line without the program's name and the blanks and control characters after
// it. The name ends at the first blank or control character outside double quotes; a quote toggles
// the quoted state and a double-byte character is stepped over whole.
const char* SkipProgramName(const char* fullCommandLine, LeadBytePredicate isLead);

// Each switch is found as a case-sensitive substring anywhere in the command line (no word
// boundaries, no quoting): "/msiexec" counts as "/msi".
struct Switches {
  bool oem = false;
  bool msi = false;
  bool silent = false;
  bool verySilent = false;
  bool autorun = false;

  // Any of the switches that suppress the progress window.
  bool Quiet() const { return oem || msi || silent || verySilent; }
  // The switches an unattended caller starts the program with: the package's silent template applies.
  bool SilentRun() const { return msi || silent || verySilent; }
};
Switches FindSwitches(const Text& commandLine, LeadBytePredicate isLead);

// The arguments for the relaunched copy: from the first blank at or after the 9th character (the
// length of "/Autorun" counted from the start of the command line, wherever the switch stood) to the
// end, that blank included; empty when there is none.
Text RelaunchArguments(const Text& commandLine);

}  // namespace sfx

#endif  // SFXSTUB_DRIVER_COMMAND_LINE_H_
