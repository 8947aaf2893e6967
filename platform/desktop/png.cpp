// Window screenshots as PNG files, drawn off screen so that they show what the window
// would, whatever lies over it on the display.
#include <FL/Fl.H>
#include <FL/Fl_Image.H>
#include <FL/Fl_Image_Surface.H>
#include <FL/Fl_Window.H>
#include <FL/x.H>
#include <png.h>

#include <cstdio>
#include <memory>

#include "platform/desktop/internal.h"

namespace platform::desktop::detail {

namespace {

struct FileCloser {
  void operator()(std::FILE* f) const { std::fclose(f); }
};
using File = std::unique_ptr<std::FILE, FileCloser>;

}  // namespace

bool writePng(const std::string& path, int width, int height, const unsigned char* rgb) {
  File file(std::fopen(path.c_str(), "wb"));
  if (!file || width <= 0 || height <= 0) return false;
  png_structp png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
  png_infop info = png ? png_create_info_struct(png) : nullptr;
  if (!info) {
    png_destroy_write_struct(&png, nullptr);
    return false;
  }
  if (setjmp(png_jmpbuf(png))) {
    png_destroy_write_struct(&png, &info);
    return false;
  }
  png_init_io(png, file.get());
  png_set_IHDR(png, info, width, height, 8, PNG_COLOR_TYPE_RGB, PNG_INTERLACE_NONE,
               PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
  png_write_info(png, info);
  for (int row = 0; row < height; ++row)
    png_write_row(png, const_cast<png_bytep>(rgb + static_cast<std::size_t>(row) * width * 3));
  png_write_end(png, nullptr);
  png_destroy_write_struct(&png, &info);
  return true;
}

bool readPng(const std::string& path, int& width, int& height, std::vector<unsigned char>& rgb) {
  png_image image{};
  image.version = PNG_IMAGE_VERSION;
  if (!png_image_begin_read_from_file(&image, path.c_str())) return false;
  image.format = PNG_FORMAT_RGB;
  rgb.assign(PNG_IMAGE_SIZE(image), 0);
  if (!png_image_finish_read(&image, nullptr, rgb.data(), 0, nullptr)) {
    png_image_free(&image);
    return false;
  }
  width = static_cast<int>(image.width);
  height = static_cast<int>(image.height);
  return true;
}

bool saveWindowPng(Fl_Window* window, const std::string& pngPath) {
  if (!window || window->w() <= 0 || window->h() <= 0) return false;
  fl_open_display();
  std::unique_ptr<Fl_RGB_Image> picture;
  {
    Fl_Image_Surface surface(window->w(), window->h());
    surface.set_current();
    surface.draw(window);
    picture.reset(surface.image());
    Fl_Display_Device::display_device()->set_current();
  }
  if (!picture || picture->d() < 3) return false;
  const int w = picture->w(), h = picture->h(), d = picture->d();
  const int stride = picture->ld() ? picture->ld() : w * d;
  const auto* data = reinterpret_cast<const unsigned char*>(picture->data()[0]);
  std::vector<unsigned char> rgb(static_cast<std::size_t>(w) * h * 3);
  for (int y = 0; y < h; ++y)
    for (int x = 0; x < w; ++x)
      for (int c = 0; c < 3; ++c)
        rgb[(static_cast<std::size_t>(y) * w + x) * 3 + c] = data[y * stride + x * d + c];
  return writePng(pngPath, w, h, rgb.data());
}

}  // namespace platform::desktop::detail
