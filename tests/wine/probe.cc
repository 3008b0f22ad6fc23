// sfx_probe: a setup program for tests. Told what to do by the control file named in the environment
// variable SFX_PROBE_CONTROL, it appends what it saw to <control>.report and exits with the code given
// for this run. Runs are counted in <control>.count, so that a sequence of exit codes (for example
// 0x20000010 then 0) can span the setup program's re-runs.
//
// Control file, one key=value a line:
//   exit=CODE[,CODE...]   exit codes of the 1st, 2nd, ... run; the last repeats (default 0)
//   mkdir=NAME            make a subdirectory NAME beside the program
//   linger=PROGRAM        start PROGRAM --linger EVENT (inheriting handles) and leave it running
//   linger_event=EVENT    the name of the event the lingering program waits for (at most a minute)
//   linger_hold=NAME      open NAME beside the program, sharing reads only, in a handle that the
//                         lingering program inherits and so holds until it ends
//   readonly=NAME         mark NAME beside the program read-only
//   gate=EVENT            after the report, wait until EVENT is set (at most a minute), then exit
//   digest=NAME[,NAME...] report a digest of each of these files beside the program
//   parent_memory=1       report the peak working set of the process that started it (the stub)
//
// Report of one run, UTF-8 whatever the code page (names and paths are read as UTF-16): "run=N",
// "command_line=", "current_directory=", "module=", "temp=" (its TEMP), "progress_windows="
// (process ids owning an "AniProgressClass" window when it started), "everyone_ace=FLAGS:MASK" for
// each access entry of Everyone on its directory, "file=NAME<TAB>SIZE<TAB>MTIME" (MTIME: seconds
// since 1970; SIZE "dir" for a directory) for each entry beside it, "held=yes|no" (linger_hold),
// "linger_pid=", "digest=NAME<TAB>HEX" (FNV-1a, 64 bits), "parent_peak_working_set=BYTES", "exit=",
// "end".
//
// "sfx_probe --linger EVENT" waits until EVENT is set, at most a minute, and exits 0.
//
// "sfx_probe --resources FILE OUT" writes what the system reads of FILE's version resource
// (GetFileVersionInfoW, VerQueryValueW) and icon group 1 (LoadImageW, PrivateExtractIconsW) to OUT as
// UTF-8 lines: "file_version=", "product_version=", "translation=", "NAME=VALUE" for the usual
// strings, "icon_groups=", "icon_SIZE=WxH" for each size loaded, "extracted_256=WxH"; exits 0.
#include <windows.h>
#include <aclapi.h>
#include <psapi.h>
#include <sddl.h>
#include <tlhelp32.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <cwchar>
#include <string>
#include <vector>

#include "tests/wine/file_digest.h"

namespace {

std::string ReadText(const std::string& path) {
  std::string text;
  FILE* file = std::fopen(path.c_str(), "rb");
  if (!file) return text;
  char buffer[4096];
  size_t n;
  while ((n = std::fread(buffer, 1, sizeof buffer, file)) > 0) text.append(buffer, n);
  std::fclose(file);
  return text;
}

void WriteText(const std::string& path, const std::string& text, const char* mode) {
  FILE* file = std::fopen(path.c_str(), mode);
  if (!file) return;
  std::fwrite(text.data(), 1, text.size(), file);
  std::fclose(file);
}

std::string Value(const std::string& control, const std::string& key) {
  size_t at = 0;
  while (at < control.size()) {
    size_t end = control.find('\n', at);
    if (end == std::string::npos) end = control.size();
    std::string line = control.substr(at, end - at);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.compare(0, key.size() + 1, key + "=") == 0) return line.substr(key.size() + 1);
    at = end + 1;
  }
  return std::string();
}

uint32_t ExitCodeForRun(const std::string& codes, int run) {
  std::vector<uint32_t> list;
  const char* p = codes.c_str();
  while (*p) {
    char* end = nullptr;
    list.push_back(static_cast<uint32_t>(std::strtoul(p, &end, 0)));
    if (end == p) break;
    p = *end == ',' ? end + 1 : end;
  }
  if (list.empty()) return 0;
  return list[static_cast<size_t>(run - 1) < list.size() ? run - 1 : list.size() - 1];
}

std::string ProgressWindowOwners() {
  std::string owners;
  HWND window = nullptr;
  while ((window = FindWindowExA(nullptr, window, "AniProgressClass", nullptr)) != nullptr) {
    DWORD pid = 0;
    GetWindowThreadProcessId(window, &pid);
    if (!owners.empty()) owners += ',';
    owners += std::to_string(pid);
  }
  return owners;
}

