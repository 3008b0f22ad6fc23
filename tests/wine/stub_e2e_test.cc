// The stub as a user runs it, under Wine: packages built by the host's sfxpack around the probe
// (probe.cc), started through LaunchAndWatch, which presses OK on the error boxes and reads the full
// exit code. Each case runs in a scratch folder of its own, with TEMP pointing inside it.
#include <windows.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <thread>
#include <vector>

#include "tests/test_support.h"
#include "tests/wine/stub_fixture.h"
#include "tests/wine/stub_launch.h"

namespace sfx {
namespace test {
namespace {

constexpr uint32_t kRunAgain = 0x20000010;

// Further names the packages run under in these tests.
constexpr char kSpacedPackageName[] = "my setup.exe";
constexpr size_t kLongNameLength = 230;

std::string LongPackageName() { return std::string(kLongNameLength - 4, 'n') + ".exe"; }

// Another process's user, who may create files where the run's directory is made (a shared TEMP):
// from a thread of its own it waits for the directory to appear, plants files there, and holds the
// ones marked so open for reading, as a program that is to be run would be held.
class Planter {
 public:
  struct Plant {
    std::string name;
    bool hold;
  };

  Planter(std::string base, std::vector<Plant> plants, Bytes program)
      : base_(std::move(base)), plants_(std::move(plants)), program_(std::move(program)),
        thread_(CreateThread(nullptr, 0, Main, this, 0, nullptr)) {}
  ~Planter() { Stop(); }

  // Ends the watch and lets go of what is held. True when the plants were in place.
  bool Stop() {
    stop_ = true;
    if (thread_) {
      WaitForSingleObject(thread_, INFINITE);
      CloseHandle(thread_);
      thread_ = nullptr;
    }
    for (HANDLE held : held_) CloseHandle(held);
    held_.clear();
    return planted_;
  }

 private:
  static DWORD WINAPI Main(void* self) {
    static_cast<Planter*>(self)->Watch();
    return 0;
  }

