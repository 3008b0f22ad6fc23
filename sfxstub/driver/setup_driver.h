// The run sequence of the program: switches, progress window, private temporary directory, the
// relaunch of a copy ("/Autorun"), the archive's extraction, the setup program's runs, the one error
// box, the Windows Installer mapping and the clean-up. Portable: everything it does to the system goes
// through SetupServices (win32_setup_services.h on Windows; fakes in tests).
#ifndef SFXSTUB_DRIVER_SETUP_DRIVER_H_
#define SFXSTUB_DRIVER_SETUP_DRIVER_H_

#include <cstddef>
#include <cstdint>

#include "sfxstub/archive/entry_name.h"
#include "sfxstub/archive/source_path_placement.h"
#include "sfxstub/platform/multibyte.h"
#include "sfxstub/platform/text.h"
#include "sfxstub/result_code.h"

namespace sfx {

// The last operation begun; selects the words of the error box.
enum class RunStage { kOpening = 0, kExtractingMain = 1, kExtractingFiles = 2, kSpawning = 3 };

constexpr char kErrorBoxCaption[] = "Setup Selfextract";
constexpr int kMaxSetupRuns = 3;

class SetupServices {
 public:
  virtual ~SetupServices() = default;

  virtual void InitCommonControls() = 0;
  // Registers the window classes and starts the progress window.
  virtual void StartProgress() = 0;
  // Safe when nothing runs.
  virtual void StopProgress() = 0;
  // The running executable's full path; 206 when it does not fit 260 bytes.
  virtual ResultCode ModulePath(Text* path) = 0;
  // Creates the private temporary directory. directory is empty when none was created.
  virtual ResultCode CreateTempDir(Text* directory) = 0;
  // One attempt each, no retry. The copies never replace an existing target.
  virtual bool CopyFileOnce(const Text& source, const Text& target) = 0;
  virtual void DeleteFileOnce(const Text& path) = 0;
  virtual void ClearAttributes(const Text& path) = 0;
  // Writes runProgram, a new file, from the main program as held since ExtractMainProgram wrote it
  // (never copied by name), and holds it, others only reading, until DeleteRunProgram. 0 or the
  // error of the write.
  virtual ResultCode WriteRunProgram(const Text& mainProgram, const Text& runProgram) = 0;
  // Lets the run program go and deletes it, with retries.
  virtual void DeleteRunProgram(const Text& path) = 0;
  // arguments may be null.
  virtual ResultCode RunAndWait(const Text& program, const char* arguments, uint32_t* exitCode) = 0;
  // Lets the held files go, then removes the directory's files and the directory (the one
  // CreateTempDir created; nothing when none was), only while its path still names it; a link inside
  // is removed, never entered; subdirectories stay. Uses no heap: it also runs when memory has run
  // out.
  virtual void RemoveTempDir(const Text& directory) = 0;
  // Uses no heap.
  virtual void ShowErrorBox(const char* text) = 0;

  // The package appended to the executable; the archive lives from OpenArchive to CloseArchive.
  virtual ResultCode OpenArchive(const Text& path) = 0;
  // Writes destination, a new file, and holds it, others only reading, until RemoveTempDir.
  virtual ResultCode ExtractMainProgram(const Text& destination) = 0;
  virtual ResultCode ExtractFiles(const Text& directory) = 0;
  // The silent template when the package has one and silentRun is set, else the command template.
  virtual Text CommandTemplate(bool silentRun) = 0;
  virtual SourcePathPlacement SourcePathAt() = 0;
  virtual void CloseArchive() = 0;
};

class SetupDriver {
 public:
  SetupDriver(SetupServices& services, LeadBytePredicate isLead)
      : services(services), isLead(isLead) {}

  // commandLine: as handed over, after the program's own name. Returns the process exit code.
  // While it runs, a failed allocation anywhere in the stub's own containers ends the run through
  // EndOutOfMemory (out_of_memory.h), not at once.
  uint32_t Run(const Text& commandLine);

  // Ends the run as any failure of the current stage ends it, with error 8: the progress window
  // stopped, the directory removed, the box shown. Returns the exit code (mapped under "/msi"). Uses
  // no heap.
  uint32_t EndOutOfMemory();

 private:
  // With the archive open. Returns false, with nothing started, when the copy cannot be made: the
  // normal run goes on.
  bool Relaunch(const Text& commandLine, uint32_t* exitCode);
  // With the archive open: extraction and the setup program's runs.
  ResultCode ExtractAndRun(const Text& commandLine, uint32_t* exitCode);

  void ShowErrorBox(ResultCode result);

  SetupServices& services;
  LeadBytePredicate isLead;
  bool msi = false;
  RunStage stage = RunStage::kOpening;
  Text modulePath;
  Text sourceDirectory;
  Text ownFileName;
  Text tempDirectory;
  ResultCode tempDirResult = kOk;
};

// The error box's text for a result and the stage reached.
Text ErrorBoxText(ResultCode result, RunStage stage);
// The same into buffer, without the heap; cut to fit size bytes, terminator included. Returns the
// length written.
size_t FormatErrorBox(char* buffer, size_t size, ResultCode result, RunStage stage);
// The error box's buffer. The longest text (the opening stage's words after the longest number) is
// under 400 bytes; a static buffer is stored in the program's file, so it is not made larger.
constexpr size_t kErrorBoxBytes = 1024;

// The exit code a Windows Installer caller ("/msi") expects: 0 and 0x20000000 succeed; 3010 (reboot
// required) and 1641 (reboot initiated) are successes to the installer and pass unchanged; 1223
// (cancelled) becomes 1602; anything else 1603.
uint32_t MapMsiExitCode(uint32_t result);

// Splits a module path at its last '\\': the directory before it (no trailing separator) and the
// name after it. Without a separator the directory is empty and the name is the whole path.
void SplitModulePath(const Text& path, LeadBytePredicate isLead, Text* directory, Text* name);

}  // namespace sfx

#endif  // SFXSTUB_DRIVER_SETUP_DRIVER_H_
