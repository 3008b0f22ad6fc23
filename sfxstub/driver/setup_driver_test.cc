#include "sfxstub/driver/setup_driver.h"

#include <gtest/gtest.h>

#include <deque>
#include <new>
#include <string>
#include <utility>
#include <vector>

#include "sfxstub/driver/command_line.h"
#include "sfxstub/platform/out_of_memory.h"
#include "tests/test_support.h"

namespace sfx {
namespace {

bool ShiftJisLead(uint8_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); }

constexpr char kModule[] = "C:\\Downloads\\setup.exe";
constexpr char kTemp[] = "C:\\TEMP\\_kv_sfx.tm~a01234";
constexpr char kOpeningWords[] =
    "opening the self-extract archive\n\nTry to download setup file again.\nIf you use Internet "
    "Explorer, clear it's cache before downloading:\nStart->Control Panel->Internet Options and "
    "Delete Temporary Internet Files.";

// Records every call in order; results come from its public fields.
class FakeServices : public SetupServices {
 public:
  ResultCode modulePathResult = kOk;
  std::string modulePath = kModule;
  ResultCode tempDirResult = kOk;
  std::string tempDir = kTemp;
  bool copyOnceSucceeds = true;
  // One result per WriteRunProgram call; the last one repeats.
  std::deque<ResultCode> copies{kOk};
  ResultCode openResult = kOk;
  ResultCode extractMainResult = kOk;
  ResultCode extractFilesResult = kOk;
  bool extractFilesRunsOutOfMemory = false;
  std::string commandTemplate = "%CMDLINE%";
  std::string silentTemplate;
  bool hasSilentTemplate = false;
  SourcePathPlacement placement = SourcePathPlacement::kEnd;
  // One (result, exit code) per RunAndWait call; the last one repeats.
  std::deque<std::pair<ResultCode, uint32_t>> runs{{kOk, 0}};

  std::vector<std::string> calls;
  std::vector<std::string> runArguments;  // "(none)" for absent arguments

  void InitCommonControls() override { calls.push_back("InitCommonControls"); }
  void StartProgress() override { calls.push_back("StartProgress"); }
  void StopProgress() override { calls.push_back("StopProgress"); }
  ResultCode ModulePath(Text* path) override {
    calls.push_back("ModulePath");
    if (modulePathResult == kOk) *path = modulePath;
    return modulePathResult;
  }
  ResultCode CreateTempDir(Text* directory) override {
    calls.push_back("CreateTempDir");
    *directory = tempDir;
    return tempDirResult;
  }
  bool CopyFileOnce(const Text& source, const Text& target) override {
    calls.push_back("CopyFileOnce " + test::Str(source) + " > " + test::Str(target));
    return copyOnceSucceeds;
  }
  void DeleteFileOnce(const Text& path) override { calls.push_back("DeleteFileOnce " + test::Str(path)); }
  void ClearAttributes(const Text& path) override { calls.push_back("ClearAttributes " + test::Str(path)); }
  ResultCode WriteRunProgram(const Text& source, const Text& target) override {
    calls.push_back("WriteRunProgram " + test::Str(source) + " > " + test::Str(target));
    ResultCode result = copies.front();
    if (copies.size() > 1) copies.pop_front();
    return result;
  }
  void DeleteRunProgram(const Text& path) override { calls.push_back("DeleteRunProgram " + test::Str(path)); }
  ResultCode RunAndWait(const Text& program, const char* arguments, uint32_t* exitCode) override {
    calls.push_back("RunAndWait " + test::Str(program));
    runArguments.push_back(arguments ? arguments : "(none)");
    std::pair<ResultCode, uint32_t> run = runs.front();
    if (runs.size() > 1) runs.pop_front();
    *exitCode = run.first == kOk ? run.second : 0;
    return run.first;
  }
  void RemoveTempDir(const Text& directory) override {
    calls.push_back("RemoveTempDir " + test::Str(directory));
  }
  void ShowErrorBox(const char* text) override {
    calls.push_back("ShowErrorBox");
    boxes.push_back(text);
  }
  ResultCode OpenArchive(const Text& path) override {
    calls.push_back("OpenArchive " + test::Str(path));
    return openResult;
  }
  ResultCode ExtractMainProgram(const Text& destination) override {
    calls.push_back("ExtractMainProgram " + test::Str(destination));
    return extractMainResult;
  }
  ResultCode ExtractFiles(const Text& directory) override {
    calls.push_back("ExtractFiles " + test::Str(directory));
    if (extractFilesRunsOutOfMemory) OutOfMemoryWithExitCodeSeen();
    return extractFilesResult;
  }

