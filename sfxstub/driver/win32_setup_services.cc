#include "sfxstub/driver/win32_setup_services.h"

#include <commctrl.h>

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

ResultCode Win32SetupServices::ModulePath(Text* path) {
  char buffer[kMaxPathBytes];
  buffer[0] = '\0';
  DWORD length = GetModuleFileNameA(nullptr, buffer, sizeof buffer);
  if (length == 0) return GetLastError();
  // A path that fills the buffer was cut (with or without a terminator, by system version).
  if (length >= sizeof buffer) return kErrorFilenameExceedsRange;
  path->assign(buffer, length);
  return kOk;
}

ResultCode Win32SetupServices::CreateTempDir(Text* directory) {
  char buffer[kMaxPathBytes];
  ResultCode result = CreatePrivateTempDir(buffer, sizeof buffer, kTempDirPrefix);
  *directory = buffer;
  return result;
}

bool Win32SetupServices::CopyFileOnce(const Text& source, const Text& target) {
  return CopyFileA(source.c_str(), target.c_str(), TRUE) != FALSE;
}

void Win32SetupServices::DeleteFileOnce(const Text& path) { DeleteFileA(path.c_str()); }

void Win32SetupServices::ClearAttributes(const Text& path) {
  SetFileAttributesA(path.c_str(), FILE_ATTRIBUTE_NORMAL);
}

ResultCode Win32SetupServices::CopyFileWithRetry(const Text& source, const Text& target) {
  return sfx::CopyFileWithRetry(source.c_str(), target.c_str());
}

void Win32SetupServices::DeleteFileWithRetry(const Text& path) { sfx::DeleteFileWithRetry(path.c_str()); }

ResultCode Win32SetupServices::RunAndWait(const Text& program, const char* arguments, uint32_t* exitCode) {
  return sfx::RunAndWait(program.c_str(), arguments, exitCode);
}

void Win32SetupServices::RemoveTempDir(const Text& directory) {
  RemoveDirectoryTree(directory.c_str(), "*.*", false);
}

void Win32SetupServices::ShowErrorBox(const Text& text) {
  MessageBoxA(nullptr, text.c_str(), kErrorBoxCaption, MB_OK | MB_ICONERROR);
}

ResultCode Win32SetupServices::OpenArchive(const Text& path) {
  archive.reset(NewObject<SfxArchive>());
  if (!archive) return kErrorNotEnoughMemory;
  return archive->Open(path.c_str());
}

ResultCode Win32SetupServices::ExtractMainProgram(const Text& destination) {
  return archive->ExtractMainProgram(destination.c_str());
}

ResultCode Win32SetupServices::ExtractFiles(const Text& directory) {
  return archive->ExtractFiles(directory.c_str());
}

Text Win32SetupServices::CommandTemplate(bool silentRun) {
  if (silentRun && archive->hasSilentCommandTemplate) return archive->silentCommandTemplate.Copy();
  return archive->commandTemplate.Copy();
}

SourcePathPlacement Win32SetupServices::SourcePathAt() { return archive->sourcePathPlacement; }

void Win32SetupServices::CloseArchive() { archive.reset(); }

}  // namespace sfx
