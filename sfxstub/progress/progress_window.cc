// The progress operations where the Win32 user interface runs: the window lives on a thread of its
// own; the main thread sends it the total and leaves its byte counts for the frame timer to take
// (progress_state.h).
#include "sfxstub/progress/progress_window.h"

#include <commctrl.h>

#include <atomic>

#include "sfxstub/platform/heap_object.h"
#include "sfxstub/progress/progress.h"
#include "sfxstub/progress/progress_bar.h"
#include "sfxstub/progress/progress_layout.h"
#include "sfxstub/progress/progress_state.h"

namespace sfx {
namespace {

// From the main thread to the window, applied to the bar on the UI thread; wParam: the total.
constexpr UINT kSetTotalMessage = WM_APP + 1;

constexpr DWORD kAnimationStyle = WS_CHILD | ACS_TRANSPARENT | ACS_AUTOPLAY;
// Clears WS_CAPTION, WS_SYSMENU, WS_MINIMIZEBOX and WS_MAXIMIZEBOX; WS_THICKFRAME stays.
constexpr LONG kNoCaptionMask = static_cast<LONG>(0xFF34FFFF);
constexpr LPARAM kWholeClip = static_cast<LPARAM>(0xFFFF0000);  // frame 0 to the last frame
constexpr DWORD kStopWaitMs = 3000;
// Wakes the UI thread once per frame of the clip (see ProgressThread), and shows held steps.
constexpr UINT_PTR kFrameTimer = 1;
constexpr UINT kFramePeriodMs = 100;

static_assert(kAnimationStyle == 0x40000006, "the animation control's style");

std::atomic<void (*)()> beforeWindowHook{nullptr};

// An event or thread handle, closed on every path.
class UniqueHandle {
 public:
  explicit UniqueHandle(HANDLE handle) : handle(handle) {}
  ~UniqueHandle() {
    if (handle) CloseHandle(handle);
  }
  UniqueHandle(const UniqueHandle&) = delete;
  UniqueHandle& operator=(const UniqueHandle&) = delete;

  HANDLE get() const { return handle; }

