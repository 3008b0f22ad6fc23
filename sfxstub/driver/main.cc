// The stub's entry point: a GUI program whose exit code is the setup program's (or the error met).
#include <windows.h>

#include "sfxstub/driver/command_line.h"
#include "sfxstub/driver/setup_driver.h"
#include "sfxstub/driver/win32_setup_services.h"
#include "sfxstub/platform/dll_search.h"
#include "sfxstub/platform/multibyte.h"

#include <exception>

// What ends the process when an exception leaves the program: in the stub only a failed allocation
// can throw, and nothing catches it. The runtime's default handler of this name prints the
// exception's demangled type, which a GUI program has nowhere to show, and links the demangler in
// (about 46 KB); this definition takes its place. The exit code is the system's "not enough memory".
namespace __gnu_cxx {
void __verbose_terminate_handler() { ExitProcess(ERROR_NOT_ENOUGH_MEMORY); }
}  // namespace __gnu_cxx

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
  // Before anything can load a DLL on demand: an elevated installer must not pick up a DLL planted
  // in the folder it was downloaded to. Older systems lack the call and keep their default search.
  sfx::RestrictDllSearchToSystem32();

  // The command line is taken from the system rather than from the runtime, so that the program's
  // name is removed by the same rules everywhere (quotes, double-byte characters).
  const char* commandLine = sfx::SkipProgramName(GetCommandLineA(), sfx::SystemLeadByte);
  sfx::Win32SetupServices services(instance);
  sfx::SetupDriver driver(services, sfx::SystemLeadByte);
  return static_cast<int>(driver.Run(commandLine));
}
