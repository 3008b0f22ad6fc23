// The stub's entry point: a GUI program whose exit code is the setup program's (or the error met).
#include <windows.h>

#include "sfxstub/driver/command_line.h"
#include "sfxstub/driver/setup_driver.h"
#include "sfxstub/driver/win32_setup_services.h"
#include "sfxstub/platform/dll_search.h"
#include "sfxstub/platform/multibyte.h"

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
