// The stub as a user runs it, under Wine: packages built by the host's sfxpack around the probe
// (probe.cc), started through LaunchAndWatch, which presses OK on the error boxes and reads the full
// exit code. Each case runs in a scratch folder of its own, with TEMP pointing inside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <map>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tests/wine/stub_launch.h"

namespace sfx {
namespace test {
namespace {

constexpr uint32_t kRunAgain = 0x20000010;
constexpr char kPrefix[] = "_kv_sfx.tm~";
constexpr char kOpeningWords[] =
    "opening the self-extract archive\n\nTry to download setup file again.\nIf you use Internet "
    "Explorer, clear it's cache before downloading:\nStart->Control Panel->Internet Options and "
    "Delete Temporary Internet Files.";

std::string BoxText(uint32_t code, const char* words) {
  char head[64];
  std::snprintf(head, sizeof head, "An error %d (%08X) has occured.\n", static_cast<int>(code), code);
  return std::string(head) + "Last performed operation was:\n" + words + "\n\n";
}

std::string EnvironmentPath(const char* name) {
  const char* value = std::getenv(name);
  return value ? WindowsPathOf(value) : std::string();
}

bool Exists(const std::string& path) { return GetFileAttributesA(path.c_str()) != INVALID_FILE_ATTRIBUTES; }

std::string Parent(const std::string& path) { return path.substr(0, path.find_last_of('\\')); }
std::string Leaf(const std::string& path) { return path.substr(path.find_last_of('\\') + 1); }

// Names in a directory, "." and ".." left out.
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

// True for base\_kv_sfx.tm~ plus a letter and five digits.
bool IsRunDirectoryOf(const std::string& path, const std::string& base) {
  if (Parent(path) != base) return false;
  std::string leaf = Leaf(path);
  if (leaf.size() != sizeof kPrefix - 1 + 6 || leaf.compare(0, sizeof kPrefix - 1, kPrefix) != 0) return false;
  if (leaf[sizeof kPrefix - 1] < 'a' || leaf[sizeof kPrefix - 1] > 'z') return false;
  for (size_t i = sizeof kPrefix; i < leaf.size(); ++i) {
    if (leaf[i] < '0' || leaf[i] > '9') return false;
  }
  return true;
}

struct SeenFile {
  std::string size;  // "dir" for a directory
  int64_t time = 0;
};

// One run of the probe, from its report.
struct ProbeRun {
  std::string commandLine;
  std::string currentDirectory;
  std::string module;
  std::vector<uint32_t> progressWindowOwners;
  std::vector<std::pair<unsigned, uint32_t>> everyoneEntries;  // flags, mask
  std::map<std::string, SeenFile> files;
  uint32_t lingerPid = 0;
  uint32_t exitCode = 0;

  std::string Directory() const { return Parent(module); }
};

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
    if (key == "linger_pid") run.lingerPid = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 10));
    if (key == "exit") run.exitCode = static_cast<uint32_t>(std::strtoul(value.c_str(), nullptr, 0));
  }
  return runs;
}

// A scratch folder with a short path ("C:\\sfxe2e\\<process>-<n>"): the setup program's command line
// holds its path several times and must fit 260 bytes. Removed with everything in it.
class ShortScratch {
 public:
  ShortScratch() {
    static int counter = 0;
    CreateDirectoryA(kRoot, nullptr);
    path_ = std::string(kRoot) + "\\" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++counter);
    CreateDirectoryA(path_.c_str(), nullptr);
  }
  ~ShortScratch() {
    std::error_code error;
    for (auto it = std::filesystem::recursive_directory_iterator(path_, error);
         !error && it != std::filesystem::end(it); it.increment(error)) {
      SetFileAttributesA(it->path().string().c_str(), FILE_ATTRIBUTE_NORMAL);
    }
    std::filesystem::remove_all(path_, error);
    RemoveDirectoryA(kRoot);  // when the last one is gone
  }
  ShortScratch(const ShortScratch&) = delete;
  ShortScratch& operator=(const ShortScratch&) = delete;
  const std::string& path() const { return path_; }

 private:
  static constexpr char kRoot[] = "C:\\sfxe2e";
  std::string path_;
};

// The names the packages run under in these tests.
constexpr char kPackageName[] = "setup.exe";
constexpr char kSpacedPackageName[] = "my setup.exe";
constexpr size_t kLongNameLength = 230;