std::string EveryoneEntries(const std::string& directory) {
  std::string lines;
  PACL list = nullptr;
  PSECURITY_DESCRIPTOR descriptor = nullptr;
  if (GetNamedSecurityInfoA(directory.c_str(), SE_FILE_OBJECT, DACL_SECURITY_INFORMATION, nullptr,
                            nullptr, &list, nullptr, &descriptor) != ERROR_SUCCESS) {
    return "everyone_ace=unreadable\n";
  }
  SID_IDENTIFIER_AUTHORITY world = SECURITY_WORLD_SID_AUTHORITY;
  PSID everyone = nullptr;
  AllocateAndInitializeSid(&world, 1, SECURITY_WORLD_RID, 0, 0, 0, 0, 0, 0, 0, &everyone);
  for (DWORD i = 0; list != nullptr && i < list->AceCount; ++i) {
    ACE_HEADER* header = nullptr;
    if (!GetAce(list, i, reinterpret_cast<void**>(&header))) continue;
    if (header->AceType != ACCESS_ALLOWED_ACE_TYPE) continue;
    auto* entry = reinterpret_cast<ACCESS_ALLOWED_ACE*>(header);
    if (!EqualSid(&entry->SidStart, everyone)) continue;
    char text[64];
    std::snprintf(text, sizeof text, "everyone_ace=%u:0x%08lX\n", header->AceFlags, entry->Mask);
    lines += text;
  }
  FreeSid(everyone);
  LocalFree(descriptor);
  return lines;
}

int64_t UnixTime(const FILETIME& time) {
  ULARGE_INTEGER value;
  value.LowPart = time.dwLowDateTime;
  value.HighPart = time.dwHighDateTime;
  return static_cast<int64_t>(value.QuadPart / 10000000ULL) - 11644473600LL;
}

// Text from the system's UTF-16, as UTF-8: what the probe reports does not depend on its code page.
std::string Utf8(const wchar_t* text) {
  int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
  if (size <= 1) return std::string();
  std::string out(static_cast<size_t>(size), '\0');
  WideCharToMultiByte(CP_UTF8, 0, text, -1, &out[0], size, nullptr, nullptr);
  out.pop_back();
  return out;
}

