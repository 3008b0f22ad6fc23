// Where the program's later DLL loads may come from (Windows only).
#ifndef SFXSTUB_PLATFORM_DLL_SEARCH_H_
#define SFXSTUB_PLATFORM_DLL_SEARCH_H_

namespace sfx {

// Restricts every later LoadLibrary of this process to System32, so that a DLL planted beside the
// program (a download folder) is never loaded. Returns false, with nothing changed, on systems
// without SetDefaultDllDirectories.
bool RestrictDllSearchToSystem32();

}  // namespace sfx

#endif  // SFXSTUB_PLATFORM_DLL_SEARCH_H_
