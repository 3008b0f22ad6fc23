#include "sfxstub/progress/progress_layout.h"

#include <algorithm>

namespace sfx {

Box AnimationBox(const ProgressLayout& layout, Size clip) {
  return Box{layout.margin, layout.margin, clip.width, clip.height};
}

Box BarBox(const ProgressLayout& layout, const Box& animation) {
  int32_t width = layout.barWidth;
  if (width == 0) width = 2 * (layout.margin - layout.barInset) + animation.width;
  return Box{layout.barInset, animation.Bottom() + layout.barInset, width, layout.barHeight};
}

Size OuterSize(const ProgressLayout& layout, Size animation, const Size* bar, Size frame) {
  if (!bar) {
    return Size{animation.width + 2 * layout.margin + frame.width, animation.height + frame.height};
  }
  int32_t width = std::max(animation.width + 2 * layout.margin, bar->width + 2 * layout.barInset);
  int32_t height = animation.height + bar->height + layout.margin + 2 * layout.barInset;
  return Size{width + frame.width + 2, height + frame.height + 2};
}

Point CentredOrigin(Size screen, Size client) {
  return Point{screen.width / 2 - client.width / 2, screen.height / 2 - client.height / 2};
}

}  // namespace sfx