std::string FilesIn(const std::wstring& directory) {
  std::string lines;
  WIN32_FIND_DATAW entry;
  HANDLE find = FindFirstFileW((directory + L"\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return lines;
  do {
    if (std::wcscmp(entry.cFileName, L".") == 0 || std::wcscmp(entry.cFileName, L"..") == 0) continue;
    bool isDirectory = (entry.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    uint64_t size = (static_cast<uint64_t>(entry.nFileSizeHigh) << 32) | entry.nFileSizeLow;
    lines += "file=" + Utf8(entry.cFileName) + "\t" + (isDirectory ? std::string("dir") : std::to_string(size)) +
             "\t" + std::to_string(UnixTime(entry.ftLastWriteTime)) + "\n";
  } while (FindNextFileW(find, &entry));
  FindClose(find);
  return lines;
}

DWORD StartLinger(const std::string& program, const std::string& event) {
  std::string commandLine = "\"" + program + "\" --linger " + event;
  STARTUPINFOA startup;
  std::memset(&startup, 0, sizeof startup);
  startup.cb = sizeof startup;
  PROCESS_INFORMATION created;
  // Inheriting, like the stub: whatever this process was handed goes on to the lingering one.
  if (!CreateProcessA(program.c_str(), &commandLine[0], nullptr, nullptr, TRUE, 0, nullptr, nullptr,
                      &startup, &created)) {
    return 0;
  }
  CloseHandle(created.hThread);
  CloseHandle(created.hProcess);
  return created.dwProcessId;
}

// Waits for the named event, at most a minute; false when there is no such event.
bool WaitForEvent(const std::string& name) {
  HANDLE event = OpenEventA(SYNCHRONIZE, FALSE, name.c_str());
  if (event == nullptr) return false;
  WaitForSingleObject(event, 60000);
  CloseHandle(event);
  return true;
}

// The peak working set of the process that started this one, 0 when it cannot be read.
uint64_t ParentPeakWorkingSet() {
  DWORD parent = 0;
  HANDLE snapshot = CreateToolhelp32Snapshot(TH32CS_SNAPPROCESS, 0);
  PROCESSENTRY32 entry;
  entry.dwSize = sizeof entry;
  for (BOOL more = Process32First(snapshot, &entry); more; more = Process32Next(snapshot, &entry)) {
    if (entry.th32ProcessID == GetCurrentProcessId()) parent = entry.th32ParentProcessID;
  }
  CloseHandle(snapshot);
  HANDLE process = OpenProcess(PROCESS_QUERY_LIMITED_INFORMATION | PROCESS_VM_READ, FALSE, parent);
  if (!process) return 0;
  PROCESS_MEMORY_COUNTERS counters;
  std::memset(&counters, 0, sizeof counters);
  counters.cb = sizeof counters;
  BOOL read = GetProcessMemoryInfo(process, &counters, sizeof counters);
  CloseHandle(process);
  return read ? counters.PeakWorkingSetSize : 0;
}

int Linger(const char* eventName) { return WaitForEvent(eventName) ? 0 : 1; }

std::string IconSize(HICON icon) {
  ICONINFO info;
  if (icon == nullptr || !GetIconInfo(icon, &info)) return "none";
  BITMAP bitmap;
  std::string size = "unreadable";
  if (GetObjectW(info.hbmColor ? info.hbmColor : info.hbmMask, sizeof bitmap, &bitmap)) {
    size = std::to_string(bitmap.bmWidth) + "x" + std::to_string(info.hbmColor ? bitmap.bmHeight : bitmap.bmHeight / 2);
  }
  if (info.hbmColor) DeleteObject(info.hbmColor);
  if (info.hbmMask) DeleteObject(info.hbmMask);
  return size;
}

int DumpResources(const char* file, const char* out) {
  wchar_t path[MAX_PATH * 2] = L"";
  MultiByteToWideChar(CP_ACP, 0, file, -1, path, MAX_PATH * 2);
  std::string text;
  DWORD ignored = 0;
  const DWORD size = GetFileVersionInfoSizeW(path, &ignored);
  std::vector<char> info(size ? size : 1);
  if (size != 0 && GetFileVersionInfoW(path, 0, size, info.data())) {
    VS_FIXEDFILEINFO* fixed = nullptr;
    UINT length = 0;
    char line[160];
    if (VerQueryValueW(info.data(), L"\\", reinterpret_cast<void**>(&fixed), &length) && fixed) {
      std::snprintf(line, sizeof line, "file_version=%lu.%lu.%lu.%lu\nproduct_version=%lu.%lu.%lu.%lu\n",
                    fixed->dwFileVersionMS >> 16, fixed->dwFileVersionMS & 0xFFFF, fixed->dwFileVersionLS >> 16,
                    fixed->dwFileVersionLS & 0xFFFF, fixed->dwProductVersionMS >> 16,
                    fixed->dwProductVersionMS & 0xFFFF, fixed->dwProductVersionLS >> 16,
                    fixed->dwProductVersionLS & 0xFFFF);
      text += line;
    }
    WORD* translation = nullptr;
    if (VerQueryValueW(info.data(), L"\\VarFileInfo\\Translation", reinterpret_cast<void**>(&translation), &length) &&
        length >= 4) {
      std::snprintf(line, sizeof line, "translation=%04x%04x\n", translation[0], translation[1]);
      text += line;
      for (const wchar_t* name : {L"FileDescription", L"ProductName", L"CompanyName", L"LegalCopyright",
                                  L"FileVersion", L"ProductVersion", L"OriginalFilename"}) {
        wchar_t query[128];
        std::swprintf(query, 128, L"\\StringFileInfo\\%04x%04x\\%ls", translation[0], translation[1], name);
        wchar_t* value = nullptr;
        if (VerQueryValueW(info.data(), query, reinterpret_cast<void**>(&value), &length) && value) {
          text += Utf8(name) + "=" + Utf8(value) + "\n";
        }
      }
    }
  } else {
    text += "version=none\n";
  }
  text += "icon_groups=" + std::to_string(PrivateExtractIconsW(path, 0, 0, 0, nullptr, nullptr, 0, 0)) + "\n";
  HMODULE module = LoadLibraryExW(path, nullptr, LOAD_LIBRARY_AS_DATAFILE | LOAD_LIBRARY_AS_IMAGE_RESOURCE);
  for (int side : {16, 32, 48, 256}) {
    HICON icon = module ? static_cast<HICON>(LoadImageW(module, MAKEINTRESOURCEW(1), IMAGE_ICON, side, side, 0))
                        : nullptr;
    text += "icon_" + std::to_string(side) + "=" + IconSize(icon) + "\n";
    if (icon) DestroyIcon(icon);
  }
  if (module) FreeLibrary(module);
  HICON extracted = nullptr;
  UINT id = 0;
  if (PrivateExtractIconsW(path, 0, 256, 256, &extracted, &id, 1, 0) == 1 && extracted) {
    text += "extracted_256=" + IconSize(extracted) + "\n";
    DestroyIcon(extracted);
  }
  WriteText(out, text, "wb");
  return 0;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc == 3 && std::strcmp(argv[1], "--linger") == 0) return Linger(argv[2]);
  if (argc == 4 && std::strcmp(argv[1], "--resources") == 0) return DumpResources(argv[2], argv[3]);

  // First, before anything can change: the progress window must be gone by now.
  const std::string progressOwners = ProgressWindowOwners();

  const char* controlPath = std::getenv("SFX_PROBE_CONTROL");
  if (controlPath == nullptr || *controlPath == '\0') return 0;
  const std::string control = ReadText(controlPath);
  const std::string countPath = std::string(controlPath) + ".count";
  const int run = std::atoi(ReadText(countPath).c_str()) + 1;
  WriteText(countPath, std::to_string(run), "wb");

  char module[MAX_PATH * 2] = "";
  GetModuleFileNameA(nullptr, module, sizeof module);
  std::string directory = module;
  directory = directory.substr(0, directory.find_last_of('\\'));
  wchar_t moduleW[MAX_PATH * 2] = L"";
  GetModuleFileNameW(nullptr, moduleW, MAX_PATH * 2);
  std::wstring directoryW = moduleW;
  directoryW = directoryW.substr(0, directoryW.find_last_of(L'\\'));
  wchar_t currentDirectory[MAX_PATH * 2] = L"";
  GetCurrentDirectoryW(MAX_PATH * 2, currentDirectory);

  std::string subdirectory = Value(control, "mkdir");
  if (!subdirectory.empty()) CreateDirectoryA((directory + "\\" + subdirectory).c_str(), nullptr);
  std::string readOnly = Value(control, "readonly");
  if (!readOnly.empty()) SetFileAttributesA((directory + "\\" + readOnly).c_str(), FILE_ATTRIBUTE_READONLY);

  const uint32_t exitCode = ExitCodeForRun(Value(control, "exit"), run);
  std::string report = "run=" + std::to_string(run) + "\n";
  report += "command_line=" + Utf8(GetCommandLineW()) + "\n";
  report += "current_directory=" + Utf8(currentDirectory) + "\n";
  report += "module=" + Utf8(moduleW) + "\n";
  wchar_t temp[MAX_PATH * 2] = L"";
  GetEnvironmentVariableW(L"TEMP", temp, MAX_PATH * 2);
  report += "temp=" + Utf8(temp) + "\n";
  report += "progress_windows=" + progressOwners + "\n";
  report += EveryoneEntries(directory);
  report += FilesIn(directoryW);
  std::string linger = Value(control, "linger");
  if (!linger.empty()) {
    // Opened before the lingering program starts, so that it holds the file from its first moment.
    HANDLE held = INVALID_HANDLE_VALUE;
    std::string hold = Value(control, "linger_hold");
    if (!hold.empty()) {
      SECURITY_ATTRIBUTES inheritable = {sizeof inheritable, nullptr, TRUE};
      held = CreateFileA((directory + "\\" + hold).c_str(), GENERIC_READ, FILE_SHARE_READ, &inheritable,
                         OPEN_EXISTING, 0, nullptr);
      report += std::string("held=") + (held != INVALID_HANDLE_VALUE ? "yes" : "no") + "\n";
    }
    report += "linger_pid=" + std::to_string(StartLinger(linger, Value(control, "linger_event"))) + "\n";
    if (held != INVALID_HANDLE_VALUE) CloseHandle(held);
  }
  const std::string digests = Value(control, "digest");
  for (size_t at = 0; at < digests.size();) {
    size_t comma = digests.find(',', at);
    if (comma == std::string::npos) comma = digests.size();
    const std::string name = digests.substr(at, comma - at);
    report += "digest=" + name + "\t" + sfx::test::FileDigest(directory + "\\" + name) + "\n";
    at = comma + 1;
  }
  if (!Value(control, "parent_memory").empty()) {
    report += "parent_peak_working_set=" + std::to_string(ParentPeakWorkingSet()) + "\n";
  }
  char code[32];
  std::snprintf(code, sizeof code, "exit=0x%08X\n", exitCode);
  report += code;
  report += "end\n";
  WriteText(std::string(controlPath) + ".report", report, "ab");
  std::string gate = Value(control, "gate");
  if (!gate.empty()) WaitForEvent(gate);
  return static_cast<int>(exitCode);
}
