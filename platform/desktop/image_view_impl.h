// The widgets behind an ImageView, for the frame window's layout and the window tests.
#pragma once

class Fl_Widget;

namespace platform::desktop {
class ImageView;
namespace detail {
// The scroll area (placed by a layout) and the canvas inside it (which takes the mouse).
Fl_Widget* imageViewWidget(ImageView& view);
Fl_Widget* imageViewCanvas(ImageView& view);
}  // namespace detail
}  // namespace platform::desktop