 private:
  HANDLE handle;
};

HMENU ControlId(int id) { return reinterpret_cast<HMENU>(static_cast<INT_PTR>(id)); }

Size WindowSize(HWND window) {
  RECT rect;
  if (!window || !GetWindowRect(window, &rect)) return Size{0, 0};
  return Size{rect.right - rect.left, rect.bottom - rect.top};
}

// WM_CREATE: the animation control, and under it the bar unless the total is 0.
void BuildChildren(HWND window) {
  ProgressState& state = ProgressModule();
  HINSTANCE instance = static_cast<HINSTANCE>(state.instance);
  // Published before the total is read: ProgressSetTotal stores the total before it reads the
  // window, so either it sends the total to the window or the total read below is already its own.
  state.window.store(window);

  HWND animation = CreateWindowExA(0, "SysAnimate32", nullptr, kAnimationStyle, 0, 0, 0, 0, window,
                                   ControlId(kAnimationControlId), instance, nullptr);
  SendMessageA(animation, ACM_OPENA, 0,
               reinterpret_cast<LPARAM>(MAKEINTRESOURCEA(state.animationId)));
  Box animationBox = AnimationBox(state.layout, WindowSize(animation));
  SetWindowPos(animation, nullptr, animationBox.x, animationBox.y, 0, 0,
               SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);

  int32_t total = state.total.load();
  if (total != kTotalNoBar) {
    Box barBox = BarBox(state.layout, animationBox);
    state.layout.barWidth = barBox.width;
    HWND barWindow = CreateWindowExA(0, "msctls_progress32", "", WS_CHILD, barBox.x, barBox.y,
                                     barBox.width, barBox.height, window, ControlId(kBarControlId),
                                     instance, nullptr);
    ProgressBar* bar = NewObject<NativeProgressBar>(window, kBarControlId);
    state.bar.store(bar);
    ShowWindow(barWindow, SW_SHOW);
    if (bar) state.feed.Begin(*bar, total, GetTickCount());
  }

  SendMessageA(animation, ACM_PLAY, static_cast<WPARAM>(-1), kWholeClip);
  ShowWindow(animation, SW_SHOW);
}

// Takes the caption away, fits the window around its children and centres it on the screen.
void PlaceWindow(HWND window) {
  SetWindowLongA(window, GWL_STYLE, GetWindowLongA(window, GWL_STYLE) & kNoCaptionMask);
  if (HWND animation = GetDlgItem(window, kAnimationControlId)) {
    HWND bar = GetDlgItem(window, kBarControlId);
    Size barSize = WindowSize(bar);
    Size frame{GetSystemMetrics(SM_CXFRAME), GetSystemMetrics(SM_CYFRAME)};
    Size outer = OuterSize(ProgressModule().layout, WindowSize(animation), bar ? &barSize : nullptr, frame);
    SetWindowPos(window, nullptr, 0, 0, outer.width, outer.height,
                 SWP_NOMOVE | SWP_NOZORDER | SWP_NOACTIVATE | SWP_FRAMECHANGED);
  }
  RECT client;
  GetClientRect(window, &client);
  Point origin = CentredOrigin(Size{GetSystemMetrics(SM_CXSCREEN), GetSystemMetrics(SM_CYSCREEN)},
                               Size{client.right - client.left, client.bottom - client.top});
  SetWindowPos(window, HWND_TOP, origin.x, origin.y, 0, 0, SWP_NOSIZE);
}

// The UI thread. parameter: an event to signal once the thread has its message queue (or null).
DWORD WINAPI ProgressThread(LPVOID parameter) {
  // The queue comes first, so that a quit message posted right after ProgressStart is not lost.
  MSG message;
  PeekMessageA(&message, nullptr, WM_USER, WM_USER, PM_NOREMOVE);
  if (parameter) SetEvent(static_cast<HANDLE>(parameter));
  if (void (*hook)() = beforeWindowHook.load()) hook();

  ProgressState& state = ProgressModule();
  DWORD result = 0;
  HWND window = CreateWindowExA(WS_EX_APPWINDOW, kProgressWindowClass, state.caption, WS_OVERLAPPEDWINDOW,
                                CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, CW_USEDEFAULT, nullptr, nullptr,
                                static_cast<HINSTANCE>(state.instance), nullptr);
  if (window) {
    PlaceWindow(window);
    ShowWindow(window, SW_SHOWNORMAL);
    UpdateWindow(window);
    // The animation control draws from a thread of its own. Some window systems (Wine) put what
    // other threads draw on the screen only when a thread of the process goes back to waiting for
    // messages; without the tick the clip would stand still while the bar does not move. The tick
    // also shows the steps that BarFeed holds back.
    SetTimer(window, kFrameTimer, kFramePeriodMs, nullptr);
  } else {
    result = GetLastError();
  }

  while (GetMessageA(&message, nullptr, 0, 0) > 0) {
    TranslateMessage(&message);
    DispatchMessageA(&message);
  }
  // Only this thread can destroy its window; doing it here closes the clip and deletes the bar
  // object before the thread ends.
  if (window && IsWindow(window)) DestroyWindow(window);
  return result;
}

}  // namespace

void RegisterProgressWindowClass(HINSTANCE instance, int iconId) {
  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_HREDRAW | CS_VREDRAW;
  windowClass.lpfnWndProc = ProgressWindowProc;
  windowClass.hInstance = instance;
  if (iconId != 0) {
    windowClass.hIcon = LoadIconA(instance, MAKEINTRESOURCEA(iconId));
    // The icon group's own small image rather than the large one scaled down.
    windowClass.hIconSm = static_cast<HICON>(
        LoadImageA(instance, MAKEINTRESOURCEA(iconId), IMAGE_ICON, GetSystemMetrics(SM_CXSMICON),
                   GetSystemMetrics(SM_CYSMICON), LR_SHARED));
  }
  windowClass.hbrBackground = reinterpret_cast<HBRUSH>(static_cast<INT_PTR>(COLOR_BTNFACE + 1));
  windowClass.lpszClassName = kProgressWindowClass;
  RegisterClassExA(&windowClass);
  ProgressModule().instance = instance;
}

LRESULT CALLBACK ProgressWindowProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
  ProgressState& state = ProgressModule();
  switch (message) {
    case WM_CREATE:
      BuildChildren(window);
      return 0;
    case WM_DESTROY: {
      if (HWND animation = GetDlgItem(window, kAnimationControlId)) SendMessageA(animation, ACM_OPENA, 0, 0);
      DeleteObject(WithdrawBar(state));
      void* self = window;
      state.window.compare_exchange_strong(self, nullptr);
      DefWindowProcA(window, message, wParam, lParam);
      return 0;
    }
    case WM_NCHITTEST:
      return HTCAPTION;
    case kSetTotalMessage:
      // The sender goes on with its work as soon as the total is taken; the repaint runs meanwhile.
      ReplyMessage(0);
      if (ProgressBar* bar = state.bar.load()) {
        state.feed.SetTotal(*bar, static_cast<int32_t>(wParam), GetTickCount());
      }
      return 0;
    case WM_TIMER: {
      if (wParam != kFrameTimer) return DefWindowProcA(window, message, wParam, lParam);
      const uint32_t bytes = state.pendingBytes.exchange(0);
      if (ProgressBar* bar = state.bar.load()) {
        const uint32_t now = GetTickCount();
        if (bytes != 0) state.feed.Step(*bar, static_cast<int32_t>(bytes), now);
        state.feed.Tick(*bar, now);
      }
      return 0;
    }
    default:
      return DefWindowProcA(window, message, wParam, lParam);
  }
}