  // The exit code the run's handler gave the last OutOfMemory, which the host build follows with
  // std::bad_alloc where the stub ends the process with that code.
  static uint32_t outOfMemoryExitCode;
  static OutOfMemoryHandler runsHandler;
  [[noreturn]] static void OutOfMemoryWithExitCodeSeen() {
    runsHandler = SetOutOfMemoryHandler([] { return outOfMemoryExitCode = runsHandler(); });
    OutOfMemory();
  }
  Text CommandTemplate(bool silentRun) override {
    return silentRun && hasSilentTemplate ? silentTemplate : commandTemplate;
  }
  SourcePathPlacement SourcePathAt() override { return placement; }
  void CloseArchive() override { calls.push_back("CloseArchive"); }

  std::vector<std::string> boxes;

  int Count(const std::string& prefix) const {
    int n = 0;
    for (const auto& call : calls) n += call.compare(0, prefix.size(), prefix) == 0;
    return n;
  }
};

uint32_t FakeServices::outOfMemoryExitCode = 0;
OutOfMemoryHandler FakeServices::runsHandler = nullptr;

uint32_t RunDriver(FakeServices& services, const std::string& commandLine) {
  SetupDriver driver(services, NoLeadBytes);
  return driver.Run(commandLine);
}

const std::string kMain = std::string(kTemp) + "\\setup.ovr";
const std::string kRun = std::string(kTemp) + "\\kelvo.setup";
const std::string kCopy = std::string(kTemp) + "\\setup.exe";

TEST(SetupDriver, GoodRunCallsEverythingInOrder) {
  FakeServices services;
  services.runs = {{kOk, 7}};
  EXPECT_EQ(RunDriver(services, "/x"), 7u);
  const std::vector<std::string> expected = {
      "InitCommonControls",
      "StartProgress",
      "ModulePath",
      "CreateTempDir",
      "OpenArchive " + std::string(kModule),
      "ExtractMainProgram " + kMain,
      "ExtractFiles " + std::string(kTemp),
      "WriteRunProgram " + kMain + " > " + kRun,
      "RunAndWait " + kRun,
      "DeleteRunProgram " + kRun,
      "StopProgress",
      "RemoveTempDir " + std::string(kTemp),
      "CloseArchive",
  };
  EXPECT_EQ(services.calls, expected);
  EXPECT_EQ(services.runArguments, std::vector<std::string>{"/x /srcpath \"C:\\Downloads\""});
  EXPECT_TRUE(services.boxes.empty());
}

TEST(SetupDriver, CommandIsTheExpandedTemplateWithTheSuffix) {
  FakeServices services;
  services.commandTemplate = "A %CMDLINE% B \"%TMPPATH%\"";
  RunDriver(services, "/silent");
  ASSERT_EQ(services.runArguments.size(), 1u);
  EXPECT_EQ(services.runArguments[0],
            "A /silent B \"" + std::string(kTemp) + "\" /srcpath \"C:\\Downloads\"");
}

// An unattended caller's switches pick the package's silent template ("/oem" only hides the window);
// the source path goes where the package says, whichever template runs.
TEST(SetupDriver, SilentSwitchesPickTheSilentTemplateAndThePlacementHolds) {
  struct Case {
    const char* commandLine;
    bool hasSilentTemplate;
    SourcePathPlacement placement;
    const char* arguments;
  };
  const Case cases[] = {
      {"/silent", true, SourcePathPlacement::kStart, "/srcpath \"C:\\Downloads\" /S"},
      {"/verysilent", true, SourcePathPlacement::kEnd, "/S /srcpath \"C:\\Downloads\""},
      {"/msiexec", true, SourcePathPlacement::kNone, "/S"},
      {"/oem", true, SourcePathPlacement::kNone, "[/oem]"},
      {"", true, SourcePathPlacement::kNone, "[]"},
      {"/silent", false, SourcePathPlacement::kNone, "[/silent]"},  // no silent template: the other one
  };
  for (const auto& c : cases) {
    FakeServices services;
    services.commandTemplate = "[%CMDLINE%]";
    services.silentTemplate = "/S";
    services.hasSilentTemplate = c.hasSilentTemplate;
    services.placement = c.placement;
    RunDriver(services, c.commandLine);
    EXPECT_EQ(services.runArguments, std::vector<std::string>{c.arguments}) << c.commandLine;
  }
}

TEST(SetupDriver, ProgramInADriveRootHasTheBareDriveAsSourceDirectory) {
  FakeServices services;
  services.modulePath = "C:\\setup.exe";
  services.commandTemplate = "";
  RunDriver(services, "");
  EXPECT_EQ(services.runArguments, std::vector<std::string>{" /srcpath \"C:\""});
}

TEST(SetupDriver, SilentSwitchesOnlySuppressTheProgressWindow) {
  const char* quiet[] = {"/oem", "/msi", "/silent", "/verysilent", "/msiexec", "x/oemy"};
  for (const char* line : quiet) {
    FakeServices services;
    RunDriver(services, line);
    EXPECT_EQ(services.Count("StartProgress"), 0) << line;
    EXPECT_EQ(services.Count("StopProgress"), 1) << line;  // still called, harmlessly
  }
  const char* loud[] = {"", "/Silent", "/SILENT /OEM", "/x"};
  for (const char* line : loud) {
    FakeServices services;
    RunDriver(services, line);
    EXPECT_EQ(services.Count("StartProgress"), 1) << line;
  }
}

TEST(SetupDriver, RunLoopRepeatsWhileTheSetupProgramAsksAtMostThreeTimes) {
  struct Case {
    std::deque<std::pair<ResultCode, uint32_t>> runs;
    const char* commandLine;
    int passes;
    uint32_t exitCode;
  };
  const Case cases[] = {
      {{{kOk, kRunAgain}, {kOk, 0}}, "", 2, 0},
      {{{kOk, kRunAgain}, {kOk, kRunAgain}, {kOk, 5}}, "", 3, 5},
      {{{kOk, kRunAgain}}, "", 3, kRunAgain},
      {{{kOk, kRunAgain}}, "/msi", 3, kErrorInstallFailure},
      {{{kOk, 0x20000011}}, "", 1, 0x20000011},
  };
  for (const auto& c : cases) {
    FakeServices services;
    services.runs = c.runs;
    EXPECT_EQ(RunDriver(services, c.commandLine), c.exitCode);
    EXPECT_EQ(services.Count("RunAndWait"), c.passes);
    EXPECT_EQ(services.Count("WriteRunProgram"), c.passes);
    EXPECT_EQ(services.Count("DeleteRunProgram"), c.passes);
    EXPECT_TRUE(services.boxes.empty());
  }
}

TEST(SetupDriver, FailureShowsOneBoxWithTheStageReachedOnceTheWindowAndTheDirectoryAreGone) {
  struct Case {
    ResultCode open, extractMain, extractFiles, run;
    const char* head;
    const char* words;
    const char* lastCall;  // the last of the run's steps that was called
  };
  const Case cases[] = {
      {kErrorFileInvalid, kOk, kOk, kOk, "An error 1006 (000003EE)", kOpeningWords, "OpenArchive"},
      {kErrorFileNotFound, kOk, kOk, kOk, "An error 2 (00000002)", kOpeningWords, "OpenArchive"},
      {kOk, kErrorCannotMake, kOk, kOk, "An error 82 (00000052)", "extracting main exe",
       "ExtractMainProgram"},
      {kOk, kOk, kErrorAccessDenied, kOk, "An error 5 (00000005)", "extracting files",
       "ExtractFiles"},
      {kOk, kOk, kOk, kErrorFileNotFound, "An error 2 (00000002)", "spawning", "DeleteRunProgram"},
  };
  for (const auto& c : cases) {
    FakeServices services;
    services.openResult = c.open;
    services.extractMainResult = c.extractMain;
    services.extractFilesResult = c.extractFiles;
    services.runs = {{c.run, 0}};
    const ResultCode error = c.open | c.extractMain | c.extractFiles | c.run;
    EXPECT_EQ(RunDriver(services, "/silent"), error);
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0], std::string(c.head) +
                                     " has occured.\nLast performed operation was:\n" + c.words +
                                     "\n\n");
    // ..., the last step, StopProgress, RemoveTempDir, ShowErrorBox, CloseArchive: a box nobody
    // answers, in a run killed at last, leaves nothing behind.
    const auto& calls = services.calls;
    ASSERT_GE(calls.size(), 5u);
    EXPECT_EQ(calls[calls.size() - 5].compare(0, std::string(c.lastCall).size(), c.lastCall), 0)
        << calls[calls.size() - 5];
    EXPECT_EQ(calls[calls.size() - 4], "StopProgress");
    EXPECT_EQ(calls[calls.size() - 3], "RemoveTempDir " + std::string(kTemp));
    EXPECT_EQ(calls[calls.size() - 2], "ShowErrorBox");
    EXPECT_EQ(calls.back(), "CloseArchive");
    EXPECT_LE(services.Count("RunAndWait"), 1);  // a failed run ends the loop
  }
}

