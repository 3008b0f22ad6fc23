#include "tests/wine/stub_launch.h"

#include <windows.h>
#include <tlhelp32.h>

#include <algorithm>
#include <cstring>
#include <map>
#include <set>

namespace sfx {
namespace test {
namespace {

struct CaseInsensitiveLess {
  bool operator()(const std::string& a, const std::string& b) const {
    return _stricmp(a.c_str(), b.c_str()) < 0;
  }
};

// The caller's environment with the request's changes, as an ANSI environment block.
std::string EnvironmentBlock(const LaunchRequest& request) {
  std::map<std::string, std::string, CaseInsensitiveLess> variables;
  std::vector<std::string> drives;  // "=C:=C:\\..." entries keep their place in front
  char* strings = GetEnvironmentStringsA();
  for (const char* entry = strings; entry && *entry; entry += std::strlen(entry) + 1) {
    if (entry[0] == '=') {
      drives.push_back(entry);
      continue;
    }
    const char* equals = std::strchr(entry, '=');
    if (equals) variables[std::string(entry, equals)] = equals + 1;
  }
  if (strings) FreeEnvironmentStringsA(strings);
  for (const auto& name : request.unsetEnvironment) variables.erase(name);
  for (const auto& variable : request.setEnvironment) variables[variable.first] = variable.second;

  std::string block;
  for (const auto& drive : drives) block += drive + '\0';
  for (const auto& variable : variables) block += variable.first + "=" + variable.second + '\0';
  block += '\0';
  return block;
}

// Adds to family every process whose parent is in it (the stub's relaunched copy, for one). Process
// ids can be reused, but not while their holder runs, and the launched process runs while this is
// called.
void AddDescendants(std::set<DWORD>* family) {
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  if (snapshot == INVALID_HANDLE_VALUE) return;
  for (bool grown = true; grown;) {
    grown = false;
    PROCESSENTRY32 entry;
    entry.dwSize = sizeof entry;
    for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
      if (family->count(entry.th32ParentProcessID) && family->insert(entry.th32ProcessID).second) grown = true;
    }
  }
  CloseHandle(snapshot);
}

// The error boxes and progress windows of the launched process and its descendants; other tests may
// run stubs of their own on the same desktop at the same time.
struct BoxSearch {
  const std::set<DWORD>* family;
  std::string boxCaption;  // UTF-8
  std::vector<HWND> boxes;
  bool progressWindow = false;
  std::string progressTitle;
  HWND progressBar = nullptr;
};

// A window's title as UTF-8, whatever the code page.
std::string TitleOf(HWND window) {
  wchar_t title[256] = L"";
  GetWindowTextW(window, title, 256);
  char utf8[768] = "";
  WideCharToMultiByte(CP_UTF8, 0, title, -1, utf8, sizeof utf8, nullptr, nullptr);
  return utf8;
}

BOOL CALLBACK CollectBox(HWND window, LPARAM parameter) {
  auto* search = reinterpret_cast<BoxSearch*>(parameter);
  char className[64] = "";
  GetClassNameA(window, className, sizeof className);
  DWORD owner = 0;
  GetWindowThreadProcessId(window, &owner);
  if (!search->family->count(owner)) return TRUE;
  if (std::strcmp(className, "#32770") == 0 && TitleOf(window) == search->boxCaption) {
    search->boxes.push_back(window);
  }
  if (std::strcmp(className, kProgressWindowClass) == 0) {
    search->progressWindow = true;
    search->progressTitle = TitleOf(window);
    search->progressBar = FindWindowExA(window, nullptr, "msctls_progress32", nullptr);
  }
  return TRUE;
}

BOOL CALLBACK LongestStaticText(HWND child, LPARAM parameter) {
  auto* text = reinterpret_cast<std::string*>(parameter);
  char className[64] = "";
  GetClassNameA(child, className, sizeof className);
  if (_stricmp(className, "Static") != 0) return TRUE;
  int length = GetWindowTextLengthA(child);
  std::string value(static_cast<size_t>(length) + 1, '\0');
  GetWindowTextA(child, &value[0], length + 1);
  value.resize(std::strlen(value.c_str()));
  if (value.size() > text->size()) *text = value;
  return TRUE;
}

// The message text of a box: its longest static text (the icon's static has none).
std::string BoxText(HWND box) {
  std::string text;
  EnumChildWindows(box, LongestStaticText, reinterpret_cast<LPARAM>(&text));
  return text;
}

}  // namespace

std::string WindowsPathOf(const std::string& path) {
  if (path.empty() || path[0] != '/') return path;
  std::string windows = "Z:" + path;
  std::replace(windows.begin(), windows.end(), '/', '\\');
  return windows;
}

LaunchOutcome LaunchAndWatch(const LaunchRequest& request) {
  LaunchOutcome outcome;
  std::string commandLine = request.rawCommandLine;
  if (commandLine.empty()) {
    commandLine = "\"" + request.program + "\"";
    if (!request.arguments.empty()) commandLine += " " + request.arguments;
  }
  std::string environment = EnvironmentBlock(request);

  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created;
  if (!CreateProcessA(request.program.c_str(), &commandLine[0], nullptr, nullptr, FALSE, 0,
                      &environment[0],
                      request.currentDirectory.empty() ? nullptr : request.currentDirectory.c_str(),
                      &startup, &created)) {
    outcome.startError = GetLastError();
    return outcome;
  }
  CloseHandle(created.hThread);
  outcome.processId = created.dwProcessId;

  std::map<HWND, DWORD> pressed;  // box, when OK was last pressed
  std::set<DWORD> family = {created.dwProcessId};
  const DWORD start = GetTickCount();
  DWORD_PTR lastPosition = static_cast<DWORD_PTR>(-1);
  HWND bar = nullptr;
  // Between the searches below, a found bar is read as often as it answers (PBM_GETPOS).
  auto sampleBar = [&](DWORD milliseconds) {
    if (!request.sampleProgressBar || bar == nullptr) return WaitForSingleObject(created.hProcess, milliseconds);
    const DWORD until = GetTickCount() + milliseconds;
    DWORD waited = WAIT_TIMEOUT;
    do {
      DWORD_PTR position = 0;
      if (SendMessageTimeoutA(bar, 0x0408 /* PBM_GETPOS */, 0, 0, SMTO_ABORTIFHUNG, 100, &position) &&
          position != lastPosition) {
        if (lastPosition != static_cast<DWORD_PTR>(-1)) ++outcome.progressPositionsSeen;
        lastPosition = position;
      }
      waited = WaitForSingleObject(created.hProcess, 0);
    } while (waited == WAIT_TIMEOUT && static_cast<int32_t>(until - GetTickCount()) > 0);
    return waited;
  };
  // While a bar is sampled, the family's windows are searched only every half second: a search
  // takes longer than a step of the bar.
  while (sampleBar(request.sampleProgressBar && bar != nullptr ? 500 : 20) == WAIT_TIMEOUT) {
    AddDescendants(&family);
    BoxSearch search{&family, request.boxCaption, {}};
    EnumWindows(CollectBox, reinterpret_cast<LPARAM>(&search));
    if (search.progressWindow && !outcome.progressWindowSeen) {
      outcome.progressWindowSeen = true;
      outcome.progressWindowTitle = search.progressTitle;
    }
    bar = search.progressBar;
    for (HWND box : search.boxes) {
      auto seen = pressed.find(box);
      if (seen == pressed.end()) {
        std::string text = BoxText(box);
        if (text.empty()) continue;  // not filled in yet
        outcome.boxTexts.push_back(text);
        if (outcome.boxTexts.size() == 1 && request.atFirstBox) request.atFirstBox();
        if (request.killAtFirstBox) {
          TerminateProcess(created.hProcess, 0xDEAD);
          WaitForSingleObject(created.hProcess, 5000);
          outcome.killedAtBox = true;
          break;
        }
      } else if (GetTickCount() - seen->second < 500) {
        continue;  // give the box time to close before pressing again
      }
      pressed[box] = GetTickCount();
      PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    }
    if (outcome.killedAtBox) break;
    if (GetTickCount() - start > request.timeoutMs) {
      TerminateProcess(created.hProcess, 0xDEAD);
      WaitForSingleObject(created.hProcess, 5000);
      outcome.timedOut = true;
      break;
    }
  }
  DWORD code = 0;
  GetExitCodeProcess(created.hProcess, &code);
  outcome.exitCode = code;
  CloseHandle(created.hProcess);
  return outcome;
}

}  // namespace test
}  // namespace sfx
