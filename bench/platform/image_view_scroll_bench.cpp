// Scrolls a 2048x2048 picture through a 1024x768 frame window, one 24-pixel step a frame,
// and measures each frame from the scroll to the display server having drawn it; then the
// same with the whole view repainted every frame (as after an expose). Prints the median,
// the 95th percentile and the slowest frame. Usage: image_view_scroll_bench [FRAMES].
#include <FL/Fl.H>
#include <FL/Fl_Scroll.H>
#include <FL/x.H>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <vector>

#include "platform/desktop/desktop.h"
#include "platform/desktop/image_view_impl.h"

namespace desk = platform::desktop;

int main(int argc, char** argv) {
  const int frames = argc > 1 ? std::max(1, std::atoi(argv[1])) : 300;
  constexpr int kSize = 2048, kStep = 24;
  desk::startDesktop("Scroll bench");
  desk::FrameWindow frame("Scroll bench", 1024, 768);
  std::vector<std::uint8_t> rgb(std::size_t(kSize) * kSize * 3);
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      std::uint8_t* p = rgb.data() + (std::size_t(y) * kSize + x) * 3;
      p[0] = static_cast<std::uint8_t>(x ^ y), p[1] = static_cast<std::uint8_t>(x), p[2] = y & 0xFF;
    }
  frame.view().setImage(kSize, kSize, std::move(rgb));
  frame.show();
  // Until the window is on the display and drawn once: its first expose comes a little later.
  const auto shownBy = std::chrono::steady_clock::now() + std::chrono::milliseconds(500);
  while (std::chrono::steady_clock::now() < shownBy) Fl::wait(0.02);
  auto* scroll = static_cast<Fl_Scroll*>(desk::detail::imageViewWidget(frame.view()));

  const auto measure = [&](const char* what, bool wholeView) {
    std::vector<double> times;
    int x = 0, y = 0, dx = kStep, dy = kStep;
    for (int k = 0; k < frames; ++k) {
      x += dx, y += dy;
      const int maxX = kSize - scroll->w() + 20, maxY = kSize - scroll->h() + 20;
      if (x < 0 || x > maxX) dx = -dx, x = std::clamp(x, 0, maxX);
      if (y < 0 || y > maxY) dy = -dy, y = std::clamp(y, 0, maxY);
      const auto start = std::chrono::steady_clock::now();
      scroll->scroll_to(x, y);
      if (wholeView) scroll->redraw();
      Fl::flush();
      XSync(fl_display, False);
      times.push_back(
          std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start)
              .count());
    }
    std::sort(times.begin(), times.end());
    std::printf(
        "%s: %d frames of a %dx%d picture in a %dx%d view: median %.2f ms, 95%% %.2f ms, "
        "slowest %.2f ms\n",
        what, frames, kSize, kSize, scroll->w(), scroll->h(), times[times.size() / 2],
        times[times.size() * 95 / 100], times.back());
  };
  measure("scrolling", false);
  measure("whole view repainted", true);
  frame.close();
  return 0;
}
