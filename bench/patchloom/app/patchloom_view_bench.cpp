// Patchloom's document view on a display: one frame of scrolling over a 2048 x 2048 image
// (the scroll, the repaint of what came into sight, and the X server finishing it), a
// full repaint of the visible part, and the one conversion of an image for display.
// Run under tools/with-display.
#include <FL/Fl.H>
#include <FL/Fl_Scroll.H>
#include <FL/x.H>
#include <benchmark/benchmark.h>

#include <cstdint>
#include <memory>
#include <vector>

#include "patchloom/app/display_image.h"
#include "patchloom/image/image.h"
#include "platform/desktop/desktop.h"
#include "platform/desktop/image_view_impl.h"
#include "platform/desktop/testing.h"

namespace {

constexpr int kSize = 2048;

std::unique_ptr<CImage> MakeImage(int bits) {
  auto image = std::make_unique<CImage>();
  image->Create(kSize, kSize, bits, -1);
  if (bits == 8) {
    std::vector<std::uint8_t> triples;
    for (int i = 0; i < 256; ++i)
      for (int k = 0; k < 3; ++k) triples.push_back(static_cast<std::uint8_t>(i * (k + 1)));
    image->SetPaletteTriples(256, triples.data());
  }
  for (int y = 0; y < kSize; ++y)
    for (int x = 0; x < kSize; ++x) {
      if (bits == 8)
        image->SetPixelIndex(x, y, (x ^ y) & 0xFF);
      else
        image->SetPixelRGB(x, y, static_cast<std::uint8_t>(x), static_cast<std::uint8_t>(y),
                           static_cast<std::uint8_t>(x ^ y));
    }
  return image;
}

// A 1024 x 768 document window showing the image, shown and drawn once.
struct ShownView {
  ShownView() : frame("View benchmark", 1024, 768) {
    platform::desktop::startDesktop("View benchmark");
    frame.view().setImage(kSize, kSize, DisplayRgb(*MakeImage(24)));
    frame.show();
    platform::desktop::testing::pump(200);
    scroll = static_cast<Fl_Scroll*>(platform::desktop::detail::imageViewWidget(frame.view()));
  }
  // Draws what is damaged and waits until the X server has done it.
  void Finish() {
    Fl::flush();
    XSync(fl_display, False);
  }
  platform::desktop::FrameWindow frame;
  Fl_Scroll* scroll = nullptr;
};

ShownView& View() {
  static ShownView view;
  return view;
}

// Each frame moves the view 24 pixels down and 16 right, back and forth over the image.
void BM_ScrollFrame(benchmark::State& state) {
  ShownView& view = View();
  int x = 0, y = 0, dx = 16, dy = 24;
  for (auto _ : state) {
    if (x + dx < 0 || x + dx > kSize - view.scroll->w()) dx = -dx;
    if (y + dy < 0 || y + dy > kSize - view.scroll->h()) dy = -dy;
    x += dx;
    y += dy;
    view.scroll->scroll_to(x, y);
    view.Finish();
  }
}
BENCHMARK(BM_ScrollFrame)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// The whole visible part drawn again (as after the window was covered).
void BM_FullRepaint(benchmark::State& state) {
  ShownView& view = View();
  view.scroll->scroll_to(512, 512);
  view.Finish();
  for (auto _ : state) {
    view.frame.view().redraw();
    view.Finish();
  }
}
BENCHMARK(BM_FullRepaint)->Unit(benchmark::kMillisecond)->MinTime(2.0);

// Done once whenever a document takes another image.
void BM_DisplayConversion(benchmark::State& state) {
  const std::unique_ptr<CImage> image = MakeImage(static_cast<int>(state.range(0)));
  for (auto _ : state) benchmark::DoNotOptimize(DisplayRgb(*image));
  state.SetItemsProcessed(state.iterations() * kSize * kSize);
}
BENCHMARK(BM_DisplayConversion)->Arg(24)->Arg(8)->Unit(benchmark::kMillisecond);

}  // namespace