// The setup program runs only from a copy the pass made itself; when that copy cannot be made
// (something stands under the run name, planted or left over), the pass fails with the copy's error
// under "spawning" and nothing runs, on the first pass or a later one.
TEST(SetupDriver, FailedCopyOfTheSetupProgramEndsTheRunWithoutRunningAnything) {
  struct Case {
    std::deque<ResultCode> copies;
    int runs;
  };
  const Case cases[] = {{{80}, 0}, {{kOk, 5}, 1}};
  for (const auto& c : cases) {
    FakeServices services;
    services.copies = c.copies;
    services.runs = {{kOk, kRunAgain}};
    const ResultCode error = c.copies.back();
    EXPECT_EQ(RunDriver(services, "/silent"), error);
    EXPECT_EQ(services.Count("RunAndWait"), c.runs);
    EXPECT_EQ(services.Count("DeleteRunProgram"), c.runs) << "only this run's copies are deleted";
    EXPECT_EQ(services.boxes, std::vector<std::string>{test::Str(ErrorBoxText(error, RunStage::kSpawning))});
  }
}

// Memory that runs out mid-run ends the run as a failure of its stage ends it: the directory goes and
// the box comes, with 8 (mapped under "/msi"), and nothing of the run's later steps happens.
TEST(SetupDriver, OutOfMemoryEndsTheRunAsAFailureOfTheCurrentStage) {
#if !defined(__cpp_exceptions) || defined(_WIN32)
  GTEST_SKIP() << "the stub's own code, built without exceptions, ends the process here";
#endif
  const std::pair<const char*, uint32_t> cases[] = {{"/silent", kErrorNotEnoughMemory}, {"/msi", kErrorInstallFailure}};
  for (const auto& c : cases) {
    FakeServices services;
    services.extractFilesRunsOutOfMemory = true;
    FakeServices::outOfMemoryExitCode = 0;
    EXPECT_THROW(RunDriver(services, c.first), std::bad_alloc);
    EXPECT_EQ(FakeServices::outOfMemoryExitCode, c.second) << c.first;
    const std::vector<std::string> tail = {"ExtractFiles " + std::string(kTemp), "StopProgress",
                                           "RemoveTempDir " + std::string(kTemp), "ShowErrorBox"};
    ASSERT_GE(services.calls.size(), tail.size());
    EXPECT_EQ(std::vector<std::string>(services.calls.end() - tail.size(), services.calls.end()), tail);
    EXPECT_EQ(services.boxes,
              std::vector<std::string>{test::Str(ErrorBoxText(kErrorNotEnoughMemory, RunStage::kExtractingFiles))});
    EXPECT_EQ(SetOutOfMemoryHandler(nullptr), nullptr) << "the handler outlived the run";
  }
}