void SetBeforeProgressWindowHook(void (*hook)()) { beforeWindowHook.store(hook); }

int32_t ProgressStart(uint16_t animationId, const char* caption, int32_t margin, int32_t barInset,
                      int32_t barWidth, int32_t barHeight) {
  ProgressState& state = ProgressModule();
  if (!RecordStart(state, animationId, caption, ProgressLayout{margin, barInset, barWidth, barHeight})) {
    return 0;
  }
  UniqueHandle ready(CreateEventA(nullptr, TRUE, FALSE, nullptr));
  DWORD threadId = 0;
  HANDLE thread = CreateThread(nullptr, 0, ProgressThread, ready.get(), 0, &threadId);
  if (!thread) return 0;  // the setup runs without a window
  state.thread = thread;
  state.threadId = threadId;
  if (ready.get()) {
    // Until the thread has its queue (or has ended): from then on a quit message reaches it.
    HANDLE either[2] = {ready.get(), thread};
    WaitForMultipleObjects(2, either, FALSE, INFINITE);
  }
  return 0;
}

void ProgressSetTotal(int32_t total) {
  ProgressState& state = ProgressModule();
  state.total.store(total);
  // Counts from before this total do not belong to it; the window drops what it holds when the
  // total arrives.
  state.pendingBytes.store(0);
  if (ProgressListener* listener = CurrentProgressListener()) listener->OnSetTotal(total);
  if (HWND window = static_cast<HWND>(state.window.load())) {
    SendMessageA(window, kSetTotalMessage, static_cast<WPARAM>(static_cast<uint32_t>(total)), 0);
  }
}

void ProgressStep(int32_t bytes) {
  ProgressState& state = ProgressModule();
  if (ProgressListener* listener = CurrentProgressListener()) listener->OnStep(bytes);
  // No message per file: a message to another thread costs the extraction a round trip through the
  // window system for every file written. The frame timer takes the sum (at most 100 ms later).
  if (state.window.load()) state.pendingBytes.fetch_add(static_cast<uint32_t>(bytes));
}

void ProgressStop() {
  RunningWindow running = WithdrawForStop(ProgressModule());
  if (!running.thread) return;
  UniqueHandle thread(static_cast<HANDLE>(running.thread));
  PostThreadMessageA(running.threadId, WM_QUIT, 0, 0);
  // A thread that has not ended by then is left to run, not killed: killed inside a lock it holds
  // (the heap's, the window system's) it would hang the rest of the run. The process's end ends it.
  WaitForSingleObject(thread.get(), kStopWaitMs);
}

}  // namespace sfx
