#include "sfxstub/platform/run_and_wait.h"

#include <windows.h>

#include <cstring>

#include "sfxstub/platform/child_command_line.h"
#include "sfxstub/platform/text.h"
#include "sfxstub/platform/unique_handle.h"
#include "sfxstub/progress/progress.h"

namespace sfx {
namespace {

#if !defined(_WIN64)
static_assert(sizeof(STARTUPINFOA) == 68, "the record size the system expects");
#endif

using AllowSetForegroundWindowFn = BOOL(WINAPI*)(DWORD);

void AllowForeground(DWORD processId) {
  HMODULE user32 = GetModuleHandleA("User32.dll");
  if (user32 == nullptr) return;
  auto allow = reinterpret_cast<AllowSetForegroundWindowFn>(
      reinterpret_cast<void*>(GetProcAddress(user32, "AllowSetForegroundWindow")));
  if (allow != nullptr) allow(processId);
}

}  // namespace

ResultCode RunAndWait(const char* program, const char* arguments, uint32_t* exitCode) {
  if (exitCode != nullptr) *exitCode = 0;

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  startup.wShowWindow = SW_SHOWDEFAULT;

  Text commandLine;
  ResultCode result = FormatChildCommandLine(program, arguments, &commandLine);
  if (result != kOk) return result;

  PROCESS_INFORMATION created;
  std::memset(&created, 0, sizeof created);
  if (!CreateProcessA(program, &commandLine[0], nullptr, nullptr, TRUE, CREATE_SUSPENDED, nullptr,
                      nullptr, &startup, &created)) {
    return GetLastError();
  }
  UniqueHandle process(created.hProcess);
  UniqueHandle thread(created.hThread);

  AllowForeground(created.dwProcessId);
  ProgressStop();  // gone before the child's first window can appear
  ResumeThread(thread.Get());
  WaitForSingleObject(process.Get(), INFINITE);

  DWORD code = 0;
  if (!GetExitCodeProcess(process.Get(), &code)) {
    DWORD error = GetLastError();
    process.Reset();
    thread.Reset();
    SetLastError(error);
    return error;
  }
  process.Reset();
  thread.Reset();
  if (exitCode != nullptr) *exitCode = code;
  return kOk;
}

}  // namespace sfx
