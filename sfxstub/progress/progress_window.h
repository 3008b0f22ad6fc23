// The progress window (Windows only): a captionless window with a sizing frame, centred on the
// screen, that plays the animation clip in a loop above a progress bar. It lives on a user-interface
// thread of its own, which ProgressStart creates and ProgressStop ends (progress.h).
//
// Start-up: InitCommonControls, RegisterProgressWindowClass(instance, 1), RegisterProgressBarClass
// (progress_bar.h), then ProgressStart(129, "Setup", 6, 6, 0, 15). The module needs the "AVI"
// resource 129 and the icon group 1 in `instance` (target sfx_resources).
#ifndef SFXSTUB_PROGRESS_PROGRESS_WINDOW_H_
#define SFXSTUB_PROGRESS_PROGRESS_WINDOW_H_

#include <windows.h>

namespace sfx {

// The window class of the progress window; other processes may look for it with FindWindowA.
constexpr char kProgressWindowClass[] = "AniProgressClass";
// Control ids of its children.
constexpr int kAnimationControlId = 1000;
constexpr int kBarControlId = 1001;

// Registers kProgressWindowClass for the instance and records the instance as the module that holds
// the icon and the clip. iconId 0: no class icon. The result of the registration is not reported.
void RegisterProgressWindowClass(HINSTANCE instance, int iconId);

// The window procedure of kProgressWindowClass.
LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

// Tests only: runs on the UI thread right before it creates the window (null: nothing runs).
void SetBeforeProgressWindowHook(void (*hook)());

}  // namespace sfx

#endif  // SFXSTUB_PROGRESS_PROGRESS_WINDOW_H_
