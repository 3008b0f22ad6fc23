#include "sfxstub/driver/win32_setup_services.h"

#include <commctrl.h>

#include "sfxstub/driver/held_file_copy.h"
#include "sfxstub/platform/file_utils.h"
#include "sfxstub/platform/path_limits.h"
#include "sfxstub/platform/retry.h"
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

// A package's maker may title both windows (sfxpack build --caption): string 1 of the module, at
// most 100 UTF-16 units, which the ANSI call gives back in UTF-8 (the manifest's code page). Without
// it each window keeps its own title. Read once; the progress window keeps a pointer to it.
// The buffer comes from the process heap: the cross compiler stores even a zero-filled global array in
// the file.
constexpr UINT kCaptionStringId = 1;
constexpr int kCaptionBytes = 320;
char* brandedCaption = nullptr;
bool captionLoaded = false;

const char* Caption(HINSTANCE instance, const char* fallback) {
  if (!captionLoaded) {
    captionLoaded = true;
    brandedCaption = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, kCaptionBytes));
    if (brandedCaption != nullptr && LoadStringA(instance, kCaptionStringId, brandedCaption, kCaptionBytes) <= 0) {
      brandedCaption[0] = '\0';
    }
  }
  return brandedCaption != nullptr && brandedCaption[0] != '\0' ? brandedCaption : fallback;
}

}  // namespace

void Win32SetupServices::InitCommonControls() { ::InitCommonControls(); }

void Win32SetupServices::StartProgress() {
  RegisterProgressWindowClass(instance, kIconId);
  RegisterProgressBarClass(instance);
  ProgressStart(kAnimationId, Caption(instance, kProgressCaption), kProgressMargin, kProgressBarInset, kProgressBarWidth,
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
  ResultCode result = CreatePrivateTempDir(buffer, sizeof buffer, kTempDirPrefix, &runDirectory);
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

ResultCode Win32SetupServices::WriteRunProgram(const Text&, const Text& runPath) {
  if (!mainProgram.IsOpen()) return kErrorInvalidHandle;
  // Where a folder above may be renamed while this one is held (Wine), the path could lead into
  // another folder by now: nothing is written there, let alone run.
  if (!runDirectory.IsStillNamed()) return kErrorPathNotFound;
  // A name still taken by the last pass's file, while the system lets go of it, is waited for.
  ResultCode result = kOk;
  RetryAttempts(
      [&] {
        result = WriteFromHeldFile(mainProgram, runPath.c_str(), &runProgram);
        return result == kOk;
      },
      [](uint32_t milliseconds) { Sleep(milliseconds); });
  return result;
}

void Win32SetupServices::DeleteRunProgram(const Text& path) {
  runProgram.Close();
  sfx::DeleteFileWithRetry(path.c_str());
}

ResultCode Win32SetupServices::RunAndWait(const Text& program, const char* arguments, uint32_t* exitCode) {
  return sfx::RunAndWait(program.c_str(), arguments, exitCode);
}

void Win32SetupServices::RemoveTempDir(const Text&) {
  runProgram.Close();
  mainProgram.Close();
  runDirectory.Remove();
}

void Win32SetupServices::ShowErrorBox(const char* text) {
  MessageBoxA(nullptr, text, Caption(instance, kErrorBoxCaption), MB_OK | MB_ICONERROR);
}

ResultCode Win32SetupServices::OpenArchive(const Text& path) {
  archive.reset(NewObject<SfxArchive>());
  if (!archive) return kErrorNotEnoughMemory;
  return archive->Open(path.c_str());
}

ResultCode Win32SetupServices::ExtractMainProgram(const Text& destination) {
  // Written through a handle kept until the directory goes: others may read the file, never write,
  // rename or delete it, and the run file of every pass is copied from this handle.
  if (!mainProgram.OpenNew(destination.c_str(), FileShare::kReadOnly)) return kErrorCannotMake;
  ResultCode result = archive->ExtractMainProgram(mainProgram);
  if (result != kOk) {
    mainProgram.Close();
    DeleteFileA(destination.c_str());
  }
  return result;
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