  void Watch() {
    while (!stop_) {
      std::vector<std::string> directories = RunDirectoriesIn(base_);
      if (directories.empty()) {
        Sleep(1);
        continue;
      }
      planted_ = true;
      for (const Plant& plant : plants_) {
        const std::string path = directories[0] + "\\" + plant.name;
        HANDLE file = CreateFileA(path.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        DWORD put = 0;
        planted_ = planted_ && file != INVALID_HANDLE_VALUE &&
                   WriteFile(file, program_.data(), static_cast<DWORD>(program_.size()), &put, nullptr);
        CloseHandle(file);
        if (!plant.hold) continue;
        HANDLE held = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        planted_ = planted_ && held != INVALID_HANDLE_VALUE;
        held_.push_back(held);
      }
      return;
    }
  }

  std::string base_;
  std::vector<Plant> plants_;
  Bytes program_;
  std::vector<HANDLE> held_;
  volatile bool stop_ = false;
  volatile bool planted_ = false;
  HANDLE thread_;
};

class StubTest : public StubFixture {
 protected:
  static void SetUpTestSuite() {
    StubFixture::SetUpTestSuite();
    UnmanagedWindowsFor(kSpacedPackageName);
    UnmanagedWindowsFor(LongPackageName());
  }
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

TEST_F(StubTest, CodeSignedPackagesRunAsTheyWereBuilt) {
  // good.exe code-signed, each way; osslsigncode and sfxpack verified both when they were made.
  for (const char* name : {"codesigned.exe", "codesigned-by-hand.exe"}) {
    ASSERT_TRUE(CopyFileA((packages + "\\" + name).c_str(), package.c_str(), FALSE)) << name;
    SetControl("");
    LaunchOutcome outcome = Run("/silent /x");
    ASSERT_FALSE(outcome.timedOut) << name;
    EXPECT_EQ(outcome.exitCode, 0u) << name;
    EXPECT_TRUE(outcome.boxTexts.empty()) << name;
    std::vector<ProbeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u) << name;
    EXPECT_EQ(runs[0].commandLine, ExpectedCommandLine(runs[0], "/silent /x")) << name;
    EXPECT_EQ(runs[0].files["data.bin"].size, "70000") << name;
    EXPECT_EQ(runs[0].files["readme.txt"].time, 1500000000) << name;
    EXPECT_EQ(runs[0].files["setup.ovr"].size, std::to_string(ReadFileBytes(probe).size())) << name;
    EXPECT_TRUE(Entries(temp).empty()) << name;
  }
}

TEST_F(StubTest, ProgressWindowShowsOnlyWithoutASilentSwitch) {
  // A package whose extraction lasts long enough for the polls to find a window that is up.
  ASSERT_TRUE(CopyFileA((packages + "\\large.exe").c_str(), package.c_str(), FALSE));
  struct Case {
    const char* arguments;
    bool window;
  };
  for (const Case& c : {Case{"", true}, Case{"/silent", false}, Case{"/verysilent", false}}) {
    SetControl("");
    LaunchOutcome outcome = Run(c.arguments);
    ASSERT_FALSE(outcome.timedOut) << c.arguments;
    EXPECT_EQ(outcome.exitCode, 0u) << c.arguments;
    EXPECT_TRUE(outcome.boxTexts.empty()) << c.arguments;
    EXPECT_EQ(outcome.progressWindowSeen, c.window) << "arguments '" << c.arguments << "'";
    std::vector<ProbeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u) << c.arguments;
    EXPECT_EQ(runs[0].files["large.bin"].size, "67108864") << c.arguments;
    for (uint32_t owner : runs[0].progressWindowOwners) {
      EXPECT_NE(owner, outcome.processId) << c.arguments << ": gone before the setup program runs";
    }
  }
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

TEST_F(StubTest, NothingIsLeftWhileTheErrorBoxWaitsNorWhenTheRunIsKilledThere) {
  Bytes damaged = ReadFileBytes(package);
  damaged[damaged.size() - 100] ^= 0x01;
  WriteFileBytes(folder + "\\damaged.exe", damaged);
  struct Case {
    std::string package;
    uint32_t code;
    const char* words;
  };
  // Failing while opening, and after every file was extracted.
  const Case cases[] = {{folder + "\\damaged.exe", 1006, kOpeningWords},
                        {packages + "\\longcmd.exe", 206, kSpawningWords}};
  for (const Case& c : cases) {
    ASSERT_TRUE(CopyFileA(c.package.c_str(), package.c_str(), FALSE));
    LaunchRequest request = Request("/silent");
    std::vector<std::string> atBox = {"not called"};
    request.atFirstBox = [&] { atBox = Entries(temp); };
    request.killAtFirstBox = true;
    LaunchOutcome outcome = LaunchAndWatch(request);
    ASSERT_TRUE(outcome.killedAtBox) << c.package;
    EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(c.code, c.words)});
    EXPECT_TRUE(atBox.empty()) << c.package << ": " << atBox[0];
    EXPECT_TRUE(Entries(temp).empty()) << c.package;
    EXPECT_TRUE(Runs().empty());
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

// The relaunch copies the package only once it is verified and held: from the copy until the copy
// has run, nobody can rename the package and put another file in its place.
TEST_F(StubTest, AutorunHoldsThePackageWhileTheCopyRuns) {
  ReleaseEvent gate("sfx-autorun-gate-");
  ASSERT_TRUE(gate.valid());
  SetControl("gate=" + gate.name() + "\n");
  LaunchOutcome outcome;
  std::thread stub([&] { outcome = Run("/silent /Autorun /x"); });
  for (int waited = 0; waited < 600 && Runs().empty(); ++waited) Sleep(100);
  const std::string renamed = folder + "\\renamed.exe";
  const bool movedWhileRunning = MoveFileA(package.c_str(), renamed.c_str()) != FALSE;
  const size_t reports = Runs().size();
  gate.Set();
  stub.join();
  EXPECT_EQ(reports, 1u) << "the copy's setup program is waiting at the gate";
  EXPECT_FALSE(movedWhileRunning) << "the package could be renamed while its copy ran";
  EXPECT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  if (!movedWhileRunning) EXPECT_TRUE(MoveFileA(package.c_str(), renamed.c_str())) << "held no longer";
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
  const size_t copyDirectoryLength = temp.size() + 1 + sizeof kTempPrefix - 1 + 6;
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
  // The copy's command line ("<run folder>\\setup.exe", two blanks, the rest) would be one character
  // longer than CreateProcess takes, though the package's own fits: refused, and that error is the
  // exit code.
  const size_t copyPath = temp.size() + 1 + (sizeof kTempPrefix - 1) + 6 + 1 + (sizeof kPackageName - 1);
  LaunchOutcome outcome = Run("/Autorun " + std::string(32767 - (2 + copyPath + 2), 'x'));
  EXPECT_EQ(outcome.exitCode, 206u);
  EXPECT_TRUE(outcome.boxTexts.empty());
  EXPECT_TRUE(Runs().empty());
  EXPECT_TRUE(Entries(temp).empty());
}

TEST_F(StubTest, TemporaryDirectoryBase) {
  const std::string tmpBase = folder + "\\tmp base";
  CreateDirectoryA(tmpBase.c_str(), nullptr);
  // Windows does not keep anything from being made in a folder for its read-only attribute (Wine
  // does not even keep the attribute on folders); the run must not change it either.
  const std::string readOnly = folder + "\\read only";
  CreateDirectoryA(readOnly.c_str(), nullptr);
  ASSERT_TRUE(SetFileAttributesA(readOnly.c_str(), FILE_ATTRIBUTE_READONLY));
  const DWORD readOnlyAttributes = GetFileAttributesA(readOnly.c_str());
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> set;
    std::vector<std::string> unset;
    std::string base;
  };
  // A TEMP that names no folder is passed over for TMP, and then for what GetTempPathA says; nothing
  // is made anywhere else (no "C:\\TEMP").
  const std::string file = folder + "\\a file";
  WriteFileBytes(file, BytesOf("x"));
  const std::string fallback = FallbackTempBase();
  const Case cases[] = {
      {"TEMP unset, TMP set", {{"TMP", tmpBase}}, {"TEMP"}, tmpBase},
      {"TEMP empty, TMP set", {{"TEMP", ""}, {"TMP", tmpBase}}, {}, tmpBase},
      {"TEMP with a trailing separator", {{"TEMP", temp + "\\"}}, {}, temp},
      {"TEMP missing", {{"TEMP", folder + "\\missing"}}, {}, fallback},
      {"TEMP missing, TMP set", {{"TEMP", folder + "\\missing"}, {"TMP", tmpBase}}, {}, tmpBase},
      {"TEMP a file, TMP set", {{"TEMP", file}, {"TMP", tmpBase}}, {}, tmpBase},
      {"TEMP too long for the buffer", {{"TEMP", folder + "\\" + std::string(300, 'l')}}, {}, fallback},
      {"TEMP and TMP unset", {}, {"TEMP", "TMP"}, TempPathWithoutVariables()},
      {"TEMP a read-only folder", {{"TEMP", readOnly}}, {}, readOnly},
  };
  for (const auto& c : cases) {
    SetControl("");
    LaunchRequest request = Request("/silent");
    request.setEnvironment.erase(request.setEnvironment.begin() + 1);  // TEMP
    for (const auto& variable : c.set) request.setEnvironment.push_back(variable);
    request.unsetEnvironment = c.unset;
    LaunchOutcome outcome = LaunchAndWatch(request);
    EXPECT_EQ(outcome.exitCode, 0u) << c.name;
    EXPECT_TRUE(outcome.boxTexts.empty()) << c.name;
    std::vector<ProbeRun> runs = Runs();
    ASSERT_EQ(runs.size(), 1u) << c.name;
    EXPECT_TRUE(IsRunDirectoryOf(runs[0].Directory(), c.base)) << c.name << ": " << runs[0].Directory();
    EXPECT_FALSE(Exists(runs[0].Directory())) << c.name;
  }
  EXPECT_FALSE(Exists(folder + "\\missing"));
  EXPECT_TRUE(RunDirectoriesIn("C:\\TEMP").empty());
  EXPECT_EQ(GetFileAttributesA(readOnly.c_str()), readOnlyAttributes);
  EXPECT_TRUE(Entries(readOnly).empty());
}

TEST_F(StubTest, NothingIsExtractedWhenNoDirectoryCanBeCreated) {
  // TEMP names a file: no directory can be made under it.
  const std::string file = folder + "\\not a folder";
  WriteFileBytes(file, BytesOf("x"));
  // TEMP names a folder so deep that no run directory inside it fits 260 bytes.
  const std::string outer = folder + "\\" + std::string(120, 'd');
  const std::string deep = outer + "\\" + std::string(245 - outer.size() - 1, 'e');
  ASSERT_TRUE(CreateDirectoryA(outer.c_str(), nullptr));
  ASSERT_TRUE(CreateDirectoryA(deep.c_str(), nullptr));
  ASSERT_GT(deep.size() + 1 + sizeof kTempPrefix - 1 + 6, 259u);
  struct Case {
    std::string temp;
    uint32_t code;
  };
  const Case cases[] = {
      {file, 3},   // TEMP and TMP name a file, and so does GetTempPathA: no folder to make it in
      {deep, 206},  // the name would not fit
  };
  for (const Case& c : cases) {
    for (const char* arguments : {"/silent", "/Autorun /x"}) {
      LaunchRequest request = Request(arguments);
      request.setEnvironment[1].second = c.temp;
      request.setEnvironment.emplace_back("TMP", c.temp);
      LaunchOutcome outcome = LaunchAndWatch(request);
      ASSERT_FALSE(outcome.timedOut);
      EXPECT_EQ(outcome.exitCode, c.code) << c.temp << " " << arguments;
      EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(c.code, "extracting main exe")})
          << c.temp << " " << arguments;
      EXPECT_TRUE(Runs().empty()) << (Runs().empty() ? "" : Runs()[0].Directory());
      EXPECT_TRUE(Entries(workDir).empty());
      EXPECT_TRUE(Entries(deep).empty());
      // setup.exe, probe.ctl, temp, work, the file, the deep folder
      EXPECT_EQ(Entries(folder).size(), 6u);
    }
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
  ReleaseEvent release("sfx-linger-");
  ASSERT_TRUE(release.valid());
  SetControl("linger=" + probe + "\nlinger_event=" + release.name() + "\n");
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

