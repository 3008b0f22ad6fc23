#include "sfxstub/progress/progress_bar.h"

#if defined(_WIN32)
#include <commctrl.h>
#endif

namespace sfx {

void ProgressBar::SetRange(int32_t m) {
  maximum = m;
  control.Send(kBarSetRange32Message, 0, m);
}

void ProgressBar::SetPosition(int32_t p) {
  StopMarquee();
  position = p;
  control.Send(kBarSetPosMessage, static_cast<uint32_t>(p), 0);
}

void ProgressBar::Advance(int32_t delta) {
  StopMarquee();
  // Wraps like the 32-bit register it stands for instead of overflowing.
  position = static_cast<int32_t>(static_cast<uint32_t>(position) + static_cast<uint32_t>(delta));
  control.Send(kBarSetPosMessage, static_cast<uint32_t>(position), 0);
}

void ProgressBar::StartMarquee(uint32_t periodMs) {
  flags |= kMarqueeRuns;
  uint32_t style = control.Style();
  if (style & kBarMarqueeStyle) return;
  control.SetStyle(style | kBarMarqueeStyle);
  control.Send(kBarSetMarqueeMessage, 1, static_cast<intptr_t>(periodMs));
}

void ProgressBar::StopMarquee() {
  flags &= ~kMarqueeRuns;
  uint32_t style = control.Style();
  if (!(style & kBarMarqueeStyle)) return;
  control.SetStyle(style & ~kBarMarqueeStyle);
  control.Send(kBarSetMarqueeMessage, 0, 0);
}

#if defined(_WIN32)

static_assert(kBarSetPosMessage == PBM_SETPOS && kBarSetRange32Message == PBM_SETRANGE32 &&
                  kBarSetMarqueeMessage == PBM_SETMARQUEE && kBarMarqueeStyle == PBS_MARQUEE,
              "the progress control's numbers");

void NativeBarControl::Send(uint32_t message, uintptr_t wParam, intptr_t lParam) {
  SendMessageA(window, message, static_cast<WPARAM>(wParam), static_cast<LPARAM>(lParam));
}

uint32_t NativeBarControl::Style() { return static_cast<uint32_t>(GetWindowLongA(window, GWL_STYLE)); }

void NativeBarControl::SetStyle(uint32_t style) {
  SetWindowLongA(window, GWL_STYLE, static_cast<LONG>(style));
}

int RegisterProgressBarClass(HINSTANCE instance) {
  static const char kClassName[] = "ProgressBarClass";
  WNDCLASSEXA existing = {};
  existing.cbSize = sizeof(existing);
  if (GetClassInfoExA(instance, kClassName, &existing)) return 1;

  WNDCLASSEXA windowClass = {};
  windowClass.cbSize = sizeof(windowClass);
  windowClass.style = CS_OWNDC | CS_DBLCLKS;
  windowClass.lpfnWndProc = DefWindowProcA;
  windowClass.hInstance = instance;
  windowClass.hCursor = LoadCursorA(nullptr, IDC_ARROW);
  windowClass.lpszClassName = kClassName;
  return RegisterClassExA(&windowClass) != 0 ? 1 : 0;
}

#endif  // _WIN32

}  // namespace sfx
