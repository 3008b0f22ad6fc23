// ProgressBar drives a platform progress control ("msctls_progress32"): it keeps its own copy of the
// range and the position and sends each change as one of the control's messages. The messages go
// through ProgressBarControl, so that the sequences can be recorded where no window system runs; on
// Windows NativeProgressBar sends them to a real child window.
#ifndef SFXSTUB_PROGRESS_PROGRESS_BAR_H_
#define SFXSTUB_PROGRESS_PROGRESS_BAR_H_

#include <cstdint>

#if defined(_WIN32)
#include <windows.h>
#endif

namespace sfx {

// The progress control's messages and its marquee style bit.
constexpr uint32_t kBarSetPosMessage = 0x0402;      // PBM_SETPOS
constexpr uint32_t kBarSetRange32Message = 0x0406;  // PBM_SETRANGE32
constexpr uint32_t kBarSetMarqueeMessage = 0x040A;  // PBM_SETMARQUEE
constexpr uint32_t kBarMarqueeStyle = 0x08;         // PBS_MARQUEE

// The calls through which a ProgressBar reaches its control.
class ProgressBarControl {
 public:
  virtual void Send(uint32_t message, uintptr_t wParam, intptr_t lParam) = 0;
  virtual uint32_t Style() = 0;
  virtual void SetStyle(uint32_t style) = 0;

 protected:
  ~ProgressBarControl() = default;
};

// One per bar window; range 0..maximum. Not thread-safe: one calling thread at a time.
class ProgressBar {
 public:
  static constexpr uint32_t kMarqueeRuns = 0x1000;

  // control must outlive the bar.
  explicit ProgressBar(ProgressBarControl& control) : control(control) {}
  virtual ~ProgressBar() = default;
  ProgressBar(const ProgressBar&) = delete;
  ProgressBar& operator=(const ProgressBar&) = delete;

  // Does not touch the marquee.
  void SetRange(int32_t maximum);
  // Both end the marquee first. Advance sends the running sum, never a value read from the control.
  void SetPosition(int32_t position);
  void Advance(int32_t delta);
  // Only a bar without the marquee style gets it (and the period); a running marquee keeps its period.
  void StartMarquee(uint32_t periodMs);
  void StopMarquee();

  uint32_t Flags() const { return flags; }
  int32_t Position() const { return position; }
  int32_t Maximum() const { return maximum; }

 private:
  ProgressBarControl& control;
  uint32_t flags = 0;
  int32_t position = 0;
  int32_t maximum = 100;
};

#if defined(_WIN32)

// The control in native mode: the child with the given id of the given parent (null when there is
// none: the messages then go nowhere), reached by synchronously sent messages.
class NativeBarControl : public ProgressBarControl {
 public:
  NativeBarControl(HWND parent, int controlId) : window(GetDlgItem(parent, controlId)) {}

  void Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override;
  uint32_t Style() override;
  void SetStyle(uint32_t style) override;

 protected:
  ~NativeBarControl() = default;

 private:
  HWND window;
};

// A ProgressBar in native mode. It creates no drawing objects and does not subclass the window; the
// window belongs to its parent and outlives the object.
class NativeProgressBar final : private NativeBarControl, public ProgressBar {
 public:
  NativeProgressBar(HWND parent, int controlId)
      : NativeBarControl(parent, controlId), ProgressBar(static_cast<NativeBarControl&>(*this)) {}
};

// Registers the window class "ProgressBarClass" for the instance: 1 when it is registered (already or
// now), 0 when the registration failed.
int RegisterProgressBarClass(HINSTANCE instance);

#endif  // _WIN32

}  // namespace sfx

#endif  // SFXSTUB_PROGRESS_PROGRESS_BAR_H_