  release.Set();
  WaitForSingleObject(linger, 10000);
  CloseHandle(linger);
}

// Files planted in the run's directory while the package is verified: a program under the run name
// (held open, so that it cannot be copied over) with a DLL beside it, or a file under a name the
// package extracts. The run stops at that step with its error and the box, and nothing planted (nor
// anything else) runs. On Windows the directory's own access list keeps other users out; Wine runs
// every process as one user, so what is tested here is that no existing name is ever written through
// or run.
TEST_F(StubTest, FilesPlantedInTheRunDirectoryAreNeverRunOrWrittenThrough) {
  // Verifying 64 MiB gives the planter time once the directory exists.
  ASSERT_TRUE(CopyFileA((packages + "\\large.exe").c_str(), package.c_str(), FALSE));
  struct Case {
    std::vector<Planter::Plant> plants;
    uint32_t code;
    const char* words;
  };
  const Case cases[] = {
      {{{"kelvo.setup", true}, {"version.dll", false}}, 183, kSpawningWords},  // ERROR_ALREADY_EXISTS
      {{{"setup.ovr", false}}, 82, kExtractingMainWords},
      {{{"large.bin", false}}, 183, kExtractingFilesWords},
  };
  for (const Case& c : cases) {
    const std::string name = c.plants[0].name;
    SetControl("");
    Planter planter(temp, c.plants, ReadFileBytes(probe));
    LaunchOutcome outcome = Run("/silent");
    ASSERT_TRUE(planter.Stop()) << name << ": the directory was gone before anything was planted";
    ASSERT_FALSE(outcome.timedOut) << name;
    EXPECT_EQ(outcome.exitCode, c.code) << name;
    EXPECT_EQ(outcome.boxTexts, std::vector<std::string>{BoxText(c.code, c.words)}) << name;
    EXPECT_TRUE(Runs().empty()) << name << ": a program ran";
    for (const std::string& left : RunDirectoriesIn(temp)) RemoveTree(left);  // what was held stays
  }
}

}  // namespace
}  // namespace test
}  // namespace sfx

