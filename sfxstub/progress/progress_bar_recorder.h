// Tests only: a progress control that records what a ProgressBar sends it, one readable line per call.
#ifndef SFXSTUB_PROGRESS_PROGRESS_BAR_RECORDER_H_
#define SFXSTUB_PROGRESS_PROGRESS_BAR_RECORDER_H_

#include <cstdint>
#include <string>
#include <vector>

#include "sfxstub/progress/progress_bar.h"

namespace sfx {
namespace test {

class BarRecorder : public ProgressBarControl {
 public:
  static constexpr uint32_t kInitialStyle = 0x50000000;  // a visible child window

  void Send(uint32_t message, uintptr_t wParam, intptr_t lParam) override {
    std::string name = message == kBarSetPosMessage       ? "SETPOS"
                       : message == kBarSetRange32Message ? "SETRANGE32"
                       : message == kBarSetMarqueeMessage ? "SETMARQUEE"
                                                          : "message " + std::to_string(message);
    calls.push_back(name + " " + std::to_string(wParam) + " " + std::to_string(lParam));
  }
  uint32_t Style() override { return style; }
  void SetStyle(uint32_t newStyle) override {
    uint32_t changed = newStyle ^ style;
    if (changed == kBarMarqueeStyle) {
      calls.push_back(newStyle & kBarMarqueeStyle ? "style +MARQUEE" : "style -MARQUEE");
    } else {
      calls.push_back("style " + std::to_string(newStyle));
    }
    style = newStyle;
  }

  uint32_t style = kInitialStyle;
  std::vector<std::string> calls;
};

}  // namespace test
}  // namespace sfx

#endif  // SFXSTUB_PROGRESS_PROGRESS_BAR_RECORDER_H_
