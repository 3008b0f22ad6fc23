// The progress window's geometry, as plain arithmetic: where the animation and the bar go in the
// window's client area, the window's outer size and its centred position. Portable, so that it is
// tested without a window system.
#ifndef SFXSTUB_PROGRESS_PROGRESS_LAYOUT_H_
#define SFXSTUB_PROGRESS_PROGRESS_LAYOUT_H_

#include <cstdint>

namespace sfx {

struct Size {
  int32_t width;
  int32_t height;
};

struct Point {
  int32_t x;
  int32_t y;
};

struct Box {
  int32_t x;
  int32_t y;
  int32_t width;
  int32_t height;

  int32_t Bottom() const { return y + height; }
};

// The spacing that ProgressStart records; all in pixels.
struct ProgressLayout {
  int32_t margin;     // client edge to the animation: left, top and right
  int32_t barInset;   // bar to the client's left edge, to the animation above it, to the client's bottom
  int32_t barWidth;   // 0: derived from the animation's width
  int32_t barHeight;
};

// The animation control once its clip is open: at (margin, margin), as large as the clip's frames
// (0 by 0 when no clip could be opened).
Box AnimationBox(const ProgressLayout& layout, Size clip);

// The bar under the animation. A barWidth of 0 is derived as 2 * (margin - barInset) + the animation's
// width, so that the bar lines up with the animation's margins.
Box BarBox(const ProgressLayout& layout, const Box& animation);

// The window's outer size for the children's sizes; bar is null for a window without a bar. frame is
// the system's sizing-frame metrics (SM_CXFRAME, SM_CYFRAME).
Size OuterSize(const ProgressLayout& layout, Size animation, const Size* bar, Size frame);

// Top-left corner that centres a client area of the given size on the screen; each halving truncates
// toward zero.
Point CentredOrigin(Size screen, Size client);

}  // namespace sfx

#endif  // SFXSTUB_PROGRESS_PROGRESS_LAYOUT_H_