TEST(ErrorBoxText, SignedDecimalAndEightHexDigits) {
  EXPECT_EQ(ErrorBoxText(kErrorFileInvalid, RunStage::kOpening),
            std::string("An error 1006 (000003EE) has occured.\nLast performed operation was:\n") +
                kOpeningWords + "\n\n");
  EXPECT_EQ(ErrorBoxText(0xFFFFFFFF, RunStage::kOpening).substr(0, 34),
            "An error -1 (FFFFFFFF) has occured");
  EXPECT_EQ(ErrorBoxText(0x2000000B, RunStage::kSpawning),
            "An error 536870923 (2000000B) has occured.\nLast performed operation was:\nspawning\n\n");
  EXPECT_EQ(ErrorBoxText(0x80000000, RunStage::kOpening).substr(0, 43),
            "An error -2147483648 (80000000) has occured");
  EXPECT_EQ(ErrorBoxText(0, RunStage::kOpening).substr(0, 28), "An error 0 (00000000) has oc");
  EXPECT_EQ(ErrorBoxText(206, RunStage::kExtractingFiles),
            "An error 206 (000000CE) has occured.\nLast performed operation was:\nextracting files\n\n");
  char small[12];
  EXPECT_EQ(FormatErrorBox(small, sizeof small, 206, RunStage::kSpawning), 11u);
  EXPECT_STREQ(small, "An error 20");  // cut to the buffer, terminated
  // The box's own buffer holds the longest text uncut.
  char full[kErrorBoxBytes];
  const Text longest = ErrorBoxText(0x80000000, RunStage::kOpening);
  EXPECT_EQ(FormatErrorBox(full, sizeof full, 0x80000000, RunStage::kOpening), longest.size());
  EXPECT_EQ(std::string(full), test::Str(longest));
}

