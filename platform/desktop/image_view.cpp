// The scrolling 1:1 image view: a canvas the size of the image inside a scroll area; a
// repaint copies only the visible part of the image to the screen.
#include <FL/Fl.H>
#include <FL/Fl_Scroll.H>
#include <FL/Fl_Widget.H>
#include <FL/fl_draw.H>

#include "platform/desktop/desktop.h"
#include "platform/desktop/image_view_impl.h"

namespace platform::desktop {

namespace {

class Canvas : public Fl_Widget {
 public:
  explicit Canvas(ImageView& owner) : Fl_Widget(0, 0, 1, 1), owner_(owner) {}

  int width = 0, height = 0;
  std::vector<std::uint8_t> rgb;
  std::vector<Overlay> overlays;

  void draw() override {
    int cx = 0, cy = 0, cw = 0, ch = 0;
    fl_clip_box(x(), y(), w(), h(), cx, cy, cw, ch);
    if (cw > 0 && ch > 0 && !rgb.empty()) {
      const std::size_t offset =
          (static_cast<std::size_t>(cy - y()) * width + static_cast<std::size_t>(cx - x())) * 3;
      fl_draw_image(rgb.data() + offset, cx, cy, cw, ch, 3, width * 3);
    }
    drawOverlays();
  }

  int handle(int event) override {
    switch (event) {
      case FL_ENTER:
        return 1;  // so that moves arrive
      case FL_PUSH:
        if (Fl::event_button() == FL_RIGHT_MOUSE)
          send(MouseEvent::rightPress);
        else
          send(Fl::event_clicks() > 0 ? MouseEvent::doubleClick : MouseEvent::press);
        return 1;
      case FL_DRAG:
      case FL_MOVE:
        send(MouseEvent::move);
        return 1;
      case FL_RELEASE:
        send(MouseEvent::release);
        return 1;
      default:
        return Fl_Widget::handle(event);
    }
  }

 private:
  void send(MouseEvent::Kind kind) {
    if (owner_.onMouse) owner_.onMouse({kind, Fl::event_x() - x(), Fl::event_y() - y()});
  }

  void drawOverlays() {
    fl_line_style(FL_SOLID, 2);
    for (const Overlay& o : overlays) {
      fl_color((o.rgb >> 16) & 0xFF, (o.rgb >> 8) & 0xFF, o.rgb & 0xFF);
      if (o.points.size() > 1) {
        if (o.closed)
          fl_begin_loop();
        else
          fl_begin_line();
        for (const auto& [px, py] : o.points) fl_vertex(x() + px, y() + py);
        if (o.closed)
          fl_end_loop();
        else
          fl_end_line();
      }
      for (const auto& [px, py] : o.points) fl_rectf(x() + px - 2, y() + py - 2, 5, 5);
    }
    fl_line_style(0);
  }

  ImageView& owner_;
};

}  // namespace

struct ImageView::Impl {
  Fl_Scroll* scroll = nullptr;
  Canvas* canvas = nullptr;
};

ImageView::ImageView() : impl_(std::make_unique<Impl>()) {
  impl_->scroll = new Fl_Scroll(0, 0, 100, 100);
  impl_->scroll->box(FL_DOWN_BOX);
  impl_->scroll->color(FL_DARK3);
  impl_->canvas = new Canvas(*this);
  impl_->scroll->end();
  clearImage();
}

ImageView::~ImageView() {
  if (impl_->scroll->parent()) impl_->scroll->parent()->remove(impl_->scroll);
  delete impl_->scroll;
}

void ImageView::setImage(int width, int height, std::vector<std::uint8_t> rgbTopDown) {
  Canvas& c = *impl_->canvas;
  if (width <= 0 || height <= 0 ||
      rgbTopDown.size() != static_cast<std::size_t>(width) * height * 3) {
    clearImage();
    return;
  }
  c.width = width;
  c.height = height;
  c.rgb = std::move(rgbTopDown);
  Fl_Scroll& s = *impl_->scroll;
  s.scroll_to(0, 0);
  c.resize(s.x() + Fl::box_dx(s.box()), s.y() + Fl::box_dy(s.box()), width, height);
  c.show();
  s.redraw();
}

void ImageView::clearImage() {
  Canvas& c = *impl_->canvas;
  c.width = c.height = 0;
  c.rgb.clear();
  c.overlays.clear();
  c.hide();
  // The scroll area counts hidden children too: a 1x1 canvas inside its frame asks for
  // no scroll bars.
  Fl_Scroll& s = *impl_->scroll;
  s.scroll_to(0, 0);
  c.resize(s.x() + Fl::box_dx(s.box()), s.y() + Fl::box_dy(s.box()), 1, 1);
  s.redraw();
}

int ImageView::imageWidth() const { return impl_->canvas->width; }
int ImageView::imageHeight() const { return impl_->canvas->height; }

void ImageView::setOverlays(std::vector<Overlay> overlays) {
  impl_->canvas->overlays = std::move(overlays);
  impl_->canvas->redraw();
}

void ImageView::redraw() { impl_->scroll->redraw(); }

namespace detail {
Fl_Widget* imageViewWidget(ImageView& view) { return view.impl().scroll; }
Fl_Widget* imageViewCanvas(ImageView& view) { return view.impl().canvas; }
}  // namespace detail

}  // namespace platform::desktop
