#include "sfxstub/driver/win32_setup_services.h"

#include <commctrl.h>

#include <new>

#include "sfxstub/platform/file_utils.h"
#include "sfxstub/platform/path_limits.h"
#include "sfxstub/platform/run_and_wait.h"
#include "sfxstub/platform/temp_dir.h"
#include "sfxstub/progress/progress.h"
#include "sfxstub/progress/progress_bar.h"
#include "sfxstub/progress/progress_window.h"

namespace sfx {
namespace {

constexpr int kIconId = 1;
constexpr uint16_t kAnimationId = 129;
constexpr char kProgressCaption[] = "Setup";
constexpr int32_t kProgressMargin = 6;
constexpr int32_t kProgressBarInset = 6;
constexpr int32_t kProgressBarWidth = 0;  // derived from the animation
constexpr int32_t kProgressBarHeight = 15;

}  // namespace

void Win32SetupServices::InitCommonControls() { ::InitCommonControls(); }

void Win32SetupServices::StartProgress() {
  RegisterProgressWindowClass(instance, kIconId);
  RegisterProgressBarClass(instance);
  ProgressStart(kAnimationId, kProgressCaption, kProgressMargin, kProgressBarInset, kProgressBarWidth,
                kProgressBarHeight);
}

void Win32SetupServices::StopProgress() { ProgressStop(); }

ResultCode Win32SetupServices::ModulePath(std::string* path) {
  char buffer[kMaxPathBytes];
  buffer[0] = '\0';
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0) return GetLastError();
  // A path that fills the buffer was cut (with or without a terminator, by system version).
  if (length >= sizeof buffer) return kErrorFilenameExceedsRange;
  path->assign(buffer, length);
  return kOk;
}

ResultCode Win32SetupServices::CreateTempDir(std::string* directory) {
  char buffer[kMaxPathBytes];
  ResultCode result = CreatePrivateTempDir(buffer, sizeof buffer, kTempDirPrefix);
  *directory = buffer;
  return result;
}

bool Win32SetupServices::CopyFileOnce(const std::string& source, const std::string& target) {
  return CopyFileA(source.c_str(), target.c_str(), TRUE) != FALSE;
}

void Win32SetupServices::DeleteFileOnce(const std::string& path) { DeleteFileA(path.c_str()); }

void Win32SetupServices::ClearAttributes(const std::string& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

ResultCode Win32SetupServices::CopyFileWithRetry(const std::string& source, const std::string& target) {
  return sfx::CopyFileWithRetry(source.c_str(), target.c_str());
}

void Win32SetupServices::DeleteFileWithRetry(const std::string& path) {
  sfx::DeleteFileWithRetry(path.c_str());
}

ResultCode Win32SetupServices::RunAndWait(const std::string& program, const char* arguments,
                                          uint32_t* exitCode) {
  return sfx::RunAndWait(program.c_str(), arguments, exitCode);
}

void Win32SetupServices::RemoveTempDir(const std::string& directory) {
  RemoveDirectoryTree(directory.c_str(), "*.*", false);
}

void Win32SetupServices::ShowErrorBox(const std::string& text) {
  MessageBoxA(nullptr, text.c_str(), kErrorBoxCaption, MB_OK | MB_ICONERROR);
}

ResultCode Win32SetupServices::OpenArchive(const std::string& path) {
  archive.reset(new (std::nothrow) SfxArchive());
  if (!archive) return kErrorNotEnoughMemory;
  return archive->Open(path.c_str());
}

ResultCode Win32SetupServices::ExtractMainProgram(const std::string& destination) {
  return archive->ExtractMainProgram(destination.c_str());
}

ResultCode Win32SetupServices::ExtractFiles(const std::string& directory) {
  return archive->ExtractFiles(directory.c_str());
}

std::string Win32SetupServices::CommandTemplate() { return archive->commandTemplate; }

void Win32SetupServices::CloseArchive() { archive.reset(); }

}  // namespace sfx
