// The run sequence's services on Windows: the progress window, the platform services of
// sfxstub/platform, the message box and the archive appended to the executable.
#ifndef SFXSTUB_DRIVER_WIN32_SETUP_SERVICES_H_
#define SFXSTUB_DRIVER_WIN32_SETUP_SERVICES_H_

#include <windows.h>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/driver/setup_driver.h"
#include "sfxstub/platform/heap_object.h"
#include "sfxstub/platform/held_directory.h"

namespace sfx {

class Win32SetupServices final : public SetupServices {
 public:
  // instance holds the progress window's icon and clip.
  explicit Win32SetupServices(HINSTANCE instance) : instance(instance) {}

  void InitCommonControls() override;
  void StartProgress() override;
  void StopProgress() override;
  ResultCode ModulePath(Text* path) override;
  ResultCode CreateTempDir(Text* directory) override;
  bool CopyFileOnce(const Text& source, const Text& target) override;
  void DeleteFileOnce(const Text& path) override;
  void ClearAttributes(const Text& path) override;
  ResultCode WriteRunProgram(const Text& mainProgram, const Text& runProgram) override;
  void DeleteRunProgram(const Text& path) override;
  ResultCode RunAndWait(const Text& program, const char* arguments, uint32_t* exitCode) override;
  void RemoveTempDir(const Text& directory) override;
  void ShowErrorBox(const char* text) override;

  ResultCode OpenArchive(const Text& path) override;
  ResultCode ExtractMainProgram(const Text& destination) override;
  ResultCode ExtractFiles(const Text& directory) override;
  Text CommandTemplate(bool silentRun) override;
  SourcePathPlacement SourcePathAt() override;
  void CloseArchive() override;

 private:
  HINSTANCE instance;
  HeapObject<SfxArchive> archive;
  // Held from creation to removal: the run's directory, "setup.ovr" since it was written (for
  // writing, others only reading), "kelvo.setup" while a pass runs it (for reading, others likewise).
  HeldDirectory runDirectory;
  FileStream mainProgram;
  FileStream runProgram;
};

}  // namespace sfx

#endif  // SFXSTUB_DRIVER_WIN32_SETUP_SERVICES_H_
