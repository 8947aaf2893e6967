#include "platform/forms/window/testing.h"

#include <FL/Fl.H>
#include <FL/Fl_Choice.H>
#include <FL/Fl_Double_Window.H>
#include <FL/Fl_Image_Surface.H>
#include <FL/Fl_Input.H>
#include <FL/Fl_Scrollbar.H>
#include <FL/fl_draw.H>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <memory>
#include <vector>

namespace forms::window::testing {
namespace {

using Clock = std::chrono::steady_clock;

Fl_Widget& widgetOf(FormWindows& windows, const TControl& control) {
  Fl_Widget* widget = windows.WidgetOf(control);
  if (widget == nullptr) std::abort();  // a test asked for a control that has no window
  return *widget;
}

// The window's pixels as R, G, B rows, top-down, drawn off screen (other windows on the
// display may cover it); empty when it is not shown.
std::vector<unsigned char> readWindow(Fl_Double_Window* window) {
  if (window == nullptr || !window->shown()) return {};
  Fl::flush();
  Fl_Image_Surface surface(window->w(), window->h());
  surface.set_current();
  surface.draw(window);
  std::unique_ptr<Fl_RGB_Image> image(surface.image());
  Fl_Display_Device::display_device()->set_current();
  if (!image || image->d() < 3 || image->w() != window->w() || image->h() != window->h()) {
    return {};
  }
  const auto* data = reinterpret_cast<const unsigned char*>(image->data()[0]);
  const int depth = image->d();
  const int line = image->ld() != 0 ? image->ld() : image->w() * depth;
  std::vector<unsigned char> rgb;
  rgb.reserve(static_cast<std::size_t>(image->w()) * image->h() * 3);
  for (int y = 0; y < image->h(); ++y) {
    for (int x = 0; x < image->w(); ++x) {
      const unsigned char* p = data + y * line + x * depth;
      rgb.insert(rgb.end(), p, p + 3);
    }
  }
  return rgb;
}

void sendKey(Fl_Window* window, int keysym, const std::string& text) {
  static std::string keptText;  // Fl::e_text must outlive the event
  keptText = text;
  Fl::e_keysym = keysym;
  Fl::e_text = keptText.data();
  Fl::e_length = static_cast<int>(keptText.size());
  Fl::e_state = 0;
  Fl::handle(FL_KEYDOWN, window);
  Fl::e_text = const_cast<char*>("");
  Fl::e_length = 0;
}

}  // namespace

void Pump(int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  for (auto now = Clock::now(); now < end; now = Clock::now()) {
    Fl::wait(std::chrono::duration<double>(end - now).count());
  }
}

bool PumpUntil(const std::function<bool()>& condition, int milliseconds) {
  const auto end = Clock::now() + std::chrono::milliseconds(milliseconds);
  while (!condition()) {
    if (Clock::now() >= end) return condition();
    Fl::wait(0.01);
  }
  return true;
}

void After(int milliseconds, std::function<void()> step) {
  auto* kept = new std::function<void()>(std::move(step));
  Fl::add_timeout(
      milliseconds / 1000.0,
      [](void* data) {
        std::unique_ptr<std::function<void()>> run(static_cast<std::function<void()>*>(data));
        (*run)();
      },
      kept);
}

void Click(FormWindows& windows, const TControl& control, int dx, int dy) {
  Fl_Widget& widget = widgetOf(windows, control);
  Fl_Window* window = widget.window();
  const int x = widget.x() + (dx < 0 ? widget.w() / 2 : dx);
  const int y = widget.y() + (dy < 0 ? widget.h() / 2 : dy);
  Fl::e_x = x;
  Fl::e_y = y;
  Fl::e_x_root = window->x() + x;
  Fl::e_y_root = window->y() + y;
  Fl::e_keysym = FL_Button + 1;
  Fl::e_clicks = 0;
  Fl::e_is_click = 1;
  Fl::e_state = FL_BUTTON1;
  Fl::handle(FL_PUSH, window);
  Fl::e_state = 0;
  Fl::handle(FL_RELEASE, window);
}

void Type(FormWindows& windows, const TEdit& edit, const std::string& text) {
  auto& input = static_cast<Fl_Input&>(widgetOf(windows, edit));
  Fl::focus(&input);
  input.position(input.size(), 0);  // everything selected: the first key replaces it
  for (char c : text) {
    if (c == '\r') {
      sendKey(input.window(), FL_Enter, "\r");
    } else {
      sendKey(input.window(), static_cast<unsigned char>(c), std::string(1, c));
    }
  }
}

void Choose(FormWindows& windows, const TComboBox& list, int index) {
  auto& choice = static_cast<Fl_Choice&>(widgetOf(windows, list));
  choice.value(index);
  choice.do_callback();
}

void ScrollTo(FormWindows& windows, const TScrollBar& bar, int position) {
  auto& scrollbar = static_cast<Fl_Scrollbar&>(widgetOf(windows, bar));
  scrollbar.value(position);
  scrollbar.do_callback();
}

std::string WidgetText(FormWindows& windows, const TControl& control) {
  Fl_Widget& widget = widgetOf(windows, control);
  if (auto* input = dynamic_cast<Fl_Input*>(&widget)) return input->value();
  if (auto* choice = dynamic_cast<Fl_Choice*>(&widget)) {
    const Fl_Menu_Item* item = choice->mvalue();
    return item != nullptr && item->label() != nullptr ? item->label() : "";
  }
  return widget.label() != nullptr ? widget.label() : "";
}

int WidgetValue(FormWindows& windows, const TControl& control) {
  Fl_Widget& widget = widgetOf(windows, control);
  if (auto* choice = dynamic_cast<Fl_Choice*>(&widget)) return choice->value();
  if (auto* valuator = dynamic_cast<Fl_Valuator*>(&widget)) {
    return static_cast<int>(valuator->value());
  }
  return 0;
}

bool WidgetActive(FormWindows& windows, const TControl& control) {
  return widgetOf(windows, control).active() != 0;
}

bool Shown(FormWindows& windows, const TForm& form) {
  Fl_Double_Window* window = windows.WindowOf(form);
  return window != nullptr && window->shown() && window->visible();
}

bool Screenshot(FormWindows& windows, const TForm& form, const std::string& pngPath) {
  Fl_Double_Window* window = windows.WindowOf(form);
  const std::vector<unsigned char> rgb = readWindow(window);
  if (rgb.empty()) return false;
  const int w = window->w(), h = window->h();
  TBitmap bitmap(w, h);
  cairo_surface_t* surface = bitmap.Surface();
  cairo_surface_flush(surface);
  unsigned char* data = cairo_image_surface_get_data(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  for (int y = 0; y < h; ++y) {
    auto* row = reinterpret_cast<std::uint32_t*>(data + y * stride);
    for (int x = 0; x < w; ++x) {
      const unsigned char* p = &rgb[(static_cast<std::size_t>(y) * w + x) * 3];
      row[x] = (std::uint32_t{p[0]} << 16) | (std::uint32_t{p[1]} << 8) | p[2];
    }
  }
  cairo_surface_mark_dirty(surface);
  return bitmap.SaveToPNG(pngPath);
}

TColor ScreenPixel(FormWindows& windows, const TForm& form, int x, int y) {
  Fl_Double_Window* window = windows.WindowOf(form);
  const std::vector<unsigned char> pixels = readWindow(window);
  if (pixels.empty() || x < 0 || y < 0 || x >= window->w() || y >= window->h()) return -1;
  const unsigned char* p = &pixels[(static_cast<std::size_t>(y) * window->w() + x) * 3];
  return rgb(p[0], p[1], p[2]);
}

bool PngLooksBlank(const std::string& pngPath) {
  cairo_surface_t* surface = cairo_image_surface_create_from_png(pngPath.c_str());
  if (cairo_surface_status(surface) != CAIRO_STATUS_SUCCESS) {
    cairo_surface_destroy(surface);
    return true;
  }
  const int w = cairo_image_surface_get_width(surface);
  const int h = cairo_image_surface_get_height(surface);
  const int stride = cairo_image_surface_get_stride(surface);
  const unsigned char* data = cairo_image_surface_get_data(surface);
  bool blank = true;
  const std::uint32_t first =
      w > 0 && h > 0 ? *reinterpret_cast<const std::uint32_t*>(data) & 0xFFFFFF : 0;
  for (int y = 0; y < h && blank; ++y) {
    const auto* row = reinterpret_cast<const std::uint32_t*>(data + y * stride);
    for (int x = 0; x < w && blank; ++x) blank = (row[x] & 0xFFFFFF) == first;
  }
  cairo_surface_destroy(surface);
  return blank;
}

std::string ScreenshotPath(const std::string& name) {
  const char* dir = std::getenv("WORKBENCH_SCREENSHOT_DIR");
  const std::filesystem::path folder = dir != nullptr && *dir != '\0' ? dir : "screenshots";
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  return (folder / name).string();
}

}  // namespace forms::window::testing
