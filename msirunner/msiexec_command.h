// The MSI runner's one piece of logic: msiexec's path and command line, made from the runner's own
// command line. The stub starts the runner with "\"<run folder>\\kelvo.setup\" \"PRODUCT.msi\" ARGS"
// (the package's template, expanded); the runner starts
// "\"<system folder>\\msiexec.exe\" /i \"<run folder>\\PRODUCT.msi\" ARGS". Portable, and free of the C
// library: the runner links nothing but kernel32.
#ifndef SFXSTUB_MSIRUNNER_MSIEXEC_COMMAND_H_
#define SFXSTUB_MSIRUNNER_MSIEXEC_COMMAND_H_

#include <cstddef>
#include <cstdint>

namespace sfx {

// CreateProcess's limit, terminator included.
constexpr size_t kMaxMsiexecCommandLine = 32767;
constexpr uint32_t kMsiexecOk = 0;
constexpr uint32_t kMsiexecNameTooLong = 206;           // ERROR_FILENAME_EXCED_RANGE
constexpr uint32_t kMsiexecBadCommandLine = 1639;       // ERROR_INVALID_COMMAND_LINE

// "<systemDirectory>\\msiexec.exe" into out (capacity characters with the terminator). Returns 0 or
// kMsiexecNameTooLong.
uint32_t MsiexecPath(const wchar_t* systemDirectory, wchar_t* out, size_t capacity);

// ownCommandLine: the runner's whole command line (its own name first, quoted or not); ownFolder: the
// folder it runs from, no trailing separator. Writes msiexec's command line into out. Returns 0,
// kMsiexecBadCommandLine when no MSI name follows the runner's own name (or the name is empty or holds
// a separator), or kMsiexecNameTooLong when the line would not fit capacity.
uint32_t MsiexecCommandLine(const wchar_t* ownCommandLine, const wchar_t* ownFolder, const wchar_t* systemDirectory,
                            wchar_t* out, size_t capacity);

}  // namespace sfx

#endif  // SFXSTUB_MSIRUNNER_MSIEXEC_COMMAND_H_