TEST(MapMsiExitCode, InstallerCodes) {
  const std::pair<uint32_t, uint32_t> table[] = {
      {0, 0},
      {0x20000000, 0},
      {1223, 1602},
      {3010, 3010},  // reboot required: a success to the installer
      {1641, 1641},  // reboot initiated: likewise
      {5, 1603},
      {0x20000010, 1603},
      {1602, 1603},
      {1006, 1603},
      {0xFFFFFFFF, 1603},
  };
  for (const auto& row : table) EXPECT_EQ(MapMsiExitCode(row.first), row.second) << row.first;
}

TEST(SetupDriver, MsiModeMapsTheSetupProgramsCodeAndErrorsAlike) {
  const std::pair<uint32_t, uint32_t> codes[] = {
      {0, 0}, {0x20000000, 0}, {1223, 1602}, {5, 1603}, {3010, 3010}, {1641, 1641}};
  for (const auto& code : codes) {
    FakeServices msi;
    msi.runs = {{kOk, code.first}};
    EXPECT_EQ(RunDriver(msi, "/msi"), code.second) << code.first;
    FakeServices plain;
    plain.runs = {{kOk, code.first}};
    EXPECT_EQ(RunDriver(plain, "/x"), code.first) << code.first;
  }
  FakeServices cancelled;
  cancelled.openResult = kErrorCancelled;
  EXPECT_EQ(RunDriver(cancelled, "/msiexec"), kErrorInstallUserExit);
  EXPECT_EQ(cancelled.boxes.size(), 1u);  // the box still comes, with the unmapped code
  EXPECT_NE(cancelled.boxes[0].find("An error 1223 (000004C7)"), std::string::npos);
}