std::string LongPackageName() { return std::string(kLongNameLength - 4, 'n') + ".exe"; }

// Wine's X11 driver waits up to two seconds for a window manager to withdraw each window it hides,
// and Xvfb runs none; windows it does not hand to a window manager are not waited for. Set for the
// packages' names only (Wine's per-program settings), before any of them runs.
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

class StubTest : public ::testing::Test {
 protected:
  static void SetUpTestSuite() {
    for (const std::string& name : {std::string(kPackageName), std::string(kSpacedPackageName), LongPackageName()}) {
      UnmanagedWindowsFor(name);
    }
  }

  void SetUp() override {
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

  // Writes the probe's control file and forgets earlier runs.
  void SetControl(const std::string& text) {
    WriteFileBytes(control, BytesOf(text));
    DeleteFileA((control + ".count").c_str());
    DeleteFileA((control + ".report").c_str());
  }

  LaunchRequest Request(const std::string& arguments) const {
    LaunchRequest request;
    request.program = package;
    request.arguments = arguments;
    request.currentDirectory = workDir;
    request.setEnvironment = {{"SFX_PROBE_CONTROL", control}, {"TEMP", temp}};
    return request;
  }

  LaunchOutcome Run(const std::string& arguments) { return LaunchAndWatch(Request(arguments)); }

  std::vector<ProbeRun> Runs() const {
    Bytes report = ReadFileBytes(control + ".report");
    return ParseReport(std::string(report.begin(), report.end()));
  }

  // The probe's command line for a normal run of good.exe from folder.
  std::string ExpectedCommandLine(const ProbeRun& run, const std::string& received) const {
    const std::string tmp = run.Directory();
    return "\"" + tmp + "\\kelvo.setup\" /a \"" + folder + "\" /t \"" + tmp + "\" /c [" + received +
           "] /l %srcpath% /srcpath \"" + folder + "\"";
  }

  ShortScratch scratch;
  std::string packages, probe, folder, package, control, temp, workDir;
};

TEST_F(StubTest, GoodPackageExtractsRunsTheSetupProgramAndCleansUp) {
  // No silent switch: the progress window runs until the setup program is about to start.
  LaunchOutcome outcome = Run("/x \"a b\"");
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.startError, 0u);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.boxTexts.empty());

  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  ProbeRun& run = runs[0];
  EXPECT_TRUE(IsRunDirectoryOf(run.Directory(), temp)) << run.Directory();
  EXPECT_EQ(Leaf(run.module), "kelvo.setup");
  EXPECT_EQ(run.commandLine, ExpectedCommandLine(run, "/x \"a b\""));
  EXPECT_EQ(run.currentDirectory, workDir);

  // The main program, its running copy and the listed files, with their sizes and stored times.
  std::vector<std::string> names;
  for (const auto& file : run.files) names.push_back(file.first);
  EXPECT_EQ(names, (std::vector<std::string>{"data.bin", "empty.txt", "kelvo.setup", "readme.txt",
                                             "setup.ovr"}));
  const std::string payload = WindowsPathOf(std::getenv("SFX_E2E_PACKAGES")) + "\\payload\\";
  EXPECT_EQ(run.files["readme.txt"].size, std::to_string(ReadFileBytes(payload + "readme.txt").size()));
  EXPECT_EQ(run.files["readme.txt"].time, 1500000000);
  EXPECT_EQ(run.files["data.bin"].size, "70000");
  EXPECT_EQ(run.files["data.bin"].time, 1600000000);
  EXPECT_EQ(run.files["empty.txt"].size, "0");
  EXPECT_EQ(run.files["empty.txt"].time, 1234567890);
  EXPECT_EQ(run.files["setup.ovr"].size, std::to_string(ReadFileBytes(probe).size()));
  EXPECT_EQ(run.files["kelvo.setup"].size, run.files["setup.ovr"].size);

  // The progress window was taken down before the setup program was resumed.
  for (uint32_t owner : run.progressWindowOwners) EXPECT_NE(owner, outcome.processId);

  // Everyone may read and execute in the directory, and nothing more; what is created inside inherits
  // that. (The system may keep the generic rights or map them to the file rights.)
  ASSERT_FALSE(run.everyoneEntries.empty());
  GENERIC_MAPPING files = {FILE_GENERIC_READ, FILE_GENERIC_WRITE, FILE_GENERIC_EXECUTE, FILE_ALL_ACCESS};
  DWORD granted = 0;
  unsigned inheritance = 0;
  for (const auto& entry : run.everyoneEntries) {
    DWORD mask = entry.second;
    MapGenericMask(&mask, &files);
    granted |= mask;
    inheritance |= entry.first & (OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE);
  }
  EXPECT_EQ(granted, static_cast<DWORD>(FILE_GENERIC_READ | FILE_GENERIC_EXECUTE));
  EXPECT_EQ(granted & (FILE_WRITE_DATA | FILE_APPEND_DATA | FILE_DELETE_CHILD | DELETE | WRITE_DAC |
                       WRITE_OWNER | FILE_WRITE_ATTRIBUTES | FILE_WRITE_EA), 0u);
  EXPECT_EQ(inheritance, static_cast<unsigned>(OBJECT_INHERIT_ACE | CONTAINER_INHERIT_ACE));

  // Afterwards: the directory is gone, nothing was left in the current directory or beside the
  // package.
  EXPECT_FALSE(Exists(run.Directory()));
  EXPECT_TRUE(Entries(temp).empty());
  EXPECT_TRUE(Entries(workDir).empty());
  EXPECT_EQ(Entries(folder).size(), 6u);  // setup.exe, probe.ctl(.count, .report), temp, work
}

