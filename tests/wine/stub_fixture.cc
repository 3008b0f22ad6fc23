#include "tests/wine/stub_fixture.h"

#include <windows.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

#include "tests/test_support.h"

namespace sfx {
namespace test {

std::string BoxText(uint32_t code, const char* words) {
  char head[64];
  std::snprintf(head, sizeof head, "An error %d (%08X) has occured.\n", static_cast<int>(code), code);
  return std::string(head) + "Last performed operation was:\n" + words + "\n\n";
}

std::string EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value ? WindowsPathOf(value) : std::string();
}

namespace {

std::string ReadVariable(const char* name) {
  char value[MAX_PATH] = "";
  DWORD length = GetEnvironmentVariableA(name, value, sizeof value);
  return length > 0 && length < sizeof value ? std::string(value, length) : std::string();
}

std::string WithoutTrailingSeparator(std::string path) {
  if (path.size() > 3 && path.back() == '\\') path.pop_back();
  return path;
}

}  // namespace

std::string TempPathWithoutVariables() {
  const std::string temp = ReadVariable("TEMP");
  const std::string tmp = ReadVariable("TMP");
  SetEnvironmentVariableA("TEMP", nullptr);
  SetEnvironmentVariableA("TMP", nullptr);
  char system[MAX_PATH] = "";
  GetTempPathA(sizeof system, system);
  SetEnvironmentVariableA("TEMP", temp.empty() ? nullptr : temp.c_str());
  SetEnvironmentVariableA("TMP", tmp.empty() ? nullptr : tmp.c_str());
  return WithoutTrailingSeparator(system);
}

std::string FallbackTempBase() {
  const std::string tmp = ReadVariable("TMP");
  const DWORD attributes = GetFileAttributesA(tmp.c_str());
  if (!tmp.empty() && attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY)) {
    return WithoutTrailingSeparator(tmp);
  }
  return TempPathWithoutVariables();
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Parent(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }
std::string Leaf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

std::vector<std::string> Entries(const std::string& directory) {
  std::vector<std::string> names;
  WIN32_FIND_DATAA entry;
  HANDLE find = FindFirstFileA((directory + "\\*").c_str(), &entry);
  if (find == INVALID_HANDLE_VALUE) return names;
  do {
    std::string name = entry.cFileName;
    if (name != "." && name != "..") names.push_back(name);
  } while (FindNextFileA(find, &entry));
  FindClose(find);
  return names;
}

bool IsRunDirectoryOf(const std::string& path, const std::string& base) {
  const size_t prefix = sizeof kTempPrefix - 1;
  if (Parent(path) != base) return false;
  std::string leaf = Leaf(path);
  if (leaf.size() != prefix + 6 || leaf.compare(0, prefix, kTempPrefix) != 0) return false;
  if (leaf[prefix] < 'a' || leaf[prefix] > 'z') return false;
  for (size_t i = prefix + 1; i < leaf.size(); ++i) {
    if (leaf[i] < '0' || leaf[i] > '9') return false;
  }
  return true;
}

std::vector<std::string> RunDirectoriesIn(const std::string& base) {
  std::vector<std::string> found;
  for (const std::string& name : Entries(base)) {
    if (IsRunDirectoryOf(base + "\\" + name, base)) found.push_back(base + "\\" + name);
  }
  return found;
}

void RemoveTree(const std::string& path) {
  std::error_code error;
  for (auto it = std::filesystem::recursive_directory_iterator(path, error);
       !error && it != std::filesystem::end(it); it.increment(error)) {
    SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
  }
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
  std::filesystem::remove_all(path, error);
}

std::vector<ProbeRun> ParseReport(const std::string& text) {
  std::vector<ProbeRun> runs;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    std::string line = text.substr(at, end - at);
    at = end + 1;
    size_t equals = line.find('=');
    std::string key = line.substr(0, equals);
    std::string value = equals == std::string::npos ? std::string() : line.substr(equals + 1);
    if (key == "run") runs.emplace_back();
    if (runs.empty()) continue;
    ProbeRun& run = runs.back();
    if (key == "command_line") run.commandLine = value;
    if (key == "current_directory") run.currentDirectory = value;
    if (key == "module") run.module = value;
    if (key == "temp") run.temp = value;
    if (key == "progress_windows") {
      for (const char* p = value.c_str(); *p;) {
        char* next = nullptr;
        run.progressWindowOwners.push_back(static_cast<uint32_t>(std::strtoul(p, &next, 10)));
        p = *next == ',' ? next + 1 : next;
      }
    }
    if (key == "everyone_ace") {
      char* next = nullptr;
      unsigned flags = static_cast<unsigned>(std::strtoul(value.c_str(), &next, 10));
      run.everyoneEntries.emplace_back(flags, static_cast<uint32_t>(std::strtoul(next + 1, nullptr, 0)));
    }
    if (key == "file") {
      size_t tab1 = value.find('\t');
      size_t tab2 = value.find('\t', tab1 + 1);
      run.files[value.substr(0, tab1)] =
          SeenFile{value.substr(tab1 + 1, tab2 - tab1 - 1), std::atoll(value.c_str() + tab2 + 1)};
    }
    if (key == "held") run.held = value == "yes";
    if (key == "linger_pid") run.lingerPid = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    if (key == "digest") {
      const size_t tab = value.find('\t');
      if (tab != std::string::npos) run.digests[value.substr(0, tab)] = value.substr(tab + 1);
    }
    if (key == "parent_peak_working_set") run.parentPeakWorkingSet = std::strtoull(value.c_str(), nullptr, 10);
    if (key == "exit") run.exitCode = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
  }
  return runs;
}

