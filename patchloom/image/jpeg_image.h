// JPEG files through libjpeg. Colour files are read quantised to 128 colours into an
// 8-bit palette image, grey files into an 8-bit image with a 256-level grey palette;
// files are written as baseline RGB JPEGs at the image's quality.
#pragma once

#include "patchloom/image/image_impl.h"

class CJpegImageImpl : public CFileImageImpl {
 public:
  using CFileImageImpl::CFileImageImpl;
  // 1 on success; 0, with no image left, for a missing file or one the library refuses.
  int Read(const std::string& name) override;
  // 0 without an image, when the file cannot be created or the library fails.
  int Write(const std::string& name) override;
  int GetQuality() const { return quality; }
  void SetQuality(int q) { quality = q; }

 private:
  int quality = 30;
};