namespace sfx {
namespace test {
namespace {

constexpr char kBrandedCaption[] = "Kelvo Tools Setup \xC3\xBC";

TEST_F(StubTest, BrandedPackageTitlesItsProgressWindowAndErrorBoxWithItsCaption) {
  // branded.exe: large.exe's contents, so that the window is up long enough to be read.
  ASSERT_TRUE(CopyFileA((packages + "\\branded.exe").c_str(), package.c_str(), FALSE));
  SetControl("");
  LaunchOutcome outcome = Run("");
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 0u);
  EXPECT_TRUE(outcome.progressWindowSeen);
  EXPECT_EQ(outcome.progressWindowTitle, kBrandedCaption);
  ASSERT_EQ(Runs().size(), 1u);
  EXPECT_EQ(Runs()[0].files["large.bin"].size, "67108864");

  // A damaged copy fails its signature: the box carries the caption too.
  Bytes bytes = ReadFileBytes(package);
  bytes[bytes.size() / 2] ^= 0x55;
  WriteFileBytes(package, bytes);
  SetControl("");
  LaunchRequest request = Request("");
  request.boxCaption = kBrandedCaption;
  outcome = LaunchAndWatch(request);
  ASSERT_FALSE(outcome.timedOut);
  EXPECT_EQ(outcome.exitCode, 1006u);
  EXPECT_EQ(outcome.boxTexts.size(), 1u);
}

// What the system's own readers make of a package's resources (the probe's --resources dump).
std::string ResourcesAsTheSystemReadsThem(const std::string& probe, const std::string& exe, const std::string& folder) {
  LaunchRequest request;
  request.program = probe;
  const std::string dump = folder + "\\resources.txt";
  request.arguments = "--resources \"" + exe + "\" \"" + dump + "\"";
  LaunchOutcome outcome = LaunchAndWatch(request);
  EXPECT_EQ(outcome.exitCode, 0u);
  const Bytes bytes = ReadFileBytes(dump);
  return std::string(bytes.begin(), bytes.end());
}

TEST_F(StubTest, TheSystemReadsTheBrandedPackagesVersionResourceAndIcon) {
  const std::string text = ResourcesAsTheSystemReadsThem(probe, packages + "\\branded.exe", folder);
  for (const char* line :
       {"file_version=2.5.1.0\n", "product_version=2.5.0.0\n", "translation=040904b0\n",
        "FileDescription=Kelvo Tools\n", "ProductName=Kelvo Tools\n", "CompanyName=Kelvo Ltd, Z\xC3\xBCrich\n",
        "LegalCopyright=\xC2\xA9 2026 Kelvo\n", "FileVersion=2.5.1.0\n", "ProductVersion=2.5.0.0\n",
        "OriginalFilename=branded.exe\n", "icon_groups=1\n", "icon_16=16x16\n", "icon_32=32x32\n",
        "icon_256=256x256\n", "extracted_256=256x256\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << "no '" << line << "' in:\n" << text;
  }
}

// good.exe carries the stub's own icon, whose images are PNG: an icon loader that could not read them
// would load none.
TEST_F(StubTest, TheSystemLoadsTheStubsOwnPngIconImages) {
  const std::string text = ResourcesAsTheSystemReadsThem(probe, packages + "\\good.exe", folder);
  for (const char* line : {"icon_groups=1\n", "icon_16=16x16\n", "icon_32=32x32\n"}) {
    EXPECT_NE(text.find(line), std::string::npos) << "no '" << line << "' in:\n" << text;
  }
}

}  // namespace
}  // namespace test
}  // namespace sfx
