#include "sfxstub/driver/setup_driver.h"


#include "sfxstub/driver/command_line.h"
#include "sfxstub/driver/command_template.h"
#include "sfxstub/platform/join_path.h"
#include "sfxstub/platform/out_of_memory.h"
#include "sfxstub/platform/path_limits.h"

namespace sfx {
namespace {

constexpr char kStageWordsOpening[] =
    "opening the self-extract archive\n\nTry to download setup file again.\nIf you use Internet "
    "Explorer, clear it's cache before downloading:\nStart->Control Panel->Internet Options and "
    "Delete Temporary Internet Files.";
constexpr char kStageWordsExtractingMain[] = "extracting main exe";
constexpr char kStageWordsExtractingFiles[] = "extracting files";
constexpr char kStageWordsSpawning[] = "spawning";

const char* StageWords(RunStage stage) {
  switch (stage) {
    case RunStage::kOpening: return kStageWordsOpening;
    case RunStage::kExtractingMain: return kStageWordsExtractingMain;
    case RunStage::kExtractingFiles: return kStageWordsExtractingFiles;
    case RunStage::kSpawning: return kStageWordsSpawning;
  }
  return "";
}

// Paths inside the temporary directory are Windows paths on every platform.
Text InTempDir(const Text& directory, const char* name) { return JoinPath(directory, name, '\\'); }

// The driver whose run is under way, for the out-of-memory handler; one run at a time.
SetupDriver* runningDriver = nullptr;

uint32_t EndRunningDriverOutOfMemory() {
  return runningDriver != nullptr ? runningDriver->EndOutOfMemory() : kErrorNotEnoughMemory;
}

// Appends text to a buffer of fixed size, cutting what does not fit; no heap.
class BoxWriter {
 public:
  BoxWriter(char* buffer, size_t size) : buffer(buffer), size(size) {
    if (size > 0) buffer[0] = '\0';
  }
  void Append(const char* text, size_t count) {
    for (size_t i = 0; i < count && length + 1 < size; ++i) buffer[length++] = text[i];
    if (size > 0) buffer[length] = '\0';
  }
  void Append(const char* text) {
    size_t count = 0;
    while (text[count] != '\0') ++count;
    Append(text, count);
  }
  size_t Length() const { return length; }