TEST_F(StubTest, RunLoopRepeatsWhileTheSetupProgramAsksAtMostThreeTimes) {
  struct Case {
    const char* exitCodes;
    const char* arguments;
    size_t runs;
    uint32_t exitCode;
  };
  const Case cases[] = {
      {"0x20000010,0", "/silent", 2, 0},
      {"0x20000010", "/silent", 3, kRunAgain},
      {"0x20000010", "/msi", 3, 1603},
  };
  for (const auto& c : cases) {
    SetControl(std::string("exit=") + c.exitCodes + "\n");
    LaunchOutcome outcome = Run(c.arguments);
    EXPECT_EQ(outcome.exitCode, c.exitCode) << c.exitCodes << " " << c.arguments;
    std::vector<ProbeRun> runs = Runs();
    ASSERT_EQ(runs.size(), c.runs) << c.exitCodes << " " << c.arguments;
    for (const ProbeRun& run : runs) {
      // Every pass runs a fresh copy of the main program, with the same command line.
      EXPECT_EQ(run.commandLine, ExpectedCommandLine(runs[0], c.arguments));
      EXPECT_EQ(run.Directory(), runs[0].Directory());
      EXPECT_EQ(run.files.count("kelvo.setup"), 1u);
    }
    EXPECT_TRUE(outcome.boxTexts.empty());
    EXPECT_TRUE(Entries(temp).empty());
  }
}

TEST_F(StubTest, MsiCallersGetInstallerCodes) {
  struct Case {
    uint32_t setupExit;
    uint32_t plain;
    uint32_t msi;
  };
  const Case cases[] = {
      {0, 0, 0}, {0x20000000, 0x20000000, 0}, {1223, 1223, 1602}, {5, 5, 1603},
      {3010, 3010, 3010}, {1641, 1641, 1641},
  };
  for (const auto& c : cases) {
    SetControl("exit=" + std::to_string(c.setupExit) + "\n");
    EXPECT_EQ(Run("/msi").exitCode, c.msi) << c.setupExit;
    if (c.plain != c.msi) {
      SetControl("exit=" + std::to_string(c.setupExit) + "\n");
      EXPECT_EQ(Run("/verysilent").exitCode, c.plain) << c.setupExit;
    }
  }
}

TEST_F(StubTest, DamagedPackageShowsTheBoxEvenWhenSilent) {
  Bytes bytes = ReadFileBytes(package);
  bytes[bytes.size() - 100] ^= 0x01;  // inside the signed package data
  WriteFileBytes(package, bytes);

  struct Case {
    const char* arguments;
    uint32_t exitCode;
  };
  for (const Case& c : {Case{"/silent", 1006}, Case{"/msi", 1603}}) {
    LaunchOutcome outcome = Run(c.arguments);
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments;
    // The box shows the error before the mapping.
    EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(1006, kOpeningWords)}) << c.arguments;
    EXPECT_TRUE(Runs().empty());
    EXPECT_TRUE(Entries(temp).empty());
  }
}