TEST(SetupDriver, ModulePathTooLongFailsBeforeAnythingIsCreated) {
  FakeServices services;
  services.modulePathResult = kErrorFilenameExceedsRange;
  EXPECT_EQ(RunDriver(services, "/Autorun /x"), kErrorFilenameExceedsRange);
  const std::vector<std::string> expected = {"InitCommonControls", "StartProgress", "ModulePath",
                                             "StopProgress", "ShowErrorBox", "CloseArchive"};
  EXPECT_EQ(services.calls, expected);
  ASSERT_EQ(services.boxes.size(), 1u);
  EXPECT_EQ(services.boxes[0], ErrorBoxText(kErrorFilenameExceedsRange, RunStage::kOpening));
}

TEST(SetupDriver, NothingIsExtractedWithoutADirectoryOfThisRun) {
  for (const char* line : {"", "/Autorun /x"}) {
    FakeServices services;
    services.tempDir = "";
    services.tempDirResult = kErrorCannotMake;
    EXPECT_EQ(RunDriver(services, line), kErrorCannotMake) << line;
    EXPECT_EQ(services.Count("OpenArchive"), 1) << line;  // the normal run goes on
    EXPECT_EQ(services.Count("CopyFileOnce"), 0) << line;
    EXPECT_EQ(services.Count("ExtractMainProgram"), 0) << line;
    EXPECT_EQ(services.Count("RemoveTempDir"), 0) << line;
    ASSERT_EQ(services.boxes.size(), 1u);
    EXPECT_EQ(services.boxes[0], ErrorBoxText(kErrorCannotMake, RunStage::kExtractingMain));
  }
  // A damaged package is still reported as such.
  FakeServices damaged;
  damaged.tempDir = "";
  damaged.tempDirResult = kErrorPathNotFound;
  damaged.openResult = kErrorFileInvalid;
  EXPECT_EQ(RunDriver(damaged, ""), kErrorFileInvalid);
}

TEST(SetupDriver, AFailedAccessEntryLeavesTheDirectoryInUse) {
  FakeServices services;
  services.tempDirResult = kErrorInvalidOrdinal;
  services.runs = {{kOk, 4}};
  EXPECT_EQ(RunDriver(services, ""), 4u);
  EXPECT_TRUE(services.boxes.empty());
  EXPECT_EQ(services.Count("RemoveTempDir"), 1);
}

TEST(SetupDriver, RelaunchRunsACopyAndExitsWithItsExitCode) {
  struct Case {
    const char* commandLine;
    std::pair<ResultCode, uint32_t> run;
    const char* arguments;
    uint32_t exitCode;
  };
  const Case cases[] = {
      {"/Autorun /x y", {kOk, 7}, " /x y", 7},
      {"/Autorun", {kOk, 0}, "", 0},
      {"/silent /Autorun", {kOk, 0}, "", 0},
      {"/Autorun /msi", {kOk, 1603}, " /msi", 1603},  // the copy maps; the first process does not
      {"/msi /Autorun", {kOk, kRunAgain}, "", kRunAgain},
      {"/msi /Autorun", {kOk, 1223}, "", 1223},
      {"/Autorun /x", {kErrorFilenameExceedsRange, 0}, " /x", kErrorFilenameExceedsRange},
      {"/Autorun /x", {kErrorAccessDenied, 0}, " /x", kErrorAccessDenied},
  };
  for (const auto& c : cases) {
    FakeServices services;
    services.runs = {c.run};
    EXPECT_EQ(RunDriver(services, c.commandLine), c.exitCode) << c.commandLine;
    std::vector<std::string> expected = {"InitCommonControls"};
    if (!FindSwitches(c.commandLine, NoLeadBytes).Quiet()) expected.push_back("StartProgress");
    for (const std::string& call :
         {std::string("ModulePath"), std::string("CreateTempDir"), "OpenArchive " + std::string(kModule),
          "CopyFileOnce " + std::string(kModule) + " > " + kCopy, "RunAndWait " + kCopy,
          "ClearAttributes " + kCopy, std::string("StopProgress"), "RemoveTempDir " + std::string(kTemp),
          std::string("CloseArchive")}) {
      expected.push_back(call);
    }
    EXPECT_EQ(services.calls, expected) << c.commandLine;
    EXPECT_EQ(services.runArguments, std::vector<std::string>{c.arguments}) << c.commandLine;
    EXPECT_TRUE(services.boxes.empty()) << c.commandLine;
  }
}