ShortScratch::ShortScratch() {
  static int counter = 0;
  CreateDirectoryA(kRoot, nullptr);
  path_ = std::string(kRoot) + "\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
  CreateDirectoryA(path_.c_str(), nullptr);
}

ShortScratch::~ShortScratch() {
  RemoveTree(path_);
  RemoveDirectoryA(kRoot);  // when the last one is gone
}

void UnmanagedWindowsFor(const std::string& program) {
  HKEY key = nullptr;
  std::string path = "Software\\Wine\\AppDefaults\\" + program + "\\X11 Driver";
  if (RegCreateKeyExA(HKEY_CURRENT_USER, path.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                      nullptr) != ERROR_SUCCESS) {
    return;
  }
  RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
  RegCloseKey(key);
}

void StubFixture::SetUpTestSuite() { UnmanagedWindowsFor(kPackageName); }

void StubFixture::SetUp() {
  packages = EnvironmentPath("SFX_E2E_PACKAGES");
  probe = EnvironmentPath("SFX_PROBE");
  ASSERT_FALSE(packages.empty()) << "SFX_E2E_PACKAGES is not set";
  ASSERT_TRUE(Exists(packages + "\\good.exe")) << "no packages in " << packages;
  folder = scratch.path();
  package = folder + "\\" + kPackageName;
  ASSERT_TRUE(CopyFileA((packages + "\\good.exe").c_str(), package.c_str(), FALSE));
  control = folder + "\\probe.ctl";
  temp = folder + "\\temp";
  workDir = folder + "\\work";
  CreateDirectoryA(temp.c_str(), nullptr);
  CreateDirectoryA(workDir.c_str(), nullptr);
  SetControl("");
}

void StubFixture::SetControl(const std::string& text) {
  WriteFileBytes(control, BytesOf(text));
  DeleteFileA((control + ".count").c_str());
  DeleteFileA((control + ".report").c_str());
}

LaunchRequest StubFixture::Request(const std::string& arguments) const {
  LaunchRequest request;
  request.program = package;
  request.arguments = arguments;
  request.currentDirectory = workDir;
  request.setEnvironment = {{"SFX_PROBE_CONTROL", control}, {"TEMP", temp}};
  return request;
}

std::vector<ProbeRun> StubFixture::Runs() const {
  Bytes report = ReadFileBytes(control + ".report");
  return ParseReport(std::string(report.begin(), report.end()));
}

std::string StubFixture::ExpectedCommandLine(const ProbeRun& run, const std::string& received) const {
  const std::string tmp = run.Directory();
  return "\"" + tmp + "\\kelvo.setup\" /a \"" + folder + "\" /t \"" + tmp + "\" /c [" + received +
         "] /l %srcpath% /srcpath \"" + folder + "\"";
}

ReleaseEvent::ReleaseEvent(const std::string& prefix)
    : name_(prefix + std::to_string(GetCurrentProcessId())),
      event_(CreateEventA(nullptr, TRUE, FALSE, name_.c_str())) {}

ReleaseEvent::~ReleaseEvent() {
  if (event_) {
    SetEvent(event_);
    CloseHandle(event_);
  }
}

void ReleaseEvent::Set() {
  if (event_) SetEvent(event_);
}

bool WaitForProcess(uint32_t pid, DWORD timeoutMs) {
  HANDLE process = OpenProcess(SYNCHRONIZE, FALSE, pid);
  if (!process) return false;
  WaitForSingleObject(process, timeoutMs);
  CloseHandle(process);
  return true;
}

}  // namespace test
}  // namespace sfx
