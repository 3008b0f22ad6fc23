// msirunner: the setup program of a package built with `sfxpack build --msi`. Starts msiexec.exe from
// the system folder (by its full path, never searched) on the MSI beside the runner, waits for it and
// exits with msiexec's exit code unchanged (3010, 1641, 1602, 1618... reach the stub, and its "/msi"
// mapping, as msiexec gave them). A failure before msiexec runs exits with its Windows error code.
// No C library: an entry point of its own, kernel32 alone.
#include <windows.h>

#include "msirunner/msiexec_command.h"
#include "sfxstub/platform/unique_handle.h"

namespace {

// One block from the process heap, freed on every path.
class HeapChars {
 public:
  explicit HeapChars(size_t count)
      : chars_(static_cast<wchar_t*>(HeapAlloc(GetProcessHeap(), 0, count * sizeof(wchar_t)))), count_(count) {}
  ~HeapChars() {
    if (chars_ != nullptr) HeapFree(GetProcessHeap(), 0, chars_);
  }
  HeapChars(const HeapChars&) = delete;
  HeapChars& operator=(const HeapChars&) = delete;
  wchar_t* get() const { return chars_; }
  size_t count() const { return count_; }

 private:
  wchar_t* chars_;
  size_t count_;
};

// The runner's folder: its own path cut at the last separator.
uint32_t OwnFolder(HeapChars& folder) {
  DWORD length = GetModuleFileNameW(nullptr, folder.get(), static_cast<DWORD>(folder.count()));
  if (length == 0) return GetLastError();
  if (length >= folder.count()) return sfx::kMsiexecNameTooLong;
  while (length > 0 && folder.get()[length - 1] != L'\\') --length;
  if (length == 0) return sfx::kMsiexecNameTooLong;  // not a full path
  folder.get()[length - 1] = L'\0';
  return 0;
}

uint32_t RunMsiexec() {
  HeapChars folder(sfx::kMaxMsiexecCommandLine);
  HeapChars system(MAX_PATH + 1);
  HeapChars program(MAX_PATH + 16);
  HeapChars line(sfx::kMaxMsiexecCommandLine);
  if (!folder.get() || !system.get() || !program.get() || !line.get()) return ERROR_NOT_ENOUGH_MEMORY;
  uint32_t result = OwnFolder(folder);
  if (result != 0) return result;
  UINT length = GetSystemDirectoryW(system.get(), static_cast<UINT>(system.count()));
  if (length == 0) return GetLastError();
  if (length >= system.count()) return sfx::kMsiexecNameTooLong;
  result = sfx::MsiexecPath(system.get(), program.get(), program.count());
  if (result == 0) {
    result = sfx::MsiexecCommandLine(GetCommandLineW(), folder.get(), system.get(), line.get(), line.count());
  }
  if (result != 0) return result;

  STARTUPINFOW startup;
  SecureZeroMemory(&startup, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created;
  SecureZeroMemory(&created, sizeof created);
  if (!CreateProcessW(program.get(), line.get(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &created)) {
    return GetLastError();
  }
  sfx::UniqueHandle process(created.hProcess);
  sfx::UniqueHandle thread(created.hThread);
  thread.Reset();
  WaitForSingleObject(process.Get(), INFINITE);
  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) return GetLastError();
  return code;
}

}  // namespace

extern "C" void MsiRunnerEntry() { ExitProcess(RunMsiexec()); }