// The package is opened (verified, and held against renames and writers) before the copy is made,
// and stays open until the copy has run: a package that does not verify is never copied or run.
TEST(SetupDriver, RelaunchCopiesOnlyAVerifiedPackageThatStaysHeldWhileTheCopyRuns) {
  FakeServices services;
  EXPECT_EQ(RunDriver(services, "/Autorun /x"), 0u);
  const auto at = [&](const std::string& prefix) {
    for (size_t i = 0; i < services.calls.size(); ++i) {
      if (services.calls[i].compare(0, prefix.size(), prefix) == 0) return static_cast<int>(i);
    }
    return -1;
  };
  EXPECT_LT(at("OpenArchive"), at("CopyFileOnce"));
  EXPECT_LT(at("RunAndWait"), at("CloseArchive"));

  FakeServices damaged;
  damaged.openResult = kErrorFileInvalid;
  EXPECT_EQ(RunDriver(damaged, "/Autorun /x"), kErrorFileInvalid);
  EXPECT_EQ(damaged.Count("CopyFileOnce"), 0);
  EXPECT_EQ(damaged.Count("RunAndWait"), 0);
  EXPECT_EQ(damaged.boxes,
            std::vector<std::string>{test::Str(ErrorBoxText(kErrorFileInvalid, RunStage::kOpening))});
}

TEST(SetupDriver, RelaunchFallsBackToTheNormalRunWhenTheCopyCannotBeMade) {
  FakeServices services;
  services.copyOnceSucceeds = false;
  services.runs = {{kOk, 9}};
  EXPECT_EQ(RunDriver(services, "/Autorun /x"), 9u);
  EXPECT_EQ(services.Count("CopyFileOnce"), 1);
  EXPECT_EQ(services.Count("DeleteFileOnce " + kCopy), 1);
  EXPECT_EQ(services.Count("OpenArchive"), 1);
  EXPECT_EQ(services.Count("RunAndWait " + kRun), 1);
  EXPECT_EQ(services.runArguments, std::vector<std::string>{"/Autorun /x /srcpath \"C:\\Downloads\""});

  // A copy path that does not fit 260 bytes is not even tried: it could never be started.
  FakeServices longName;
  longName.modulePath = "C:\\" + std::string(240, 'n') + ".exe";
  EXPECT_EQ(RunDriver(longName, "/Autorun"), 0u);
  EXPECT_EQ(longName.Count("CopyFileOnce"), 0);
  EXPECT_EQ(longName.Count("RunAndWait " + kRun), 1);
}

TEST(SplitModulePath, LastSeparatorOutsideDoubleByteCharacters) {
  Text directory, name;
  SplitModulePath("C:\\a\\b\\setup.exe", NoLeadBytes, &directory, &name);
  EXPECT_EQ(directory, "C:\\a\\b");
  EXPECT_EQ(name, "setup.exe");
  SplitModulePath("C:\\setup.exe", NoLeadBytes, &directory, &name);
  EXPECT_EQ(directory, "C:");
  // 0x95 0x5C is one character: not a separator.
  SplitModulePath("C:\\d\\\x95\\x.exe", ShiftJisLead, &directory, &name);
  EXPECT_EQ(directory, "C:\\d");
  EXPECT_EQ(name, "\x95\\x.exe");
  SplitModulePath("setup.exe", NoLeadBytes, &directory, &name);
  EXPECT_EQ(directory, "");
  EXPECT_EQ(name, "setup.exe");
}

}  // namespace
}  // namespace sfx