TEST_F(StubTest, CommandLineTooLongForTheSetupProgramIsRefused) {
  ASSERT_TRUE(CopyFileA((packages + "\\longcmd.exe").c_str(), package.c_str(), FALSE));
  LaunchOutcome outcome = Run("/silent");
  EXPECT_EQ(outcome.exitCode, 206u);
  EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(206, "spawning")});
  EXPECT_TRUE(Runs().empty());
  EXPECT_TRUE(Entries(temp).empty());
}

TEST_F(StubTest, ProgramNameAndTheBlanksAfterItAreNotPartOfTheCommandLine) {
  const std::string spaced = folder + "\\dir with blanks";
  CreateDirectoryA(spaced.c_str(), nullptr);
  const std::string spacedPackage = spaced + "\\" + kSpacedPackageName;
  ASSERT_TRUE(CopyFileA(package.c_str(), spacedPackage.c_str(), FALSE));
  struct Case {
    std::string program;
    std::string raw;
    std::string received;
    std::string source;
  };
  const Case cases[] = {
      {package, "\"" + package + "\"  \t /silent  two  ", "/silent  two  ", folder},
      {package, package + "\t/silent", "/silent", folder},
      {spacedPackage, "\"" + spacedPackage + "\" /q", "/q", spaced},
      {spacedPackage, "\"" + spacedPackage + "\"", "", spaced},
  };
  for (const auto& c : cases) {
    SetControl("");
    LaunchRequest request = Request("");
    request.program = c.program;
    request.rawCommandLine = c.raw;
    EXPECT_EQ(LaunchAndWatch(request).exitCode, 0u) << c.raw;
    std::vector<ProbeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u) << c.raw;
    const std::string tmp = runs[0].Directory();
    EXPECT_EQ(runs[0].commandLine, "\"" + tmp + "\\kelvo.setup\" /a \"" + c.source + "\" /t \"" + tmp +
                                       "\" /c [" + c.received + "] /l %srcpath% /srcpath \"" +
                                       c.source + "\"")
        << c.raw;
  }
}

TEST_F(StubTest, AutorunRunsACopyAndExitsWithTheCopysExitCode) {
  struct Case {
    const char* arguments;
    const char* exitCodes;
    const char* received;  // %CMDLINE% as the copy received it
    size_t runs;
    uint32_t exitCode;
  };
  const Case cases[] = {
      {"/Autorun /x y", "7", "/x y", 1, 7},
      {"/Autorun", "0", "", 1, 0},
      {"/silent /Autorun", "0", "", 1, 0},  // no blank after the 9th character: no arguments
      {"/Autorun /msi", "5", "/msi", 1, 1603},  // mapped by the copy
      {"/Autorun /msi", "0x20000010", "/msi", 3, 1603},
      // The copy gets no arguments, so it does not map; the first process never maps in this mode.
      {"/msi /Autorun", "0x20000010", "", 3, kRunAgain},
      {"/Autorun /x y", "0x20000010", "/x y", 3, kRunAgain},
  };
  for (const auto& c : cases) {
    SetControl(std::string("exit=") + c.exitCodes + "\n");
    LaunchOutcome outcome = Run(c.arguments);
    ASSERT_FALSE(outcome.timedOut) << c.arguments;
    EXPECT_EQ(outcome.exitCode, c.exitCode) << c.arguments << " " << c.exitCodes;
    EXPECT_TRUE(outcome.boxTexts.empty()) << c.arguments;
    std::vector<ProbeRun> runs = Runs();
    ASSERT_EQ(runs.size(), c.runs) << c.arguments;
    // The copy lives in the first process's directory, so that is its source directory; it
    // extracts into a directory of its own.
    const std::string& line = runs[0].commandLine;
    const size_t suffix = line.rfind(" /srcpath \"");
    ASSERT_NE(suffix, std::string::npos);
    const std::string sourceDirectory = line.substr(suffix + 11, line.size() - suffix - 12);
    EXPECT_TRUE(IsRunDirectoryOf(sourceDirectory, temp)) << sourceDirectory;
    EXPECT_TRUE(IsRunDirectoryOf(runs[0].Directory(), temp)) << runs[0].Directory();
    EXPECT_NE(sourceDirectory, runs[0].Directory());
    const std::string tmp = runs[0].Directory();
    EXPECT_EQ(runs[0].commandLine, "\"" + tmp + "\\kelvo.setup\" /a \"" + sourceDirectory + "\" /t \"" +
                                       tmp + "\" /c [" + c.received + "] /l %srcpath% /srcpath \"" +
                                       sourceDirectory + "\"")
        << c.arguments;
    EXPECT_TRUE(Entries(temp).empty()) << c.arguments;  // both directories removed
  }
}

