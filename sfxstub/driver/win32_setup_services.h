// The run sequence's services on Windows: the progress window, the platform services of
// sfxstub/platform, the message box and the archive appended to the executable.
#ifndef SFXSTUB_DRIVER_WIN32_SETUP_SERVICES_H_
#define SFXSTUB_DRIVER_WIN32_SETUP_SERVICES_H_

#include <windows.h>

#include <memory>

#include "sfxstub/archive/sfx_archive.h"
#include "sfxstub/driver/setup_driver.h"

namespace sfx {

class Win32SetupServices final : public SetupServices {
 public:
  // instance holds the progress window's icon and clip.
  explicit Win32SetupServices(HINSTANCE instance) : instance(instance) {}

  void InitCommonControls() override;
  void StartProgress() override;
  void StopProgress() override;
  ResultCode ModulePath(std::string* path) override;
  ResultCode CreateTempDir(std::string* directory) override;
  bool CopyFileOnce(const std::string& source, const std::string& target) override;
  void DeleteFileOnce(const std::string& path) override;
  void ClearAttributes(const std::string& path) override;
  ResultCode CopyFileWithRetry(const std::string& source, const std::string& target) override;
  void DeleteFileWithRetry(const std::string& path) override;
  ResultCode RunAndWait(const std::string& program, const char* arguments,
                        uint32_t* exitCode) override;
  void RemoveTempDir(const std::string& directory) override;
  void ShowErrorBox(const std::string& text) override;

  ResultCode OpenArchive(const std::string& path) override;
  ResultCode ExtractMainProgram(const std::string& destination) override;
  ResultCode ExtractFiles(const std::string& directory) override;
  std::string CommandTemplate() override;
  void CloseArchive() override;

 private:
  HINSTANCE instance;
  std::unique_ptr<SfxArchive> archive;
};

}  // namespace sfx

#endif  // SFXSTUB_DRIVER_WIN32_SETUP_SERVICES_H_
