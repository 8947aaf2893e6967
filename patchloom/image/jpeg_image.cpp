#include "patchloom/image/jpeg_image.h"

#include <jpeglib.h>

#include <cerrno>
#include <csetjmp>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "patchloom/image/image_dib.h"
#include "platform/file.h"

namespace {

constexpr int kQuantisedColours = 128;
// Enough working memory for any image inside our limits; a hostile header that would
// need more makes the library fail instead of taking gigabytes.
constexpr long kMaxLibraryMemory = 512L * 1024 * 1024;

struct JpegErrorManager {
  jpeg_error_mgr manager;
  std::jmp_buf jump;
  char message[JMSG_LENGTH_MAX];
};

[[noreturn]] void JpegErrorExit(j_common_ptr cinfo) {
  (*cinfo->err->output_message)(cinfo);
  auto* errors = reinterpret_cast<JpegErrorManager*>(cinfo->err);
  (*cinfo->err->format_message)(cinfo, errors->message);
  std::longjmp(errors->jump, 1);
}

struct JpegFrame {
  int width = 0, height = 0, components = 0;
  bool grey = false;
};

bool startJpegRead(jpeg_decompress_struct& cinfo, JpegErrorManager& errors, std::FILE* file,
                   JpegFrame& frame) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_decompress(&cinfo);
  cinfo.mem->max_memory_to_use = kMaxLibraryMemory;
  jpeg_stdio_src(&cinfo, file);
  jpeg_read_header(&cinfo, TRUE);
  frame.grey = cinfo.jpeg_color_space == JCS_GRAYSCALE;
  if (!frame.grey) {
    cinfo.quantize_colors = TRUE;
    cinfo.desired_number_of_colors = kQuantisedColours;
  }
  jpeg_calc_output_dimensions(&cinfo);
  if (static_cast<std::int64_t>(cinfo.output_width) * cinfo.output_height > kMaxImagePixels)
    return false;
  jpeg_start_decompress(&cinfo);
  frame.width = static_cast<int>(cinfo.output_width);
  frame.height = static_cast<int>(cinfo.output_height);
  frame.components = cinfo.output_components;
  return frame.components == 1;
}

bool readJpegRows(jpeg_decompress_struct& cinfo, JpegErrorManager& errors, std::uint8_t* bits,
                  int stride) {
  if (setjmp(errors.jump)) return false;
  const int height = static_cast<int>(cinfo.output_height);
  while (cinfo.output_scanline < cinfo.output_height) {
    JSAMPROW row =
        bits +
        static_cast<std::size_t>(height - 1 - static_cast<int>(cinfo.output_scanline)) * stride;
    jpeg_read_scanlines(&cinfo, &row, 1);
  }
  jpeg_finish_decompress(&cinfo);
  return true;
}

bool writeJpeg(jpeg_compress_struct& cinfo, JpegErrorManager& errors, std::FILE* file,
               const CImageImpl& image, int quality, std::vector<std::uint8_t>& row) {
  if (setjmp(errors.jump)) return false;
  jpeg_create_compress(&cinfo);
  jpeg_stdio_dest(&cinfo, file);
  const int width = image.GetWidth(), height = image.GetHeight();
  cinfo.image_width = static_cast<JDIMENSION>(width);
  cinfo.image_height = static_cast<JDIMENSION>(height);
  cinfo.input_components = 3;
  cinfo.in_color_space = JCS_RGB;
  jpeg_set_defaults(&cinfo);
  jpeg_set_quality(&cinfo, quality, TRUE);
  jpeg_start_compress(&cinfo, TRUE);
  const bool direct = image.GetBitCount() == 24;
  for (int y = 0; y < height; ++y) {
    const int dibY = height - 1 - y;
    const std::uint8_t* dibRow =
        image.GetBits() + static_cast<std::size_t>(dibY) * image.GetLineBytes();
    for (int x = 0; x < width; ++x) {
      std::uint8_t* p = &row[3 * static_cast<std::size_t>(x)];
      if (direct) {
        p[0] = dibRow[3 * x + 2];
        p[1] = dibRow[3 * x + 1];
        p[2] = dibRow[3 * x];
      } else if (!image.GetPixelRGB(x, dibY, &p[0], &p[1], &p[2])) {
        p[0] = p[1] = p[2] = 0;
      }
    }
    JSAMPROW rows[1] = {row.data()};
    jpeg_write_scanlines(&cinfo, rows, 1);
  }
  jpeg_finish_compress(&cinfo);
  return true;
}

}  // namespace

int CJpegImageImpl::Read(const std::string& name) {
  const std::string& path = UseName(name);
  lastError.clear();
  std::FILE* file = platform::openStdFile(path, "rb");
  if (!file) {
    lastError = path + ": cannot open: " + std::strerror(errno);
    return 0;
  }
  FreeImage();
  width = height = stride = 0;
  jpeg_decompress_struct cinfo{};
  JpegErrorManager errors{};
  cinfo.err = jpeg_std_error(&errors.manager);
  errors.manager.error_exit = JpegErrorExit;
  JpegFrame frame;
  bool ok = startJpegRead(cinfo, errors, file, frame);
  if (ok) ok = Create(frame.width, frame.height, frame.components * 8, -1) != 0;
  if (ok) {
    ok = frame.grey ? SetGreyPalette(256) != 0
                    : SetPaletteRGB(cinfo.actual_number_of_colors, cinfo.colormap[0],
                                    cinfo.colormap[1], cinfo.colormap[2]) != 0;
  }
  if (ok) ok = readJpegRows(cinfo, errors, bits, stride);
  jpeg_destroy_decompress(&cinfo);
  std::fclose(file);
  if (!ok) {
    FreeImage();
    width = height = stride = 0;
    lastError =
        path + ": " + (errors.message[0] ? errors.message : "not a JPEG image the reader takes");
  }
  return ok ? 1 : 0;
}

int CJpegImageImpl::Write(const std::string& name) {
  const std::string& path = UseName(name);
  if (!dib) return 0;
  lastError.clear();
  std::FILE* file = platform::openStdFile(path, "wb");
  if (!file) {
    lastError = path + ": cannot create: " + std::strerror(errno);
    return 0;
  }
  jpeg_compress_struct cinfo{};
  JpegErrorManager errors{};
  cinfo.err = jpeg_std_error(&errors.manager);
  // A failing write comes back here as a failed save instead of ending the program.
  errors.manager.error_exit = JpegErrorExit;
  std::vector<std::uint8_t> row(static_cast<std::size_t>(width) * 3);
  bool ok = writeJpeg(cinfo, errors, file, *this, quality, row);
  std::string reason = errors.message;
  if (std::fclose(file) != 0) {
    ok = false;
    reason = std::strerror(errno);
  }
  jpeg_destroy_compress(&cinfo);
  if (!ok) lastError = path + ": writing failed: " + (reason.empty() ? "libjpeg error" : reason);
  return ok ? 1 : 0;
}