TEST_F(StubTest, ModulePathTooLongFailsWhileOpening) {
  // Two nested folders bring the package's path to 268 bytes. Wine reaches such a path only relative
  // to the current directory, so the folders are made, and the package started, from inside.
  char saved[MAX_PATH] = "";
  GetCurrentDirectoryA(sizeof saved, saved);
  const std::string outer(120, 'd');
  const std::string inner(120, 'e');
  ASSERT_TRUE(SetCurrentDirectoryA(folder.c_str()));
  ASSERT_TRUE(CreateDirectoryA(outer.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryA(outer.c_str()));
  ASSERT_TRUE(CreateDirectoryA(inner.c_str(), nullptr));
  ASSERT_TRUE(SetCurrentDirectoryA(inner.c_str()));
  ASSERT_TRUE(CopyFileA(package.c_str(), kPackageName, FALSE));
  ASSERT_GT(folder.size() + 1 + outer.size() + 1 + inner.size() + 1 + sizeof kPackageName - 1, 259u);

  LaunchRequest request = Request("/silent");
  request.program = kPackageName;
  request.currentDirectory.clear();  // the deep folder, this process's current one
  LaunchOutcome outcome = LaunchAndWatch(request);

  DeleteFileA(kPackageName);
  SetCurrentDirectoryA("..");
  RemoveDirectoryA(inner.c_str());
  SetCurrentDirectoryA("..");
  RemoveDirectoryA(outer.c_str());
  SetCurrentDirectoryA(saved);

  ASSERT_EQ(outcome.startError, 0u);
  EXPECT_EQ(outcome.exitCode, 206u);
  EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(206, kOpeningWords)});
  EXPECT_TRUE(Runs().empty());
  EXPECT_TRUE(Entries(temp).empty());  // nothing was created
}

TEST_F(StubTest, AutorunIsCaseSensitive) {
  LaunchOutcome outcome = Run("/autorun /AUTORUN");
  EXPECT_EQ(outcome.exitCode, 0u);
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].commandLine, ExpectedCommandLine(runs[0], "/autorun /AUTORUN"));
}

TEST_F(StubTest, AutorunGoesOnWithTheNormalRunWhenTheCopyCannotBeMade) {
  // A name that fits where the package is but not in the temporary directory: the copy there could
  // never be started, so it is not made.
  temp = folder + "\\temp\\a_longer_temporary_folder_name";
  CreateDirectoryA(temp.c_str(), nullptr);
  const size_t copyDirectoryLength = temp.size() + 1 + sizeof kPrefix - 1 + 6;
  ASSERT_LT(folder.size() + 1 + kLongNameLength + 1, 260u);  // the package's own path fits
  ASSERT_GT(copyDirectoryLength + 1 + kLongNameLength + 1, 260u);  // its copy's would not
  const std::string longPackage = folder + "\\" + LongPackageName();
  ASSERT_TRUE(MoveFileA(package.c_str(), longPackage.c_str()));
  package = longPackage;

  SetControl("exit=4\n");
  LaunchOutcome outcome = Run("/silent /Autorun /x y");
  EXPECT_EQ(outcome.exitCode, 4u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  EXPECT_EQ(runs[0].commandLine, ExpectedCommandLine(runs[0], "/silent /Autorun /x y"));
  EXPECT_TRUE(Entries(temp).empty());
}

TEST_F(StubTest, AutorunCopyThatCannotBeStartedEndsTheRunWithTheError) {
  // The copy's command line would not fit 260 bytes: refused, and that error is the exit code.
  LaunchOutcome outcome = Run("/Autorun " + std::string(250, 'x'));
  EXPECT_EQ(outcome.exitCode, 206u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  EXPECT_TRUE(Runs().empty());
  EXPECT_TRUE(Entries(temp).empty());
}

TEST_F(StubTest, TemporaryDirectoryBase) {
  const std::string tmpBase = folder + "\\tmp base";
  CreateDirectoryA(tmpBase.c_str(), nullptr);
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> set;
    std::vector<std::string> unset;
    std::string base;
  };
  const Case cases[] = {
      {"TEMP unset, TMP set", {{"TMP", tmpBase}}, {"TEMP"}, tmpBase},
      {"TEMP with a trailing separator", {{"TEMP", temp + "\\"}}, {}, temp},
      {"TEMP missing", {{"TEMP", folder + "\\missing"}}, {}, "C:\\TEMP"},
      {"TEMP and TMP unset", {}, {"TEMP", "TMP"}, "C:\\TEMP"},
  };
  for (const auto& c : cases) {
    SetControl("");
    LaunchRequest request = Request("/silent");
    request.setEnvironment.erase(request.setEnvironment.begin() + 1);  // TEMP
    for (const auto& variable : c.set) request.setEnvironment.push_back(variable);
    request.unsetEnvironment = c.unset;
    LaunchOutcome outcome = LaunchAndWatch(request);
    EXPECT_EQ(outcome.exitCode, 0u) << c.name;
    std::vector<ProbeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u) << c.name;
    EXPECT_TRUE(IsRunDirectoryOf(runs[0].Directory(), c.base)) << c.name << ": " << runs[0].Directory();
    EXPECT_FALSE(Exists(runs[0].Directory())) << c.name;
  }
  EXPECT_FALSE(Exists(folder + "\\missing"));
}