 private:
  char* buffer;
  size_t size;
  size_t length = 0;
};

}  // namespace

// The result as "%d" and "%08X" would print it. Formatted here: the C library's formatter, with its
// floating-point support, would take more room in the stub than the whole driver.
size_t FormatErrorBox(char* buffer, size_t size, ResultCode result, RunStage stage) {
  char decimal[11];  // "-2147483648" without its sign
  char* digits = decimal + sizeof decimal;
  const bool negative = static_cast<int32_t>(result) < 0;
  for (uint32_t rest = negative ? 0u - result : result; digits == decimal + sizeof decimal || rest > 0;
       rest /= 10) {
    *--digits = static_cast<char>('0' + rest % 10);
  }
  char hex[8];
  for (int i = 0; i < 8; ++i) hex[i] = "0123456789ABCDEF"[(result >> (28 - 4 * i)) & 0xF];
  BoxWriter text(buffer, size);
  text.Append("An error ");
  if (negative) text.Append("-");
  text.Append(digits, static_cast<size_t>(decimal + sizeof decimal - digits));
  text.Append(" (");
  text.Append(hex, sizeof hex);
  text.Append(") has occured.\nLast performed operation was:\n");
  text.Append(StageWords(stage));
  text.Append("\n\n");
  return text.Length();
}

Text ErrorBoxText(ResultCode result, RunStage stage) {
  char buffer[512];
  size_t length = FormatErrorBox(buffer, sizeof buffer, result, stage);
  return Text(buffer, length);
}

uint32_t MapMsiExitCode(uint32_t result) {
  switch (result) {
    case kOk:
    case kSetupSuccessAlternate:
      return kOk;
    case kErrorSuccessRebootRequired:
    case kErrorRebootInitiated:
      return result;
    case kErrorCancelled:
      return kErrorInstallUserExit;
    default:
      return kErrorInstallFailure;
  }
}

void SplitModulePath(const Text& path, LeadBytePredicate isLead, Text* directory, Text* name) {
  size_t separator = FindLastChar(path, '\\', isLead);
  if (separator == kNotFound) {
    directory->clear();
    *name = path.Copy();
    return;
  }
  *directory = path.substr(0, separator);
  *name = path.substr(separator + 1);
}

namespace {

// Clears the out-of-memory handler on every path out of Run.
class OutOfMemoryScope {
 public:
  explicit OutOfMemoryScope(SetupDriver* driver) {
    runningDriver = driver;
    SetOutOfMemoryHandler(EndRunningDriverOutOfMemory);
  }
  ~OutOfMemoryScope() {
    SetOutOfMemoryHandler(nullptr);
    runningDriver = nullptr;
  }
  OutOfMemoryScope(const OutOfMemoryScope&) = delete;
  OutOfMemoryScope& operator=(const OutOfMemoryScope&) = delete;
};

}  // namespace

uint32_t SetupDriver::Run(const Text& commandLine) {
  OutOfMemoryScope outOfMemory(this);
  services.InitCommonControls();
  const Switches switches = FindSwitches(commandLine, isLead);
  msi = switches.msi;
  if (!switches.Quiet()) services.StartProgress();

  uint32_t exitCode = 0;
  ResultCode result = services.ModulePath(&modulePath);
  if (result == kOk) {
    SplitModulePath(modulePath, isLead, &sourceDirectory, &ownFileName);
    // A directory whose access entry could not be added is still this run's own: only its absence
    // matters (ExtractAndRun).
    tempDirResult = services.CreateTempDir(&tempDirectory);
    // Opened (verified, and held against writers, renames and deletion) before anything is made of
    // it, the relaunch's copy included: the copy is of the verified bytes.
    stage = RunStage::kOpening;
    result = services.OpenArchive(modulePath);
    if (result == kOk && switches.autorun && Relaunch(commandLine, &exitCode)) return exitCode;
    if (result == kOk) result = ExtractAndRun(commandLine, &exitCode);
  }

  services.StopProgress();
  // The directory goes before the box: nobody may answer it in an unattended run, which is then
  // killed, and must leave nothing behind.
  if (!tempDirectory.empty()) services.RemoveTempDir(tempDirectory);
  if (result != kOk) {
    ShowErrorBox(result);
  } else {
    result = exitCode;
  }
  if (switches.msi) result = MapMsiExitCode(result);
  services.CloseArchive();
  return result;
}

uint32_t SetupDriver::EndOutOfMemory() {
  services.StopProgress();
  // Also with no path recorded yet: memory may have run out just as it was to be kept, and the
  // services know the directory they created.
  services.RemoveTempDir(tempDirectory);
  ShowErrorBox(kErrorNotEnoughMemory);
  return msi ? MapMsiExitCode(kErrorNotEnoughMemory) : kErrorNotEnoughMemory;
}

void SetupDriver::ShowErrorBox(ResultCode result) {
  // Formatted on the stack, where no allocation can fail (with data sections, the cross compiler
  // stores even a zero-filled global in the file).
  char text[kErrorBoxBytes];
  FormatErrorBox(text, sizeof text, result, stage);
  services.ShowErrorBox(text);
}

bool SetupDriver::Relaunch(const Text& commandLine, uint32_t* exitCode) {
  if (tempDirectory.empty()) return false;  // no directory of this run to copy into
  const Text copyPath = InTempDir(tempDirectory, ownFileName.c_str());
  if (copyPath.size() + 1 > kMaxPathBytes) return false;  // a copy there could never be started
  if (!services.CopyFileOnce(modulePath, copyPath)) {
    services.DeleteFileOnce(copyPath);
    return false;
  }
  const Text arguments = RelaunchArguments(commandLine);
  uint32_t copyExitCode = 0;
  ResultCode result = services.RunAndWait(copyPath, arguments.c_str(), &copyExitCode);
  services.ClearAttributes(copyPath);  // a read-only attribute copied along must not block deletion
  services.StopProgress();             // still up when the copy could not be started
  services.RemoveTempDir(tempDirectory);
  services.CloseArchive();
  // The copy's own exit code, already mapped by the copy when "/msi" was among its arguments: a
  // failed or cancelled setup must not come out as success.
  *exitCode = result == kOk ? copyExitCode : result;
  return true;
}

ResultCode SetupDriver::ExtractAndRun(const Text& commandLine, uint32_t* exitCode) {
  const Text mainProgram = InTempDir(tempDirectory, kMainProgramName);
  const Text runProgram = InTempDir(tempDirectory, kRunProgramName);
  stage = RunStage::kExtractingMain;
  // Nothing is ever extracted outside a directory this run created.
  if (tempDirectory.empty()) return tempDirResult != kOk ? tempDirResult : kErrorCannotMake;
  ResultCode result = services.ExtractMainProgram(mainProgram);
  if (result != kOk) return result;

  stage = RunStage::kExtractingFiles;
  result = services.ExtractFiles(tempDirectory);
  if (result != kOk) return result;

  const Text command = BuildCommand(services.CommandTemplate(FindSwitches(commandLine, isLead).SilentRun()),
                                    services.SourcePathAt(), sourceDirectory, tempDirectory, commandLine, isLead);
  stage = RunStage::kSpawning;
  for (int pass = 0; pass < kMaxSetupRuns; ++pass) {
    // Only a file this pass wrote may run, from the bytes the run holds: a file already standing
    // under the run name is not ours, and nothing is copied by name.
    result = services.WriteRunProgram(mainProgram, runProgram);
    if (result != kOk) break;
    result = services.RunAndWait(runProgram, command.c_str(), exitCode);
    services.DeleteRunProgram(runProgram);
    if (result != kOk || *exitCode != kRunAgain) break;
  }
  return result;
}

}  // namespace sfx