TEST_F(StubTest, NothingIsExtractedWhenNoDirectoryCanBeCreated) {
  // TEMP names a file: no directory can be made under it.
  const std::string file = folder + "\\not a folder";
  WriteFileBytes(file, BytesOf("x"));
  for (const char* arguments : {"/silent", "/Autorun /x"}) {
    LaunchRequest request = Request(arguments);
    request.setEnvironment[1].second = file;
    LaunchOutcome outcome = LaunchAndWatch(request);
    ASSERT_FALSE(outcome.timedOut);
    EXPECT_EQ(outcome.exitCode, 3u) << arguments;  // the path cannot be found
    EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(3, "extracting main exe")}) << arguments;
    EXPECT_TRUE(Runs().empty());
    EXPECT_TRUE(Entries(workDir).empty());
    EXPECT_EQ(Entries(folder).size(), 5u);  // setup.exe, probe.ctl, temp, work, the file
  }
}

TEST_F(StubTest, SubdirectoryLeftBySetupProgramKeepsTheDirectory) {
  SetControl("mkdir=made by setup\nexit=0x2A\n");
  LaunchOutcome outcome = Run("/silent");
  EXPECT_EQ(outcome.exitCode, 0x2Au);  // the removal's failure is not reported
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  // Every file went; the subdirectory, and so the directory, stayed.
  EXPECT_EQ(Entries(runs[0].Directory()), std::vector<std::string>{"made by setup"});
}

TEST_F(StubTest, PackageIsNotHeldByWhatTheSetupProgramLeavesRunning) {
  const std::string eventName = "sfx-linger-" + std::to_string(GetCurrentProcessId());
  HANDLE release = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
  ASSERT_NE(release, nullptr);
  SetControl("linger=" + probe + "\nlinger_event=" + eventName + "\n");
  LaunchOutcome outcome = Run("/silent");
  EXPECT_EQ(outcome.exitCode, 0u);
  std::vector<ProbeRun> runs = Runs();
  ASSERT_EQ(runs.size(), 1u);
  ASSERT_NE(runs[0].lingerPid, 0u);
  HANDLE linger = OpenProcess(SYNCHRONIZE, FALSE, runs[0].lingerPid);
  ASSERT_NE(linger, nullptr);
  EXPECT_EQ(WaitForSingleObject(linger, 0), static_cast<DWORD>(WAIT_TIMEOUT));  // still running

  const std::string renamed = folder + "\\renamed.exe";
  EXPECT_TRUE(MoveFileA(package.c_str(), renamed.c_str())) << GetLastError();
  EXPECT_TRUE(DeleteFileA(renamed.c_str())) << GetLastError();
  EXPECT_EQ(WaitForSingleObject(linger, 0), static_cast<DWORD>(WAIT_TIMEOUT));

  SetEvent(release);
  WaitForSingleObject(linger, 10000);
  CloseHandle(linger);
  CloseHandle(release);
}

}  // namespace
}  // namespace test
}  // namespace sfx
